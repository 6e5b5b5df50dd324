// The page checks of a game folder, a pack, files dropped and files changed
// after picking: Chromium only, where the driver can make them.
'use strict';
const {
  assert, execFileSync, spawnSync, fs, os, path, exe, examples, outDir, twoda, makeKit, kitNames, outputs,
  kit, native, waitFor, openPage, runOn, waitForFile, median, verdict
} = require('./harness');

module.exports = async function checks(browser, kind, check) {
  if (kind !== 'chromium') return;  // what the driver can do only in Chromium

  await check('the game folder picked: the tables twoda extract gives, read in slices of the files, ' +
    'saved under the names the game expects', async () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-game-'));
    execFileSync(makeKit, ['game', dir]);
    const game = path.join(dir, 'game');
    const extracted = path.join(dir, 'extracted');
    fs.mkdirSync(extracted);
    execFileSync(twoda, ['extract', '--game', game, ...kitNames.slice(0, 3), '-o', extracted]);
    for (const name of kitNames.slice(3)) fs.copyFileSync(path.join(dir, 'scripts', name), path.join(extracted, name));
    const expected = native(extracted);
    assert.equal(expected.status, 0);
    const { page, problems, downloads } = await openPage(browser,
      fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-game-dl-')), () => {
        window.bytesRead = 0;
        const arrayBuffer = Blob.prototype.arrayBuffer;
        Blob.prototype.arrayBuffer = function () { window.bytesRead += this.size; return arrayBuffer.call(this); };
      });
    await (await page.$('#game')).uploadFile(game);
    await verdict(page);
    const read = await page.evaluate(() => ({ bytes: window.bytesRead, took: window.headlinkTimings.gameTook.toFixed(0),
      checklist: [...document.querySelectorAll('#checklist li')].slice(0, 3).map((li) => li.textContent) }));
    let total = 0;
    const walk = (d) => { for (const e of fs.readdirSync(d, { withFileTypes: true }))
      if (e.isDirectory()) walk(path.join(d, e.name)); else total += fs.statSync(path.join(d, e.name)).size; };
    walk(game);
    // The key file whole; the archive's header, the three tables' records
    // and bytes; the texture pack's header and key list, nothing more.
    const sizeOf = (file) => fs.statSync(file).size;
    const packHeader = fs.readFileSync(path.join(game, 'TexturePacks', 'textures.erf')).subarray(0, 160);
    const tables = kitNames.slice(0, 3).reduce((n, name) => n + sizeOf(path.join(extracted, name)), 0);
    assert.equal(read.bytes, sizeOf(path.join(game, 'game.key')) + 20 + 3 * 16 + tables + 160 +
      24 * packHeader.readUInt32LE(16), `read ${read.bytes} of the game folder's ${total} bytes`);
    assert.ok(read.bytes < total / 3, `read ${read.bytes} of the game folder's ${total} bytes`);
    assert.deepEqual(read.checklist, kitNames.slice(0, 3).map((name) => name + ': from data/tables.bif (the key file) ' +
      'in the game folder game'));
    console.log(`     ${browser.kind}, the benchmarks' game folder: ${read.took} ms from picking it to the report ` +
      `(goal: 300 ms), ${read.bytes} of its ${total} bytes read`);
    // The report is `headlink --game game -n`'s (but for the time in the install folder's name).
    const stamp = (text) => text.replace(/headlink-backups\/\d{8}-\d{6}/g, 'headlink-backups/STAMP');
    const dry = (...args) => {
      const said = spawnSync(exe, ['--game', 'game', '-n', ...args], { cwd: dir, encoding: 'utf8' });
      return [said.stdout, said.stderr].map(stamp);
    };
    const shownAs = async () => (await page.evaluate(() => [document.getElementById('report').textContent,
      document.getElementById('messages').textContent])).map(stamp);
    assert.equal((await runOn(page, path.join(dir, 'scripts'), kitNames.slice(3))).state, 'done');
    assert.deepEqual(await shownAs(), dry('-C', 'scripts'));
    assert.match((await shownAs())[0], /\nwould write override\/appearance\.2da \(new\)\n/i);
    assert.deepEqual(await page.$$eval('#save-links a', (links) => links.map((a) => a.getAttribute('download'))),
      kitNames.slice(0, 3));
    await page.click('#save-all');
    for (const [i, name] of kitNames.slice(0, 3).entries())
      assert.ok((await waitForFile(path.join(downloads, name))).equals(expected.written[outputs[i]]), name + ' differs');
    assert.match(await page.$eval('#save-where', (p) => p.textContent), /override folder/);
    // A pack with a file a head brings, into the same game folder.
    const pack = path.join(dir, 'pack');
    fs.cpSync(path.join(examples, 'pack'), pack, { recursive: true });
    const runs = await page.evaluate(() => window.headlinkTimings.runs);
    await (await page.$('#folder')).uploadFile(pack);
    await waitFor(page, (before) => window.headlinkTimings.runs > before, runs);
    assert.deepEqual(await shownAs(), dry('--heads', 'pack'));
    assert.match((await shownAs())[0], /\nwould write override\/hd_el_m_ash\.mdl \(new\)\n/i);
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('a game folder of 20,000 files picked: only the files read are asked their size or sliced, ' +
    'the status says what is read, and the time is printed beside the benchmarks\' game folder', async () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-big-game-'));
    execFileSync(makeKit, ['game', dir]);
    const small = path.join(dir, 'game');
    // The same game with a folder of filler files, as a game's movies: 20,000 files in all.
    const big = path.join(dir, 'big', 'game');
    fs.cpSync(small, big, { recursive: true });
    fs.mkdirSync(path.join(big, 'movies'));
    const count = (d) => fs.readdirSync(d, { withFileTypes: true })
      .reduce((n, e) => n + (e.isDirectory() ? count(path.join(d, e.name)) : 1), 0);
    for (let i = count(big); i < 20000; ++i) fs.writeFileSync(path.join(big, 'movies', `clip${i}.dat`), '');
    assert.equal(count(big), 20000);
    // Every `size` and `slice` of a File the page makes, by the file's
    // path, and each change of the status's words.
    const { page, problems } = await openPage(browser, os.tmpdir(), () => {
      window.touched = { size: [], slice: [] };
      const size = Object.getOwnPropertyDescriptor(Blob.prototype, 'size').get;
      Object.defineProperty(Blob.prototype, 'size', { configurable: true, get() {
        if (this instanceof File) window.touched.size.push(this.webkitRelativePath);
        return size.call(this);
      } });
      const slice = Blob.prototype.slice;
      Blob.prototype.slice = function (...args) {
        if (this instanceof File) window.touched.slice.push(this.webkitRelativePath);
        return slice.apply(this, args);
      };
      window.said = [];
      document.addEventListener('DOMContentLoaded', () => new MutationObserver((changes) => {
        for (const change of changes) if (change.addedNodes.length > 0) window.said.push(change.target.textContent);
      }).observe(document.getElementById('status'), { childList: true }));
    });
    const pick = async (folder) => {
      await page.evaluate(() => {
        window.headlinkTimings.gameTook = null;
        window.touched = { size: [], slice: [] };
        window.said = [];
      });
      await (await page.$('#game')).uploadFile(folder);
      await waitFor(page, () => window.headlinkTimings.gameTook !== null);
      return page.evaluate(() => ({ took: window.headlinkTimings.gameTook, touched: window.touched,
        said: window.said.slice(0, -1) }));
    };
    const took = { small: [], big: [] };
    for (let round = 0; round < 3; ++round) {
      for (const [which, folder] of [['small', small], ['big', big]]) {
        const { took: ms, touched: { size, slice }, said } = await pick(folder);
        took[which].push(ms);
        // The key file, and the one archive that holds the three tables
        // (the folder has no override folder): nothing else is asked of the system.
        const names = (list) => [...new Set(list)].sort();
        const read = ['game/TexturePacks/textures.erf', 'game/data/tables.bif', 'game/game.key'];
        assert.deepEqual(names(size), read, which);
        assert.ok(size.length <= 6, `${which}: ${size.length} sizes read`);
        assert.deepEqual(names(slice), read, which);
        assert.deepEqual(said, ['Working...', 'Reading the game folder game: its key file and its texture packs...',
          'Reading the game folder game: its archives and its texture packs...',
          'Reading the game folder game: its archives...'], which);
        if (round === 0) console.log(`     ${browser.kind}, the ${which} game folder: ${size.length} sizes and ` +
          `${slice.length} slices read`);
      }
    }
    const [smallTook, bigTook] = [median(took.small), median(took.big)];
    console.log(`     ${browser.kind}: from the browser's listing to the report: the benchmarks' game folder ` +
      `${smallTook.toFixed(0)} ms, with 20,000 files ${bigTook.toFixed(0)} ms (medians of 3): ` +
      `${(bigTook - smallTook).toFixed(0)} ms more (goal: at most 1 s more)`);
    assert.deepEqual(problems, []);
    await page.close();
    fs.rmSync(dir, { recursive: true });  // its 20,000 files
  });

  await check('files dropped on the page opened from disk run as picked ones; a dropped folder is named',
    async () => {
      const dir = kit();
      const expected = native(kit());
      const { page, problems } = await openPage(browser, os.tmpdir());
      const cdp = await page.createCDPSession();
      const drop = async (files) => {
        const box = await page.$eval('#drop', (element) => {
          const r = element.getBoundingClientRect();
          return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
        });
        const data = { items: [], files, dragOperationsMask: 1 };
        for (const type of ['dragEnter', 'dragOver', 'drop'])
          await cdp.send('Input.dispatchDragEvent', { type, x: box.x, y: box.y, data });
      };
      await drop(kitNames.map((name) => path.join(dir, name)));
      await waitFor(page, () => ['done', 'failed', 'waiting'].includes(document.body.dataset.state));
      const shown = await page.evaluate(() => [document.body.dataset.state,
        document.getElementById('report').textContent, document.getElementById('messages').textContent]);
      assert.deepEqual(shown, ['done', expected.stdout, expected.stderr]);
      await drop([dir]);
      await waitFor(page, () => !document.getElementById('support').hidden);
      const said = await page.evaluate(() => [document.getElementById('support').textContent,
        document.activeElement.id]);
      assert.deepEqual(said, ['This browser cannot read a dropped folder from a page opened from disk: use ' +
        '"Pick a folder" instead, or drop the eight files themselves.', 'pick-folder']);
      assert.deepEqual(problems, []);
      await page.close();
    });

  await check('a pack picked as a folder: every head run, one chain of links each', async () => {
    // The three tables and the example pack's heads (their scripts only)
    // in one folder, as a user keeps a pack.
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-pack-'));
    for (const name of kitNames.slice(0, 3)) fs.copyFileSync(path.join(examples, name), path.join(dir, name));
    const heads = ['ashgrove', 'moonveil', 'stormcrest'];
    for (const head of heads) {
      fs.mkdirSync(path.join(dir, head));
      for (const name of kitNames.slice(3))
        fs.copyFileSync(path.join(examples, 'pack', head, name), path.join(dir, head, name));
    }
    // A head's own file for the game, and a folder that is no head: the report says both.
    fs.cpSync(path.join(examples, 'pack', 'ashgrove', 'override'), path.join(dir, 'ashgrove', 'override'),
      { recursive: true });
    fs.cpSync(path.join(examples, 'pack', 'notes'), path.join(dir, 'notes'), { recursive: true });
    const expected = spawnSync(exe, ['-n', '--heads', dir], { cwd: dir, encoding: 'utf8' });
    const { page, problems } = await openPage(browser, os.tmpdir());
    await (await page.$('#folder')).uploadFile(dir);
    await waitFor(page, () => ['done', 'failed', 'waiting'].includes(document.body.dataset.state));
    const shown = await page.evaluate(() => [document.body.dataset.state,
      document.getElementById('report').textContent, document.getElementById('messages').textContent,
      [...document.querySelectorAll('#links-picture .chain')].map((chain) => chain.textContent),
      [...document.querySelectorAll('#checklist li')].map((item) => item.textContent)]);
    assert.deepEqual(shown.slice(0, 3), ['done', expected.stdout, expected.stderr]);
    assert.deepEqual(shown[3].map((chain) => chain.split(':')[0]), heads);
    assert.ok(shown[3][1].includes('portraits row 33'), shown[3][1]);
    assert.deepEqual(shown[4], ['ashgrove/: the five scripts', 'moonveil/: the five scripts',
      'stormcrest/: the five scripts', 'appearance.2da', 'heads.2da', 'portraits.2da']);
    // The head chooser: whose five scripts are in the editors.
    const shownHead = () => page.$eval('[data-script="head.txt"]', (area) => area.value);
    const scriptOf = (head) => fs.readFileSync(path.join(dir, head, 'head.txt'), 'utf8');
    assert.equal(await shownHead(), scriptOf('ashgrove'));
    await page.select('#head', 'moonveil');
    assert.equal(await shownHead(), scriptOf('moonveil'));
    await page.screenshot({ path: path.join(outDir, 'headlink-page-pack.png'), fullPage: true });
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('a file changed after it was picked: a message naming it, and the old results gone', async () => {
    const dir = kit();
    const { page, problems } = await openPage(browser, os.tmpdir());
    assert.equal((await runOn(page, dir, kitNames)).state, 'done');
    fs.appendFileSync(path.join(dir, 'head.txt'), 'end: changed\n');
    await page.click('#run');
    await waitFor(page, () => document.body.dataset.state === 'failed', undefined, 10000);
    const shown = await page.evaluate(() => [document.getElementById('messages').textContent,
      document.getElementById('status').textContent, document.getElementById('tables').hidden,
      document.getElementById('saves').hidden, document.getElementById('report').textContent]);
    assert.deepEqual(shown, ['head.txt: changed since it was picked: pick it again\n',
      'Nothing can be saved: a file could not be read. Nothing was saved anywhere.', true, true, '']);
    // Picked again, the same eight files: read anew.
    assert.equal((await runOn(page, dir, kitNames)).state, 'done');
    assert.deepEqual(problems, []);
    await page.close();
  });
};
