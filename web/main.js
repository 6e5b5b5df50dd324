// The wiring: once the engine has started, each part is made, every event
// goes to the state, and what came of it to the parts that show it. The
// timings the tests print are kept in one place, window.headlinkTimings.
function startPage(m) {
  const timings = { engineCalls: 0, draws: [], runs: 0, keystroke: null, took: null, gameTook: null };
  const engine = makeEngine(m, timings);
  const model = makeState(engine, timings);
  const { state, facts } = model;
  const grid = makeGrid($('grid'), $('grid-details'), facts.empty, timings);
  const openedGrid = makeGrid($('table-grid'), $('table-details'), facts.empty, timings);
  const editors = makeEditors(facts);
  const tabs = makeTabs(facts.outputNames);
  const files = makeFiles(facts);
  const urls = { outputs: [], opened: [] };
  const keptDrafts = () => showDrafts(drafts.all().sort());

  const drawScripts = () => {
    editors.show(facts.scriptNames.map((_, s) => model.entryOf(s)));
    editors.showSaves(facts.scriptNames.map((name, s) => ({ name, bytes: () => model.scriptBytes(s),
      saved: () => { model.saved(s); keptDrafts(); } })), (save) => 'Save ' + (state.head ? state.head + '/' : '') + save.name);
    keptDrafts();
  };
  // Output `i` of the last run that worked, for its grid: the marked
  // cells once each, in reading order.
  const outputSource = (i) => {
    const output = state.answer.outputs[i];
    const seen = new Set();
    const marks = state.answer.marks.filter((mark) => mark.table === i && !seen.has(mark.row + ':' + mark.column) &&
      seen.add(mark.row + ':' + mark.column)).sort((a, b) => a.row - b.row || a.column - b.column);
    return { name: facts.outputNames[i], ...output, marks,
      window: (r0, r1, c0, c1) => model.window(facts.views.outputs + i, r0, r1, c0, c1) };
  };
  const drawTable = (i, keep) => {
    state.tab = i;
    showTab(i);
    grid.show(outputSource(i), keep);
  };
  // Runs the job and shows it; `since` is when the keystroke that asked
  // for it happened, for the timing the tests print.
  const run = (since) => {
    const answer = model.run();
    showVerdict(answer, facts.words);
    const head = state.heads.indexOf(state.head);
    editors.showSaid(facts.scriptNames.map((_, s) => answer.said.filter((said) => said.script === s && said.head === head)),
      state.strict);
    if (answer.status !== 0) {
      clearSaves();
    } else {
      // The bytes are made only when a link is used: the links stay from run to run.
      if (!state.saves) drawSaves();
      showLinks(answer.chains, state.heads.length > 0);
      drawTable(state.tab, true);
    }
    ++timings.runs;
    if (since !== undefined) {
      void document.body.offsetHeight;  // the layout, forced: part of the time
      timings.keystroke = performance.now() - since;
    }
  };
  // The outputs' save links: named as the game expects when the tables
  // came from a game folder, for its override folder.
  const clearSaves = () => {
    showSaveLinks($('save-links'), urls.outputs, []);
    state.saves = false;
  };
  const drawSaves = () => {
    state.saves = true;
    const names = state.game ? facts.tableNames : facts.outputNames;
    showSaveLinks($('save-links'), urls.outputs, names.map((name, i) => ({ name, bytes: () => model.output(i) })));
    showSaveWhere(state.game, state.brought);
  };
  const load = async () => {
    if (state.files.size === 0 && !state.game) return;
    const started = performance.now();
    showWorking();
    clearSaves();
    const loaded = await model.load();
    if (loaded.stale) return;
    showChecklist(model.checklist());
    if (loaded.failed) {
      showUnreadable(loaded.failed.name, loaded.failed.error);
      return;
    }
    showHeads(state.heads, state.head);
    drawScripts();
    editors.showColumns(facts.tableNames.map((_, t) => model.columnsOf(t)));
    run();
    timings.took = performance.now() - started;
  };
  bindScripts(model, editors, run, drawScripts, keptDrafts);
  tabs.bindTab((i) => drawTable(i, false));
  grid.bindRow((row) => {
    const s = state.lastEditor;
    if (s < 0 || facts.scriptTables[s] !== state.tab) {
      $('grid-details').textContent = 'To use row ' + row + ' as a template row, write in a script of ' +
        facts.tableNames[state.tab] + ' first.';
      return;
    }
    editors.replace(s, model.rowRange(s, editors.text(s)), String(row));
    editors.showCaret(s, model.caret(s, editors.text(s), editors.selection(s).start));
  });
  files.bindFiles((pairs) => {
    for (const [path, file] of pairs) state.files.set(path, file);
    // Tables given take the place of a game folder's.
    if (pairs.some(([path]) => facts.tableNames.includes(path))) state.game = null;
    $('run').hidden = state.files.size === 0 && !state.game;
    load();
  });
  files.bindGame((game) => {
    state.game = game;
    for (const name of facts.tableNames) state.files.delete(name);
    $('run').hidden = false;
    load();
  });
  files.bindTable(async (file) => {
    const opened = model.open(new Uint8Array(await file.arrayBuffer()), file.name);
    showOpened(opened, model.exportsOf(file.name), urls.opened);
    if (!opened.loaded) return;
    const v = facts.views.opened;
    const shape = model.window(v, 0, 0, 0, 0);
    openedGrid.show({ name: file.name, rows: shape.rows, columns: shape.columns, rowsBefore: shape.rows, marks: [],
      window: (r0, r1, c0, c1) => model.window(v, r0, r1, c0, c1) });
  });
  $('jump').addEventListener('click', () => grid.first());
  $('next-mark').addEventListener('click', () => grid.step(1));
  $('previous-mark').addEventListener('click', () => grid.step(-1));
  $('run').addEventListener('click', load);
  $('strict').addEventListener('change', (event) => {
    state.strict = event.target.checked;
    if (state.loaded) run();
  });
  $('save-all').addEventListener('click', () => {
    for (const link of $('save-links').querySelectorAll('a')) link.click();
  });
  $('head').addEventListener('change', (event) => {
    state.head = event.target.value;
    drawScripts();
    if (state.loaded) run();
  });
  state.strict = $('strict').checked;  // as the browser kept it
  model.restoreDrafts();
  drawScripts();
  showChecklist(model.checklist());
  window.headlinkTimings = timings;
}

