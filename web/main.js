// The wiring: once the engine has started, each part is made, every event
// goes to the state, and what came of it to the parts that show it. The
// timings the tests print are kept in one place, window.headlinkTimings.
import { drafts } from './drafts.js';
import { Engine } from './engine.js';
import { State } from './state.js';
import { Grid } from './grid.js';
import { $, showState, showStatus, showChecklist, showSaveLinks, showUnreadable, showWorking, showWaiting, showVerdict, showSaveWhere, makeTabs, showTables, showTab, showLinks, showOpened, showHeads } from './results.js';
import { Editors, showDrafts, showForget } from './editors.js';
import { makeFiles } from './files.js';

class Page {
  constructor(m, files) {
    this.timings = { engineCalls: 0, draws: [], runs: 0, keystroke: null, took: null, gameTook: null };
    this.state = new State(new Engine(m, this.timings));
    this.facts = this.state.facts;
    this.grid = new Grid($('grid'), $('grid-details'), this.facts.empty, this.timings);
    this.openedGrid = new Grid($('table-grid'), $('table-details'), this.facts.empty, this.timings);
    this.editors = new Editors(this.facts);
    this.tabs = makeTabs(this.facts.outputNames);
    this.files = files;
    files.setWords(this.facts.words.inputs);
    this.urls = { outputs: [], opened: [] };
  }
  keptDrafts() { showDrafts(drafts.all().sort()); }
  // Where linking writes, in the tables as given (their labels say), or
  // the rule before any is given.
  showLinkHelp() { $('link-help').textContent = 'Linking writes the new row numbers: ' + this.state.linkSentence(); }
  drawScripts() {
    const { state, facts } = this;
    this.editors.show(facts.scriptNames.map((_, s) => state.entryOf(s)));
    this.drawScriptSaves();
    this.keptDrafts();
  }
  // What is offered for the scripts there are: their save links; what to
  // write in those that are not. Drawn again only when that changes.
  drawScriptSaves() {
    const { state, facts } = this;
    const missing = state.missing().filter((m) => m.head === state.head).map((m) => m.s);
    const shown = state.head + '/' + missing.join();
    if (this.savesFor === shown) return;
    this.savesFor = shown;
    this.editors.showWanted(missing);
    this.editors.showSaves(facts.scriptNames.map((name, s) => (missing.includes(s) ? null : { name,
      bytes: () => state.scriptBytes(s), saved: () => { state.saved(s); this.keptDrafts(); } })),
    (save) => 'Save ' + (state.head ? state.head + '/' : '') + save.name);
    $('save-scripts').hidden = missing.length > 0;
  }
  // Output `i` of the last run that worked, for its grid: the marked
  // cells once each, in reading order.
  outputSource(i) {
    const answer = this.state.answer;
    const seen = new Set();
    const marks = answer.marks.filter((mark) => mark.table === i && !seen.has(mark.row + ':' + mark.column) &&
      seen.add(mark.row + ':' + mark.column)).sort((a, b) => a.row - b.row || a.column - b.column);
    return { name: this.facts.outputNames[i], ...answer.outputs[i], marks,
      window: (r0, r1, c0, c1) => this.state.window(this.facts.views.outputs + i, r0, r1, c0, c1) };
  }
  // Table `t` as given, for its grid.
  givenSource(t, shape) {
    const v = this.facts.views.given + t;
    return { name: this.facts.tableNames[t], rows: shape.rows, columns: shape.columns, rowsBefore: shape.rows, marks: [],
      window: (r0, r1, c0, c1) => this.state.window(v, r0, r1, c0, c1) };
  }
  // The grid's tables: the updated ones once a run worked (out of date
  // after a failure), else, or when asked for, the tables as given, so
  // that rows and columns can be picked before any script runs.
  drawTables(keep) {
    const { state, facts } = this;
    const answer = state.answer;
    const outputs = answer.outputs.some((output) => output.rows > 0);
    const given = !outputs || state.showGiven;
    const shapes = facts.tableNames.map((_, t) => state.window(facts.views.given + t, 0, 0, 0, 0));
    if (given && !shapes.some((shape) => shape.rows + shape.columns > 0)) {
      showTables(null);
      return;
    }
    showTables({ given, outputs, stale: !given && answer.status !== 0 }, given ? facts.tableNames : facts.outputNames);
    showTab(state.tab);
    const shows = given ? 'given' : 'outputs';
    this.grid.show(given ? this.givenSource(state.tab, shapes[state.tab]) : this.outputSource(state.tab),
      keep && this.shows === shows);
    this.shows = shows;
  }
  drawTable(i, keep) {
    this.state.tab = i;
    this.drawTables(keep);
  }
  // Runs the job and shows it; `since` is when the keystroke that asked
  // for it happened, for the timing the tests print.
  run(since) {
    const { state, facts } = this;
    const answer = state.run();
    if (answer.missing) showWaiting(answer.missing.map((m) => (m.head ? m.head + '/' : '') + facts.scriptNames[m.s]));
    else showVerdict(answer, facts.words);
    this.drawScriptSaves();
    showChecklist(state.checklist());
    const head = state.heads.indexOf(state.head);
    this.editors.showSaid(facts.scriptNames.map((_, s) => answer.said.filter((said) => said.script === s && said.head === head)),
      state.strict);
    if (answer.status !== 0) {
      this.clearSaves();
    } else {
      // The bytes are made only when a link is used: the links stay from run to run.
      if (!state.saves) this.drawSaves();
      showLinks(answer.chains, state.heads.length > 0);
    }
    this.drawTables(true);
    ++this.timings.runs;
    if (since !== undefined) {
      void document.body.offsetHeight;  // the layout, forced: part of the time
      this.timings.keystroke = performance.now() - since;
    }
  }
  clearSaves() {
    showSaveLinks($('save-links'), this.urls.outputs, []);
    this.state.saves = false;
  }
  // The outputs' save links: named as the game expects when the tables
  // came from a game folder, for its override folder.
  drawSaves() {
    const state = this.state;
    state.saves = true;
    const names = state.game ? this.facts.tableNames : this.facts.outputNames;
    showSaveLinks($('save-links'), this.urls.outputs, names.map((name, i) => ({ name, bytes: () => state.output(i) })));
    showSaveWhere(state.game, state.brought);
  }
  async load() {
    const state = this.state;
    if (state.files.size === 0 && !state.game) return;
    const started = performance.now();
    showWorking();
    this.clearSaves();
    const loaded = await state.load((words) => showStatus('', words));
    if (loaded.stale) return;
    showChecklist(state.checklist());
    if (loaded.failed) {
      showUnreadable(loaded.failed.name, loaded.failed.error);
      return;
    }
    showHeads(state.heads, state.head);
    this.drawScripts();
    this.editors.showColumns(this.facts.tableNames.map((_, t) => state.columnsOf(t)));
    this.showLinkHelp();
    this.run();
    this.timings.took = performance.now() - started;
    // A game folder's first report: the time since its listing arrived, layout included.
    if (state.game && state.game.picked !== null) {
      void document.body.offsetHeight;
      this.timings.gameTook = performance.now() - state.game.picked;
      state.game.picked = null;
    }
  }
  // A row's number clicked in the grid of the table the last editor edits:
  // it becomes that script's template row.
  putRow(row) {
    const { state, facts, editors } = this;
    const s = state.lastEditor;
    if (s < 0 || facts.scriptTables[s] !== state.tab) {
      $('grid-details').textContent = 'To use row ' + row + ' as a template row, write in a script of ' +
        facts.tableNames[state.tab] + ' first.';
      return;
    }
    editors.replace(s, state.rowRange(s, editors.text(s)), String(row));
    editors.showCaret(s, state.caret(s, editors.text(s), editors.selection(s).start));
  }
  async open(file) {
    const state = this.state;
    const opened = state.open(new Uint8Array(await file.arrayBuffer()), file.name);
    showOpened(opened, state.exportsOf(file.name), this.urls.opened);
    if (!opened.loaded) return;
    const v = this.facts.views.opened;
    const shape = state.window(v, 0, 0, 0, 0);
    this.openedGrid.show({ name: file.name, rows: shape.rows, columns: shape.columns, rowsBefore: shape.rows, marks: [],
      window: (r0, r1, c0, c1) => state.window(v, r0, r1, c0, c1) });
  }
}

