// The engine: headlink's libraries in WebAssembly, asked through the C
// functions of api.cpp. This is the one part that calls them. Whole answers
// (the facts of the job, a run, a window of a grid, a pack) come as one
// packed block: 32-bit little-endian numbers and texts (a length, then
// UTF-8 bytes), read back here in the order the engine wrote them.
// A packed answer at `at` in the module's memory, read in order.
const utf8Decoder = new TextDecoder();
function packedAt(bytes, at) {
  let pos = at;
  const number = () => {
    const value = bytes[pos] | (bytes[pos + 1] << 8) | (bytes[pos + 2] << 16) | (bytes[pos + 3] << 24);
    pos += 4;
    return value;
  };
  const words = () => {
    const size = number();
    pos += size;
    return utf8Decoder.decode(bytes.subarray(pos - size, pos));
  };
  const list = (item) => Array.from({ length: number() }, () => item());
  return { number, text: words, flag: () => number() !== 0, list };
}

class Engine {
  constructor(m, timings) {
    this.m = m;
    this.timings = timings;
    this.facts = readFacts(this.packed(this.call('facts')));
  }
  call(name, ...args) {
    ++this.timings.engineCalls;
    return this.m['_hl_' + name](...args);
  }
  text(at) { return this.m.UTF8ToString(at); }
  // A failure inside a call (running out of memory) comes back as its reason.
  failure() { return this.text(this.call('error')); }
  mustWork(status) { if (status !== 0) throw new Error(this.failure()); }
  // A packed answer, valid until the next call.
  packed(at) {
    if (at === 0) throw new Error(this.failure() || 'no answer');
    return packedAt(this.m.HEAPU8, at);
  }
  // A buffer handed in is ours to free, whatever the call does.
  withBytes(bytes, use) {
    const at = this.m._malloc(Math.max(bytes.length, 1));
    if (at === 0) throw new Error('not enough memory');
    try {
      this.m.HEAPU8.set(bytes, at);
      return use(at);
    } finally {
      this.m._free(at);
    }
  }
  withString(value, use) {
    const size = this.m.lengthBytesUTF8(value) + 1;
    const at = this.m._malloc(size);
    if (at === 0) throw new Error('not enough memory');
    try {
      this.m.stringToUTF8(value, at, size);
      return use(at);
    } finally {
      this.m._free(at);
    }
  }
  // What the engine wants read of the files given, by their paths
  // ("moonveil/head.txt"), as readPack says; beginPack then starts the job
  // on them (the same paths), once they are read.
  planPack(paths) {
    return this.withString(paths.join('\n'), (at) => readPack(this.packed(this.call('pack_plan', at)), this.facts));
  }
  beginPack(paths) { this.withString(paths.join('\n'), (at) => this.mustWork(this.call('pack_begin', at))); }
  // Input `i` of the job (a table, or a script without a pack): its bytes, or null for missing.
  setInput(i, bytes) {
    if (!bytes) this.mustWork(this.call('set_input', i, 0, -1));
    else this.withBytes(bytes, (at) => this.mustWork(this.call('set_input', i, at, bytes.length)));
  }
  // Script `s` of a pack's head `h`: its bytes, or null for missing.
  setHeadScript(h, s, bytes) {
    if (!bytes) this.mustWork(this.call('set_head_script', h, s, 0, -1));
    else this.withBytes(bytes, (at) => this.mustWork(this.call('set_head_script', h, s, at, bytes.length)));
  }
  // A file head `h` brings, at `path` in the pack ("moonveil/override/hd.mdl").
  addHeadFile(h, path, bytes) {
    this.withString(path, (p) => this.withBytes(bytes, (at) => this.mustWork(this.call('add_head_file', h, p, at, bytes.length))));
  }
  // Reads the tables from a game folder ({name, files: [[path, File]]})
  // as `headlink --game` does. The engine gets the paths alone and asks
  // for the size of the few files it reads, then for slices of them: the
  // system is asked only about those, as asking a folder of thousands of
  // files each its size takes seconds. `progress(words)` hears what it
  // reads; `current()` says whether this read is still wanted.
  async readGame(game, current, progress) {
    const listing = game.files.map(([path]) => path).join('\n');
    this.withString(game.name, (n) => this.withString(listing, (l) => this.mustWork(this.call('game_begin', n, l))));
    const byPath = new Map(game.files);
    for (;;) {
      const needed = this.call('game_read');
      if (needed < 0) throw new Error(this.failure());
      if (needed === 0) return true;
      const needs = Array.from({ length: needed }, (_, i) => ({ path: this.text(this.call('game_need_path', i)),
        offset: this.call('game_need_offset', i), size: this.call('game_need_size', i) }));
      progress(gameWords(game.name, needs));
      const read = await Promise.all(needs.map(({ path, offset, size }) =>
        (size < 0 ? byPath.get(path).size : byPath.get(path).slice(offset, offset + size).arrayBuffer())));
      if (!current()) return false;
      read.forEach((got, i) => {
        if (needs[i].size < 0) {
          this.mustWork(this.call('game_give_size', i, got));
          return;
        }
        const bytes = new Uint8Array(got);
        this.withBytes(bytes, (at) => this.mustWork(this.call('game_give', i, at, bytes.length)));
      });
    }
  }
  // Runs the job on what the engine holds, as `headlink -n` does: the whole answer.
  run(strict) {
    const status = this.call('run', strict ? 1 : 0);
    const failed = this.failure();
    const at = this.call('run_answer');
    // No memory left even for the answer: the failure alone.
    const answer = at !== 0 ? readRun(this.packed(at)) : { status, worked: false, warnings: 0, stdout: '', stderr: '',
      heads: [], said: [], outputs: [], marks: [], chains: [] };
    if (failed) answer.stderr += 'headlink: ' + failed + '\n';
    return answer;
  }
  // Rows r0..r1 and columns c0..c1 of view `v`, as readWindow says.
  window(v, r0, r1, c0, c1) { return readWindow(this.packed(this.call('view_window', v, r0, r1, c0, c1))); }
  // Output `i` of the last run that worked, serialised now.
  output(i) {
    const size = this.call('output_size', i);
    if (size === 0) throw new Error(this.failure() || 'nothing to save: the last run did not work');
    const at = this.call('output', i);
    return this.m.HEAPU8.slice(at, at + size);
  }
  // What the word at byte `offset` of a script is: {role (a name), begin,
  // end, number (or null)}; firstWord: the first word of `role`, or null.
  wordAt(bytes, offset) {
    const role = this.withBytes(bytes, (at) => this.call('word_at', at, bytes.length, offset));
    return role < 0 ? null : this.word(role);
  }
  firstWord(bytes, role) {
    const found = this.withBytes(bytes, (at) => this.call('word_first', at, bytes.length, this.facts.roles.indexOf(role)));
    return found < 0 ? null : this.word(found);
  }
  word(role) {
    return { role: this.facts.roles[role], begin: this.call('word_begin'), end: this.call('word_end'),
      number: this.call('word_has_number') === 1 ? this.call('word_number') : null };
  }
  // The names given to the last pack begun that differ from input `i`
  // only in letter case or by an extra extension.
  // Where the links go in the tables as given, in words.
  linkSentence() { return this.text(this.call('link_sentence')); }
  nearMisses(i) { return this.text(this.call('near_misses', i)).split('\n').filter((line) => line.length > 0); }
  // Where table `i` came from in the game folder, or ''.
  source(i) { return this.text(this.call('table_source', i)); }
  // Opens a table on its own: whether it loads, and twoda check's verdict.
  open(bytes, name) {
    const status = this.withBytes(bytes, (at) => this.withString(name, (n) => this.call('open', at, bytes.length, n)));
    const failed = this.failure();
    if (failed) throw new Error(failed);
    return { loaded: status === 0, check: this.text(this.call('check')) };
  }
  // View `v` as export kind `kind` (an index into facts.exports).
  exportView(v, kind) {
    const size = this.call('export', v, kind);
    const at = this.call('exported');
    return this.m.HEAPU8.slice(at, at + size);
  }
}

