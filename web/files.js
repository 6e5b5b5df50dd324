// The files: the pickers, a drop, a game folder and a table to open. Each
// gives [path, File] pairs, a path being the name inside the folder picked
// or dropped ("moonveil/head.txt"), or the file's name: bindFiles,
// bindGame and bindTable hear them. They listen from the start: what is
// given before the engine is ready waits for its handler. `words` counts
// the job's files in words, once the engine has said it (setWords).
import { $, showStatus } from './results.js';

const named = (files) => [...files].map((file) => [file.name, file]);
// A folder picked: each file by its path below that folder.
const inFolder = (files) => [...files].map((file) =>
  [(file.webkitRelativePath || file.name).split('/').slice(1).join('/') || file.name, file]);

// A game folder picked: its files by their paths below it, its name, and
// when the browser's listing of it arrived (for the timing the tests
// print). Only names are read here: a file's size or bytes are read only
// when the engine asks for them.
function gameOf(files) {
  const picked = performance.now();
  return { name: (files[0].webkitRelativePath || files[0].name).split('/')[0], files: inFolder(files), picked };
}

export function makeFiles() {
  const waiting = [];
  const handlers = {};
  for (const kind of ['files', 'game', 'table']) handlers[kind] = (given) => waiting.push([kind, given]);
  const words = { inputs: '' };
  const files = () => (words.inputs ? 'the ' + words.inputs + ' files' : 'the files');
  const bind = (kind, handler) => {
    handlers[kind] = handler;
    for (const [what, given] of waiting.splice(0)) {
      if (what === kind) handler(given);
      else waiting.push([what, given]);
    }
  };
  const game = (files) => { if (files.length > 0) handlers.game(gameOf(files)); };
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
  $('files').addEventListener('change', picked((files) => handlers.files(named(files))));
  $('folder').addEventListener('change', picked((files) => handlers.files(inFolder(files))));
  $('game').addEventListener('change', picked(game));
  $('table-file').addEventListener('change', picked((files) => { if (files[0]) handlers.table(files[0]); }));
  for (const id of ['files', 'folder', 'game', 'table-file']) $(id).value = '';
  const drop = $('drop');
  drop.addEventListener('dragover', (event) => { event.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  drop.addEventListener('drop', (event) => onDrop(event, files, (taken) => handlers.files(taken)));
  if (!('webkitdirectory' in document.createElement('input'))) {
    $('pick-folder').hidden = true;
    $('pick-game').hidden = true;
    $('support').hidden = false;
  }
  const showSupport = () => {
    if (!('webkitdirectory' in document.createElement('input')))
      $('support').textContent = 'This browser cannot pick a folder here: pick ' + files() + ' instead.';
  };
  showSupport();
  return {
    bindFiles(handler) { bind('files', handler); },
    bindGame(handler) { bind('game', handler); },
    bindTable(handler) { bind('table', handler); },
    setWords(count) {
      words.inputs = count;
      showSupport();
    },
  };
}

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
async function onDrop(event, files, take) {
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
      'use "Pick a folder" instead, or drop ' + files() + ' themselves.';
    $('pick-folder').focus();
  }
  if (taken.length > 0) take(taken);
  else if (!unreadFolder) showStatus('failed', 'Nothing in that drop could be read: pick the files instead.');
}
