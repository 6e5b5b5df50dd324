// The page: hands the files the user gives to the WebAssembly build of
// headlink and shows what it says. Every rule lives in the C++ libraries;
// this only moves bytes and text. File contents and names are shown as
// text (textContent), never as markup.
(function () {
  'use strict';

  const $ = (id) => document.getElementById(id);
  const files = new Map();  // name -> File, as the user gave them
  let engine = null;        // the API below, once the module is ready
  let links = [];           // object URLs of the current outputs

  function setState(state) { document.body.dataset.state = state; }

  // window.headlink: the job on bytes in memory, as `headlink -n` does it.
  function makeApi(m) {
    const count = m._hl_input_count();
    const inputNames = [];
    for (let i = 0; i < count; ++i) inputNames.push(m.UTF8ToString(m._hl_input_name(i)));
    const withString = (text, use) => {
      const size = m.lengthBytesUTF8(text) + 1;
      const at = m._malloc(size);
      m.stringToUTF8(text, at, size);
      try { return use(at); } finally { m._free(at); }
    };
    return {
      inputNames,
      // inputs: Map of name -> Uint8Array (an input absent from it is missing);
      // names: every name the user gave, for the near-miss hints.
      run(inputs, names, strict) {
        m._hl_reset();
        for (const name of names) withString(name, (at) => m._hl_add_name(at));
        inputNames.forEach((name, i) => {
          const bytes = inputs.get(name);
          if (!bytes) { m._hl_set_input(i, 0, -1); return; }
          const at = m._malloc(Math.max(bytes.length, 1));
          m.HEAPU8.set(bytes, at);
          m._hl_set_input(i, at, bytes.length);
          m._free(at);
        });
        const status = m._hl_run(strict ? 1 : 0);
        const outputs = [];
        for (let i = 0; i < 3; ++i) {
          const size = m._hl_output_size(i);
          if (size === 0) continue;
          const at = m._hl_output(i);
          outputs.push({ name: m.UTF8ToString(m._hl_output_name(i)), bytes: m.HEAPU8.slice(at, at + size) });
        }
        return { status, stdout: m.UTF8ToString(m._hl_stdout()), stderr: m.UTF8ToString(m._hl_stderr()), outputs };
      },
      // Table `v` (0-2: the outputs of the last run that worked; 3: a table
      // opened on its own), read cell by cell through the table library.
      view(v) {
        return {
          rows: m._hl_view_rows(v),
          columns: m._hl_view_columns(v),
          cell: (r, c) => m.UTF8ToString(m._hl_view_cell(v, r, c)),
          columnLabel: (c) => m.UTF8ToString(m._hl_view_column_label(v, c)),
          rowLabel: (r) => m.UTF8ToString(m._hl_view_row_label(v, r)),
        };
      },
      rowsBefore: (i) => m._hl_output_rows_before(i),
      // The cells the last run changed.
      marks() {
        const marks = [];
        for (let i = 0; i < m._hl_mark_count(); ++i)
          marks.push({ table: m._hl_mark_table(i), row: m._hl_mark_row(i), column: m._hl_mark_column(i),
            link: m._hl_mark_link(i) === 1, was: m.UTF8ToString(m._hl_mark_was(i)) });
        return marks;
      },
      // Opens a table on its own as view 3: whether it loads, and twoda check's verdict.
      open(bytes, name) {
        const at = m._malloc(Math.max(bytes.length, 1));
        m.HEAPU8.set(bytes, at);
        const loaded = withString(name, (n) => m._hl_open(at, bytes.length, n)) === 0;
        m._free(at);
        return { loaded, check: m.UTF8ToString(m._hl_check()) };
      },
      // View `v` as the text form ('text'), CSV ('csv') or binary ('binary').
      exportView(v, kind) {
        const size = m._hl_export(v, { text: 0, csv: 1, binary: 2 }[kind]);
        const at = m._hl_exported();
        return m.HEAPU8.slice(at, at + size);
      },
      // The given names that differ from input `name` only in letter case or
      // by an extra extension.
      nearMisses(name, names) {
        m._hl_reset();
        for (const given of names) withString(given, (at) => m._hl_add_name(at));
        const text = m.UTF8ToString(m._hl_near_misses(inputNames.indexOf(name)));
        return text.split('\n').filter((line) => line.length > 0);
      },
    };
  }

  function showChecklist(names) {
    const list = $('checklist');
    list.replaceChildren();
    for (const name of engine.inputNames) {
      const item = document.createElement('li');
      const near = files.has(name) ? [] : engine.nearMisses(name, names);
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

  function clearSaves() {
    for (const url of links) URL.revokeObjectURL(url);
    links = [];
    $('save-links').replaceChildren();
    $('saves').hidden = true;
  }

  async function run() {
    if (!engine || files.size === 0) return;
    const started = performance.now();
    setState('running');
    clearSaves();
    $('status').className = '';
    $('status').textContent = 'Working...';
    const names = [...files.keys()];
    const inputs = new Map();
    for (const name of engine.inputNames)
      if (files.has(name)) inputs.set(name, new Uint8Array(await files.get(name).arrayBuffer()));
    showChecklist(names);
    const result = engine.run(inputs, names, $('strict').checked);
    $('report').textContent = result.stdout;
    $('messages').textContent = result.stderr;
    if (result.status !== 0) {
      $('tables').hidden = true;
      $('status').className = 'failed';
      $('status').textContent = 'Nothing can be saved: the messages say why (exit status ' + result.status + ').';
      setState('failed');
      return;
    }
    for (const output of result.outputs) {
      const url = URL.createObjectURL(new Blob([output.bytes], { type: 'application/octet-stream' }));
      links.push(url);
      const link = document.createElement('a');
      link.href = url;
      link.download = output.name;
      link.textContent = output.name;
      $('save-links').appendChild(link);
    }
    $('saves').hidden = false;
    showOutputs();
    $('status').className = 'done';
    $('status').textContent = 'Done: the three outputs are ready to save.';
    // How long the job took here, from the files to the grid, for the tests.
    document.body.dataset.took = (performance.now() - started).toFixed(0);
    setState('done');
  }

  // A grid that draws only the rows in view, so that 65,535 rows stay quick.
  // `source` gives the shape and texts; `rowsBefore` rows are the old ones;
  // `marks` maps "row:column" to a changed cell's mark.
  const rowHeight = 24;
  function showGrid(box, source, rowsBefore, marks) {
    box.replaceChildren();
    box.scrollTop = 0;
    const width = (8 + 10 * source.columns) + 'em';
    const head = document.createElement('div');
    head.className = 'grid-head';
    head.style.width = width;
    const corner = document.createElement('div');
    corner.textContent = 'row  label';
    head.appendChild(corner);
    for (let c = 0; c < source.columns; ++c) {
      const label = document.createElement('div');
      label.textContent = c + ' ' + source.columnLabel(c);
      label.title = label.textContent;
      head.appendChild(label);
    }
    const body = document.createElement('div');
    body.className = 'grid-body';
    body.style.height = (source.rows * rowHeight) + 'px';
    body.style.width = width;
    box.append(head, body);
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
        row.style.top = (r * rowHeight) + 'px';
        const label = document.createElement('div');
        label.textContent = r + '  ' + source.rowLabel(r);
        row.appendChild(label);
        for (let c = 0; c < source.columns; ++c) {
          const cell = document.createElement('div');
          const text = source.cell(r, c);
          cell.textContent = text === '' ? '****' : text;
          cell.dataset.col = c;
          const mark = marks.get(r + ':' + c);
          if (mark) {
            cell.className = mark.link ? 'link' : 'set';
            cell.title = 'was: ' + (mark.was === '' ? '****' : mark.was);
          }
          row.appendChild(cell);
        }
        rows.appendChild(row);
      }
      body.replaceChildren(rows);
    };
    let pending = false;
    box.onscroll = () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; draw(); });
    };
    draw();
    return { jumpTo(row) { box.scrollTop = row * rowHeight; draw(); }, draw };
  }

  let current = null;  // the grid shown of the updated tables
  function showOutputs() {
    const marks = engine.marks();
    const tabs = $('tabs');
    tabs.replaceChildren();
    const show = (i) => {
      for (const button of tabs.children) button.classList.toggle('current', button.dataset.table === String(i));
      const own = new Map();
      for (const mark of marks)
        if (mark.table === i && !(own.get(mark.row + ':' + mark.column) || {}).link) own.set(mark.row + ':' + mark.column, mark);
      current = showGrid($('grid'), engine.view(i), engine.rowsBefore(i), own);
      current.rowsBefore = engine.rowsBefore(i);
    };
    ['appearance_updated.2da', 'heads_updated.2da', 'portraits_updated.2da'].forEach((name, i) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = name;
      button.dataset.table = i;
      button.addEventListener('click', () => show(i));
      tabs.appendChild(button);
    });
    showLinks(marks);
    $('tables').hidden = false;
    show(0);
  }

  // The links as a picture: the head row, the appearance rows that name it,
  // the portrait row that names them, each with its label.
  function showLinks(marks) {
    const appearance = engine.view(0), heads = engine.view(1), portraits = engine.view(2);
    const box = (text) => {
      const div = document.createElement('div');
      div.className = 'box';
      div.textContent = text;
      return div;
    };
    const arrow = (text) => {
      const span = document.createElement('span');
      span.className = 'arrow';
      span.textContent = text;
      return span;
    };
    const appRows = [...new Set(marks.filter((m) => m.link && m.table === 0).map((m) => m.row))];
    const portraitMark = marks.find((m) => m.link && m.table === 2);
    const picture = $('links-picture');
    picture.replaceChildren();
    if (appRows.length === 0 || !portraitMark) return;
    const head = Number(appearance.cell(appRows[0], 10));
    const name = (view, table, row) => table + ' row ' + row + ' (' + view.rowLabel(row) + ')';
    picture.append(box(name(portraits, 'portraits', portraitMark.row)), arrow('names →'),
      box(appRows.map((r) => name(appearance, 'appearance', r)).join(', ')), arrow('name →'),
      box(name(heads, 'heads', head)));
  }

  function take(fileList) {
    for (const file of fileList) files.set(file.name, file);
    run();
  }

  // A dropped folder: its files, one level down.
  function readFolder(entry) {
    return new Promise((resolve) => {
      const found = [];
      const reader = entry.createReader();
      const next = () => reader.readEntries((entries) => {
        if (entries.length === 0) { resolve(Promise.all(found)); return; }
        for (const e of entries)
          if (e.isFile) found.push(new Promise((done) => e.file(done, () => done(null))));
        next();
      }, () => resolve(Promise.all(found)));
      next();
    });
  }

  async function onDrop(event) {
    event.preventDefault();
    $('drop').classList.remove('over');
    const items = [...(event.dataTransfer.items || [])];
    const entries = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry()).filter((e) => e);
    if (entries.length === 0) { take(event.dataTransfer.files); return; }
    const taken = [];
    for (const entry of entries) {
      if (entry.isDirectory) taken.push(...(await readFolder(entry)));
      else taken.push(await new Promise((done) => entry.file(done, () => done(null))));
    }
    take(taken.filter((file) => file));
  }

  $('files').addEventListener('change', (event) => take(event.target.files));
  $('jump').addEventListener('click', () => { if (current) current.jumpTo(current.rowsBefore); });
  $('table-file').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (!engine || !file) return;
    const opened = engine.open(new Uint8Array(await file.arrayBuffer()), file.name);
    $('table-check').textContent = opened.check;
    const saves = $('table-saves');
    saves.replaceChildren();
    $('table-grid').hidden = !opened.loaded;
    if (!opened.loaded) return;
    showGrid($('table-grid'), engine.view(3), engine.view(3).rows, new Map());
    const base = file.name.replace(/\.[^.]*$/, '');
    for (const [kind, name] of [['text', base + '_text.2da'], ['csv', base + '.csv'], ['binary', base + '_binary.2da']]) {
      const bytes = engine.exportView(3, kind);
      if (bytes.length === 0) continue;
      const link = document.createElement('a');
      link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
      link.download = name;
      link.textContent = 'Save as ' + kind + ' (' + name + ')';
      saves.appendChild(link);
    }
  });
  $('folder').addEventListener('change', (event) => take(event.target.files));
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
    $('folder-label').hidden = true;
    $('support').hidden = false;
    $('support').textContent = 'This browser cannot pick a folder here: pick the eight files instead.';
  }

  createHeadlinkModule().then((m) => {
    engine = makeApi(m);
    window.headlink = engine;
    run();
  }, (error) => {
    setState('failed');
    $('status').className = 'failed';
    $('status').textContent = 'headlink could not start in this browser: ' + error;
  });
})();