// What a round of reading a game folder reads, in words, by where its
// files are: the key file, the override folder, the texture packs, the
// backups headlink keeps there, or else the archives the key file names.
function gameWords(name, needs) {
  const where = ({ path }) => (!path.includes('/') && /\.key$/i.test(path) ? 'its key file'
    : /^override\//i.test(path) ? 'its override folder'
      : /^texturepacks\//i.test(path) ? 'its texture packs'
      : /^headlink-backups\//i.test(path) ? 'the backups headlink keeps there' : 'its archives');
  return 'Reading the game folder ' + name + ': ' + [...new Set(needs.map(where))].join(' and ') + '...';
}

// The job's facts, as the engine knows them.
function readFacts(r) {
  const inputNames = r.list(r.text);
  const tableCount = r.number();
  const facts = {
    inputNames,
    tableNames: inputNames.slice(0, tableCount),
    scriptNames: inputNames.slice(tableCount),
    outputNames: r.list(r.text),
    titles: r.list(r.text),
    // The table each script edits, by its index in tableNames.
    scriptTables: r.list(r.number),
    // The views: the outputs of the last run that worked, a table opened
    // on its own, the tables as given (each counting from its first).
    views: { outputs: r.number(), opened: r.number(), given: r.number() },
    // The roles of a script's words, in the engine's numbering.
    roles: r.list(r.text),
    // The forms a table can be saved in, and the end of such a file's name.
    exports: r.list(() => ({ kind: r.text(), ending: r.text() })),
    empty: r.text(),  // how an empty cell is spelled
    // Counts in words, for sentences: the files of a job, the outputs.
    words: { inputs: r.text(), outputs: r.text() },
  };
  return facts;
}

// A run's answer: its exit status, what it printed, each warning and
// failure with the head (-1: none), script (-1: none) and line it is
// about; and, from the last run that worked, the outputs' rows, the cells
// it changed and each head's chain of links as boxes of rows.
function readRun(r) {
  return {
    status: r.number(),
    worked: r.flag(),
    warnings: r.number(),
    stdout: r.text(),
    stderr: r.text(),
    heads: r.list(r.text),
    said: r.list(() => ({ text: r.text(), line: r.number(), warning: r.flag(), head: r.number(), script: r.number() })),
    outputs: r.list(() => ({ rows: r.number(), rowsBefore: r.number(), columns: r.number() })),
    marks: r.list(() => ({ table: r.number(), row: r.number(), column: r.number(), link: r.flag(), head: r.number() })),
    chains: r.list(() => ({ head: r.text(),
      boxes: r.list(() => ({ title: r.text(), rows: r.list(() => ({ row: r.number(), label: r.text() })) })) })),
  };
}

// A window of a view: its shape, and for rows r0..r1 and columns c0..c1
// (as far as the table goes) the labels, each column's link and every cell with its mark
// (0 none, 1 set by a script, 2 a link cell) and, when marked, what it was.
function readWindow(r) {
  const window = { rows: r.number(), columns: r.number(), rowsBefore: r.number(),
    r0: r.number(), r1: r.number(), c0: r.number(), c1: r.number() };
  window.columnLabels = Array.from({ length: window.c1 - window.c0 }, () => r.text());
  // The script whose row each column's link cells get (-1: none).
  window.columnLinks = Array.from({ length: window.c1 - window.c0 }, () => r.number());
  window.rowLabels = [];
  window.cells = [];
  for (let row = window.r0; row < window.r1; ++row) {
    window.rowLabels.push(r.text());
    window.cells.push(Array.from({ length: window.c1 - window.c0 }, () => {
      const cell = { text: r.text(), mark: r.number() };
      if (cell.mark !== 0) cell.was = r.text();
      return cell;
    }));
  }
  return window;
}

// What the engine wants read of the files given: each table's path (''
// when not given), and the heads (one, named '', without a pack) with
// each script's path ('' when not given) and the files they bring.
function readPack(r, facts) {
  return {
    tables: facts.tableNames.map(() => r.text()),
    heads: r.list(() => ({ name: r.text(), scripts: facts.scriptNames.map(() => r.text()), files: r.list(r.text) })),
    pack: r.flag(),
  };
}
