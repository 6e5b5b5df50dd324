// The page checks of a script's own bytes, and drafts: which file one
// belongs to, and two tabs.
'use strict';
const {
  assert, fs, os, path, examples, kitNames, outputs, kit, native, waitFor, openPage, runOn, waitForFile,
  typeTimed, typeScript
} = require('./harness');

module.exports = async function checks(browser, kind, check) {
  await check('a script keeps its own bytes: Windows-1252 and CR LF through an edit, a typed character in the ' +
    'script\'s encoding, one it cannot hold said at its line; UTF-16 only shown', async () => {
    const latin = Buffer.from('1 0 head_caf\xE9\r\n1 hd_caf\xE9\r\n', 'latin1');
    const expected = native(kit({ 'head.txt': latin }));
    assert.equal(expected.status, 0);
    const { page, problems, downloads } =
      await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-bytes-')));
    assert.equal((await runOn(page, kit({ 'head.txt': latin }), kitNames)).state, 'done');
    // A keystroke and its taking back: the outputs and the script as picked.
    await typeTimed(page, 'head.txt', ' ');
    const runs = await page.evaluate(() => window.headlinkTimings.runs);
    await page.keyboard.press('Backspace');
    await waitFor(page, (before) => window.headlinkTimings.runs > before, runs);
    assert.equal(await page.$eval('#report', (pre) => pre.textContent), expected.stdout);
    await page.click('#save-all');
    for (const name of outputs)
      assert.ok((await waitForFile(path.join(downloads, name))).equals(expected.written[name]), name + ' differs');
    await page.click('.editor:nth-child(1) .save a');
    assert.ok((await waitForFile(path.join(downloads, 'head.txt'))).equals(latin), 'the saved head.txt differs');

    // Typed into a plain-ASCII script, "é" is Windows-1252's byte, as in the game's tables.
    const typed = Buffer.from('1 0 ElfFemaleMoonveil 4 tex_\xE9l\n', 'latin1');
    await typeScript(page, 'apphead1.txt', typed.toString('latin1'));
    await waitFor(page, () => document.body.dataset.state === 'done');
    const withTyped = native(kit({ 'head.txt': latin, 'apphead1.txt': typed }));
    assert.equal(await page.$eval('#report', (pre) => pre.textContent), withTyped.stdout);
    await page.click('.editor:nth-child(2) .save a');
    assert.ok((await waitForFile(path.join(downloads, 'apphead1.txt'))).equals(typed), 'the saved apphead1.txt differs');
    // A character Windows-1252 cannot hold: said at its line, nothing to save.
    await typeScript(page, 'head.txt', '1 0 head_caf\xE9\n1 hd_\u2192');
    await waitFor(page, () => document.body.dataset.state === 'failed');
    assert.deepEqual(await page.evaluate(() => [[...document.querySelectorAll('.editor:nth-child(1) .said li')]
      .map((li) => li.textContent), document.getElementById('saves').hidden]),
    [['head.txt: line 2: "\u2192" cannot be written in Windows-1252, the encoding of this script: type another ' +
      'character'], true]);

    // UTF-16: shown, not editable, with the program's message.
    const wide = Buffer.from('\uFEFF' + fs.readFileSync(path.join(examples, 'portraits.txt'), 'latin1'), 'utf16le');
    const said = native(kit({ 'portraits.txt': wide }));
    assert.equal((await runOn(page, kit({ 'portraits.txt': wide }), kitNames)).messages, said.stderr);
    assert.deepEqual(await page.$eval('[data-script="portraits.txt"]', (area) => [area.readOnly,
      area.value.replace(/^\uFEFF/, '').slice(0, 4)]), [true, fs.readFileSync(path.join(examples, 'portraits.txt'),
      'latin1').slice(0, 4)]);
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('a draft belongs to the file it was made from: another file picked is used as picked, the draft ' +
    'offered; a reload leaves no files in the pickers', async () => {
    const { page, problems } = await openPage(browser, os.tmpdir());
    assert.equal((await runOn(page, kit(), kitNames)).state, 'done');
    await typeTimed(page, 'head.txt', ' ');
    await page.reload();
    await waitFor(page, () => window.headlinkTimings !== undefined);
    assert.equal(await page.$eval('#files', (input) => input.files.length), 0);
    const ashgrove = fs.readFileSync(path.join(examples, 'pack', 'ashgrove', 'head.txt'));
    const expected = native(kit({ 'head.txt': ashgrove }));
    const shown = await runOn(page, kit({ 'head.txt': ashgrove }), kitNames);
    assert.deepEqual([shown.report, shown.messages], [expected.stdout, expected.stderr]);
    assert.equal(await page.$eval('[data-script="head.txt"]', (area) => area.value), ashgrove.toString('latin1'));
    assert.match(await page.$eval('.editor:nth-child(1) .notice', (p) => p.textContent),
      /^Your edits of head\.txt from .*: Use themKeep the file as picked$/);
    await page.click('.editor:nth-child(1) .notice button');
    await waitFor(page, (text) => document.querySelector('[data-script="head.txt"]').value === text,
      fs.readFileSync(path.join(examples, 'head.txt'), 'latin1') + ' ');
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('two tabs: neither writes over a draft the other changed, nor forgets the other\'s drafts', async () => {
    const a = await openPage(browser, os.tmpdir());
    const b = await openPage(browser, os.tmpdir(), undefined, true);
    for (const tab of [a, b]) {
      await tab.page.bringToFront();
      assert.equal((await runOn(tab.page, kit(), kitNames)).state, 'done');
    }
    const head = fs.readFileSync(path.join(examples, 'head.txt'), 'latin1');
    const stored = () => a.page.evaluate(() => Object.fromEntries(Object.keys(localStorage).sort()
      .map((key) => [key, JSON.parse(localStorage.getItem(key)).text.slice(-2)])));
    await a.page.bringToFront();
    await typeTimed(a.page, 'head.txt', 'a');
    await b.page.bringToFront();
    await typeTimed(b.page, 'apphead1.txt', ' ');
    await typeTimed(b.page, 'head.txt', 'b');
    assert.deepEqual(await stored(), { 'headlink draft /apphead1.txt': '\n ', 'headlink draft /head.txt':
      head.slice(-1) + 'a' });
    assert.match(await b.page.$eval('.editor:nth-child(1) .notice', (p) => p.textContent),
      /^Another tab changed your edits of head\.txt kept in this browser: Use theirsKeep mine$/);
    // B keeps its own, deliberately: A hears of it.
    await b.page.click('.editor:nth-child(1) .notice button:nth-of-type(2)');
    await waitFor(a.page, () => !document.querySelector('.editor:nth-child(1) .notice').hidden);
    assert.equal((await stored())['headlink draft /head.txt'], head.slice(-1) + 'b');
    // A forgets its edits: B's stay.
    await a.page.bringToFront();
    await a.page.click('#forget');
    await a.page.click('#forget-yes');
    assert.deepEqual(Object.keys(await stored()), ['headlink draft /apphead1.txt', 'headlink draft /head.txt']);
    assert.deepEqual([...a.problems, ...b.problems], []);
    await a.page.close();
    await b.page.close();
  });
};
