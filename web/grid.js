// A grid that draws only the rows and columns in view, so that 65,535
// rows and hundreds of columns stay quick, and that keeps its place when
// shown again with new contents. show() takes a `source`: its name, shape,
// the rows before new ones were added, the marked cells ({row, column}, in
// reading order) and window(r0, r1, c0, c1), which gives the labels and
// cells of a window at once. One cell can be chosen (a click or tap, the
// arrow keys, or first() and step()): `details` then says what it holds
// and, for a marked cell, what it held before. The grid keeps the focus
// and names the chosen cell as its active descendant, so a screen reader
// says the cell; that cell stays drawn however far the grid scrolls.
// bindRow(handler) calls the handler with a row whose number was clicked,
// or whose header was chosen and Enter pressed (the header is column -1).
// `empty` is how an empty cell is spelled; every draw's time and engine
// calls go to `timings`.
const rowHeight = 24;
const gridMoves = { ArrowUp: [-1, 0], ArrowDown: [1, 0], ArrowLeft: [0, -1], ArrowRight: [0, 1],
  PageUp: [-10, 0], PageDown: [10, 0], Home: [0, -Infinity], End: [0, Infinity] };

export class Grid {
  constructor(box, details, empty, timings) {
    Object.assign(this, { box, details, empty, timings });
    this.source = null;
    this.shown = null;     // the window drawn, as the source gave it
    this.drawn = '';       // which window that is
    this.drawnRows = [];   // each row drawn: {element, number, cells}
    this.chosen = null;    // {row, column} of the chosen cell
    this.at = -1;          // the marked cell gone to last
    this.onRow = null;
    this.kept = null;      // the chosen cell drawn apart, when out of the window drawn
    this.head = element('div', 'grid-head', { role: 'row', 'aria-rowindex': 1 });
    this.body = element('div', 'grid-body', { role: 'rowgroup' });
    box.replaceChildren(this.head, this.body);
    box.onclick = (event) => {
      const item = event.target.closest('[data-col]');
      if (item) this.choose(Number(item.parentNode.dataset.row), Number(item.dataset.col));
      else if (this.onRow && event.target.closest('.row-pick')) this.onRow(Number(event.target.closest('.grid-row').dataset.row));
    };
    // The first arrow lands on the first cell; Home and End go as far as
    // there are columns, and with Ctrl as far as there are rows.
    box.onkeydown = (event) => {
      const move = gridMoves[event.key];
      const chosen = this.chosen;
      if (event.key === 'Enter' && chosen && chosen.column < 0 && this.onRow) {
        event.preventDefault();
        this.onRow(chosen.row);
      }
      if (!move || !this.source) return;
      event.preventDefault();
      if (!chosen) this.choose(0, 0);
      else if (event.ctrlKey && (event.key === 'Home' || event.key === 'End')) this.choose(move[1] * Infinity, chosen.column);
      else this.choose(chosen.row + move[0], chosen.column + move[1]);
    };
    let pending = false;
    box.onscroll = () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; this.draw(); });
    };
    // A wider or taller window shows more rows and columns.
    if (window.ResizeObserver) new ResizeObserver(() => this.draw()).observe(box);
  }
  bindRow(handler) { this.onRow = handler; }
  // The widths of the label column and of a cell, in pixels (8em and 10em of the grid's font).
  widths() {
    const em = parseFloat(getComputedStyle(this.box).fontSize) || 13;
    return { label: 8 * em, cell: 10 * em };
  }
  gap(width) {
    const item = element('div', 'gap', { 'aria-hidden': 'true' });
    item.style.width = width + 'px';
    return item;
  }
  spelled(value) { return value === '' ? this.empty : value; }
  idOf(r, c) { return this.box.id + '-' + r + '-' + (c < 0 ? 'h' : c); }
  fill(item, cell, r, c) {
    const words = this.spelled(cell.text);
    if (item.textContent !== words) item.textContent = words;
    const selected = this.chosen !== null && this.chosen.row === r && this.chosen.column === c;
    const kind = ['', 'set', 'link'][cell.mark];
    const className = kind + (selected ? (kind ? ' selected' : 'selected') : '');
    if (item.className !== className) item.className = className;
    const title = cell.mark ? 'was: ' + this.spelled(cell.was) : '';
    if (item.title !== title) item.title = title;
    if (selected) item.setAttribute('aria-selected', 'true');
    else item.removeAttribute('aria-selected');
  }
  // A row's header: its number and its label apart, each said as what it is.
  fillRow(drawnRow, r, label) {
    const [number, labelled] = drawnRow.number.children;  // the spans, apart
    if (number.textContent !== String(r)) number.textContent = r;
    if (labelled.textContent !== label) labelled.textContent = label;
    const said = 'row ' + r + ', label ' + (label === '' ? this.empty : label) +
      (this.onRow ? '; Enter makes it the template row of the script you were writing' : '');
    drawnRow.number.id = this.idOf(r, -1);
    const chosen = this.chosen !== null && this.chosen.row === r && this.chosen.column < 0;
    drawnRow.number.classList.toggle('selected', chosen);
    if (chosen) drawnRow.number.setAttribute('aria-selected', 'true');
    else drawnRow.number.removeAttribute('aria-selected');
    if (drawnRow.number.getAttribute('aria-label') !== said) drawnRow.number.setAttribute('aria-label', said);
    const className = 'grid-row' + (r >= this.source.rowsBefore ? ' added' : '') + (drawnRow.cells ? '' : ' kept');
    if (drawnRow.element.className !== className) drawnRow.element.className = className;
  }
  labels() {
    const shown = this.shown;
    const labels = [element('div', '', { role: 'columnheader' }, 'row  label')];
    if (shown.c0 > 0) labels.push(this.gap(shown.c0 * this.widths().cell));
    shown.columnLabels.forEach((words, j) => {
      const item = element('div', '', { role: 'columnheader', 'aria-colindex': shown.c0 + j + 2 }, (shown.c0 + j) + ' ' + words);
      item.title = item.textContent;
      labels.push(item);
    });
    return labels;
  }
  rowElement(r) {
    const row = element('div', 'grid-row', { role: 'row', 'aria-rowindex': r + 2 });
    row.dataset.row = r;
    row.style.top = (r * rowHeight) + 'px';
    return row;
  }
  header(r) {
    const number = element('div', this.onRow ? 'row-pick' : '', { role: 'rowheader' });
    number.append(element('span', 'row-number'), '  ', element('span', 'row-label'));
    if (this.onRow) number.title = 'Make row ' + r + ' the template row of the script you were writing';
    return number;
  }
  // The chosen cell (or row header), drawn on its own where the window
  // drawn does not hold it, so that the grid's active descendant is
  // always there to be said.
  keepChosen() {
    if (this.kept) this.kept.remove();
    this.kept = null;
    const chosen = this.chosen, shown = this.shown;
    if (chosen && !(chosen.row >= shown.r0 && chosen.row < shown.r1 &&
      (chosen.column < 0 || (chosen.column >= shown.c0 && chosen.column < shown.c1)))) {
      const { row: r, column: c } = chosen;
      const cells = this.source.window(r, r + 1, Math.max(c, 0), Math.max(c, 0) + 1);
      const row = this.kept = this.rowElement(r);
      if (c < 0) {
        const number = this.header(r);
        row.appendChild(number);
        this.fillRow({ element: row, number }, r, cells.rowLabels[0]);
      } else {
        row.style.left = (this.widths().label + c * this.widths().cell) + 'px';
        const item = element('div', '', { role: 'gridcell', 'aria-colindex': c + 2, id: this.idOf(r, c) });
        item.dataset.col = c;
        this.fill(item, cells.cells[0][0], r, c);
        row.appendChild(item);
      }
      this.body.appendChild(row);
    }
    const id = chosen ? this.idOf(chosen.row, chosen.column) : '';
    if ((this.box.getAttribute('aria-activedescendant') || '') !== id) {
      if (id) this.box.setAttribute('aria-activedescendant', id);
      else this.box.removeAttribute('aria-activedescendant');
    }
  }
  rowOf(r) {
    const shown = this.shown;
    const row = this.rowElement(r);
    const number = this.header(r);
    row.appendChild(number);
    if (shown.c0 > 0) row.appendChild(this.gap(shown.c0 * this.widths().cell));
    const drawnRow = { element: row, number, cells: [] };
    this.fillRow(drawnRow, r, shown.rowLabels[r - shown.r0]);
    shown.cells[r - shown.r0].forEach((cell, j) => {
      const item = element('div', '', { role: 'gridcell', 'aria-colindex': shown.c0 + j + 2 });
      item.dataset.col = shown.c0 + j;
      item.id = this.idOf(r, shown.c0 + j);
      this.fill(item, cell, r, shown.c0 + j);
      row.appendChild(item);
      drawnRow.cells.push(item);
    });
    this.drawnRows.push(drawnRow);
    return row;
  }
  // The window in view: which rows and columns.
  inView() {
    const { label, cell } = this.widths();
    const box = this.box;
    const first = Math.max(0, Math.floor(box.scrollTop / rowHeight) - 2);
    const last = Math.min(this.source.rows, first + Math.ceil(box.clientHeight / rowHeight) + 3);
    const left = Math.max(0, Math.floor(box.scrollLeft / cell) - 1);
    const right = Math.min(this.source.columns, left + Math.ceil(Math.max(box.clientWidth - label, cell) / cell) + 1);
    return [first, last, left, right];
  }
  // Draws the rows and columns in view; with `refresh`, the contents
  // changed: a window already drawn is updated in place, cell by cell,
  // so that a run that changed a few cells changes only those.
  draw(refresh = false) {
    if (!this.source) return;
    const started = performance.now(), calls = this.timings.engineCalls;
    const wanted = this.inView();
    if (this.drawn === wanted.join(':') && !refresh) return;
    // The window as the source gave it (cut to its table) is what is drawn.
    const shown = this.shown = this.source.window(...wanted);
    const key = [shown.r0, shown.r1, shown.c0, shown.c1].join(':');
    if (this.drawn === key) {
      this.drawnRows.forEach((drawnRow, i) => {
        this.fillRow(drawnRow, shown.r0 + i, shown.rowLabels[i]);
        drawnRow.cells.forEach((item, j) => this.fill(item, shown.cells[i][j], shown.r0 + i, shown.c0 + j));
      });
      shown.columnLabels.forEach((label, j) => {
        const item = this.head.children[j + (shown.c0 > 0 ? 2 : 1)];
        const words = (shown.c0 + j) + ' ' + label;
        if (item.textContent !== words) item.textContent = item.title = words;
      });
    } else {
      this.drawn = key;
      this.head.replaceChildren(...this.labels());
      const rows = document.createDocumentFragment();
      this.drawnRows = [];
      for (let r = shown.r0; r < shown.r1; ++r) rows.appendChild(this.rowOf(r));
      this.body.replaceChildren(rows);
      this.kept = null;
    }
    this.keepChosen();
    this.timings.draws.push({ ms: performance.now() - started, calls: this.timings.engineCalls - calls });
    if (this.timings.draws.length > 100) this.timings.draws.shift();
  }
  // What the chosen cell holds, in the details below the grid: a live
  // region, so written only when it changes.
  describe() {
    const words = this.describing();
    if (this.details.textContent !== words) this.details.textContent = words;
  }
  describing() {
    if (!this.chosen) return '';
    const { row, column } = this.chosen;
    const shown = this.shown;
    const inside = shown && row >= shown.r0 && row < shown.r1 && (column < 0 || (column >= shown.c0 && column < shown.c1));
    const cells = inside ? shown : this.source.window(row, row + 1, Math.max(column, 0), Math.max(column, 0) + 1);
    if (row < cells.r0 || row >= cells.r1) return '';  // no longer in the table
    const said = this.source.name + ', row ' + row + ' (label ' + cells.rowLabels[row - cells.r0] + ')';
    if (column < 0) return said + ': Enter makes it the template row of the script you were writing';
    if (column < cells.c0 || column >= cells.c1) return '';
    const cell = cells.cells[row - cells.r0][column - cells.c0];
    const quoted = (value) => (value === '' ? this.empty : '"' + value + '"');
    return said + ', column ' + column + ' (' + cells.columnLabels[column - cells.c0] + '): ' + quoted(cell.text) +
      (cell.mark ? (cell.mark === 2 ? ', a link cell' : ', set by a script') + '; it was ' + quoted(cell.was) : '');
  }
  // Chooses a cell, scrolls it into view (past the sticky row labels and
  // column labels) and says what it holds.
  choose(row, column) {
    const { box, source } = this;
    if (source.rows === 0 || source.columns === 0) return;
    row = Math.max(0, Math.min(source.rows - 1, row));
    column = Math.max(this.onRow ? -1 : 0, Math.min(source.columns - 1, column));
    this.chosen = { row, column };
    const { label, cell } = this.widths();
    const top = row * rowHeight, header = this.head.offsetHeight;
    const left = label + column * cell;
    if (top < box.scrollTop || top + rowHeight > box.scrollTop + box.clientHeight - header)
      box.scrollTop = Math.max(0, top - (box.clientHeight - header) / 2);
    // A row header is always in view, held at the left.
    if (column >= 0 && (left - label < box.scrollLeft || left + cell > box.scrollLeft + box.clientWidth))
      box.scrollLeft = Math.max(0, left - label - (box.clientWidth - label - cell) / 2);
    this.draw(true);
    this.describe();
  }
  // Shows `source`; with `keep`, where the grid was (its scroll and chosen cell).
  show(source, keep = false) {
    this.source = source;
    const box = this.box;
    box.setAttribute('aria-label', source.name);
    box.setAttribute('aria-rowcount', source.rows + 1);
    box.setAttribute('aria-colcount', source.columns + 1);
    const { label, cell } = this.widths();
    const width = (label + cell * source.columns) + 'px';
    this.head.style.width = width;
    this.body.style.width = width;
    this.body.style.height = (source.rows * rowHeight) + 'px';
    const chosen = this.chosen;
    if (!keep || (chosen && (chosen.row >= source.rows || chosen.column >= source.columns))) {
      this.chosen = null;
      box.scrollTop = 0;
      box.scrollLeft = 0;
    }
    this.at = -1;
    if (!keep) this.drawn = '';
    this.draw(true);
    this.describe();
  }
  // The first marked cell, or else the first added row.
  first() {
    if (!this.source) return;
    this.at = 0;
    const marks = this.source.marks;
    if (marks.length > 0) this.choose(marks[0].row, marks[0].column);
    else this.choose(this.source.rowsBefore, 0);
  }
  step(by) {
    const marks = this.source ? this.source.marks : [];
    if (marks.length === 0) return;
    this.at = (this.at + by + marks.length) % marks.length;
    this.choose(marks[this.at].row, marks[this.at].column);
  }
}

// A new element: its tag, class, attributes and text.
export function element(tag, className, attributes = {}, text = '') {
  const item = document.createElement(tag);
  if (className) item.className = className;
  for (const [name, value] of Object.entries(attributes)) item.setAttribute(name, value);
  if (text) item.textContent = text;
  return item;
}