// The files given, the tables and the switches.
function bindPage(page) {
  const { state, facts } = page;
  page.tabs.bindTab((i) => page.drawTable(i, false));
  page.grid.bindRow((row) => page.putRow(row));
  page.files.bindFiles((pairs) => {
    for (const [path, file] of pairs) state.files.set(path, file);
    // Tables given take the place of a game folder's.
    if (pairs.some(([path]) => facts.tableNames.includes(path))) state.game = null;
    $('run').hidden = state.files.size === 0 && !state.game;
    page.load();
  });
  page.files.bindGame((game) => {
    state.game = game;
    for (const name of facts.tableNames) state.files.delete(name);
    $('run').hidden = false;
    page.load();
  });
  page.files.bindTable((file) => page.open(file));
  $('which').addEventListener('click', () => {
    state.showGiven = !state.showGiven;
    page.drawTables(false);
  });
  $('jump').addEventListener('click', () => page.grid.first());
  $('next-mark').addEventListener('click', () => page.grid.step(1));
  $('previous-mark').addEventListener('click', () => page.grid.step(-1));
  $('run').addEventListener('click', () => page.load());
  $('strict').addEventListener('change', (event) => {
    state.strict = event.target.checked;
    if (state.loaded) page.run();
  });
  $('save-all').addEventListener('click', () => {
    for (const link of $('save-links').querySelectorAll('a')) link.click();
  });
  $('head').addEventListener('change', (event) => {
    state.head = event.target.value;
    page.drawScripts();
    if (state.loaded) page.run();
  });
}

