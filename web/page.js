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
    $('status').className = 'done';
    $('status').textContent = 'Done: the three outputs are ready to save.';
    setState('done');
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
