// The page's state: everything it knows, in one place, and the only part
// that asks the engine. Each operation changes the state and says what
// came of it; drawing is the caller's.
import { plainForm, decodeScript, encodeScript, unwritableIn, scriptBytes, cannotHold } from './codec.js';
import { drafts, fileOf, sameFile } from './drafts.js';
import { scriptWords, checklistOf } from './words.js';

export class State {
  constructor(engine) {
    this.engine = engine;
    this.facts = engine.facts;
    this.files = new Map();    // path -> File, as the user gave them
    this.game = null;          // a game folder picked: {name, files: [[path, File]], picked (a time)}
    this.loads = 0;            // how many loads were asked for: only the newest may show its result
    this.loaded = false;       // the engine holds the files of the newest load
    this.given = new Map();    // the files of the newest load
    this.heads = [];           // a pack's heads by name ([] without a pack)
    this.brought = false;      // the heads bring files for the game's override folder
    this.head = '';            // the head whose scripts are in the editors
    this.scripts = new Map();  // "head/script" -> {given: bytes or null, text, form, edited, offer, conflict, file}
    this.strict = false;       // --strict
    this.tab = 0;              // the table shown in the grid
    this.showGiven = false;    // the grid shows the tables as given though a run worked
    this.lastEditor = -1;      // the editor written in last, for a row clicked in the grid
    this.answer = null;        // the last run's whole answer
    this.saves = false;        // the outputs' save links are shown
    Object.assign(this, scriptWords(engine, this.facts, this));
  }
  keyOf(head, s) { return head + '/' + this.facts.scriptNames[s]; }
  current(s) { return this.keyOf(this.head, s); }
  entryOf(s) { return this.scripts.get(this.current(s)); }
  // (A draft restored before any file was given keeps the file it was made from.)
  keepDraft(s, entry) {
    drafts.set(this.current(s), { text: entry.text, date: Date.now(), form: entry.form,
      file: entry.given ? fileOf(this.facts.scriptNames[s], entry.given) : entry.file || null });
  }
  // A script to the engine: the bytes of the file given until edited. One
  // whose encoding cannot hold what was typed is not given: run() says why.
  give(head, s, entry) {
    let bytes = entry.given;
    if (entry.edited) {
      const encoded = encodeScript(entry.text, entry.form);
      if (encoded.bad.length > 0) return;
      bytes = encoded.bytes;
    }
    if (head) this.engine.setHeadScript(this.heads.indexOf(head), s, bytes);
    else this.engine.setInput(this.facts.tableNames.length + s, bytes);
  }
  // Scripts holding a character their encoding cannot hold: no run, and
  // never a byte in its place; the editor says where.
  unwritable() {
    const said = [];
    for (const [key, entry] of this.scripts) {
      const bad = entry.edited ? unwritableIn(entry.text, entry.form) : [];
      if (bad.length === 0) continue;
      const head = key.slice(0, key.lastIndexOf('/')), name = key.slice(key.lastIndexOf('/') + 1);
      said.push({ text: (head ? head + '/' : '') + name + ': ' + cannotHold(bad[0], entry.form), line: bad[0].line,
        warning: false, head: this.heads.indexOf(head), script: this.facts.scriptNames.indexOf(name) });
    }
    return said;
  }
  // The scripts neither given nor written yet ([{head, s}]): the job waits for them.
  missing() {
    return (this.heads.length > 0 ? this.heads : ['']).flatMap((head) => this.facts.scriptNames.map((_, s) => ({ head, s })))
      .filter(({ head, s }) => {
        const entry = this.scripts.get(this.keyOf(head, s));
        return !entry || (entry.given === null && !(entry.edited && entry.text !== ''));
      });
  }
  // Runs the job on what the engine holds: the answer. While a script is
  // missing there is no run: the answer names what is missing instead.
  run() {
    const bad = this.unwritable();
    const before = this.answer || { outputs: [], marks: [], chains: [] };
    const missing = this.missing();
    if (missing.length > 0) {
      this.answer = { ...before, status: 1, worked: false, out: '', err: '', warnings: 0, heads: this.heads, said: [],
        missing };
      return this.answer;
    }
    this.answer = bad.length > 0
      ? { ...before, status: 1, worked: false, out: '', err: bad.map((s) => s.text + '\n').join(''), warnings: 0,
        heads: this.heads, said: bad }
      : this.engine.run(this.strict);
    return this.answer;
  }
  // Reads the files given as the engine asks: {bytesOf}, {failed: {name,
  // error}} when one cannot be read, or {} when no longer wanted.
  async readAll(paths, isCurrent) {
    const bytesOf = new Map();
    for (const path of paths) {
      try {
        bytesOf.set(path, new Uint8Array(await this.given.get(path).arrayBuffer()));
      } catch (error) {
        return { failed: { name: path, error } };
      }
      if (!isCurrent()) return {};
    }
    return { bytesOf };
  }
  // The scripts: what was typed (kept from before) over the files given.
  // A draft is used as it was kept only with the file it was made from;
  // with another, the file is used as picked and the draft offered.
  takeScripts(plan, bytesOf) {
    const scripts = new Map();
    plan.heads.forEach((head, h) => {
      this.facts.scriptNames.forEach((name, s) => {
        const bytes = head.scripts[s] ? bytesOf.get(head.scripts[s]) || null : null;
        const draft = drafts.get(this.keyOf(head.name, s));
        const entry = { given: bytes };
        asGiven(entry, this.engine);
        if (draft !== null && sameFile(draft.file, fileOf(name, bytes)))
          Object.assign(entry, { text: draft.text, form: draft.form, edited: true });
        else if (draft !== null) entry.offer = draft;
        scripts.set(this.keyOf(head.name, s), entry);
        this.give(head.name, s, entry);
      });
      for (const path of head.files) this.engine.addHeadFile(h, path, bytesOf.get(path));
    });
    return scripts;
  }
  // Reads the files given (and the game folder's tables) and hands them to
  // the engine. A load asked for while one reads its files makes that one
  // stop: only the newest says what came of it ({stale}, {failed: {name,
  // error}} or {done}). Typing meanwhile stays with the files before.
  // `progress(words)` hears what is read of a game folder meanwhile.
  async load(progress) {
    const id = ++this.loads;
    const isCurrent = () => id === this.loads;
    this.loaded = false;
    this.given = new Map(this.files);
    const paths = [...this.given.keys()];
    let plan;
    try {
      plan = this.engine.planPack(paths);
    } catch (error) {
      return { failed: { name: 'the files given', error } };
    }
    this.heads = plan.pack ? plan.heads.map((head) => head.name) : [];
    this.brought = plan.heads.some((head) => head.files.length > 0);
    if (!this.heads.includes(this.head)) this.head = this.heads.length > 0 ? this.heads[0] : '';
    const wanted = [...(this.game ? [] : plan.tables), ...plan.heads.flatMap((head) => [...head.scripts, ...head.files])];
    const { bytesOf, failed } = await this.readAll(wanted.filter((path) => path), isCurrent);
    if (!isCurrent()) return { stale: true };
    if (failed) return { failed };
    let scripts;
    try {
      this.engine.beginPack(paths);  // the engine forgets the last job only now
      scripts = this.takeScripts(plan, bytesOf);
      if (this.game) {
        if (!(await this.engine.readGame(this.game, isCurrent, progress))) return { stale: true };
      } else {
        plan.tables.forEach((path, i) => this.engine.setInput(i, (path && bytesOf.get(path)) || null));
      }
    } catch (error) {
      return isCurrent() ? { failed: { name: this.game ? this.game.name : 'a table', error } } : { stale: true };
    }
    if (!isCurrent()) return { stale: true };
    this.scripts = scripts;
    this.loaded = true;
    this.answer = null;  // the last job's, no longer shown
    return { done: true };
  }
  // Script `s` typed into: kept as a draft (unless another tab changed
  // that draft meanwhile: then the user chooses), handed to the engine.
  // Whether it should run.
  typed(s, text) {
    const key = this.current(s);
    const entry = this.scripts.get(key) || { given: null, form: plainForm };
    entry.text = text;
    entry.edited = true;
    this.scripts.set(key, entry);
    if (drafts.changedElsewhere(key)) entry.conflict = drafts.raw(key) === null ? 'removed' : 'changed';
    // A draft still on offer is not written over before the user chooses.
    if (!entry.conflict && !entry.offer) this.keepDraft(s, entry);
    if (!this.loaded) return false;
    this.give(this.head, s, entry);
    return true;
  }
  // The user's choice about a draft above script `s`: 'use' (the draft
  // offered), 'picked' (the file as picked), 'theirs' (another tab's
  // change) or 'mine'. The engine takes the script as it then stands.
  choose(s, choice) {
    const entry = this.entryOf(s);
    const key = this.current(s);
    if (choice === 'use') {
      Object.assign(entry, { text: entry.offer.text, form: entry.offer.form, edited: true, offer: null });
      this.keepDraft(s, entry);  // now it belongs to the file picked
    } else if (choice === 'picked') {
      entry.offer = null;
      if (entry.edited) this.keepDraft(s, entry);  // what was typed since is the draft now
      else if (!drafts.changedElsewhere(key)) drafts.drop(key);
    } else if (choice === 'theirs') {
      const theirs = drafts.get(key);
      if (theirs === null) asGiven(entry, this.engine);
      else Object.assign(entry, { text: theirs.text, form: theirs.form, edited: true, conflict: null });
    } else {
      entry.conflict = null;
      this.keepDraft(s, entry);
    }
    if (this.loaded) this.give(this.head, s, entry);
  }
  // The edits held, by key ("moonveil/head.txt", "/head.txt").
  edits() { return [...this.scripts.keys()].filter((key) => this.scripts.get(key).edited); }
  // Forgets this tab's edits (never a draft another tab changed since):
  // the scripts as given again, or empty.
  forget() {
    for (const [key, entry] of this.scripts) {
      if (!entry.edited) continue;
      if (!drafts.changedElsewhere(key)) drafts.drop(key);
      asGiven(entry, this.engine);
      const head = key.slice(0, key.lastIndexOf('/'));
      if (this.loaded) this.give(head, this.facts.scriptNames.indexOf(key.slice(key.lastIndexOf('/') + 1)), entry);
    }
  }
  // Another tab changed the drafts: each script held as edited whose
  // draft changed is now in conflict.
  draftsChanged() {
    for (const [key, entry] of this.scripts) {
      if (!entry.edited || entry.conflict || !drafts.changedElsewhere(key)) continue;
      entry.conflict = drafts.raw(key) === null ? 'removed' : 'changed';
    }
  }
  // Script `s` saved: its draft is no longer needed.
  saved(s) {
    if (!drafts.changedElsewhere(this.current(s))) drafts.drop(this.current(s));
  }
  // What was typed before, kept in this browser, until tables are given.
  restoreDrafts() {
    this.facts.scriptNames.forEach((name, s) => {
      const draft = drafts.get(this.keyOf('', s));
      if (draft !== null) this.scripts.set(this.keyOf('', s), { given: null, text: draft.text, form: draft.form,
        edited: true, file: draft.file });
    });
  }
  // The bytes of script `s` as it stands (empty when missing).
  scriptBytes(s) { return scriptBytes(this.entryOf(s) || { edited: true, text: '', form: plainForm }) || new Uint8Array(0); }
  // A window of view `v` (readWindow); an empty one when the engine has
  // no memory left to answer.
  window(v, r0, r1, c0, c1) {
    try {
      return this.engine.window(v, r0, r1, c0, c1);
    } catch (error) {
      return { rows: 0, columns: 0, rowsBefore: 0, r0: 0, r1: 0, c0: 0, c1: 0, columnLabels: [], rowLabels: [], cells: [] };
    }
  }
  // The columns of table `t` as given, by label.
  // The columns of table `t` as given: their labels, and the script whose
  // row each column's link cells get (-1: none).
  columnsOf(t) {
    const v = this.facts.views.given + t;
    const window = this.engine.window(v, 0, 0, 0, this.engine.window(v, 0, 0, 0, 0).columns);
    return { labels: window.columnLabels, links: window.columnLinks };
  }
  linkSentence() { return this.engine.linkSentence(); }
  output(i) { return this.engine.output(i); }
  checklist() { return checklistOf(this.engine, this); }
  open(bytes, name) {
    try {
      return this.engine.open(bytes, name);
    } catch (error) {
      return { loaded: false, check: name + ': ' + error.message + '\n' };
    }
  }
  // The opened table in each form it can be saved in.
  exportsOf(name) {
    const base = name.replace(/\.[^.]*$/, '');
    return this.facts.exports.map((form, kind) => ({ kind: form.kind, name: base + form.ending,
      bytes: this.engine.exportView(this.facts.views.opened, kind) })).filter((save) => save.bytes.length > 0);
  }
}

// The entry's text as given (or empty), not edited; `engine` tells UTF-16.
function asGiven(entry, engine) {
  const decoded = entry.given ? decodeScript(entry.given, engine.utf16(entry.given)) : { text: '', form: plainForm };
  Object.assign(entry, { text: decoded.text, form: decoded.form, edited: false, offer: null, conflict: null });
}
