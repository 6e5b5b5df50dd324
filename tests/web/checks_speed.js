// The page checks of the benchmarks' kits and a long script: how long the
// page takes, measured, never asserted.
'use strict';
const {
  assert, execFileSync, fs, os, path, makeKit, kitNames, kit, waitFor, waitForSelector, openPage, runOn,
  typeTimed, median, verdict
} = require('./harness');

module.exports = async function checks(browser, kind, check) {
  // The benchmarks' kits: from picking the files to the report and the
  // first screen of the grid, and scrolling the largest grid.
  for (const kind of ['realistic', 'largest']) {
    await check(`the ${kind} kit runs and its grid appears`, async () => {
      const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-kit-'));
      execFileSync(makeKit, [kind, dir]);
      const { page, problems } = await openPage(browser, dir);
      const started = Date.now();
      const shown = await runOn(page, dir, kitNames);
      await waitForSelector(page, '#grid .grid-row');
      const took = Date.now() - started;
      const inPage = await page.evaluate(() => window.headlinkTimings.took.toFixed(0));
      assert.equal(shown.state, 'done');
      let scrolling = '';
      if (kind === 'largest') {
        const perScreen = await page.evaluate(async () => {
          const grid = document.getElementById('grid');
          const frame = () => new Promise((done) => requestAnimationFrame(() => done()));
          const start = performance.now();
          for (let i = 0; i < 40; ++i) {
            grid.scrollTop += grid.clientHeight;
            await frame();
            await frame();
          }
          return (performance.now() - start) / 40;
        });
        // Each draw of those screens: its time, and how many calls into the engine it made.
        const draws = await page.evaluate(() => window.headlinkTimings.draws.slice(-40));
        const ms = median(draws.map((d) => d.ms)), calls = median(draws.map((d) => d.calls));
        scrolling = `, scrolling ${perScreen.toFixed(1)} ms a screen (two frames each), drawing one screen ` +
          `${ms.toFixed(2)} ms (median) with ${calls} engine calls`;
      }
      // Every live region watched: keys that leave the verdict as it was change none of them.
      await page.evaluate(() => {
        window.liveChanges = 0;
        const watch = new MutationObserver((records) => { window.liveChanges += records.length; });
        for (const region of document.querySelectorAll('[aria-live], [role=status], [role=alert], [role=log]'))
          watch.observe(region, { childList: true, characterData: true, subtree: true });
      });
      const keystrokes = await typeTimed(page, 'portraits.txt', ' '.repeat(15));
      assert.equal(await page.evaluate(() => window.liveChanges), 0);
      console.log(`     ${browser.kind}, ${kind} kit: ${inPage} ms in the page from the files to the report and the grid ` +
        `(${took} ms with the picker's upload)${scrolling}; a keystroke to the report and grid: median ` +
        `${median(keystrokes).toFixed(1)} ms, slowest ${Math.max(...keystrokes).toFixed(1)} ms ` +
        `(goal: ${kind === 'realistic' ? 16 : 100} ms)`);
      assert.deepEqual(problems, []);
      await page.close();
    });
  }

  // A long script: the example's first line, then 5,000 lines of notes.
  // Typing is taken once a frame, so lines inserted one at a time in one
  // go run once, and a key waits for no run of older text.
  await check('a 5,000-line script: lines inserted one at a time run once; a keystroke to the report and grid', async () => {
    const dir = kit();
    const { page, problems } = await openPage(browser, dir);
    assert.equal((await runOn(page, dir, kitNames)).state, 'done');
    const first = fs.readFileSync(path.join(dir, 'portraits.txt'), 'latin1').split('\n')[0];
    const notes = Array.from({ length: 5000 }, (_, i) => `note ${i}: about this head and its portrait`);
    const before = await page.evaluate(() => window.headlinkTimings.runs);
    const lines = await page.evaluate((text) => {
      const area = document.querySelector('[data-script="portraits.txt"]');
      area.focus();
      area.select();
      document.execCommand('insertText', false, text[0]);
      for (const line of text.slice(1, 201)) document.execCommand('insertText', false, '\n' + line);
      return area.value.split('\n').length;
    }, [first, ...notes]);
    assert.equal(lines, 201);
    await waitFor(page, (runs) => window.headlinkTimings.runs > runs, before);
    await new Promise((done) => setTimeout(done, 300));
    assert.equal(await page.evaluate(() => window.headlinkTimings.runs), before + 1);
    await page.evaluate((rest) => {
      const area = document.querySelector('[data-script="portraits.txt"]');
      area.setRangeText('\n' + rest.join('\n'), area.value.length, area.value.length, 'end');
      area.dispatchEvent(new Event('input'));
    }, notes.slice(200));
    await waitFor(page, () => document.querySelector('[data-script="portraits.txt"]').value.split('\n').length === 5001 &&
      document.body.dataset.state === 'done');
    const keystrokes = await typeTimed(page, 'portraits.txt', ' '.repeat(15));
    console.log(`     ${browser.kind}, a key in a 5,000-line script to the report and grid: median ` +
      `${median(keystrokes).toFixed(1)} ms, slowest ${Math.max(...keystrokes).toFixed(1)} ms (goal: 50 ms)`);
    assert.equal(await page.evaluate(() => document.body.dataset.state), 'done');
    assert.deepEqual(problems, []);
    await page.close();
  });
};
