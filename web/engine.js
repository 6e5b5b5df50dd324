// The engine: headlink's libraries in WebAssembly, asked through the C
// functions of api.cpp. This is the one part that calls them. Each call
// answers one JSON document, whose shapes web/answers.h gives.
export class Engine {
  constructor(m, timings) {
    this.m = m;
    this.timings = timings;
    this.facts = this.answer('facts');
  }
  // Call `name`'s answer, one JSON document; a failure inside the call
  // (running out of memory) comes back as its reason, and is thrown.
  answer(name, ...args) {
    const answer = this.answered(name, ...args);
    if (answer.error !== undefined) throw new Error(answer.error);
    return answer;
  }
  answered(name, ...args) {
    ++this.timings.engineCalls;
    return JSON.parse(this.m.UTF8ToString(this.m['_hl_' + name](...args)));
  }
  // The bytes an answer points to, copied out of the engine's memory.
  bytes({ at, size }) { return this.m.HEAPU8.slice(at, at + size); }
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
  // ("moonveil/head.txt"): each table's path ('' when not given), and the
  // heads (one, named '', without a pack) with each script's path and the
  // files they bring; beginPack then starts the job on them (the same
  // paths), once they are read.
  planPack(paths) { return this.withString(paths.join('\n'), (at) => this.answer('pack_plan', at)); }
  beginPack(paths) { this.withString(paths.join('\n'), (at) => this.answer('pack_begin', at)); }
  // Input `i` of the job (a table, or a script without a pack): its bytes, or null for missing.
  setInput(i, bytes) {
    if (!bytes) this.answer('set_input', i, 0, -1);
    else this.withBytes(bytes, (at) => this.answer('set_input', i, at, bytes.length));
  }
  // Script `s` of a pack's head `h`: its bytes, or null for missing.
  setHeadScript(h, s, bytes) {
    if (!bytes) this.answer('set_head_script', h, s, 0, -1);
    else this.withBytes(bytes, (at) => this.answer('set_head_script', h, s, at, bytes.length));
  }
  // A file head `h` brings, at `path` in the pack ("moonveil/override/hd.mdl").
  addHeadFile(h, path, bytes) {
    this.withString(path, (p) => this.withBytes(bytes, (at) => this.answer('add_head_file', h, p, at, bytes.length)));
  }
  // Each input as the checklist names it: {name, nearMisses, hint, source}.
  inputs() { return this.answer('inputs').inputs; }
  // Reads the tables from a game folder ({name, files: [[path, File]]})
  // as `headlink --game` does. The engine gets the paths alone and asks
  // for the size of the few files it reads, then for slices of them: the
  // system is asked only about those, as asking a folder of thousands of
  // files each its size takes seconds. `progress(words)` hears what it
  // reads; `current()` says whether this read is still wanted.
  async readGame(game, current, progress) {
    const listing = game.files.map(([path]) => path).join('\n');
    this.withString(game.name, (n) => this.withString(listing, (l) => this.answer('game_begin', n, l)));
    const byPath = new Map(game.files);
    for (;;) {
      const { needs, reading } = this.answer('game_read');
      if (needs.length === 0) return true;
      progress(reading);
      const read = await Promise.all(needs.map(({ path, offset, size }) =>
        (size < 0 ? byPath.get(path).size : byPath.get(path).slice(offset, offset + size).arrayBuffer())));
      if (!current()) return false;
      read.forEach((got, i) => {
        if (needs[i].size < 0) {
          this.answer('game_give_size', i, got);
          return;
        }
        const bytes = new Uint8Array(got);
        this.withBytes(bytes, (at) => this.answer('game_give', i, at, bytes.length));
      });
    }
  }
  // Runs the job on what the engine holds, as `headlink -n` does: the whole
  // answer (its exit status, what it printed, each message with the head,
  // script and line it is about; and, from the last run that worked, the
  // outputs' shapes, the cells it changed and each head's chain of links).
  run(strict) {
    const answer = this.answered('run', strict ? 1 : 0);
    if (answer.error === undefined) return answer;
    // No memory left even for the answer: the failure alone.
    return { status: 1, worked: false, warnings: 0, out: '', err: 'headlink: ' + answer.error + '\n',
      heads: [], said: [], outputs: [], marks: [], chains: [] };
  }
  // Rows r0..r1 and columns c0..c1 of view `v`: its shape, and for the
  // window (as far as the table goes) the labels, each column's link (the
  // script whose row it gets, -1: none) and every cell ({text, mark, was}).
  window(v, r0, r1, c0, c1) { return this.answer('view_window', v, r0, r1, c0, c1); }
  // Output `i` of the last run that worked, serialised now.
  output(i) { return this.bytes(this.answer('output', i)); }
  // What the word at byte `offset` of a script is: {role (a name), begin,
  // end, number (or null)}; firstWord: the first word of `role`, or null.
  wordAt(bytes, offset) { return this.word(this.withBytes(bytes, (at) => this.answer('word_at', at, bytes.length, offset))); }
  firstWord(bytes, role) {
    return this.word(this.withBytes(bytes, (at) => this.answer('word_first', at, bytes.length, this.facts.roles.indexOf(role))));
  }
  word({ word }) { return word === null ? null : { ...word, role: this.facts.roles[word.role] }; }
  // 'utf-16le' or 'utf-16be' for a script saved as UTF-16, as a run tells it, or ''.
  utf16(bytes) { return this.withBytes(bytes, (at) => this.answer('script_form', at, bytes.length)).utf16; }
  // Where the links go in the tables as given, in words.
  linkSentence() { return this.answer('link_sentence').sentence; }
  // Opens a table on its own: whether it loads, and twoda check's verdict.
  open(bytes, name) { return this.withBytes(bytes, (at) => this.withString(name, (n) => this.answer('open', at, bytes.length, n))); }
  // View `v` as export kind `kind` (an index into facts.exports).
  exportView(v, kind) { return this.bytes(this.answer('export', v, kind)); }
}

