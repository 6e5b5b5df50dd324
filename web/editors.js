// The editors: one per script, each with the columns of its table, what
// is at its caret, its messages and its save link. bindInput, bindCaret,
// bindColumn and bindChoice hear what the user does; the rest shows what
// it is given.
// One editor: its box with the script's name and table, the text area, the
// columns of its table, the caret's line, its messages and save link.
import { element } from './grid.js';
import { $, showSaveLinks } from './results.js';

function makeEditor(facts, s, handlers) {
  const name = facts.scriptNames[s];
  const table = facts.tableNames[facts.scriptTables[s]];
  const label = element('label', '', {}, name);
  label.htmlFor = 'script-' + s;
  const title = element('h3');
  title.append(label, element('span', 'table', {}, ' edits ' + table));
  const area = element('textarea', '', { autocomplete: 'off', autocapitalize: 'off' });
  area.id = 'script-' + s;
  area.dataset.script = name;
  area.spellcheck = false;
  // The columns are a listbox: the arrow keys choose one, Enter (or a
  // click) puts its number at the editor's caret.
  const columns = element('div', 'columns', { role: 'listbox', id: 'columns-' + s,
    'aria-label': 'the columns of ' + table + ': Enter puts the chosen one\'s number at the caret of ' + name });
  columns.tabIndex = 0;
  columns.hidden = true;
  const pair = element('div', 'pair');
  pair.append(area, columns);
  // A draft made from another file, or changed in another tab: the choice is the user's.
  const notice = element('p', 'notice');
  notice.hidden = true;
  // A script neither given nor written: what to write there.
  const wanted = element('p', 'wanted', {}, 'Not given: write it here. A script holds the template row (the row to copy), ' +
    'the key column and its value (the row is found by it, or added with it), then pairs of a column and a value; ' +
    name + ' edits ' + table + '.');
  wanted.hidden = true;
  const editor = { name, area, columns, notice, wanted, caret: element('p', 'caret'),
    said: element('ul', 'said'), save: element('p', 'save'), box: element('div', 'editor'), urls: [] };
  editor.box.append(title, notice, wanted, pair, editor.caret, editor.said, editor.save);
  area.addEventListener('input', (event) => handlers.input(s, area.value, event.timeStamp));
  for (const type of ['keyup', 'click', 'focus']) area.addEventListener(type, () => handlers.caret(s));
  // A click on a column keeps the caret in the editor.
  columns.addEventListener('mousedown', (event) => event.preventDefault());
  columns.addEventListener('click', (event) => {
    const option = event.target.closest('[role=option]');
    if (option) handlers.column(s, Number(option.dataset.column));
  });
  columns.addEventListener('keydown', (event) => listboxKey(columns, event, (c) => handlers.column(s, c)));
  return editor;
}

// Option `i` of `list` chosen: selected, its active descendant and, with
// `scroll`, in view.
function chooseOption(list, i, scroll = true) {
  const options = list.children;
  if (i < 0 || i >= options.length) {
    list.removeAttribute('aria-activedescendant');
    return;
  }
  for (const option of list.querySelectorAll('[aria-selected=true]')) option.setAttribute('aria-selected', 'false');
  options[i].setAttribute('aria-selected', 'true');
  list.setAttribute('aria-activedescendant', options[i].id);
  const top = options[i].offsetTop - list.offsetTop;
  if (scroll && top < list.scrollTop) list.scrollTop = top;
  else if (scroll && top + options[i].offsetHeight > list.scrollTop + list.clientHeight)
    list.scrollTop = top + options[i].offsetHeight - list.clientHeight;
}

// A key in a listbox: the arrows, Home and End choose, Enter or Space
// takes the chosen option (`take(its index)`).
function listboxKey(list, event, take) {
  const options = list.children;
  const at = [...options].findIndex((option) => option.getAttribute('aria-selected') === 'true');
  const to = { ArrowDown: at + 1, ArrowUp: at - 1, Home: 0, End: options.length - 1,
    PageDown: at + 8, PageUp: at - 8 }[event.key];
  if (to !== undefined) {
    event.preventDefault();
    chooseOption(list, Math.max(0, Math.min(options.length - 1, to)));
  } else if ((event.key === 'Enter' || event.key === ' ') && at >= 0) {
    event.preventDefault();
    take(at);
  }
}

const draftChoices = { conflict: [['Use theirs', 'theirs'], ['Keep mine', 'mine']],
  offer: [['Use them', 'use'], ['Keep the file as picked', 'picked']] };

