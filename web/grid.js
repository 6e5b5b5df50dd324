// A grid that draws only the rows and columns in view, so that 65,535
// rows and hundreds of columns stay quick, and that keeps its place when
// shown again with new contents. show() takes a `source`: its name, shape,
// the rows before new ones were added, the marked cells ({row, column}, in
// reading order) and window(r0, r1, c0, c1), which gives the labels and
// cells of a window at once. One cell can be chosen (a click or tap, the
// arrow keys, or first() and step()): `details` then says what it holds
// and, for a marked cell, what it held before. bindRow(handler) calls the
// handler with a row whose number was clicked. `empty` is how an empty
// cell is spelled; every draw's time and engine calls go to `timings`.
const rowHeight = 24;
function makeGrid(box, details, empty, timings) {
  let source = null, shown = null, drawn = '', at = -1, onRow = null;
  let chosen = null;  // {row, column} of the chosen cell
  let drawnRows = [];  // each row drawn: {element, number, cells}
  const head = element('div', 'grid-head', { role: 'row', 'aria-rowindex': 1 });
  const body = element('div', 'grid-body', { role: 'rowgroup' });
  box.replaceChildren(head, body);
  // The widths of the label column and of a cell, in pixels (8em and 10em of the grid's font).
  const widths = () => {
    const em = parseFloat(getComputedStyle(box).fontSize) || 13;
    return { label: 8 * em, cell: 10 * em };
  };
  const gap = (width) => {
    const item = element('div', 'gap', { 'aria-hidden': 'true' });
    item.style.width = width + 'px';
    return item;
  };
  const spelled = (value) => (value === '' ? empty : value);
  const fill = (item, cell, r, c) => {
    const words = spelled(cell.text);
    if (item.textContent !== words) item.textContent = words;
    const selected = chosen !== null && chosen.row === r && chosen.column === c;
    const kind = ['', 'set', 'link'][cell.mark];
    const className = kind + (selected ? (kind ? ' selected' : 'selected') : '');
    if (item.className !== className) item.className = className;
    const title = cell.mark ? 'was: ' + spelled(cell.was) : '';
    if (item.title !== title) item.title = title;
    if (selected) item.setAttribute('aria-selected', 'true');
    else item.removeAttribute('aria-selected');
  };
  const fillRow = (drawnRow, r) => {
    const words = r + '  ' + shown.rowLabels[r - shown.r0];
    if (drawnRow.number.textContent !== words) drawnRow.number.textContent = words;
    const className = r >= source.rowsBefore ? 'grid-row added' : 'grid-row';
    if (drawnRow.element.className !== className) drawnRow.element.className = className;
  };
  const labelsOf = () => {
    const labels = [element('div', '', { role: 'columnheader' }, 'row  label')];
    if (shown.c0 > 0) labels.push(gap(shown.c0 * widths().cell));
    shown.columnLabels.forEach((words, j) => {
      const item = element('div', '', { role: 'columnheader', 'aria-colindex': shown.c0 + j + 2 }, (shown.c0 + j) + ' ' + words);
      item.title = item.textContent;
      labels.push(item);
    });
    return labels;
  };
  const rowOf = (r) => {
    const row = element('div', '', { role: 'row', 'aria-rowindex': r + 2 });
    row.dataset.row = r;
    row.style.top = (r * rowHeight) + 'px';
    const number = element('div', onRow ? 'row-pick' : '', { role: 'rowheader' });
    if (onRow) number.title = 'Make row ' + r + ' the template row of the script you were writing';
    row.appendChild(number);
    if (shown.c0 > 0) row.appendChild(gap(shown.c0 * widths().cell));
    const drawnRow = { element: row, number, cells: [] };
    fillRow(drawnRow, r);
    shown.cells[r - shown.r0].forEach((cell, j) => {
      const item = element('div', '', { role: 'gridcell', 'aria-colindex': shown.c0 + j + 2 });
      item.dataset.col = shown.c0 + j;
      fill(item, cell, r, shown.c0 + j);
      row.appendChild(item);
      drawnRow.cells.push(item);
    });
    drawnRows.push(drawnRow);
    return row;
  };
  // The window in view: which rows and columns.
  const inView = () => {
    const { label, cell } = widths();
    const first = Math.max(0, Math.floor(box.scrollTop / rowHeight) - 2);
    const last = Math.min(source.rows, first + Math.ceil(box.clientHeight / rowHeight) + 3);
    const left = Math.max(0, Math.floor(box.scrollLeft / cell) - 1);
    const right = Math.min(source.columns, left + Math.ceil(Math.max(box.clientWidth - label, cell) / cell) + 1);
    return [first, last, left, right];
  };
  // Draws the rows and columns in view; with `refresh`, the contents
  // changed: a window already drawn is updated in place, cell by cell,
  // so that a run that changed a few cells changes only those.
  const draw = (refresh = false) => {
    if (!source) return;
    const started = performance.now(), calls = timings.engineCalls;
    const wanted = inView();
    const same = drawn === wanted.join(':');
    if (same && !refresh) return;
    shown = source.window(...wanted);
    if (same) {
      drawnRows.forEach((drawnRow, i) => {
        fillRow(drawnRow, shown.r0 + i);
        drawnRow.cells.forEach((item, j) => fill(item, shown.cells[i][j], shown.r0 + i, shown.c0 + j));
      });
      shown.columnLabels.forEach((label, j) => {
        const item = head.children[j + (shown.c0 > 0 ? 2 : 1)];
        const words = (shown.c0 + j) + ' ' + label;
        if (item.textContent !== words) item.textContent = item.title = words;
      });
    } else {
      drawn = wanted.join(':');
      head.replaceChildren(...labelsOf());
      const rows = document.createDocumentFragment();
      drawnRows = [];
      for (let r = shown.r0; r < shown.r1; ++r) rows.appendChild(rowOf(r));
      body.replaceChildren(rows);
    }
    timings.draws.push({ ms: performance.now() - started, calls: timings.engineCalls - calls });
    if (timings.draws.length > 100) timings.draws.shift();
  };
  const describe = () => {
    if (!chosen) { details.textContent = ''; return; }
    const { row, column } = chosen;
    const inside = shown && row >= shown.r0 && row < shown.r1 && column >= shown.c0 && column < shown.c1;
    const cells = inside ? shown : source.window(row, row + 1, column, column + 1);
    const cell = cells.cells[row - cells.r0][column - cells.c0];
    const quoted = (value) => (value === '' ? empty : '"' + value + '"');
    details.textContent = source.name + ', row ' + row + ' (label ' + cells.rowLabels[row - cells.r0] + '), column ' +
      column + ' (' + cells.columnLabels[column - cells.c0] + '): ' + quoted(cell.text) +
      (cell.mark ? (cell.mark === 2 ? ', a link cell' : ', set by a script') + '; it was ' + quoted(cell.was) : '');
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
    bindRow(handler) { onRow = handler; },
    // Shows `next`; with `keep`, where the grid was (its scroll and chosen cell).
    show(next, keep = false) {
      source = next;
      box.setAttribute('aria-label', source.name);
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
      at = -1;
      if (!keep) drawn = '';
      draw(true);
      describe();
    },
    // The first marked cell, or else the first added row.
    first() {
      if (!source) return;
      at = 0;
      if (source.marks.length > 0) choose(source.marks[0].row, source.marks[0].column);
      else choose(source.rowsBefore, 0);
    },
    step(by) {
      if (!source || source.marks.length === 0) return;
      at = (at + by + source.marks.length) % source.marks.length;
      choose(source.marks[at].row, source.marks[at].column);
    },
  };
}

// A new element: its tag, class, attributes and text.
function element(tag, className, attributes = {}, text = '') {
  const item = document.createElement(tag);
  if (className) item.className = className;
  for (const [name, value] of Object.entries(attributes)) item.setAttribute(name, value);
  if (text) item.textContent = text;
  return item;
}