// Typing is taken once a frame: the newest text of each editor, one run,
// so that no key waits for runs of older text, and text inserted a line
// at a time runs once. A page out of sight draws no frames: a timer takes
// it there. The handler for the editors' input.
function typedInFrames(page) {
  const { state, editors } = page;
  let pending = new Map(), since;
  const take = () => {
    if (pending.size === 0) return;
    const typed = pending;
    pending = new Map();
    let runs = false;
    for (const [s, text] of typed) {
      runs = state.typed(s, text) || runs;
      editors.showNotice(s, state.entryOf(s));
    }
    page.keptDrafts();
    if (runs) page.run(since);
  };
  // Leaving the page (a reload, the tab closed) before that frame: what
  // was typed is kept as a draft all the same.
  addEventListener('pagehide', () => {
    for (const [s, text] of pending) state.typed(s, text);
    pending = new Map();
  });
  return (s, text, at) => {
    if (pending.size === 0) {
      since = at;
      requestAnimationFrame(take);
      setTimeout(take, 100);
    }
    pending.set(s, text);
  };
}

// The editors' events: typing runs, the caret says what is under it, a
// column clicked goes in, a draft's choices, saving and forgetting.
function bindScripts(page) {
  const { state, editors } = page;
  const caret = (s) => {
    // Only the editor written in says what is at its caret.
    if (state.lastEditor >= 0 && state.lastEditor !== s) editors.hideCaret(state.lastEditor);
    state.lastEditor = s;
    editors.showCaret(s, state.caret(s, editors.text(s), editors.selection(s).start));
  };
  editors.bindInput(typedInFrames(page));
  editors.bindCaret(caret);
  editors.bindColumn((s, column) => {
    const { start, end } = editors.selection(s);
    editors.replace(s, state.columnRange(s, editors.text(s), start, end), String(column));
    caret(s);
  });
  const again = () => {
    page.drawScripts();
    if (state.loaded) page.run();
  };
  editors.bindChoice((s, choice) => {
    state.choose(s, choice);
    again();
  });
  $('save-scripts').addEventListener('click', () => editors.saveAll());
  // Forgetting the edits, once the user says so in the page.
  $('forget').addEventListener('click', () => showForget(state.edits()));
  $('forget-no').addEventListener('click', () => { $('forget-confirm').hidden = true; });
  $('forget-yes').addEventListener('click', () => {
    $('forget-confirm').hidden = true;
    state.forget();
    again();
  });
  // Another tab changed a draft: a tab holding it as edited says so and
  // lets the user choose; one holding the file as given just lists it.
  window.addEventListener('storage', (event) => {
    if (event.key !== null && !event.key.startsWith(drafts.prefix)) return;
    state.draftsChanged();
    page.drawScripts();
  });
}

// The files are heard from the start; the rest waits for the engine.
const pageFiles = makeFiles();
createHeadlinkModule().then((m) => {
  const page = new Page(m, pageFiles);
  page.state.strict = $('strict').checked;  // as the browser kept it
  page.state.restoreDrafts();
  page.drawScripts();
  page.showLinkHelp();
  showChecklist(page.state.checklist());
  bindPage(page);
  bindScripts(page);
  window.headlinkTimings = page.timings;
}).catch((error) => {
  showState('failed');
  showStatus('failed', 'headlink could not start in this browser: ' + error);
});
