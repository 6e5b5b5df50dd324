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
    files: new Map(),    // path -> File, as the user gave them
    game: null,          // a game folder picked: {name, files: [[path, File]]}
    loads: 0,            // how many loads were asked for: only the newest may show its result
    loaded: false,       // the engine holds the files of the newest load
    heads: [],           // a pack's heads by name ([] without a pack)
    brought: false,      // the heads bring files for the game's override folder
    head: '',            // the head whose scripts are in the editors
    scripts: new Map(),  // "head/script" -> {given: bytes or null, text, edited}
    editors: [],         // per script: {name, area, columns, caret, said, link, table}
    lastEditor: null,    // the editor written in last, for a row clicked in the grid
    runs: 0,             // finished runs, for the tests (body data-runs)
    outputUrls: [],      // object URLs of the outputs' save links
    openedUrls: [],      // object URLs of the opened table's save links
    scriptUrls: [],      // object URLs of the scripts' save links
    grid: null,          // the grid of the updated tables
    tab: 0,              // the updated table shown
    openedGrid: null,    // the grid of the opened table
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
    // The roles of a script's words, in the engine's numbering.
    const roles = ['template row', 'key column', 'key value', 'column', 'value', 'note'];
    const word = (role) => ({ role: roles[role], begin: m._hl_word_begin(), end: m._hl_word_end(),
      number: m._hl_word_has_number() === 1 ? m._hl_word_number() : null });
    return {
      inputNames,
      tableNames,
      scriptNames,
      outputNames,
      titles: outputNames.map((_, i) => text(m._hl_table_title(i))),
      // The table each script edits, by its index in tableNames.
      scriptTables: scriptNames.map((_, i) => m._hl_script_table(i)),
      // The link cells: table `table`'s column `column` holds a row number of table `target`.
      links: list(m._hl_link_count(), (i) => ({ table: m._hl_link_table(i), column: m._hl_link_column(i),
        target: m._hl_link_target(i) })),
      // Forgets the job's files, then takes the names the user gave (for
      // the near-miss hints).
      clear(names) {
        m._hl_job_clear();
        for (const name of names) withString(name, (at) => mustWork(m._hl_add_name(at)));
      },
      // Input `name` (a table or, without a pack, a script): its bytes, or null for missing.
      setInput(name, bytes) {
        const i = inputNames.indexOf(name);
        if (!bytes) mustWork(m._hl_set_input(i, 0, -1));
        else withBytes(bytes, (at) => mustWork(m._hl_set_input(i, at, bytes.length)));
      },
      // A pack's head: its index; its scripts are missing until set.
      addHead(name) {
        const h = withString(name, (at) => m._hl_add_head(at));
        if (h < 0) throw new Error(failure());
        return h;
      },
      // A file head `h` brings, at `path` in the pack ("moonveil/override/hd.mdl").
      addHeadFile(h, path, bytes) {
        withString(path, (p) => withBytes(bytes, (at) => mustWork(m._hl_add_head_file(h, p, at, bytes.length))));
      },
      // A folder of the pack holding none of the five scripts.
      skipFolder(name) { withString(name, (at) => mustWork(m._hl_skip_folder(at))); },
      // Script `name` of head `h`: its bytes, or null for missing.
      setHeadScript(h, name, bytes) {
        if (!bytes) mustWork(m._hl_set_head_script(h, scriptNames.indexOf(name), 0, -1));
        else withBytes(bytes, (at) => mustWork(m._hl_set_head_script(h, scriptNames.indexOf(name), at, bytes.length)));
      },
      // Reads the tables from a game folder ({name, files: [[path, File]]})
      // as `headlink --game` does, asking for slices of the files it needs;
      // `current()` says whether this read is still wanted.
      async readGame(game, current) {
        const listing = game.files.map(([path, file]) => file.size + '\t' + path).join('\n');
        withString(game.name, (n) => withString(listing, (l) => mustWork(m._hl_game_begin(n, l))));
        const byPath = new Map(game.files);
        for (;;) {
          const needed = m._hl_game_read();
          if (needed < 0) throw new Error(failure());
          if (needed === 0) return true;
          const needs = list(needed, (i) => ({ path: text(m._hl_game_need_path(i)), offset: m._hl_game_need_offset(i),
            size: m._hl_game_need_size(i) }));
          const slices = await Promise.all(needs.map((need) =>
            byPath.get(need.path).slice(need.offset, need.offset + need.size).arrayBuffer()));
          if (!current()) return false;
          slices.forEach((slice, i) => {
            const bytes = new Uint8Array(slice);
            withBytes(bytes, (at) => mustWork(m._hl_game_give(i, at, bytes.length)));
          });
        }
      },
      // Where table `i` came from in the game folder, or ''.
      source: (i) => text(m._hl_table_source(i)),
      // Runs the job on what the engine holds, as `headlink -n` does.
      run(strict) {
        const status = m._hl_run(strict ? 1 : 0);
        const failed = failure();
        const stderr = text(m._hl_stderr()) + (failed ? 'headlink: ' + failed + '\n' : '');
        return { status, stdout: text(m._hl_stdout()), stderr, warnings: m._hl_warning_count(),
          worked: m._hl_worked() === 1, heads: list(m._hl_head_count(), (i) => text(m._hl_head_name(i))),
          said: list(m._hl_said_count(), (i) => ({ text: text(m._hl_said_text(i)), line: m._hl_said_line(i),
            warning: m._hl_said_warning(i) === 1, head: m._hl_said_head(i), script: m._hl_said_script(i) })) };
      },
      // Output `i` of the last run that worked, serialised now.
      output(i) {
        const size = m._hl_output_size(i);
        if (size === 0) throw new Error(failure() || 'nothing to save: the last run did not work');
        const at = m._hl_output(i);
        return m.HEAPU8.slice(at, at + size);
      },
      // What the word at byte `offset` of a script is: {role (a name),
      // begin, end, number (or null)}; with `role` instead, the first word
      // of that role, or null.
      wordAt(bytes, offset) {
        const role = withBytes(bytes, (at) => m._hl_word_at(at, bytes.length, offset));
        return role < 0 ? null : word(role);
      },
      firstWord(bytes, role) {
        const found = withBytes(bytes, (at) => m._hl_word_first(at, bytes.length, roles.indexOf(role)));
        return found < 0 ? null : word(found);
      },
      // The names given to the last run that differ from input `name` only
      // in letter case or by an extra extension.
      nearMisses(name) {
        return text(m._hl_near_misses(inputNames.indexOf(name))).split('\n').filter((line) => line.length > 0);
      },
      // Table `v` (0-2: the outputs of the last run that worked; 3: a table
      // opened on its own; 4-6: the tables as given), read cell by cell
      // through the table library.
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
      // The cells the last run that worked changed.
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

  // The files the job needs, found or not: the tables (from the game
  // folder, with where each came from), and the scripts (or, with a pack,
  // each head with the scripts it lacks); a script not given can be
  // written below.
  function showChecklist(engine, files) {
    const list = $('checklist');
    list.replaceChildren();
    const add = (className, words) => {
      const item = document.createElement('li');
      item.className = className;
      item.textContent = words;
      list.appendChild(item);
    };
    for (const head of state.heads) {
      const lacking = engine.scriptNames.filter((name) => !files.has(head + '/' + name));
      add(lacking.length === 0 ? 'found' : 'missing',
        head + '/: ' + (lacking.length === 0 ? 'the five scripts' : 'lacks ' + lacking.join(', ') + ': write it below'));
    }
    const nearly = (name, near) => name + ': missing; you gave ' + near.join(', ') +
      ', which is not taken (the names must match exactly: rename it)';
    engine.tableNames.forEach((name, i) => {
      const near = files.has(name) || state.game ? [] : engine.nearMisses(name);
      const source = state.game ? engine.source(i) : '';
      if (source) add('found', name + ': from ' + source + ' in the game folder ' + state.game.name);
      else if (state.game) add('missing', name + ': not read from the game folder ' + state.game.name + ' (the messages say why)');
      else if (files.has(name)) add('found', name);
      else if (near.length > 0) add('near', nearly(name, near));
      else add('missing', name + ': missing');
    });
    if (state.heads.length > 0) return;
    for (const name of engine.scriptNames) {
      const entry = state.scripts.get(scriptKey('', name));
      const near = files.has(name) ? [] : engine.nearMisses(name);
      if (files.has(name)) add('found', name + (entry && entry.edited ? ': as edited below' : ''));
      else if (entry && entry.edited) add('found', name + ': written below');
      else if (near.length > 0) add('near', nearly(name, near) + ', or write it below');
      else add('write', name + ': write it below');
    }
  }

  // Save links in `box`, one for each of `saves` ({name, bytes}), their
  // object URLs kept in `urls` (those there are revoked first). `bytes` may
  // be a function: the bytes are then made when the link is used (the
  // outputs are serialised only when saved), and `saved()` is called.
  function showSaveLinks(box, urls, saves, words) {
    for (const url of urls.splice(0)) URL.revokeObjectURL(url);
    box.replaceChildren();
    const blob = (bytes) => {
      const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
      urls.push(url);
      return url;
    };
    for (const save of saves) {
      const link = document.createElement('a');
      link.download = save.name;
      link.textContent = words ? words(save) : save.name;
      if (typeof save.bytes !== 'function') {
        link.href = blob(save.bytes);
      } else {
        link.href = '#';
        // The link follows its href once this handler is done.
        link.addEventListener('click', (event) => {
          let bytes;
          try {
            bytes = save.bytes();
          } catch (error) {
            event.preventDefault();
            showStatus('failed', save.name + ': cannot be saved: ' + error.message);
            return;
          }
          if (link.href.startsWith('blob:')) {
            URL.revokeObjectURL(link.href);
            urls.splice(urls.indexOf(link.href), 1);
          }
          link.href = blob(bytes);
          if (save.saved) save.saved();
        });
      }
      box.appendChild(link);
    }
  }

  // A grid that draws only the rows and columns in view, so that 65,535
  // rows and hundreds of columns stay quick, and that keeps its place when
  // shown again with new contents. show() takes `source` (the shape and
  // texts), `rowsBefore` (the rows before them were added) and `marks`
  // ("row:column" -> a changed cell's mark). One cell can be chosen (a
  // click or tap, the arrow keys, or first() and step()): `details` then
  // says what it holds and, for a marked cell, what it held before. A click
  // on a row's number calls `onRow(row)` when given.
  const rowHeight = 24;
  function makeGrid(box, details, onRow) {
    let source = null, name = '', rowsBefore = 0, marks = new Map(), marked = [], at = -1;
    let chosen = null;  // {row, column} of the chosen cell
    let drawn = '';
    const head = document.createElement('div');
    head.className = 'grid-head';
    head.setAttribute('role', 'row');
    head.setAttribute('aria-rowindex', 1);
    const body = document.createElement('div');
    body.className = 'grid-body';
    body.setAttribute('role', 'rowgroup');
    box.replaceChildren(head, body);
    // The widths of the label column and of a cell, in pixels (8em and 10em of the grid's font).
    const widths = () => {
      const em = parseFloat(getComputedStyle(box).fontSize) || 13;
      return { label: 8 * em, cell: 10 * em };
    };
    const gap = (width) => {
      const item = document.createElement('div');
      item.className = 'gap';
      item.style.width = width + 'px';
      item.setAttribute('aria-hidden', 'true');
      return item;
    };
    // What is drawn: the window of rows and columns, and each row's elements.
    let drawnRows = [];
    const fill = (item, r, c) => {
      const value = source.cell(r, c);
      const words = value === '' ? '****' : value;
      if (item.textContent !== words) item.textContent = words;
      const mark = marks.get(r + ':' + c);
      const selected = chosen !== null && chosen.row === r && chosen.column === c;
      const className = (mark ? (mark.link ? 'link' : 'set') : '') + (selected ? (mark ? ' selected' : 'selected') : '');
      if (item.className !== className) item.className = className;
      const title = mark ? 'was: ' + (mark.was === '' ? '****' : mark.was) : '';
      if (item.title !== title) item.title = title;
      if (selected) item.setAttribute('aria-selected', 'true');
      else item.removeAttribute('aria-selected');
    };
    const fillRow = (drawnRow, r) => {
      const words = r + '  ' + source.rowLabel(r);
      if (drawnRow.number.textContent !== words) drawnRow.number.textContent = words;
      const className = r >= rowsBefore ? 'grid-row added' : 'grid-row';
      if (drawnRow.element.className !== className) drawnRow.element.className = className;
    };
    // Draws the rows and columns in view; with `refresh`, the contents
    // changed: a window already drawn is updated in place, cell by cell,
    // so that a run that changed a few cells changes only those.
    const draw = (refresh = false) => {
      if (!source) return;
      const { label, cell } = widths();
      const first = Math.max(0, Math.floor(box.scrollTop / rowHeight) - 2);
      const last = Math.min(source.rows, first + Math.ceil(box.clientHeight / rowHeight) + 3);
      const left = Math.max(0, Math.floor(box.scrollLeft / cell) - 1);
      const right = Math.min(source.columns, left + Math.ceil(Math.max(box.clientWidth - label, cell) / cell) + 1);
      const shown = [first, last, left, right].join(':');
      if (drawn === shown) {
        if (!refresh) return;
        drawnRows.forEach((drawnRow, i) => {
          fillRow(drawnRow, first + i);
          drawnRow.cells.forEach((item, j) => fill(item, first + i, left + j));
        });
        for (let c = left; c < right; ++c) {
          const item = head.children[c - left + (left > 0 ? 2 : 1)];
          const words = c + ' ' + source.columnLabel(c);
          if (item.textContent !== words) item.textContent = item.title = words;
        }
        return;
      }
      drawn = shown;
      const labels = [document.createElement('div')];
      labels[0].textContent = 'row  label';
      labels[0].setAttribute('role', 'columnheader');
      if (left > 0) labels.push(gap(left * cell));
      for (let c = left; c < right; ++c) {
        const item = document.createElement('div');
        item.textContent = c + ' ' + source.columnLabel(c);
        item.title = item.textContent;
        item.setAttribute('role', 'columnheader');
        item.setAttribute('aria-colindex', c + 2);
        labels.push(item);
      }
      head.replaceChildren(...labels);
      const rows = document.createDocumentFragment();
      drawnRows = [];
      for (let r = first; r < last; ++r) {
        const row = document.createElement('div');
        row.dataset.row = r;
        row.setAttribute('role', 'row');
        row.setAttribute('aria-rowindex', r + 2);
        row.style.top = (r * rowHeight) + 'px';
        const number = document.createElement('div');
        number.setAttribute('role', 'rowheader');
        if (onRow) {
          number.className = 'row-pick';
          number.title = 'Make row ' + r + ' the template row of the script you were writing';
        }
        row.appendChild(number);
        if (left > 0) row.appendChild(gap(left * cell));
        const drawnRow = { element: row, number, cells: [] };
        fillRow(drawnRow, r);
        for (let c = left; c < right; ++c) {
          const item = document.createElement('div');
          item.dataset.col = c;
          item.setAttribute('role', 'gridcell');
          item.setAttribute('aria-colindex', c + 2);
          fill(item, r, c);
          row.appendChild(item);
          drawnRow.cells.push(item);
        }
        drawnRows.push(drawnRow);
        rows.appendChild(row);
      }
      body.replaceChildren(rows);
    };
    const spelled = (value) => (value === '' ? '****' : '"' + value + '"');
    const describe = () => {
      if (!chosen) { details.textContent = ''; return; }
      const { row, column } = chosen;
      const mark = marks.get(row + ':' + column);
      details.textContent = name + ', row ' + row + ' (label ' + source.rowLabel(row) + '), column ' + column +
        ' (' + source.columnLabel(column) + '): ' + spelled(source.cell(row, column)) +
        (mark ? (mark.link ? ', a link cell' : ', set by a script') + '; it was ' + spelled(mark.was) : '');
    };
    // Chooses a cell, scrolls it into view (past the sticky row labels and
    // column labels) and says what it holds.
    const choose = (row, column) => {
      if (source.rows === 0 || source.columns === 0) return;
      row = Math.max(0, Math.min(source.rows - 1, row));
      column = Math.max(0, Math.min(source.columns - 1, column));
      chosen = { row, column };
      const { label, cell } = widths();
      const top = row * rowHeight, header = head.offsetHeight;
      const left = label + column * cell;
      if (top < box.scrollTop || top + rowHeight > box.scrollTop + box.clientHeight - header)
        box.scrollTop = Math.max(0, top - (box.clientHeight - header) / 2);
      if (left - label < box.scrollLeft || left + cell > box.scrollLeft + box.clientWidth)
        box.scrollLeft = Math.max(0, left - label - (box.clientWidth - label - cell) / 2);
      draw(true);
      describe();
    };
    box.onclick = (event) => {
      const item = event.target.closest('[data-col]');
      if (item) choose(Number(item.parentNode.dataset.row), Number(item.dataset.col));
      else if (onRow && event.target.closest('.row-pick')) onRow(Number(event.target.closest('.grid-row').dataset.row));
    };
    const moves = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1],
      PageUp: [-10, 0], PageDown: [10, 0], Home: [0, -Infinity], End: [0, Infinity] };
    box.onkeydown = (event) => {
      const move = moves[event.key];
      if (!move || !source) return;
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
    // A wider or taller window shows more rows and columns.
    if (window.ResizeObserver) new ResizeObserver(() => draw()).observe(box);
    return {
      // Shows `view`; with `keep`, where the grid was (its scroll and chosen cell).
      show(view, options, keep = false) {
        source = view;
        ({ name, rowsBefore, marks } = options);
        box.setAttribute('aria-label', name);
        box.setAttribute('aria-rowcount', source.rows + 1);
        box.setAttribute('aria-colcount', source.columns + 1);
        const { label, cell } = widths();
        const width = (label + cell * source.columns) + 'px';
        head.style.width = width;
        body.style.width = width;
        body.style.height = (source.rows * rowHeight) + 'px';
        if (!keep || (chosen && (chosen.row >= source.rows || chosen.column >= source.columns))) {
          chosen = null;
          box.scrollTop = 0;
          box.scrollLeft = 0;
        }
        // The marked cells in reading order, for going from one to the next.
        marked = [...marks.values()].sort((a, b) => a.row - b.row || a.column - b.column);
        at = -1;
        if (!keep) drawn = '';
        draw(true);
        describe();
      },
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

  // The updated tables: a tab each, the grid of the one chosen (keeping
  // its place from run to run), and the picture of the links. While a run
  // fails they stay as the last run that worked left them, marked so.
  function showTable(engine, i, keep) {
    state.tab = i;
    for (const button of $('tabs').children) {
      const current = button.dataset.table === String(i);
      button.classList.toggle('current', current);
      button.setAttribute('aria-selected', String(current));
    }
    const own = new Map();
    for (const mark of state.marks)
      if (mark.table === i && !(own.get(mark.row + ':' + mark.column) || {}).link) own.set(mark.row + ':' + mark.column, mark);
    state.grid.show(engine.view(i), { name: engine.outputNames[i], rowsBefore: engine.rowsBefore(i), marks: own }, keep);
  }

  function showOutputs(engine, heads, stale) {
    $('stale').hidden = !stale;
    $('tables').classList.toggle('out-of-date', stale);
    $('tables').hidden = false;
    if (stale) return;
    state.marks = engine.marks();
    showLinks(engine, state.marks, heads);
    showTable(engine, state.tab, true);
  }

  function makeTabs(engine) {
    engine.outputNames.forEach((name, i) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.setAttribute('role', 'tab');
      button.textContent = name;
      button.dataset.table = i;
      button.addEventListener('click', () => showTable(engine, i, false));
      $('tabs').appendChild(button);
    });
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
    if ($('report').textContent !== report) $('report').textContent = report;
    $('report-box').hidden = report === '';
    if ($('messages').textContent !== messages) $('messages').textContent = messages;
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
    showSaid(engine, result.said);
    $('saves').hidden = result.status !== 0;
    // Save links only while the outputs can be saved (the bytes are made
    // only when one is used). After a failure, the grids of the last run
    // that worked, if any, stay, marked out of date.
    if (result.status !== 0) {
      showSaveLinks($('save-links'), state.outputUrls, []);
      showStatus('failed', 'Nothing can be saved: the messages say why. Nothing was saved anywhere.');
      showState('failed');
      if (engine.view(0).rows > 0) showOutputs(engine, result.heads, true);
      else $('tables').hidden = true;
      return;
    }
    if ($('save-links').children.length === 0) showSaves(engine);
    showOutputs(engine, result.heads, false);
    if (result.warnings === 0) showStatus('done', 'Done: the three outputs are ready to save. Nothing was saved anywhere yet.');
    else if (result.warnings === 1) showStatus('warned', 'Done, with 1 warning: read it before saving');
    else showStatus('warned', 'Done, with ' + result.warnings + ' warnings: read them before saving');
    showState('done');
  }

  // Each warning and failure about a script in the editors, under it, at its line.
  // Under --strict a warning is an error, and is shown as one.
  function showSaid(engine, said) {
    const head = state.heads.indexOf(state.head);
    const strict = $('strict').checked;
    for (const [i, editor] of state.editors.entries()) {
      const own = said.filter((s) => s.script === i && s.head === head);
      editor.said.replaceChildren(...own.map((s) => {
        const item = document.createElement('li');
        item.className = s.warning && !strict ? 'warning' : 'error';
        item.textContent = s.text;
        return item;
      }));
      editor.box.classList.toggle('wrong', own.some((s) => !s.warning || strict));
      editor.box.classList.toggle('warned', own.some((s) => s.warning && !strict));
    }
  }

  // A file the browser would not read: the run ends there, and the results
  // of the run before are cleared, as they no longer match the files.
  function showUnreadable(name, error) {
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
    state.openedGrid.show(view, { name, rowsBefore: view.rows, marks: new Map() });
    const base = name.replace(/\.[^.]*$/, '');
    const saves = [['text', base + '_text.2da'], ['csv', base + '.csv'], ['binary', base + '_binary.2da']]
      .map(([kind, file]) => ({ kind, name: file, bytes: engine.exportView(3, kind) }))
      .filter((save) => save.bytes.length > 0);
    showSaveLinks($('table-saves'), state.openedUrls, saves,
      (save) => 'Save as ' + save.kind + ' (' + save.name + ')');
  }

  // ---- The editors: one per script, each with the columns of its table.

  const scriptKey = (head, name) => head + '/' + name;
  const utf8 = new TextEncoder();

  // ---- A script's bytes and the text its editor shows, each way, so that
  // an edit changes only what was typed. A script is UTF-8 when its bytes
  // are, else Windows-1252 (what such scripts are written in, as the game's
  // tables are): browsers decode that but cannot encode it, hence the table
  // of 0x80-0x9F. A plain-ASCII script takes typed characters as
  // Windows-1252 too. Its line ending (a textarea gives LF) and a UTF-8
  // byte-order mark are put back. UTF-16 is only shown.
  const cp1252 = [0x20AC, 0x81, 0x201A, 0x192, 0x201E, 0x2026, 0x2020, 0x2021, 0x2C6, 0x2030, 0x160, 0x2039, 0x152,
    0x8D, 0x17D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x2DC, 0x2122, 0x161, 0x203A,
    0x153, 0x9D, 0x17E, 0x178];
  const plainForm = { encoding: 'windows-1252', eol: '\n', bom: false };
  // The byte order of a script saved as UTF-16, as the program tells it, or ''.
  const utf16 = (bytes) => {
    if (bytes[0] === 0xFF && bytes[1] === 0xFE) return 'utf-16le';
    if (bytes[0] === 0xFE && bytes[1] === 0xFF) return 'utf-16be';
    const pairs = Math.min(Math.floor(bytes.length / 2), 8);
    let little = pairs > 0, big = pairs > 0;
    for (let i = 0; i < pairs; ++i) {
      little = little && bytes[2 * i] !== 0 && bytes[2 * i + 1] === 0;
      big = big && bytes[2 * i] === 0 && bytes[2 * i + 1] !== 0;
    }
    return little ? 'utf-16le' : big ? 'utf-16be' : '';
  };
  // {text, form}: the text an editor shows, and how to make the bytes again.
  function decodeScript(bytes) {
    const wide = utf16(bytes);
    if (wide) return { text: new TextDecoder(wide).decode(bytes), form: { encoding: 'utf-16', eol: '\n', bom: false } };
    const bom = bytes[0] === 0xEF && bytes[1] === 0xBB && bytes[2] === 0xBF;
    const body = bom ? bytes.subarray(3) : bytes;
    let text = null, encoding = 'utf-8';
    if (!bom && !body.some((b) => b >= 0x80)) {
      encoding = 'windows-1252';
    } else {
      try {
        text = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true }).decode(body);
      } catch (error) {
        encoding = 'windows-1252';
      }
    }
    if (text === null) text = Array.from(body, (b) => String.fromCharCode(b >= 0x80 && b < 0xA0 ? cp1252[b - 0x80] : b)).join('');
    // CR LF only when every line ends so; a lone CR is shown as a line break anyway.
    const eol = /\r\n/.test(text) && !/[^\r]\n|^\n/.test(text) ? '\r\n' : '\n';
    return { text: text.replace(/\r\n?/g, '\n'), form: { encoding, eol, bom } };
  }
  // A character's bytes in the script's encoding (a line break's in its
  // line ending), or null when the encoding cannot hold it.
  function charBytes(char, form) {
    if (char === '\n') return form.eol === '\r\n' ? [13, 10] : [10];
    if (form.encoding === 'utf-8') return [...utf8.encode(char)];
    const code = char.codePointAt(0);
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return [code];
    const at = cp1252.indexOf(code);
    return at >= 0 ? [0x80 + at] : null;
  }
  // {bytes, bad}: the text's bytes, and where the encoding cannot hold a
  // character ({line, char}; a "?" stands in for it in `bytes`).
  function encodeScript(text, form) {
    const bytes = form.bom ? [0xEF, 0xBB, 0xBF] : [];
    const bad = [];
    let line = 1;
    for (const char of text) {
      const own = charBytes(char, form);
      if (own === null) bad.push({ line, char });
      for (const b of own || [0x3F]) bytes.push(b);
      if (char === '\n') ++line;
    }
    return { bytes: new Uint8Array(bytes), bad };
  }
  // A caret (an index into the text) as a byte offset into the script's bytes, and back.
  function byteOffset(text, index, form) {
    let offset = form.bom ? 3 : 0;
    for (const char of text.slice(0, index)) offset += (charBytes(char, form) || [0]).length;
    return offset;
  }
  function textIndex(text, offset, form) {
    let at = form.bom ? 3 : 0, index = 0;
    for (const char of text) {
      if (at >= offset) break;
      at += (charBytes(char, form) || [0]).length;
      index += char.length;
    }
    return index;
  }
  // The bytes of a script as it stands: the file's own until edited; null when missing.
  function scriptBytes(entry) {
    if (!entry.edited) return entry.given;
    const encoded = encodeScript(entry.text, entry.form);
    if (encoded.bad.length > 0) throw new Error(cannotHold(encoded.bad[0], entry.form));
    return encoded.bytes;
  }
  const cannotHold = (bad, form) => 'line ' + bad.line + ': "' + bad.char + '" cannot be written in ' +
    (form.encoding === 'utf-8' ? 'UTF-8' : 'Windows-1252') + ', the encoding of this script: type another character';

  // What was typed is kept in this browser's local storage until saved or
  // forgotten, never the tables: the text, when, how to encode it, and the
  // file it was made from (its name, size and bytes; none when typed from
  // scratch), to which alone it belongs. An older page kept the bare text.
  // Tabs share the storage: each remembers what it last read or wrote of
  // each draft (`known`), and never writes over a draft another tab changed
  // meanwhile without asking.
  const drafts = {
    prefix: 'headlink draft ',
    known: new Map(),
    raw(key) { try { return localStorage.getItem(this.prefix + key); } catch (error) { return null; } },
    parse(raw) {
      if (raw === null) return null;
      try {
        const draft = JSON.parse(raw);
        if (draft && draft.v === 1) return draft;
      } catch (error) { /* an older page's bare text */ }
      return { v: 1, text: raw, date: 0, form: plainForm, file: null };
    },
    get(key) {
      const raw = this.raw(key);
      this.known.set(key, raw);
      return this.parse(raw);
    },
    // Whether another tab changed the draft since this one last saw it.
    changedElsewhere(key) { return this.known.has(key) && this.raw(key) !== this.known.get(key); },
    // What this tab knows of a draft is what the storage holds after it
    // wrote: a browser that keeps nothing for the page changes nothing.
    set(key, draft) {
      try { localStorage.setItem(this.prefix + key, JSON.stringify({ v: 1, ...draft })); } catch (error) { /* kept nowhere */ }
      this.known.set(key, this.raw(key));
    },
    drop(key) {
      try { localStorage.removeItem(this.prefix + key); } catch (error) { /* nothing kept */ }
      this.known.set(key, this.raw(key));
    },
    all() {
      try {
        return Object.keys(localStorage).filter((k) => k.startsWith(this.prefix)).map((k) => k.slice(this.prefix.length));
      } catch (error) {
        return [];
      }
    },
  };
  // The file a draft belongs to, as kept with it.
  const fileOf = (name, bytes) =>
    (bytes ? { name, size: bytes.length, bytes: Array.from(bytes, (b) => String.fromCharCode(b)).join('') } : null);
  const sameFile = (a, b) => (a === null || b === null ? a === b : a.name === b.name && a.size === b.size && a.bytes === b.bytes);

  function makeEditors(engine) {
    state.editors = engine.scriptNames.map((name, i) => {
      const table = engine.scriptTables[i];
      const box = document.createElement('div');
      box.className = 'editor';
      const title = document.createElement('h3');
      const label = document.createElement('label');
      label.htmlFor = 'script-' + i;
      label.textContent = name;
      const edits = document.createElement('span');
      edits.className = 'table';
      edits.textContent = ' edits ' + engine.tableNames[table];
      title.append(label, edits);
      const pair = document.createElement('div');
      pair.className = 'pair';
      const area = document.createElement('textarea');
      area.id = 'script-' + i;
      area.dataset.script = name;
      area.spellcheck = false;
      area.setAttribute('autocomplete', 'off');
      area.setAttribute('autocapitalize', 'off');
      const columns = document.createElement('div');
      columns.className = 'columns';
      columns.tabIndex = -1;  // a mouse's shortcut: the caret's line names the column for the keyboard
      columns.setAttribute('aria-label', 'the columns of ' + engine.tableNames[table] + ': click one to put its number at the caret');
      pair.append(area, columns);
      const caret = document.createElement('p');
      caret.className = 'caret';
      caret.setAttribute('aria-live', 'polite');
      const said = document.createElement('ul');
      said.className = 'said';
      const save = document.createElement('p');
      save.className = 'save';
      // A draft made from another file, or changed in another tab: the choice is the user's.
      const notice = document.createElement('p');
      notice.className = 'notice';
      notice.hidden = true;
      box.append(title, notice, pair, caret, said, save);
      $('editors').appendChild(box);
      const editor = { name, index: i, table, box, area, columns, caret, said, save, notice };
      area.addEventListener('input', (event) => edited(editor, event.timeStamp));
      for (const type of ['keyup', 'click', 'focus'])
        area.addEventListener(type, () => {
          // Only the editor written in says what is at its caret.
          if (state.lastEditor && state.lastEditor !== editor) hideCaret(state.lastEditor);
          state.lastEditor = editor;
          showCaret(editor);
        });
      // A click on a column keeps the caret in the editor.
      columns.addEventListener('mousedown', (event) => event.preventDefault());
      columns.addEventListener('click', (event) => {
        const button = event.target.closest('button');
        if (button) putColumn(editor, Number(button.dataset.column));
      });
      return editor;
    });
  }

  // The columns of each editor's table, as given (number and label).
  function showColumns(engine) {
    for (const editor of state.editors) {
      const view = engine.view(4 + editor.table);
      const buttons = [];
      for (let c = 0; c < view.columns; ++c) {
        const button = document.createElement('button');
        button.type = 'button';
        button.tabIndex = -1;
        button.dataset.column = c;
        button.textContent = c + ' ' + view.columnLabel(c);
        button.title = 'Put ' + c + ' at the caret';
        buttons.push(button);
      }
      editor.columns.replaceChildren(...buttons);
    }
  }

  // The editors show the chosen head's scripts (or the five, without a pack).
  function showEditors() {
    for (const editor of state.editors) {
      const entry = state.scripts.get(scriptKey(state.head, editor.name));
      editor.area.value = entry ? entry.text : '';
      // A script saved as UTF-16 is only shown: the program's message says what to do.
      editor.area.readOnly = Boolean(entry && entry.form.encoding === 'utf-16');
      editor.caret.textContent = '';
      showNotice(editor, entry);
    }
    showScriptSaves();
  }

  // Above an editor: a draft of another file to take or leave, or a draft
  // another tab changed meanwhile.
  function showNotice(editor, entry) {
    const choices = [];
    let words = '';
    if (entry && entry.conflict) {
      words = 'Another tab ' + (entry.conflict === 'removed' ? 'saved or forgot' : 'changed') + ' your edits of ' +
        editor.name + ' kept in this browser: ';
      choices.push(['Use theirs', () => takeTheirs(editor, entry)], ['Keep mine', () => keepMine(editor, entry)]);
    } else if (entry && entry.offer) {
      words = 'Your edits of ' + editor.name + ' from ' +
        (entry.offer.date ? new Date(entry.offer.date).toLocaleString() : 'an earlier visit') + ': ';
      choices.push(['Use them', () => useDraft(editor, entry)], ['Keep the file as picked', () => keepPicked(editor, entry)]);
    }
    editor.notice.hidden = choices.length === 0;
    editor.notice.replaceChildren(words, ...choices.map(([label, act]) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label;
      button.addEventListener('click', act);
      return button;
    }));
  }

  // The entry's text as given (or empty), not edited.
  function asGiven(entry) {
    const decoded = entry.given ? decodeScript(entry.given) : { text: '', form: plainForm };
    Object.assign(entry, { text: decoded.text, form: decoded.form, edited: false, offer: null, conflict: null });
  }
  const keyOf = (editor) => scriptKey(state.head, editor.name);
  // (A draft restored before any file was given keeps the file it was made from.)
  const keepDraft = (editor, entry) => drafts.set(keyOf(editor), { text: entry.text, date: Date.now(), form: entry.form,
    file: entry.given ? fileOf(editor.name, entry.given) : entry.file || null });
  function rerun(editor, entry) {
    if (state.loaded) giveScript(state.engine, state.head, editor.name, entry);
    showEditors();
    showDrafts();
    if (state.loaded) runNow();
  }
  function useDraft(editor, entry) {
    Object.assign(entry, { text: entry.offer.text, form: entry.offer.form, edited: true, offer: null });
    keepDraft(editor, entry);  // now it belongs to the file picked
    rerun(editor, entry);
  }
  function keepPicked(editor, entry) {
    entry.offer = null;
    if (entry.edited) keepDraft(editor, entry);  // what was typed since is the draft now
    else if (!drafts.changedElsewhere(keyOf(editor))) drafts.drop(keyOf(editor));
    rerun(editor, entry);
  }
  function takeTheirs(editor, entry) {
    const theirs = drafts.get(keyOf(editor));
    if (theirs === null) asGiven(entry);
    else Object.assign(entry, { text: theirs.text, form: theirs.form, edited: true, conflict: null });
    rerun(editor, entry);
  }
  function keepMine(editor, entry) {
    entry.conflict = null;
    keepDraft(editor, entry);
    rerun(editor, entry);
  }

  function showScriptSaves() {
    const words = (save) => 'Save ' + (state.head ? state.head + '/' : '') + save.name;
    state.editors.forEach((editor, i) => {
      const urls = state.scriptUrls[i] || (state.scriptUrls[i] = []);
      const key = scriptKey(state.head, editor.name);
      showSaveLinks(editor.save, urls, [{ name: editor.name,
        bytes: () => scriptBytes(state.scripts.get(key) || { edited: true, text: editor.area.value, form: plainForm }) ||
          new Uint8Array(0),
        saved: () => {
          if (!drafts.changedElsewhere(key)) drafts.drop(key);
          showDrafts();
        } }], words);
    });
  }

  function showDrafts() {
    const kept = drafts.all().sort();
    $('drafts').hidden = kept.length === 0;
    $('drafts').textContent = kept.length === 0 ? '' : 'Kept in this browser until saved or forgotten, never sent ' +
      'anywhere: your edits of ' + kept.map((key) => key.replace(/^\//, '')).join(', ') + '.';
  }

  // What is under the caret: the column's label where a column goes.
  function showCaret(editor) {
    const engine = state.engine;
    const text = editor.area.value;
    const form = formOf(editor);
    const at = engine.wordAt(encodeScript(text, form).bytes, byteOffset(text, editor.area.selectionStart, form));
    const view = engine.view(4 + editor.table);
    let words = '';
    let column = -1;
    if (at && at.number !== null && (at.role === 'column' || at.role === 'key column')) {
      column = at.number;
      words = at.role + ' ' + at.number + (at.number >= 0 && at.number < view.columns
        ? ': ' + view.columnLabel(at.number) : ': no such column (' + view.columns + ' columns)');
    } else if (at && at.number !== null && at.role === 'template row') {
      words = 'template row ' + at.number + (at.number >= 0 && at.number < view.rows
        ? ' (label ' + view.rowLabel(at.number) + ')' : ': no such row (' + view.rows + ' rows)');
    } else if (at) {
      const roles = { 'template row': 'the template row (the row to copy)', 'key column': 'the key column',
        'key value': 'the key value (the row is found by it, or added with it)', column: 'a column number',
        value: 'the value for that column', note: 'the note after the pairs (not read)' };
      words = (at.begin === at.end ? 'next comes ' : 'at the caret: ') + roles[at.role];
    }
    editor.caret.textContent = words;
    for (const button of editor.columns.children) {
      const current = Number(button.dataset.column) === column;
      button.classList.toggle('current', current);
      if (current) editor.columns.scrollTop = button.offsetTop - editor.columns.offsetTop - editor.columns.clientHeight / 2;
    }
  }

  function hideCaret(editor) {
    editor.caret.textContent = '';
    for (const button of editor.columns.querySelectorAll('.current')) button.classList.remove('current');
  }

  const formOf = (editor) => (state.scripts.get(keyOf(editor)) || { form: plainForm }).form;

  // Replaces `begin`..`end` (bytes) of the editor's text with `words` and
  // runs. The browser's own editing command, which its undo knows.
  function replaceBytes(editor, begin, end, words) {
    if (editor.area.readOnly) return;  // a script shown only (UTF-16)
    const text = editor.area.value;
    const form = formOf(editor);
    const from = textIndex(text, begin, form), to = textIndex(text, end, form);
    const before = from > 0 && !/\s/.test(text[from - 1]) ? ' ' : '';
    const after = to < text.length && !/\s/.test(text[to]) ? ' ' : '';
    editor.area.focus();
    editor.area.setSelectionRange(from, to);
    // It fires the input event that runs; where it is missing, the range is set by hand.
    if (!document.execCommand('insertText', false, before + words + after)) {
      editor.area.setRangeText(before + words + after, from, to, 'end');
      edited(editor, performance.now());
    }
    showCaret(editor);
  }

  // A column clicked: its number at the caret, in place of the column number there.
  function putColumn(editor, column) {
    const text = editor.area.value;
    const form = formOf(editor);
    const caret = byteOffset(text, editor.area.selectionStart, form);
    const at = state.engine.wordAt(encodeScript(text, form).bytes, caret);
    const replace = at && at.begin < at.end && (at.role === 'column' || at.role === 'key column');
    if (replace) replaceBytes(editor, at.begin, at.end, String(column));
    else replaceBytes(editor, caret, byteOffset(text, editor.area.selectionEnd, form), String(column));
  }

  // A row's number clicked in the grid of the table the last editor edits:
  // it becomes that script's template row.
  function putRow(row) {
    const editor = state.lastEditor;
    if (!editor || editor.table !== state.tab) {
      $('grid-details').textContent = 'To use row ' + row + ' as a template row, write in a script of ' +
        state.engine.tableNames[state.tab] + ' first.';
      return;
    }
    const at = state.engine.firstWord(encodeScript(editor.area.value, formOf(editor)).bytes, 'template row');
    if (at) replaceBytes(editor, at.begin, at.end, String(row));
    else replaceBytes(editor, 0, 0, String(row));
  }

  // A script typed into: kept as a draft (unless another tab changed that
  // draft meanwhile: then the user chooses), handed to the engine, run.
  function edited(editor, since) {
    const key = keyOf(editor);
    const entry = state.scripts.get(key) || { given: null, form: plainForm };
    entry.text = editor.area.value;
    entry.edited = true;
    state.scripts.set(key, entry);
    if (drafts.changedElsewhere(key)) entry.conflict = drafts.raw(key) === null ? 'removed' : 'changed';
    // A draft still on offer is not written over before the user chooses.
    if (!entry.conflict && !entry.offer) keepDraft(editor, entry);
    showNotice(editor, entry);
    showDrafts();
    if (!state.loaded) return;
    giveScript(state.engine, state.head, editor.name, entry);
    runNow(since);
  }

  // A script to the engine: the bytes of the file given until edited. One
  // whose encoding cannot hold what was typed is not given: runNow says why.
  function giveScript(engine, head, name, entry) {
    if (entry.edited && encodeScript(entry.text, entry.form).bad.length > 0) return;
    const bytes = scriptBytes(entry);
    if (head) engine.setHeadScript(state.heads.indexOf(head), name, bytes);
    else engine.setInput(name, bytes);
  }

  // ---- Events: each takes what the user did, asks the engine, and draws.

  // Runs the job on what the engine holds, and shows it; `since` is when
  // the keystroke that asked for it happened, for the timing the tests print.
  function runNow(since) {
    const engine = state.engine;
    const unwritable = unwritableScripts();
    const result = unwritable.length > 0
      ? { status: 1, stdout: '', stderr: unwritable.map((s) => s.text + '\n').join(''), warnings: 0, worked: false,
        heads: state.heads, said: unwritable }
      : engine.run($('strict').checked);
    showRun(engine, result);
    document.body.dataset.runs = ++state.runs;
    if (since !== undefined) {
      void document.body.offsetHeight;  // the layout, forced: part of the time
      document.body.dataset.keystroke = (performance.now() - since).toFixed(1);
    }
  }

  // Scripts holding a character their encoding cannot hold: no run, and
  // never a byte in its place; the editor says where.
  function unwritableScripts() {
    const said = [];
    for (const [key, entry] of state.scripts) {
      const bad = entry.edited ? encodeScript(entry.text, entry.form).bad : [];
      if (bad.length === 0) continue;
      const head = key.slice(0, key.lastIndexOf('/')), name = key.slice(key.lastIndexOf('/') + 1);
      said.push({ text: (head ? head + '/' : '') + name + ': ' + cannotHold(bad[0], entry.form), line: bad[0].line,
        warning: false, head: state.heads.indexOf(head), script: state.engine.scriptNames.indexOf(name) });
    }
    return said;
  }

  // Reads the files given (and the game folder's tables), hands them to
  // the engine and runs. A load asked for while one reads its files makes
  // that one stop: only the newest shows its result.
  async function load() {
    const engine = state.engine;
    if (!engine || (state.files.size === 0 && !state.game)) return;
    const id = ++state.loads;
    const current = () => id === state.loads;
    const started = performance.now();
    state.loaded = false;
    showState('running');
    showSaveLinks($('save-links'), state.outputUrls, []);
    $('saves').hidden = true;
    showStatus('', 'Working...');
    const given = new Map(state.files);
    // A pack: folders inside what was given holding any of the scripts,
    // one head each, run in byte order of their names.
    const { heads, skipped } = headsOf(engine, given);
    state.brought = heads.some((head) => head.files.length > 0);
    state.heads = heads.map((head) => head.name);
    if (!state.heads.includes(state.head)) state.head = state.heads.length > 0 ? state.heads[0] : '';
    const read = async (path) => {
      try {
        return { bytes: new Uint8Array(await given.get(path).arrayBuffer()) };
      } catch (error) {
        return { failure: error };
      }
    };
    const bytesOf = new Map();
    const wanted = (state.game ? [] : engine.tableNames).filter((name) => given.has(name));
    if (heads.length === 0) wanted.push(...engine.scriptNames.filter((name) => given.has(name)));
    for (const head of heads) wanted.push(...head.paths.values(), ...head.files);
    for (const path of wanted) {
      const { bytes, failure } = await read(path);
      if (!current()) return;
      if (failure) {
        showChecklist(engine, given);
        showUnreadable(path, failure);
        return;
      }
      bytesOf.set(path, bytes);
    }
    // The scripts: what was typed (kept from before) over the files given;
    // a pack's heads with the files they bring, and its folders skipped.
    // All before the game folder is read: its installs are looked at for them.
    // Swapped in once every file is read: typing meanwhile stays with the files before.
    const scripts = new Map();
    try {
      engine.clear([...given.keys()]);
      const heading = heads.length > 0 ? heads : [{ name: '', paths: new Map(engine.scriptNames.map((n) => [n, n])), files: [] }];
      for (const head of heading) {
        const h = head.name ? engine.addHead(head.name) : -1;
        for (const name of engine.scriptNames) {
          const path = head.paths.get(name);
          const bytes = path !== undefined ? bytesOf.get(path) || null : null;
          // A draft is used as it was kept only with the file it was made
          // from; with another, the file is used as picked and the draft offered.
          const draft = drafts.get(scriptKey(head.name, name));
          const entry = { given: bytes };
          asGiven(entry);
          if (draft !== null && sameFile(draft.file, fileOf(name, bytes)))
            Object.assign(entry, { text: draft.text, form: draft.form, edited: true });
          else if (draft !== null) entry.offer = draft;
          scripts.set(scriptKey(head.name, name), entry);
          giveScript(engine, head.name, name, entry);
        }
        for (const path of head.files) engine.addHeadFile(h, path, bytesOf.get(path));
      }
      for (const folder of skipped) engine.skipFolder(folder);
      if (state.game) {
        if (!(await engine.readGame(state.game, current))) return;
        document.body.dataset.gameTook = (performance.now() - started).toFixed(0);
      } else {
        for (const name of engine.tableNames) engine.setInput(name, bytesOf.get(name) || null);
      }
    } catch (error) {
      if (!current()) return;
      showUnreadable(state.game ? state.game.name : 'a table', error);
      return;
    }
    if (!current()) return;
    state.scripts = scripts;
    state.loaded = true;
    showHeads();
    showEditors();
    showColumns(engine);
    showChecklist(engine, given);
    runNow();
    // How long the job took here, from the files to the grid, for the tests.
    document.body.dataset.took = (performance.now() - started).toFixed(0);
  }

  // The outputs' save links: named as the game expects when the tables came
  // from a game folder, for its override folder.
  function showSaves(engine) {
    const names = state.game ? engine.tableNames : engine.outputNames;
    showSaveLinks($('save-links'), state.outputUrls, names.map((name, i) => ({ name, bytes: () => engine.output(i) })));
    $('save-where').hidden = !state.game;
    $('save-where').textContent = state.game ? 'Put them in the override folder of the game folder ' + state.game.name +
      ' (make the folder if it has none)' + (state.brought ? ', with the files the heads bring (the report names them)' : '') +
      ': the page writes nothing into the game itself.' : '';
  }

  function showHeads() {
    $('head-choice').hidden = state.heads.length === 0;
    $('head').replaceChildren(...state.heads.map((name) => {
      const option = document.createElement('option');
      option.textContent = name;
      option.value = name;
      return option;
    }));
    $('head').value = state.head;
  }

  // The heads of a pack among the files given (path -> File): each folder
  // holding any of the five scripts, with `paths` (script -> path) and
  // `files` (the paths of what its override folder holds), in byte order of
  // the folders' names; and, beside heads, the folders holding none.
  function headsOf(engine, files) {
    const byFolder = new Map();
    const folders = new Set();
    for (const path of files.keys()) {
      const parts = path.split('/');
      if (parts.length < 2) continue;
      folders.add(parts[0]);
      if (parts.length !== 2 || !engine.scriptNames.includes(parts[1])) continue;
      if (!byFolder.has(parts[0])) byFolder.set(parts[0], { name: parts[0], paths: new Map(), files: [] });
      byFolder.get(parts[0]).paths.set(parts[1], path);
    }
    for (const path of files.keys()) {
      const parts = path.split('/');
      if (parts.length >= 3 && byFolder.has(parts[0]) && parts[1].toLowerCase() === 'override')
        byFolder.get(parts[0]).files.push(path);
    }
    const utf8 = (name) => new TextEncoder().encode(name);
    const byBytes = (a, b) => {
      const x = utf8(a), y = utf8(b);
      for (let i = 0; i < Math.min(x.length, y.length); ++i) if (x[i] !== y[i]) return x[i] - y[i];
      return x.length - y.length;
    };
    const heads = [...byFolder.values()].sort((a, b) => byBytes(a.name, b.name));
    for (const head of heads) head.files.sort(byBytes);
    const skipped = heads.length === 0 ? [] : [...folders].filter((folder) => !byFolder.has(folder)).sort(byBytes);
    return { heads, skipped };
  }

  // Files given: [path, File] pairs, a path being the name inside the
  // folder picked or dropped ("moonveil/head.txt"), or the file's name.
  function take(pairs) {
    for (const [path, file] of pairs) state.files.set(path, file);
    // Tables given take the place of a game folder's.
    if (state.engine && pairs.some(([path]) => state.engine.tableNames.includes(path))) state.game = null;
    $('run').hidden = state.files.size === 0 && !state.game;
    load();
  }
  // A game folder picked: its files by their paths below it, and its name.
  function takeGame(files) {
    const all = [...files];
    if (all.length === 0) return;
    const name = (all[0].webkitRelativePath || all[0].name).split('/')[0];
    state.game = { name, files: inFolder(all) };
    for (const tableName of state.engine ? state.engine.tableNames : []) state.files.delete(tableName);
    $('run').hidden = false;
    load();
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
    event.target.value = '';
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
  $('pick-game').addEventListener('click', () => $('game').click());
  $('pick-table').addEventListener('click', () => $('table-file').click());
  // Each picker is cleared once its files are taken, so that picking the
  // same files again is a change too, and a reload leaves no files in it.
  const picked = (take) => (event) => {
    const files = [...event.target.files];
    event.target.value = '';
    take(files);
  };
  $('files').addEventListener('change', picked((files) => take(named(files))));
  $('folder').addEventListener('change', picked((files) => take(inFolder(files))));
  $('game').addEventListener('change', picked(takeGame));
  for (const id of ['files', 'folder', 'game', 'table-file']) $(id).value = '';
  $('jump').addEventListener('click', () => { if (state.grid) state.grid.first(); });
  $('next-mark').addEventListener('click', () => { if (state.grid) state.grid.step(1); });
  $('previous-mark').addEventListener('click', () => { if (state.grid) state.grid.step(-1); });
  $('table-file').addEventListener('change', onOpen);
  $('run').addEventListener('click', load);
  $('strict').addEventListener('change', () => { if (state.loaded) runNow(); });
  $('save-all').addEventListener('click', () => {
    for (const link of $('save-links').querySelectorAll('a')) link.click();
  });
  $('save-scripts').addEventListener('click', () => {
    for (const editor of state.editors) editor.save.querySelector('a').click();
  });
  $('head').addEventListener('change', () => {
    state.head = $('head').value;
    showEditors();
    if (state.loaded) runNow();
  });
  // Forgetting the edits, once the user says so in the page: this tab's
  // drafts (never one another tab changed since), and the scripts as given
  // again (or empty).
  $('forget').addEventListener('click', () => {
    const held = [...state.scripts.keys()].filter((key) => state.scripts.get(key).edited);
    $('forget-what').textContent = held.length === 0 ? 'You have no edits here to forget.'
      : 'Forget your edits of ' + held.map((key) => key.replace(/^\//, '')).join(', ') + '? They cannot be brought back.';
    $('forget-yes').hidden = held.length === 0;
    $('forget-no').textContent = held.length === 0 ? 'OK' : 'Keep them';
    $('forget-confirm').hidden = false;
    $(held.length === 0 ? 'forget-no' : 'forget-yes').focus();
  });
  $('forget-no').addEventListener('click', () => { $('forget-confirm').hidden = true; });
  $('forget-yes').addEventListener('click', () => {
    $('forget-confirm').hidden = true;
    for (const [key, entry] of state.scripts) {
      if (!entry.edited) continue;
      if (!drafts.changedElsewhere(key)) drafts.drop(key);
      asGiven(entry);
      const [head, name] = [key.slice(0, key.lastIndexOf('/')), key.slice(key.lastIndexOf('/') + 1)];
      if (state.loaded) giveScript(state.engine, head, name, entry);
    }
    showEditors();
    showDrafts();
    if (state.loaded) runNow();
  });
  // Another tab changed a draft: a tab holding it as edited says so and
  // lets the user choose; one holding the file as given just lists it.
  window.addEventListener('storage', (event) => {
    if (event.key !== null && !event.key.startsWith(drafts.prefix)) return;
    for (const [key, entry] of state.scripts) {
      if (!entry.edited || entry.conflict || !drafts.changedElsewhere(key)) continue;
      entry.conflict = drafts.raw(key) === null ? 'removed' : 'changed';
    }
    showEditors();
    showDrafts();
  });
  const drop = $('drop');
  drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', onDrop);
  if (!('webkitdirectory' in document.createElement('input'))) {
    $('pick-folder').hidden = true;
    $('pick-game').hidden = true;
    $('support').hidden = false;
    $('support').textContent = 'This browser cannot pick a folder here: pick the eight files instead.';
  }

  createHeadlinkModule().then((m) => {
    const engine = makeApi(m);
    state.engine = engine;
    window.headlink = engine;
    state.grid = makeGrid($('grid'), $('grid-details'), putRow);
    state.openedGrid = makeGrid($('table-grid'), $('table-details'));
    makeTabs(engine);
    makeEditors(engine);
    // What was typed before, kept in this browser, until tables are given.
    for (const name of engine.scriptNames) {
      const draft = drafts.get(scriptKey('', name));
      if (draft !== null) state.scripts.set(scriptKey('', name), { given: null, text: draft.text, form: draft.form, edited: true,
        file: draft.file });
    }
    showEditors();
    showDrafts();
    showChecklist(engine, state.files);
    load();
  }, (error) => {
    showState('failed');
    showStatus('failed', 'headlink could not start in this browser: ' + error);
  });
})();
