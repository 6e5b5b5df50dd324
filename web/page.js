// The page: hands the files the user gives to the WebAssembly build of
// headlink and shows what it says. Every rule lives in the C++ libraries,
// and so does every name and column of the job: this only moves bytes and
// text. File contents and names are shown as text (textContent), never as
// markup.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);

  // Everything the page holds, in one place.
  const state = {
    engine: null,        // the API below, once the module is ready
    files: new Map(),    // name -> File, as the user gave them
    runs: 0,             // how many runs were asked for: only the newest may show its result
    outputUrls: [],      // object URLs of the outputs' save links
    openedUrls: [],      // object URLs of the opened table's save links
    grid: null,          // the grid shown of the updated tables
  };

  // window.headlink: the job on bytes in memory, as `headlink -n` does it.
  function makeApi(m) {
    const text = (at) => m.UTF8ToString(at);
    const list = (count, item) => Array.from({ length: count }, (_, i) => item(i));
    // A failure inside a call (running out of memory) comes back as its reason.
    const failure = () => text(m._hl_error());
    const mustWork = (status) => { if (status !== 0) throw new Error(failure()); };
    // A buffer handed in is ours to free, whatever the call does.
    const withBytes = (bytes, use) => {
      const at = m._malloc(Math.max(bytes.length, 1));
      if (at === 0) throw new Error('not enough memory');
      try {
        m.HEAPU8.set(bytes, at);
        return use(at);
      } finally {
        m._free(at);
      }
    };
    const withString = (value, use) => {
      const size = m.lengthBytesUTF8(value) + 1;
      const at = m._malloc(size);
      if (at === 0) throw new Error('not enough memory');
      try {
        m.stringToUTF8(value, at, size);
        return use(at);
      } finally {
        m._free(at);
      }
    };
    const inputNames = list(m._hl_input_count(), (i) => text(m._hl_input_name(i)));
    const outputNames = list(m._hl_output_count(), (i) => text(m._hl_output_name(i)));
    const tableNames = inputNames.slice(0, outputNames.length);
    const scriptNames = inputNames.slice(outputNames.length);
    return {
      inputNames,
      tableNames,
      scriptNames,
      outputNames,
      titles: outputNames.map((_, i) => text(m._hl_table_title(i))),
      // The link cells: table `table`'s column `column` holds a row number of table `target`.
      links: list(m._hl_link_count(), (i) => ({ table: m._hl_link_table(i), column: m._hl_link_column(i),
        target: m._hl_link_target(i) })),
      // inputs: Map of name -> Uint8Array (an input absent from it is missing);
      // names: every name the user gave, for the near-miss hints.
      // heads: a pack's heads in order, each {name, scripts: Map of script
      // name -> Uint8Array}: they run instead of the five scripts.
      run(inputs, names, strict, heads = []) {
        m._hl_job_clear();
        for (const name of names) withString(name, (at) => mustWork(m._hl_add_name(at)));
        inputNames.forEach((name, i) => {
          const bytes = inputs.get(name);
          if (!bytes) mustWork(m._hl_set_input(i, 0, -1));
          else withBytes(bytes, (at) => mustWork(m._hl_set_input(i, at, bytes.length)));
        });
        for (const head of heads) {
          const h = withString(head.name, (at) => m._hl_add_head(at));
          if (h < 0) throw new Error(failure());
          scriptNames.forEach((name, i) => {
            const bytes = head.scripts.get(name);
            if (bytes) withBytes(bytes, (at) => mustWork(m._hl_set_head_script(h, i, at, bytes.length)));
          });
        }
        const status = m._hl_run(strict ? 1 : 0);
        const failed = failure();
        const outputs = [];
        outputNames.forEach((name, i) => {
          const size = m._hl_output_size(i);
          const at = m._hl_output(i);
          if (size > 0) outputs.push({ name, bytes: m.HEAPU8.slice(at, at + size) });
        });
        const stderr = text(m._hl_stderr()) + (failed ? 'headlink: ' + failed + '\n' : '');
        return { status, stdout: text(m._hl_stdout()), stderr, outputs, warnings: m._hl_warning_count(),
          heads: list(m._hl_head_count(), (i) => text(m._hl_head_name(i))) };
      },
      // The names given to the last run that differ from input `name` only
      // in letter case or by an extra extension.
      nearMisses(name) {
        return text(m._hl_near_misses(inputNames.indexOf(name))).split('\n').filter((line) => line.length > 0);
      },
      // Table `v` (0-2: the outputs of the last run that worked; 3: a table
      // opened on its own), read cell by cell through the table library.
      view(v) {
        return {
          rows: m._hl_view_rows(v),
          columns: m._hl_view_columns(v),
          cell: (r, c) => text(m._hl_view_cell(v, r, c)),
          columnLabel: (c) => text(m._hl_view_column_label(v, c)),
          rowLabel: (r) => text(m._hl_view_row_label(v, r)),
        };
      },
      rowsBefore: (i) => m._hl_output_rows_before(i),
      // The cells the last run changed.
      marks() {
        return list(m._hl_mark_count(), (i) => ({ table: m._hl_mark_table(i), row: m._hl_mark_row(i),
          column: m._hl_mark_column(i), link: m._hl_mark_link(i) === 1, was: text(m._hl_mark_was(i)),
          head: m._hl_mark_head(i) }));
      },
      // Opens a table on its own as view 3: whether it loads, and twoda check's verdict.
      open(bytes, name) {
        const status = withBytes(bytes, (at) => withString(name, (n) => m._hl_open(at, bytes.length, n)));
        const failed = failure();
        if (failed) throw new Error(failed);
        return { loaded: status === 0, check: text(m._hl_check()) };
      },
      // View `v` as the text form ('text'), CSV ('csv') or binary ('binary').
      exportView(v, kind) {
        const size = m._hl_export(v, { text: 0, csv: 1, binary: 2 }[kind]);
        const at = m._hl_exported();
        return m.HEAPU8.slice(at, at + size);
      },
    };
  }

  // ---- Drawing: each function shows what it is given, and nothing else.

  function showState(name) { document.body.dataset.state = name; }

  function showStatus(kind, words) {
    $('status').className = kind;
    $('status').textContent = words;
  }

  // The files the job needs, found or not; with a pack, the tables and
  // each head with the scripts it lacks.
  function showChecklist(engine, files, heads = []) {
    const list = $('checklist');
    list.replaceChildren();
    for (const head of heads) {
      const item = document.createElement('li');
      const lacking = engine.scriptNames.filter((name) => !head.scripts.has(name));
      item.className = lacking.length === 0 ? 'found' : 'missing';
      item.textContent = head.name + '/: ' + (lacking.length === 0 ? 'the five scripts' : 'lacks ' + lacking.join(', '));
      list.appendChild(item);
    }
    for (const name of heads.length > 0 ? engine.tableNames : engine.inputNames) {
      const item = document.createElement('li');
      const near = files.has(name) ? [] : engine.nearMisses(name);
      if (files.has(name)) {
        item.className = 'found';
        item.textContent = name;
      } else if (near.length > 0) {
        item.className = 'near';
        item.textContent = name + ': missing; you gave ' + near.join(', ') +
          ', which is not taken (the names must match exactly: rename it)';
      } else {
        item.className = 'missing';
        item.textContent = name + ': missing';
      }
      list.appendChild(item);
    }
  }

  // Save links for `outputs` ({name, bytes}) in `box`, their object URLs
  // put in `urls` after the ones there are revoked.
  function showSaveLinks(box, urls, outputs, words) {
    for (const url of urls.splice(0)) URL.revokeObjectURL(url);
    box.replaceChildren();
    for (const output of outputs) {
      const url = URL.createObjectURL(new Blob([output.bytes], { type: 'application/octet-stream' }));
      urls.push(url);
      const link = document.createElement('a');
      link.href = url;
      link.download = output.name;
      link.textContent = words ? words(output) : output.name;
      box.appendChild(link);
    }
  }

  // A grid that draws only the rows in view, so that 65,535 rows stay quick.
  // `source` gives the shape and texts; `rowsBefore` rows are the old ones;
  // `marks` maps "row:column" to a changed cell's mark. One cell can be
  // chosen (a click or tap, the arrow keys, or show()): `details` then says
  // what it holds and, for a marked cell, what it held before.
  const rowHeight = 24;
  function showGrid(box, source, { name, rowsBefore, marks, details }) {
    box.replaceChildren();
    box.scrollTop = 0;
    box.scrollLeft = 0;
    details.textContent = '';
    box.setAttribute('aria-label', name);
    box.setAttribute('aria-rowcount', source.rows + 1);
    box.setAttribute('aria-colcount', source.columns + 1);
    const width = (8 + 10 * source.columns) + 'em';
    const head = document.createElement('div');
    head.className = 'grid-head';
    head.setAttribute('role', 'row');
    head.setAttribute('aria-rowindex', 1);
    head.style.width = width;
    const corner = document.createElement('div');
    corner.textContent = 'row  label';
    corner.setAttribute('role', 'columnheader');
    head.appendChild(corner);
    for (let c = 0; c < source.columns; ++c) {
      const label = document.createElement('div');
      label.textContent = c + ' ' + source.columnLabel(c);
      label.title = label.textContent;
      label.setAttribute('role', 'columnheader');
      head.appendChild(label);
    }
    const body = document.createElement('div');
    body.className = 'grid-body';
    body.setAttribute('role', 'rowgroup');
    body.style.height = (source.rows * rowHeight) + 'px';
    body.style.width = width;
    box.append(head, body);
    let chosen = null;  // {row, column} of the chosen cell
    let drawn = '';
    const draw = () => {
      const first = Math.max(0, Math.floor(box.scrollTop / rowHeight) - 4);
      const last = Math.min(source.rows, first + Math.ceil(box.clientHeight / rowHeight) + 8);
      if (drawn === first + ':' + last) return;
      drawn = first + ':' + last;
      const rows = document.createDocumentFragment();
      for (let r = first; r < last; ++r) {
        const row = document.createElement('div');
        row.className = r >= rowsBefore ? 'grid-row added' : 'grid-row';
        row.dataset.row = r;
        row.setAttribute('role', 'row');
        row.setAttribute('aria-rowindex', r + 2);
        row.style.top = (r * rowHeight) + 'px';
        const label = document.createElement('div');
        label.textContent = r + '  ' + source.rowLabel(r);
        label.setAttribute('role', 'rowheader');
        row.appendChild(label);
        for (let c = 0; c < source.columns; ++c) {
          const cell = document.createElement('div');
          const value = source.cell(r, c);
          cell.textContent = value === '' ? '****' : value;
          cell.dataset.col = c;
          cell.setAttribute('role', 'gridcell');
          const mark = marks.get(r + ':' + c);
          if (mark) {
            cell.className = mark.link ? 'link' : 'set';
            cell.title = 'was: ' + (mark.was === '' ? '****' : mark.was);
          }
          if (chosen && chosen.row === r && chosen.column === c) {
            cell.classList.add('selected');
            cell.setAttribute('aria-selected', 'true');
          }
          row.appendChild(cell);
        }
        rows.appendChild(row);
      }
      body.replaceChildren(rows);
    };
    const spelled = (value) => (value === '' ? '****' : '"' + value + '"');
    // Chooses a cell, scrolls it into view (past the sticky row labels and
    // column labels) and says what it holds.
    const choose = (row, column) => {
      row = Math.max(0, Math.min(source.rows - 1, row));
      column = Math.max(0, Math.min(source.columns - 1, column));
      if (source.rows === 0 || source.columns === 0) return;
      chosen = { row, column };
      const top = row * rowHeight, labels = head.children[0].offsetWidth, header = head.offsetHeight;
      const left = head.children[column + 1].offsetLeft, cellWidth = head.children[column + 1].offsetWidth;
      if (top < box.scrollTop || top + rowHeight > box.scrollTop + box.clientHeight - header)
        box.scrollTop = Math.max(0, top - (box.clientHeight - header) / 2);
      if (left - labels < box.scrollLeft || left + cellWidth > box.scrollLeft + box.clientWidth)
        box.scrollLeft = Math.max(0, left - labels - (box.clientWidth - labels - cellWidth) / 2);
      drawn = '';
      draw();
      const mark = marks.get(row + ':' + column);
      details.textContent = name + ', row ' + row + ' (label ' + source.rowLabel(row) + '), column ' + column +
        ' (' + source.columnLabel(column) + '): ' + spelled(source.cell(row, column)) +
        (mark ? (mark.link ? ', a link cell' : ', set by a script') + '; it was ' + spelled(mark.was) : '');
    };
    box.onclick = (event) => {
      const cell = event.target.closest('[data-col]');
      if (cell) choose(Number(cell.parentNode.dataset.row), Number(cell.dataset.col));
    };
    const moves = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1],
      PageUp: [-10, 0], PageDown: [10, 0], Home: [0, -Infinity], End: [0, Infinity] };
    box.onkeydown = (event) => {
      const move = moves[event.key];
      if (!move) return;
      event.preventDefault();
      const from = chosen || { row: Math.floor(box.scrollTop / rowHeight), column: 0 };
      choose(from.row + move[0], from.column + move[1]);  // Home and End go as far as there are columns
    };
    let pending = false;
    box.onscroll = () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; draw(); });
    };
    draw();
    // The marked cells in reading order, for going from one to the next.
    const marked = [...marks.values()].sort((a, b) => a.row - b.row || a.column - b.column);
    let at = -1;
    return {
      // The first marked cell, or else the first added row.
      first() {
        at = 0;
        if (marked.length > 0) choose(marked[0].row, marked[0].column);
        else choose(rowsBefore, 0);
      },
      step(by) {
        if (marked.length === 0) return;
        at = (at + by + marked.length) % marked.length;
        choose(marked[at].row, marked[at].column);
      },
    };
  }

  // The updated tables: a tab each, the grid of the one chosen, the links.
  function showOutputs(engine, heads) {
    const marks = engine.marks();
    const tabs = $('tabs');
    tabs.replaceChildren();
    const show = (i) => {
      for (const button of tabs.children) {
        const current = button.dataset.table === String(i);
        button.classList.toggle('current', current);
        button.setAttribute('aria-selected', String(current));
      }
      const own = new Map();
      for (const mark of marks)
        if (mark.table === i && !(own.get(mark.row + ':' + mark.column) || {}).link) own.set(mark.row + ':' + mark.column, mark);
      state.grid = showGrid($('grid'), engine.view(i),
        { name: engine.outputNames[i], rowsBefore: engine.rowsBefore(i), marks: own, details: $('grid-details') });
    };
    engine.outputNames.forEach((name, i) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.setAttribute('role', 'tab');
      button.textContent = name;
      button.dataset.table = i;
      button.addEventListener('click', () => show(i));
      tabs.appendChild(button);
    });
    showLinks(engine, marks, heads);
    $('tables').hidden = false;
    show(0);
  }

  // The links as a picture: from the table no link points into, each
  // table's rows in the links with their labels, an arrow to the table
  // their link cells name.
  function showLinks(engine, marks, heads) {
    const picture = $('links-picture');
    picture.replaceChildren();
    picture.classList.toggle('pack', heads.length > 0);
    // One chain per head of a pack, each after its name, in a list that
    // scrolls when there are many.
    if (heads.length > 0) {
      heads.forEach((name, h) => {
        const chain = document.createElement('div');
        chain.className = 'links chain';
        const title = document.createElement('span');
        title.className = 'head';
        title.textContent = name + ':';
        chain.appendChild(title);
        picture.appendChild(chain);
        showChain(engine, marks.filter((mark) => mark.head === h), chain);
      });
      return;
    }
    showChain(engine, marks, picture);
  }

  function showChain(engine, marks, picture) {
    const steps = [];
    for (const mark of marks) {
      const link = mark.link && engine.links.find((l) => l.table === mark.table && l.column === mark.column);
      if (link)
        steps.push({ from: mark.table, row: mark.row, to: link.target,
          toRow: Number(engine.view(mark.table).cell(mark.row, mark.column)) });
    }
    const rowsOf = (table) => {
      const own = steps.filter((s) => s.from === table).map((s) => s.row);
      return [...new Set(own.length > 0 ? own : steps.filter((s) => s.to === table).map((s) => s.toRow))];
    };
    const add = (className, words) => {
      const item = document.createElement(className === 'box' ? 'div' : 'span');
      item.className = className;
      item.textContent = words;
      picture.appendChild(item);
    };
    let table = steps.map((s) => s.from).find((from) => !steps.some((s) => s.to === from));
    const seen = new Set();
    while (table !== undefined && !seen.has(table)) {
      seen.add(table);
      const view = engine.view(table);
      const rows = rowsOf(table);
      add('box', rows.map((r) => engine.titles[table] + ' row ' + r + ' (' + view.rowLabel(r) + ')').join(', '));
      const next = steps.find((s) => s.from === table);
      if (next) add('arrow', rows.length === 1 ? 'names \u2192' : 'name \u2192');
      table = next && next.to;
    }
  }

  // The program's own words in the report and messages; the status in
  // words for people.
  function showTexts(report, messages) {
    $('report').textContent = report;
    $('report-box').hidden = report === '';
    $('messages').textContent = messages;
    $('messages-box').hidden = messages === '';
  }

  function showFailure(words) {
    $('tables').hidden = true;
    $('saves').hidden = true;
    showStatus('failed', words + ' Nothing was saved anywhere.');
    showState('failed');
  }

  function showRun(engine, result) {
    showTexts(result.stdout, result.stderr);
    if (result.status !== 0) {
      showFailure('Nothing can be saved: the messages say why.');
      return;
    }
    showSaveLinks($('save-links'), state.outputUrls, result.outputs);
    $('saves').hidden = false;
    showOutputs(engine, result.heads);
    if (result.warnings === 0) showStatus('done', 'Done: the three outputs are ready to save. Nothing was saved anywhere yet.');
    else if (result.warnings === 1) showStatus('warned', 'Done, with 1 warning: read it before saving');
    else showStatus('warned', 'Done, with ' + result.warnings + ' warnings: read them before saving');
    showState('done');
  }

  // A file the browser would not read: the run ends there, and the results
  // of the run before are cleared, as they no longer match the files.
  function showUnreadable(name, error) {
    showSaveLinks($('save-links'), state.outputUrls, []);
    showTexts('', name + (error && error.name === 'NotReadableError'
      ? ': changed since it was picked: pick it again'
      : ': cannot be read (' + (error && error.message) + '): pick it again') + '\n');
    showFailure('Nothing can be saved: a file could not be read.');
  }

  function showOpened(engine, opened, name) {
    $('table-check').textContent = opened.check;
    $('table-check').hidden = opened.check === '';
    $('table-grid').hidden = !opened.loaded;
    $('table-details').textContent = '';
    if (!opened.loaded) {
      showSaveLinks($('table-saves'), state.openedUrls, []);
      return;
    }
    const view = engine.view(3);
    showGrid($('table-grid'), view, { name, rowsBefore: view.rows, marks: new Map(), details: $('table-details') });
    const base = name.replace(/\.[^.]*$/, '');
    const saves = [['text', base + '_text.2da'], ['csv', base + '.csv'], ['binary', base + '_binary.2da']]
      .map(([kind, file]) => ({ kind, name: file, bytes: engine.exportView(3, kind) }))
      .filter((save) => save.bytes.length > 0);
    showSaveLinks($('table-saves'), state.openedUrls, saves,
      (save) => 'Save as ' + save.kind + ' (' + save.name + ')');
  }

  // ---- Events: each takes what the user did, asks the engine, and draws.

  // Runs the job on the files given. A run asked for while one reads its
  // files makes that one stop: only the newest shows its result.
  async function run() {
    const engine = state.engine;
    if (!engine || state.files.size === 0) return;
    const id = ++state.runs;
    const started = performance.now();
    showState('running');
    showSaveLinks($('save-links'), state.outputUrls, []);
    $('saves').hidden = true;
    showStatus('', 'Working...');
    const names = [...state.files.keys()];
    const given = new Map(state.files);
    // A pack: folders inside what was given holding any of the scripts,
    // one head each, run in byte order of their names.
    const heads = headsOf(engine, given);
    const read = async (path) => {
      try {
        return { bytes: new Uint8Array(await given.get(path).arrayBuffer()) };
      } catch (error) {
        return { failure: error };
      }
    };
    const wanted = heads.length > 0 ? engine.tableNames : engine.inputNames;
    const inputs = new Map();
    const paths = wanted.filter((name) => given.has(name)).map((name) => [inputs, name, name]);
    for (const head of heads)
      for (const [name, path] of head.paths) paths.push([head.scripts, name, path]);
    for (const [into, name, path] of paths) {
      const { bytes, failure } = await read(path);
      if (id !== state.runs) return;
      if (failure) {
        showChecklist(engine, given, heads);
        showUnreadable(path, failure);
        return;
      }
      into.set(name, bytes);
    }
    const result = engine.run(inputs, names, $('strict').checked, heads);
    showChecklist(engine, given, heads);
    showRun(engine, result);
    // How long the job took here, from the files to the grid, for the tests.
    document.body.dataset.took = (performance.now() - started).toFixed(0);
  }

  // The heads of a pack among the files given (path -> File): each folder
  // holding any of the five scripts, with `paths` (script -> path) and
  // `scripts` (script -> bytes, filled when read), in byte order of the
  // folders' names.
  function headsOf(engine, files) {
    const byFolder = new Map();
    for (const path of files.keys()) {
      const parts = path.split('/');
      if (parts.length !== 2 || !engine.scriptNames.includes(parts[1])) continue;
      if (!byFolder.has(parts[0])) byFolder.set(parts[0], { name: parts[0], paths: new Map(), scripts: new Map() });
      byFolder.get(parts[0]).paths.set(parts[1], path);
    }
    const utf8 = (name) => new TextEncoder().encode(name);
    const byBytes = (a, b) => {
      const x = utf8(a.name), y = utf8(b.name);
      for (let i = 0; i < Math.min(x.length, y.length); ++i) if (x[i] !== y[i]) return x[i] - y[i];
      return x.length - y.length;
    };
    const heads = [...byFolder.values()].sort(byBytes);
    // Until read, a head's scripts are the ones it has.
    for (const head of heads) for (const name of head.paths.keys()) head.scripts.set(name, null);
    return heads;
  }

  // Files given: [path, File] pairs, a path being the name inside the
  // folder picked or dropped ("moonveil/head.txt"), or the file's name.
  function take(pairs) {
    for (const [path, file] of pairs) state.files.set(path, file);
    $('run').hidden = state.files.size === 0;
    run();
  }
  const named = (files) => [...files].map((file) => [file.name, file]);
  // A folder picked: each file by its path below that folder.
  const inFolder = (files) => [...files].map((file) =>
    [(file.webkitRelativePath || file.name).split('/').slice(1).join('/') || file.name, file]);

  // A dropped folder: its files and those of the folders in it (a pack's
  // heads), as [path below it, File] pairs; null when the browser will not
  // read it (a page opened from disk, in some browsers).
  function readFolder(entry, prefix = '', depth = 0) {
    return new Promise((resolve) => {
      const found = [];
      const reader = entry.createReader();
      const next = () => reader.readEntries((entries) => {
        if (entries.length === 0) { resolve(Promise.all(found).then((lists) => lists.flat())); return; }
        for (const e of entries) {
          if (e.isFile)
            found.push(new Promise((done) => e.file((file) => done([[prefix + e.name, file]]), () => done([]))));
          else if (e.isDirectory && depth === 0)
            found.push(readFolder(e, e.name + '/', 1).then((inside) => inside || []));
        }
        next();
      }, () => resolve(found.length > 0 ? Promise.all(found).then((lists) => lists.flat()) : null));
      next();
    });
  }

  // A drop: each item read through its entry, or, where the browser will
  // not read entries (Chromium on a page opened from disk), as the plain
  // file the drop also carries. A folder has no plain file to fall back
  // to. Whatever happens, the page says something.
  async function onDrop(event) {
    event.preventDefault();
    $('drop').classList.remove('over');
    // The drop's data is readable only while the event is handled: take it all now.
    const plain = [...event.dataTransfer.files];
    const entries = [...(event.dataTransfer.items || [])].filter((item) => item.kind === 'file')
      .map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
    const taken = [];
    let unreadFolder = false;
    for (let i = 0; i < plain.length; ++i) {
      const entry = entries[i];
      if (entry && entry.isDirectory) {
        const inside = await readFolder(entry);
        if (inside) taken.push(...inside);
        else unreadFolder = true;
      } else if (entry && entry.isFile) {
        taken.push([plain[i].name, await new Promise((done) => entry.file(done, () => done(plain[i])))]);
      } else {
        taken.push([plain[i].name, plain[i]]);
      }
    }
    if (unreadFolder) {
      $('support').hidden = false;
      $('support').textContent = 'This browser cannot read a dropped folder from a page opened from disk: ' +
        'use "Pick a folder" instead, or drop the eight files themselves.';
      $('pick-folder').focus();
    }
    if (taken.length > 0) take(taken);
    else if (!unreadFolder) showStatus('failed', 'Nothing in that drop could be read: pick the files instead.');
  }

  async function onOpen(event) {
    const file = event.target.files[0];
    if (!state.engine || !file) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    let opened;
    try {
      opened = state.engine.open(bytes, file.name);
    } catch (error) {
      opened = { loaded: false, check: file.name + ': ' + error.message + '\n' };
    }
    showOpened(state.engine, opened, file.name);
  }

  $('pick-files').addEventListener('click', () => $('files').click());
  $('pick-folder').addEventListener('click', () => $('folder').click());
  $('pick-table').addEventListener('click', () => $('table-file').click());
  $('files').addEventListener('change', (event) => take(named(event.target.files)));
  $('folder').addEventListener('change', (event) => take(inFolder(event.target.files)));
  $('jump').addEventListener('click', () => { if (state.grid) state.grid.first(); });
  $('next-mark').addEventListener('click', () => { if (state.grid) state.grid.step(1); });
  $('previous-mark').addEventListener('click', () => { if (state.grid) state.grid.step(-1); });
  $('table-file').addEventListener('change', onOpen);
  $('run').addEventListener('click', run);
  $('strict').addEventListener('change', run);
  $('save-all').addEventListener('click', () => {
    for (const link of $('save-links').querySelectorAll('a')) link.click();
  });
  const drop = $('drop');
  drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', onDrop);
  if (!('webkitdirectory' in document.createElement('input'))) {
    $('pick-folder').hidden = true;
    $('support').hidden = false;
    $('support').textContent = 'This browser cannot pick a folder here: pick the eight files instead.';
  }

  createHeadlinkModule().then((m) => {
    state.engine = makeApi(m);
    window.headlink = state.engine;
    showChecklist(state.engine, state.files);
    run();
  }, (error) => {
    showState('failed');
    showStatus('failed', 'headlink could not start in this browser: ' + error);
  });
})();