export class Editors {
  constructor(facts) {
    this.facts = facts;
    this.handlers = { input: () => {}, caret: () => {}, column: () => {}, choice: () => {} };
    this.editors = facts.scriptNames.map((_, s) => makeEditor(facts, s, this.handlers));
    $('editors').append(...this.editors.map((editor) => editor.box));
  }
  bindInput(handler) { this.handlers.input = handler; }
  bindCaret(handler) { this.handlers.caret = handler; }
  bindColumn(handler) { this.handlers.column = handler; }
  bindChoice(handler) { this.handlers.choice = handler; }
  // What the user typed in editor `s`, and the selection there.
  text(s) { return this.editors[s].area.value; }
  selection(s) { return { start: this.editors[s].area.selectionStart, end: this.editors[s].area.selectionEnd }; }
  // The scripts in the editors: each entry's text (a script saved as
  // UTF-16 is only shown: the program's message says what to do).
  show(entries) {
    this.editors.forEach((editor, s) => {
      const entry = entries[s];
      editor.area.value = entry ? entry.text : '';
      editor.area.readOnly = Boolean(entry && entry.form.encoding === 'utf-16');
      editor.caret.textContent = '';
      this.showNotice(s, entry);
    });
  }
  // Above an editor: a draft of another file to take or leave, or a
  // draft another tab changed meanwhile.
  showNotice(s, entry) {
    const editor = this.editors[s];
    let words = '', offered = [];
    if (entry && entry.conflict) {
      words = 'Another tab ' + (entry.conflict === 'removed' ? 'saved or forgot' : 'changed') + ' your edits of ' +
        editor.name + ' kept in this browser: ';
      offered = draftChoices.conflict;
    } else if (entry && entry.offer) {
      words = 'Your edits of ' + editor.name + ' from ' +
        (entry.offer.date ? new Date(entry.offer.date).toLocaleString() : 'an earlier visit') + ': ';
      offered = draftChoices.offer;
    }
    editor.notice.hidden = offered.length === 0;
    editor.notice.replaceChildren(words, ...offered.map(([label, choice]) => {
      const button = element('button', '', { type: 'button' }, label);
      button.addEventListener('click', () => this.handlers.choice(s, choice));
      return button;
    }));
  }
  // The columns of each editor's table (by table, their labels and the
  // script whose row each link column gets); a list with none is not
  // shown. A link column says so: linking replaces what a script sets there.
  showColumns(columnsOf) {
    this.editors.forEach((editor, s) => {
      const { labels, links } = columnsOf[this.facts.scriptTables[s]];
      editor.columns.replaceChildren(...labels.map((label, c) => {
        const source = links[c] >= 0 ? this.facts.scriptNames[links[c]] : '';
        const option = element('div', source ? 'link' : '', { role: 'option', id: 'columns-' + s + '-' + c, 'aria-selected': 'false' },
          c + ' ' + label + (source ? ' (link: gets the row of ' + source + ')' : ''));
        option.dataset.column = c;
        option.title = 'Put ' + c + ' at the caret';
        return option;
      }));
      editor.columns.hidden = labels.length === 0;
      chooseOption(editor.columns, labels.length > 0 ? 0 : -1, false);
    });
  }
  // What is under the caret ({words, column}); the column named there
  // stands out in the list. hideCaret: the editor is not the one written in.
  showCaret(s, at) {
    const editor = this.editors[s];
    editor.caret.textContent = at.words;
    for (const option of editor.columns.children) {
      const current = Number(option.dataset.column) === at.column;
      option.classList.toggle('current', current);
      if (current) {
        editor.columns.scrollTop = option.offsetTop - editor.columns.offsetTop - editor.columns.clientHeight / 2;
        chooseOption(editor.columns, at.column, false);
      }
    }
  }
  hideCaret(s) {
    this.editors[s].caret.textContent = '';
    for (const option of this.editors[s].columns.querySelectorAll('.current')) option.classList.remove('current');
  }
  // Each warning and failure about a script, under it. Under --strict a
  // warning is an error, and is shown as one.
  showSaid(saidOf, strict) {
    this.editors.forEach((editor, s) => {
      const own = saidOf[s];
      editor.said.replaceChildren(...own.map((said) => element('li', said.warning && !strict ? 'warning' : 'error', {}, said.text)));
      editor.box.classList.toggle('wrong', own.some((said) => !said.warning || strict));
      editor.box.classList.toggle('warned', own.some((said) => said.warning && !strict));
    });
  }
  // Each script's save link ({name, bytes(), saved()}, or null for none), named `words`.
  showSaves(saves, words) {
    this.editors.forEach((editor, s) => showSaveLinks(editor.save, editor.urls, saves[s] ? [saves[s]] : [], words));
  }
  // Which scripts are neither given nor written: each of those says what to write.
  showWanted(missing) {
    this.editors.forEach((editor, s) => { editor.wanted.hidden = !missing.includes(s); });
  }
  saveAll() { for (const editor of this.editors) editor.save.querySelector('a').click(); }
  // Replaces `range` ({from, to}) of editor `s`'s text with `words`,
  // spaced from its neighbours, through the browser's own editing
  // command, which its undo knows and which fires the input event.
  replace(s, range, words) {
    const area = this.editors[s].area;
    if (area.readOnly) return;  // a script shown only (UTF-16)
    const text = area.value;
    const before = range.from > 0 && !/\s/.test(text[range.from - 1]) ? ' ' : '';
    const after = range.to < text.length && !/\s/.test(text[range.to]) ? ' ' : '';
    area.focus();
    area.setSelectionRange(range.from, range.to);
    // Where the command is missing, the range is set by hand.
    if (!document.execCommand('insertText', false, before + words + after)) {
      area.setRangeText(before + words + after, range.from, range.to, 'end');
      this.handlers.input(s, area.value, performance.now());
    }
  }
}

// The drafts kept in this browser, by key ("moonveil/head.txt", "/head.txt").
export function showDrafts(kept) {
  $('drafts').hidden = kept.length === 0;
  $('drafts').textContent = kept.length === 0 ? '' : 'Kept in this browser until saved or forgotten, never sent ' +
    'anywhere: your edits of ' + kept.map((key) => key.replace(/^\//, '')).join(', ') + '.';
}

// Asks before forgetting the edits held (keys as above).
export function showForget(held) {
  $('forget-what').textContent = held.length === 0 ? 'You have no edits here to forget.'
    : 'Forget your edits of ' + held.map((key) => key.replace(/^\//, '')).join(', ') + '? They cannot be brought back.';
  $('forget-yes').hidden = held.length === 0;
  $('forget-no').textContent = held.length === 0 ? 'OK' : 'Keep them';
  $('forget-confirm').hidden = false;
  $(held.length === 0 ? 'forget-no' : 'forget-yes').focus();
}
