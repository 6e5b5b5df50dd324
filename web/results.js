// The results: the status, the program's report and messages, the save
// links, the updated tables (a tab each, their grid and the picture of
// the links) and a table opened on its own. Each function shows what it
// is given, and nothing else.
import { element } from './grid.js';

export const $ = (id) => document.getElementById(id);

export function showState(name) { document.body.dataset.state = name; }

// The status is a live region: it changes, and is said, only when what
// it says does, not at every run that says the same.
export function showStatus(kind, words) {
  if ($('status').className !== kind) $('status').className = kind;
  if ($('status').textContent !== words) $('status').textContent = words;
}

export function showChecklist(items) {
  $('checklist').replaceChildren(...items.map((item) => element('li', item.kind, {}, item.words)));
}

// Save links in `box`, one for each of `saves` ({name, bytes}), their
// object URLs kept in `urls` (those there are revoked first). `bytes` may
// be a function: the bytes are then made when the link is used (the
// outputs are serialised only when saved), and `saved()` is called.
export function showSaveLinks(box, urls, saves, words) {
  for (const url of urls.splice(0)) URL.revokeObjectURL(url);
  box.replaceChildren();
  const blob = (bytes) => {
    const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
    urls.push(url);
    return url;
  };
  for (const save of saves) {
    const link = element('a', '', {}, words ? words(save) : save.name);
    link.download = save.name;
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

// The program's own words in the report and messages.
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

// A file the browser would not read: the run ends there, and the results
// of the run before are cleared, as they no longer match the files.
export function showUnreadable(name, error) {
  showTexts('', name + (error && error.name === 'NotReadableError'
    ? ': changed since it was picked: pick it again'
    : ': cannot be read (' + (error && error.message) + '): pick it again') + '\n');
  showFailure('Nothing can be saved: a file could not be read.');
}

export function showWorking() {
  showState('running');
  $('saves').hidden = true;
  showStatus('', 'Working...');
}

// No run yet: the scripts named (`names`) are neither given nor written.
export function showWaiting(names) {
  showTexts('', '');
  $('saves').hidden = true;
  showStatus('', 'Write ' + names.join(', ') + ' below: the job runs once every script is there. Nothing was saved anywhere.');
  showState('waiting');
}

// A run's verdict in words for people; the save links only while the
// outputs can be saved. After a failure, the grids of the last run that
// worked, if any, stay, marked out of date.
export function showVerdict(answer, words) {
  showTexts(answer.out, answer.err);
  $('saves').hidden = answer.status !== 0;
  if (answer.status !== 0) {
    showStatus('failed', 'Nothing can be saved: the messages say why. Nothing was saved anywhere.');
    showState('failed');
    return;
  }
  const ready = 'the ' + words.outputs + ' outputs are ready to save';
  if (answer.warnings === 0) showStatus('done', 'Done: ' + ready + '. Nothing was saved anywhere yet.');
  else if (answer.warnings === 1) showStatus('warned', 'Done, with 1 warning: read it before saving');
  else showStatus('warned', 'Done, with ' + answer.warnings + ' warnings: read them before saving');
  showState('done');
}

// Where to put the outputs saved: the game's override folder, when the
// tables came from a game folder.
export function showSaveWhere(game, brought) {
  $('save-where').hidden = !game;
  $('save-where').textContent = game ? 'Put them in the override folder of the game folder ' + game.name +
    ' (make the folder if it has none)' + (brought ? ', with the files the heads bring (the report names them)' : '') +
    ': the page writes nothing into the game itself.' : '';
}

// The tabs of the updated tables; bindTab(handler) hears which is chosen.
// The tabs of the tables, controlling the panel of the grid; bindTab(handler)
// hears which is chosen, by a click or by the arrow keys, Home and End,
// which move between the tabs as they choose.
export function makeTabs(names) {
  let onTab = () => {};
  const moves = { ArrowLeft: -1, ArrowRight: 1, Home: -Infinity, End: Infinity };
  names.forEach((name, i) => {
    const button = element('button', '', { type: 'button', role: 'tab', 'aria-controls': 'table-panel' }, name);
    button.id = 'tab-' + i;
    button.dataset.table = i;
    button.addEventListener('click', () => onTab(i));
    button.addEventListener('keydown', (event) => {
      if (!(event.key in moves)) return;
      event.preventDefault();
      const to = Math.max(0, Math.min(names.length - 1, i + moves[event.key]));
      $('tab-' + to).focus();
      onTab(to);
    });
    $('tabs').appendChild(button);
  });
  return { bindTab(handler) { onTab = handler; } };
}

// Which tables the grid shows (`view`): the tables as given (`given`:
// before a run worked, or when asked for) or the updated ones, out of date
// after a failed run (`stale`); the switch between them once there are
// updated ones (`outputs`). The tabs are named `names`. None: no tables.
export function showTables(view, names) {
  $('tables').hidden = view === null;
  if (view === null) return;
  const title = view.given ? 'The tables as given' : 'The updated tables';
  $('tables-title').textContent = title;
  $('tabs').setAttribute('aria-label', title);
  [...$('tabs').children].forEach((button, i) => { button.textContent = names[i]; });
  $('stale').hidden = !view.stale;
  $('tables').classList.toggle('out-of-date', view.stale);
  $('which').hidden = !view.outputs;
  $('which').textContent = view.given ? 'Show the updated tables' : 'Show the tables as given';
  $('jumps').hidden = view.given;
  $('links-picture').hidden = view.given;
}

// The chosen tab stands out, and alone is reached by Tab.
export function showTab(i) {
  for (const button of $('tabs').children) {
    const current = button.dataset.table === String(i);
    button.classList.toggle('current', current);
    button.setAttribute('aria-selected', String(current));
    button.tabIndex = current ? 0 : -1;
  }
  $('table-panel').setAttribute('aria-labelledby', 'tab-' + i);
}

// The links as a picture: for each chain (one per head of a pack, each
// after its name, in a list that scrolls when there are many), from the
// table no link points into, each table's rows in the links with their
// labels, an arrow to the table their link cells name.
export function showLinks(chains, pack) {
  const picture = $('links-picture');
  picture.replaceChildren();
  picture.classList.toggle('pack', pack);
  // A pack's list of chains scrolls: the keyboard reaches it then.
  if (pack) picture.tabIndex = 0;
  else picture.removeAttribute('tabindex');
  if (pack) picture.setAttribute('aria-label', 'the links of each head');
  else picture.removeAttribute('aria-label');
  for (const chain of chains) {
    let into = picture;
    if (pack) {
      into = element('div', 'links chain');
      into.appendChild(element('span', 'head', {}, chain.head + ':'));
      picture.appendChild(into);
    }
    chain.boxes.forEach((box, i) => {
      into.appendChild(element('div', 'box', {}, box.rows.map((r) => box.title + ' row ' + r.row + ' (' + r.label + ')').join(', ')));
      if (i + 1 < chain.boxes.length) into.appendChild(element('span', 'arrow', {}, box.rows.length === 1 ? 'names \u2192' : 'name \u2192'));
    });
  }
}

// A table opened on its own: twoda check's verdict and its save links
// (its grid is shown apart).
export function showOpened(opened, saves, urls) {
  $('table-check').textContent = opened.check;
  $('table-check').hidden = opened.check === '';
  $('table-grid').hidden = !opened.loaded;
  $('table-details').textContent = '';
  showSaveLinks($('table-saves'), urls, opened.loaded ? saves : [], (save) => 'Save as ' + save.kind + ' (' + save.name + ')');
}

// The heads of a pack to choose from for the editors.
export function showHeads(heads, head) {
  $('head-choice').hidden = heads.length === 0;
  $('head').replaceChildren(...heads.map((name) => {
    const option = element('option', '', {}, name);
    option.value = name;
    return option;
  }));
  $('head').value = head;
}
