// What the state tells people about the scripts and the files given, in
// words, from what the engine says of them.
import { plainForm, encodeScript, byteOffset, textIndex } from './codec.js';

// A script's words: what is at a caret, and where a column number or a
// template row goes. Carets and ranges are indices into the editor's text.
export function scriptWords(engine, facts, state) {
  const formOf = (s) => (state.entryOf(s) || { form: plainForm }).form;
  const given = (s) => facts.views.given + facts.scriptTables[s];
  const wordAt = (s, text, index) => {
    const form = formOf(s);
    return engine.wordAt(encodeScript(text, form).bytes, byteOffset(text, index, form));
  };
  const range = (s, text, begin, end) => ({ from: textIndex(text, begin, formOf(s)), to: textIndex(text, end, formOf(s)) });
  const roles = { 'template row': 'the template row (the row to copy)', 'key column': 'the key column',
    'key value': 'the key value (the row is found by it, or added with it)', column: 'a column number',
    value: 'the value for that column', note: 'the note after the pairs (not read)' };
  return {
    // What is under the caret of script `s`: {words, column} (the column
    // named there, or -1).
    caret(s, text, index) {
      const at = wordAt(s, text, index);
      if (!at) return { words: '', column: -1 };
      if (at.number !== null && (at.role === 'column' || at.role === 'key column')) {
        const table = engine.window(given(s), 0, 0, at.number, at.number + 1);
        return { column: at.number, words: at.role + ' ' + at.number + (at.number >= 0 && at.number < table.columns
          ? ': ' + table.columnLabels[0] : ': no such column (' + table.columns + ' columns)') };
      }
      if (at.number !== null && at.role === 'template row') {
        const table = engine.window(given(s), at.number, at.number + 1, 0, 0);
        return { column: -1, words: 'template row ' + at.number + (at.number >= 0 && at.number < table.rows
          ? ' (label ' + table.rowLabels[0] + ')' : ': no such row (' + table.rows + ' rows)') };
      }
      return { column: -1, words: (at.begin === at.end ? 'next comes ' : 'at the caret: ') + roles[at.role] };
    },
    // Where a column clicked goes in script `s` (its selection `start`..`end`):
    // in place of the column number at the caret, else over the selection.
    columnRange(s, text, start, end) {
      const at = wordAt(s, text, start);
      if (at && at.begin < at.end && (at.role === 'column' || at.role === 'key column'))
        return range(s, text, at.begin, at.end);
      return { from: start, to: end };
    },
    // Where a template row goes in script `s`: in place of the one there, else first.
    rowRange(s, text) {
      const at = engine.firstWord(encodeScript(text, formOf(s)).bytes, 'template row');
      return at ? range(s, text, at.begin, at.end) : { from: 0, to: 0 };
    },
  };
}

// The files the job needs, found or not: the tables (from the game
// folder, with where each came from), and the scripts (or, with a pack,
// each head with the scripts it lacks); a script not given can be
// written below. Each item: {kind, words}.
export function checklistOf(engine, state) {
  const facts = engine.facts;
  const files = state.given;
  const items = [];
  const add = (kind, words) => items.push({ kind, words });
  for (const head of state.heads) {
    const lacking = facts.scriptNames.filter((name) => !files.has(head + '/' + name));
    add(lacking.length === 0 ? 'found' : 'missing',
      head + '/: ' + (lacking.length === 0 ? 'the five scripts' : 'lacks ' + lacking.join(', ') + ': write it below'));
  }
  // Each input's near misses among the names given, and the program's hint for them.
  const inputs = engine.inputs();
  const near = (i) => (files.has(inputs[i].name) || state.game ? '' : inputs[i].hint);
  const nearly = (name, hint) => name + ': missing; ' + hint;
  facts.tableNames.forEach((name, i) => {
    const hint = near(i);
    const source = state.game ? inputs[i].source : '';
    if (source) add('found', name + ': from ' + source + ' in the game folder ' + state.game.name);
    else if (state.game) add('missing', name + ': not read from the game folder ' + state.game.name + ' (the messages say why)');
    else if (files.has(name)) add('found', name);
    else if (hint) add('near', nearly(name, hint));
    else add('missing', name + ': missing');
  });
  if (state.heads.length > 0) return items;
  // Where the last run stopped in a script, as its message says: the line, or 0.
  const stopsAt = (s) => {
    const said = state.answer ? state.answer.said.find((m) => m.script === s && !m.warning && m.line > 0) : null;
    return said ? said.line : 0;
  };
  facts.scriptNames.forEach((name, s) => {
    const entry = state.scripts.get('/' + name);
    const hint = files.has(name) ? '' : inputs[facts.tableNames.length + s].hint;
    const line = stopsAt(s);
    const edited = entry && entry.edited;
    if (files.has(name) && !edited) add('found', name + (line ? ': stops at line ' + line : ''));
    else if (files.has(name) || (edited && entry.text !== ''))
      add('found', name + (files.has(name) ? ': as edited below' : ': written below') + (line ? ', which stops at line ' + line : ''));
    else if (hint) add('near', nearly(name, hint) + ', or write it below');
    else add('write', name + ': write it below');
  });
  return items;
}