// The editors' events: typing runs, the caret says what is under it, a
// column clicked goes in, a draft's choices, saving and forgetting.
function bindScripts(model, editors, run, drawScripts, keptDrafts) {
  const { state, facts } = model;
  const caret = (s) => {
    // Only the editor written in says what is at its caret.
    if (state.lastEditor >= 0 && state.lastEditor !== s) editors.hideCaret(state.lastEditor);
    state.lastEditor = s;
    editors.showCaret(s, model.caret(s, editors.text(s), editors.selection(s).start));
  };
  editors.bindInput((s, text, since) => {
    const runs = model.typed(s, text);
    editors.showNotice(s, model.entryOf(s));
    keptDrafts();
    if (runs) run(since);
  });
  editors.bindCaret(caret);
  editors.bindColumn((s, column) => {
    const { start, end } = editors.selection(s);
    editors.replace(s, model.columnRange(s, editors.text(s), start, end), String(column));
    caret(s);
  });
  const again = () => {
    drawScripts();
    if (state.loaded) run();
  };
  editors.bindChoice((s, choice) => {
    model.choose(s, choice);
    again();
  });
  $('save-scripts').addEventListener('click', () => editors.saveAll());
  // Forgetting the edits, once the user says so in the page.
  $('forget').addEventListener('click', () => showForget(model.edits()));
  $('forget-no').addEventListener('click', () => { $('forget-confirm').hidden = true; });
  $('forget-yes').addEventListener('click', () => {
    $('forget-confirm').hidden = true;
    model.forget();
    again();
  });
  // Another tab changed a draft: a tab holding it as edited says so and
  // lets the user choose; one holding the file as given just lists it.
  window.addEventListener('storage', (event) => {
    if (event.key !== null && !event.key.startsWith(drafts.prefix)) return;
    model.draftsChanged();
    drawScripts();
  });
}

createHeadlinkModule().then(startPage, (error) => {
  showState('failed');
  showStatus('failed', 'headlink could not start in this browser: ' + error);
});
