// The page's state: everything it knows, in one place, and the only part
// that asks the engine. Each operation changes the state and says what
// came of it; drawing is the caller's.
function makeState(engine, timings) {
  const facts = engine.facts;
  const state = {
    files: new Map(),    // path -> File, as the user gave them
    game: null,          // a game folder picked: {name, files: [[path, File]]}
    loads: 0,            // how many loads were asked for: only the newest may show its result
    loaded: false,       // the engine holds the files of the newest load
    given: new Map(),    // the files of the newest load
    heads: [],           // a pack's heads by name ([] without a pack)
    brought: false,      // the heads bring files for the game's override folder
    head: '',            // the head whose scripts are in the editors
    scripts: new Map(),  // "head/script" -> {given: bytes or null, text, form, edited, offer, conflict, file}
    strict: false,       // --strict
    tab: 0,              // the output shown in the grid
    lastEditor: -1,      // the editor written in last, for a row clicked in the grid
    answer: null,        // the last run's whole answer
    saves: false,        // the outputs' save links are shown
  };
  const keyOf = (head, s) => head + '/' + facts.scriptNames[s];
  const current = (s) => keyOf(state.head, s);
  const entryOf = (s) => state.scripts.get(current(s));
  // (A draft restored before any file was given keeps the file it was made from.)
  const keepDraft = (s, entry) => drafts.set(current(s), { text: entry.text, date: Date.now(), form: entry.form,
    file: entry.given ? fileOf(facts.scriptNames[s], entry.given) : entry.file || null });
  // A script to the engine: the bytes of the file given until edited. One
  // whose encoding cannot hold what was typed is not given: run() says why.
  const give = (head, s, entry) => {
    if (entry.edited && encodeScript(entry.text, entry.form).bad.length > 0) return;
    const bytes = scriptBytes(entry);
    if (head) engine.setHeadScript(state.heads.indexOf(head), s, bytes);
    else engine.setInput(facts.tableNames.length + s, bytes);
  };

  // Scripts holding a character their encoding cannot hold: no run, and
  // never a byte in its place; the editor says where.
  const unwritable = () => {
    const said = [];
    for (const [key, entry] of state.scripts) {
      const bad = entry.edited ? encodeScript(entry.text, entry.form).bad : [];
      if (bad.length === 0) continue;
      const head = key.slice(0, key.lastIndexOf('/')), name = key.slice(key.lastIndexOf('/') + 1);
      said.push({ text: (head ? head + '/' : '') + name + ': ' + cannotHold(bad[0], entry.form), line: bad[0].line,
        warning: false, head: state.heads.indexOf(head), script: facts.scriptNames.indexOf(name) });
    }
    return said;
  };

  // Runs the job on what the engine holds: the answer.
  function run() {
    const bad = unwritable();
    const before = state.answer || { outputs: [], marks: [], chains: [] };
    state.answer = bad.length > 0
      ? { ...before, status: 1, worked: false, stdout: '', stderr: bad.map((s) => s.text + '\n').join(''), warnings: 0,
        heads: state.heads, said: bad }
      : engine.run(state.strict);
    return state.answer;
  }

  // Reads the files given (path -> File) as the engine asks: {failed:
  // {name, error}} when one cannot be read, or {bytes}.
  async function readAll(paths, given, isCurrent) {
    const bytesOf = new Map();
    for (const path of paths) {
      try {
        bytesOf.set(path, new Uint8Array(await given.get(path).arrayBuffer()));
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
  function takeScripts(plan, bytesOf) {
    const scripts = new Map();
    plan.heads.forEach((head, h) => {
      facts.scriptNames.forEach((name, s) => {
        const bytes = head.scripts[s] ? bytesOf.get(head.scripts[s]) || null : null;
        const draft = drafts.get(keyOf(head.name, s));
        const entry = { given: bytes };
        asGiven(entry);
        if (draft !== null && sameFile(draft.file, fileOf(name, bytes)))
          Object.assign(entry, { text: draft.text, form: draft.form, edited: true });
        else if (draft !== null) entry.offer = draft;
        scripts.set(keyOf(head.name, s), entry);
        give(head.name, s, entry);
      });
      for (const path of head.files) engine.addHeadFile(h, path, bytesOf.get(path));
    });
    return scripts;
  }

  // Reads the files given (and the game folder's tables) and hands them to
  // the engine. A load asked for while one reads its files makes that one
  // stop: only the newest says what came of it ({stale}, {failed: {name,
  // error}} or {done}). Typing meanwhile stays with the files before.
  async function load() {
    const id = ++state.loads;
    const isCurrent = () => id === state.loads;
    const started = performance.now();
    state.loaded = false;
    const given = state.given = new Map(state.files);
    const plan = engine.beginPack([...given.keys()]);
    state.heads = plan.pack ? plan.heads.map((head) => head.name) : [];
    state.brought = plan.heads.some((head) => head.files.length > 0);
    if (!state.heads.includes(state.head)) state.head = state.heads.length > 0 ? state.heads[0] : '';
    const wanted = [...(state.game ? [] : plan.tables), ...plan.heads.flatMap((head) => [...head.scripts, ...head.files])];
    const { bytesOf, failed } = await readAll(wanted.filter((path) => path), given, isCurrent);
    if (!isCurrent()) return { stale: true };
    if (failed) return { failed };
    let scripts;
    try {
      scripts = takeScripts(plan, bytesOf);
      if (state.game) {
        if (!(await engine.readGame(state.game, isCurrent))) return { stale: true };
        timings.gameTook = performance.now() - started;
      } else {
        plan.tables.forEach((path, i) => engine.setInput(i, (path && bytesOf.get(path)) || null));
      }
    } catch (error) {
      if (!isCurrent()) return { stale: true };
      return { failed: { name: state.game ? state.game.name : 'a table', error } };
    }
    if (!isCurrent()) return { stale: true };
    state.scripts = scripts;
    state.loaded = true;
    return { done: true };
  }

  // The entry's text as given (or empty), not edited.
  function asGiven(entry) {
    const decoded = entry.given ? decodeScript(entry.given) : { text: '', form: plainForm };
    Object.assign(entry, { text: decoded.text, form: decoded.form, edited: false, offer: null, conflict: null });
  }
  // After a choice about a script: the engine takes it, and runs.
  const retake = (s, entry) => {
    if (state.loaded) give(state.head, s, entry);
  };

  return {
    state,
    facts,
    load,
    run,
    entryOf,
    // Script `s` typed into: kept as a draft (unless another tab changed
    // that draft meanwhile: then the user chooses), handed to the engine.
    // Whether it should run.
    typed(s, text) {
      const key = current(s);
      const entry = state.scripts.get(key) || { given: null, form: plainForm };
      entry.text = text;
      entry.edited = true;
      state.scripts.set(key, entry);
      if (drafts.changedElsewhere(key)) entry.conflict = drafts.raw(key) === null ? 'removed' : 'changed';
      // A draft still on offer is not written over before the user chooses.
      if (!entry.conflict && !entry.offer) keepDraft(s, entry);
      if (!state.loaded) return false;
      give(state.head, s, entry);
      return true;
    },
    // The user's choice about a draft above script `s`: 'use' (the draft
    // offered), 'picked' (the file as picked), 'theirs' (another tab's
    // change) or 'mine'.
    choose(s, choice) {
      const entry = entryOf(s);
      const key = current(s);
      if (choice === 'use') {
        Object.assign(entry, { text: entry.offer.text, form: entry.offer.form, edited: true, offer: null });
        keepDraft(s, entry);  // now it belongs to the file picked
      } else if (choice === 'picked') {
        entry.offer = null;
        if (entry.edited) keepDraft(s, entry);  // what was typed since is the draft now
        else if (!drafts.changedElsewhere(key)) drafts.drop(key);
      } else if (choice === 'theirs') {
        const theirs = drafts.get(key);
        if (theirs === null) asGiven(entry);
        else Object.assign(entry, { text: theirs.text, form: theirs.form, edited: true, conflict: null });
      } else {
        entry.conflict = null;
        keepDraft(s, entry);
      }
      retake(s, entry);
    },
    // The edits held, by key ("moonveil/head.txt", "/head.txt").
    edits: () => [...state.scripts.keys()].filter((key) => state.scripts.get(key).edited),
    // Forgets this tab's edits (never a draft another tab changed since):
    // the scripts as given again, or empty.
    forget() {
      for (const [key, entry] of state.scripts) {
        if (!entry.edited) continue;
        if (!drafts.changedElsewhere(key)) drafts.drop(key);
        asGiven(entry);
        const head = key.slice(0, key.lastIndexOf('/'));
        if (state.loaded) give(head, facts.scriptNames.indexOf(key.slice(key.lastIndexOf('/') + 1)), entry);
      }
    },
    // Another tab changed the drafts: each script held as edited whose
    // draft changed is now in conflict.
    draftsChanged() {
      for (const [key, entry] of state.scripts) {
        if (!entry.edited || entry.conflict || !drafts.changedElsewhere(key)) continue;
        entry.conflict = drafts.raw(key) === null ? 'removed' : 'changed';
      }
    },
    // Script `s` saved: its draft is no longer needed.
    saved(s) {
      if (!drafts.changedElsewhere(current(s))) drafts.drop(current(s));
    },
    // What was typed before, kept in this browser, until tables are given.
    restoreDrafts() {
      facts.scriptNames.forEach((name, s) => {
        const draft = drafts.get(keyOf('', s));
        if (draft !== null) state.scripts.set(keyOf('', s), { given: null, text: draft.text, form: draft.form,
          edited: true, file: draft.file });
      });
    },
    // The bytes of script `s` as it stands (empty when missing).
    scriptBytes: (s) => scriptBytes(entryOf(s) || { edited: true, text: '', form: plainForm }) || new Uint8Array(0),
    window: (v, r0, r1, c0, c1) => engine.window(v, r0, r1, c0, c1),
    // The columns of table `t` as given, by label.
    columnsOf(t) {
      const v = facts.views.given + t;
      const shape = engine.window(v, 0, 0, 0, 0);
      return engine.window(v, 0, 0, 0, shape.columns).columnLabels;
    },
    ...scriptWords(engine, facts, state),
    output: (i) => engine.output(i),
    checklist: () => checklistOf(engine, state),
    open(bytes, name) {
      try {
        return engine.open(bytes, name);
      } catch (error) {
        return { loaded: false, check: name + ': ' + error.message + '\n' };
      }
    },
    // The opened table in each form it can be saved in.
    exportsOf(name) {
      const base = name.replace(/\.[^.]*$/, '');
      return facts.exports.map((form, kind) => ({ kind: form.kind, name: base + form.ending,
        bytes: engine.exportView(facts.views.opened, kind) })).filter((save) => save.bytes.length > 0);
    },
  };
}
