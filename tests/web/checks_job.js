// The page checks of the job itself: the example kit, scripts missing or
// failing, markup shown as text, tables opened on their own, runs asked for
// at once.
'use strict';
const {
  assert, execFileSync, spawnSync, fs, os, path, exe, examples, outDir, twoda, kitNames, outputs, kit, native,
  waitFor, setViewport, waitForSelector, openPage, runOn, waitForFile, typeScript, verdict
} = require('./harness');

module.exports = async function checks(browser, kind, check) {
  await check('the example kit: the report of headlink -n and the same outputs, byte for byte', async () => {
    const dir = kit();
    const expected = native(kit());
    assert.equal(expected.status, 0);
    const { page, problems, downloads } =
      await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-downloads-')));
    // First sight: the eight files named, nothing to run yet, no empty box.
    const first = await page.evaluate(() => ({
      checklist: [...document.querySelectorAll('#checklist li')].map((li) => li.className + ' ' + li.textContent),
      run: document.getElementById('run').hidden,
      emptyBoxes: [...document.querySelectorAll('pre, .grid')].filter((box) => box.getClientRects().length > 0 &&
        box.textContent === '').map((box) => box.id),
    }));
    assert.deepEqual(first.checklist, kitNames.map((name) => (name.endsWith('.txt')
      ? `write ${name}: write it below` : `missing ${name}: missing`)));
    assert.equal(first.run, true);
    assert.deepEqual(first.emptyBoxes, []);
    const shown = await runOn(page, dir, kitNames);
    assert.equal(shown.state, 'done');
    assert.equal(shown.report, expected.stdout);
    assert.equal(shown.messages, expected.stderr);
    assert.deepEqual(shown.saves, outputs);
    const policy = await page.$eval('meta[http-equiv="Content-Security-Policy"]', (meta) => meta.content);
    for (const directive of ["default-src 'none'", "base-uri 'none'", "form-action 'none'"])
      assert.ok(policy.split('; ').includes(directive), 'the security policy lacks ' + directive);
    for (const name of outputs) {
      await page.click(`a[download="${name}"]`);
      assert.ok((await waitForFile(path.join(downloads, name))).equals(expected.written[name]), name + ' differs');
    }
    // The grids: the added rows, the cells the scripts set and the link
    // cells marked with their old values; the picture of the links. "Go
    // to the new rows" chooses the first marked cell, whose old value is
    // then spelled out under the grid.
    await page.click('#jump');
    // The first marked cell is the new row's key, which its script set.
    assert.match(await page.$eval('#grid-details', (p) => p.textContent),
      /^appearance_updated\.2da, row 40 \(label 40\), column 0 \([^)]*\): "ElfFemaleMoonveil", set by a script; it was "/);
    await page.click('#next-mark');
    const grid = await page.evaluate(() => {
      const cell = (r, c) => document.querySelector(`#grid .grid-row[data-row="${r}"] [data-col="${c}"]`);
      const box = document.getElementById('grid');
      return {
        added: [...document.querySelectorAll('#grid .grid-row.added')].map((row) => Number(row.dataset.row)),
        set: cell(40, 4) && [cell(40, 4).className, cell(40, 4).textContent, cell(40, 4).title],
        plain: cell(39, 4) && cell(39, 4).className,
        picture: document.getElementById('links-picture').textContent,
        details: document.getElementById('grid-details').textContent,
        roles: [box.getAttribute('role'), box.getAttribute('aria-label'), box.getAttribute('aria-colcount'),
          cell(40, 4).getAttribute('role'), cell(40, 4).getAttribute('aria-colindex'),
          document.getElementById('status').getAttribute('role')],
        tabs: [...document.querySelectorAll('#tabs [role="tab"]')].map((tab) => tab.getAttribute('aria-selected')),
      };
    });
    assert.deepEqual(grid.added, [40, 41]);
    // Only the columns in view are drawn: the next marked cell, the link, comes into view.
    await page.click('#next-mark');
    assert.deepEqual(await page.evaluate(() => {
      const cell = document.querySelector('#grid .grid-row[data-row="40"] [data-col="10"]');
      return cell && [cell.className, cell.textContent, cell.title];
    }), ['link selected', '30', 'was: 1']);
    await page.click('#previous-mark');
    assert.deepEqual(grid.set, ['set selected', 'tex_el_moon', 'was: tex_el_f']);
    assert.equal(grid.plain, '');
    assert.equal(grid.picture, 'portraits row 32 (32)names \u2192appearance row 40 (40), appearance row 41 (41)' +
      'name \u2192heads row 30 (30)');
    assert.equal(grid.details, 'appearance_updated.2da, row 40 (label 40), column 4 (tex_a): "tex_el_moon", ' +
      'set by a script; it was "tex_el_f"');
    assert.deepEqual(grid.roles, ['grid', 'appearance_updated.2da', '13', 'gridcell', '6', 'status']);
    assert.deepEqual(grid.tabs, ['true', 'false', 'false']);
    fs.mkdirSync(outDir, { recursive: true });
    const suffix = kind === 'chromium' ? '' : '-' + kind;
    await setViewport(page, { width: 1100, height: 1400 });
    await page.screenshot({ path: path.join(outDir, `headlink-page${suffix}.png`), fullPage: true });
    // A narrow window: nothing but the grids scrolls sideways.
    await setViewport(page, { width: 420, height: 900 });
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 420), 'the page scrolls sideways at 420 px');
    await page.screenshot({ path: path.join(outDir, `headlink-page-420${suffix}.png`), fullPage: true });
    assert.deepEqual(problems, []);
    await page.close();
  });

  const failing = {
    'a malformed table': { 'heads.2da': fs.readFileSync(path.join(examples, 'heads.2da')).subarray(0, 200) },
    'a warning under --strict': { 'apphead3.txt': Buffer.from('1 0 elffemalemoonveil 5 ****\n') },
  };
  // A script neither given nor written: no run, and the editor says what
  // to write there; nothing offered for a script that does not exist.
  await check('a missing script: what to write there, and no run until it is', async () => {
    const dir = kit({ 'portraits.txt': null });
    const { page, problems } = await openPage(browser, dir);
    const shown = await runOn(page, dir, fs.readdirSync(dir));
    const editor = await page.evaluate(() => [...document.querySelectorAll('.editor')].map((box) =>
      [box.querySelector('.wanted').hidden, box.querySelectorAll('.save a').length]));
    assert.deepEqual([shown.state, shown.status, shown.messages, shown.report, shown.saves], ['waiting',
      'Write portraits.txt below: the job runs once every script is there. Nothing was saved anywhere.', '', '', []]);
    assert.deepEqual(editor, [[true, 1], [true, 1], [true, 1], [true, 1], [false, 0]]);
    assert.match(await page.$eval('.editor:nth-child(5) .wanted', (p) => p.textContent), /portraits\.txt edits portraits\.2da\.$/);
    assert.equal(await page.$eval('#save-scripts', (button) => button.hidden), true);
    assert.equal(await page.evaluate(() => window.headlinkTimings.runs), 1);
    await typeScript(page, 'portraits.txt', fs.readFileSync(path.join(examples, 'portraits.txt'), 'latin1'));
    await waitFor(page, () => document.body.dataset.state === 'done');
    assert.deepEqual(await page.evaluate(() => [document.querySelector('.editor:nth-child(5) .wanted').hidden,
      document.querySelectorAll('.editor:nth-child(5) .save a').length, document.getElementById('save-scripts').hidden]),
    [true, 1, false]);
    assert.deepEqual(problems, []);
    await page.close();
  });

  for (const [name, change] of Object.entries(failing)) {
    await check(name + ': the program\'s errors, nothing to save', async () => {
      const strict = name.includes('--strict');
      const dir = kit(change);
      const expected = spawnSync(exe, strict ? ['-n', '--strict'] : ['-n'], { cwd: dir, encoding: 'utf8' });
      assert.equal(expected.status, 1);
      const { page, problems } = await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-dl-')));
      if (strict) await page.click('#strict');
      await setViewport(page, { width: 420, height: 900 });
      const shown = await runOn(page, dir, fs.readdirSync(dir));
      // In a narrow window the status and the first message are on screen
      // right after the pick.
      const onScreen = await page.evaluate(() => {
        const messages = document.getElementById('messages').firstChild;
        const line = document.createRange();
        line.setStart(messages, 0);
        line.setEnd(messages, messages.textContent.indexOf('\n'));
        return [document.getElementById('status'), line].map((item) => item.getBoundingClientRect())
          .map((r) => r.top >= 0 && r.bottom <= window.innerHeight && window.scrollY === 0);
      });
      assert.deepEqual(onScreen, [true, true]);
      assert.equal(shown.state, 'failed');
      assert.equal(shown.status, 'Nothing can be saved: the messages say why. Nothing was saved anywhere.');
      assert.equal(shown.messages, expected.stderr);
      assert.equal(shown.report, expected.stdout);
      assert.deepEqual(shown.saves, []);
      assert.deepEqual(problems, []);
      await page.close();
    });
  }

  await check('markup in a table is shown as text', async () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-markup-'));
    const markup = '<img/src=x/onerror=alert(1)>';
    fs.writeFileSync(path.join(dir, 'evil.2da'), `2DA V2.0\n\n${markup} b\n</script> ${markup} "<b>x</b>"\n`);
    const { page, problems } = await openPage(browser, dir);
    await (await page.$('#table-file')).uploadFile(path.join(dir, 'evil.2da'));
    await waitForSelector(page, '#table-grid .grid-row');
    const shown = await page.evaluate(() => ({
      head: document.querySelector('#table-grid .grid-head > div:nth-child(2)').textContent,
      label: document.querySelector('#table-grid .grid-row > div:first-child').textContent,
      // What a screen reader says of the row's header: the number and the label apart.
      heard: document.querySelector('#table-grid .grid-row > div:first-child').getAttribute('aria-label'),
      cells: [...document.querySelectorAll('#table-grid .grid-row > div[data-col]')].map((c) => c.textContent),
      images: document.images.length,
    }));
    assert.equal(shown.head, '0 ' + markup);
    assert.equal(shown.label, '0  </script>');
    assert.equal(shown.heard, 'row 0, label </script>');
    assert.deepEqual(shown.cells, [markup, '<b>x</b>']);
    assert.equal(shown.images, 0);
    await new Promise((done) => setTimeout(done, 300));
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('an opened table keeps its cells through runs of the job, and its old save links are revoked',
    async () => {
      const dir = kit();
      const { page, problems } = await openPage(browser, os.tmpdir(), () => {
        window.revoked = [];
        const revoke = URL.revokeObjectURL.bind(URL);
        URL.revokeObjectURL = (url) => { window.revoked.push(url); revoke(url); };
      });
      const tableFile = await page.$('#table-file');
      await tableFile.uploadFile(path.join(examples, 'heads.2da'));
      await waitForSelector(page, '#table-saves a');
      const firstLinks = await page.$$eval('#table-saves a', (links) => links.map((a) => a.href));
      await tableFile.uploadFile(path.join(examples, 'portraits.2da'));
      await waitFor(page, (old) => document.querySelector('#table-saves a').href !== old, firstLinks[0]);
      // The opened grid's last row, read after scrolling away and back so
      // that it is drawn anew from the engine.
      const lastRow = () => page.evaluate(async () => {
        const grid = document.getElementById('table-grid');
        const frames = () => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
        grid.scrollTop = 0;
        await frames();
        grid.scrollTop = grid.scrollHeight;
        await frames();
        const last = [...grid.querySelectorAll('.grid-row')].pop();
        return [...last.children].map((c) => c.textContent);
      });
      const before = await lastRow();
      assert.deepEqual(before.slice(0, 3), ['31  31', 'po_elf31', 'elf']);
      // Two runs of the job (the strict switch runs it again).
      await runOn(page, dir, kitNames);
      await page.click('#strict');
      await waitFor(page, () => document.body.dataset.state === 'failed' || document.body.dataset.state === 'done');
      assert.deepEqual(await lastRow(), before);
      const revoked = await page.evaluate(() => window.revoked);
      for (const url of firstLinks) assert.ok(revoked.includes(url), 'not revoked: ' + url);
      assert.deepEqual(problems, []);
      await page.close();
    });

  await check('two runs asked for at once: only the newer shows its result', async () => {
    const { page, problems } = await openPage(browser, os.tmpdir());
    const kitFiles = Object.fromEntries(kitNames.map((name) => [name, [...fs.readFileSync(path.join(examples, name))]]));
    const verdicts = await page.evaluate(async (given) => {
      const seen = [];
      new MutationObserver(() => seen.push(document.body.dataset.state))
        .observe(document.body, { attributes: true, attributeFilter: ['data-state'] });
      const input = document.getElementById('files');
      for (let i = 0; i < 2; ++i) {
        const files = new DataTransfer();
        for (const [name, bytes] of Object.entries(given)) files.items.add(new File([new Uint8Array(bytes)], name));
        input.files = files.files;
        input.dispatchEvent(new Event('change'));
      }
      for (let i = 0; i < 200 && !['done', 'failed', 'waiting'].includes(document.body.dataset.state); ++i)
        await new Promise((done) => setTimeout(done, 50));
      await new Promise((done) => setTimeout(done, 300));
      return seen.filter((s) => s === 'done' || s === 'failed');
    }, kitFiles);
    assert.deepEqual(verdicts, ['done']);
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('a text-form table opened, checked and saved as binary: twoda build\'s bytes', async () => {
    const text = path.join(examples, 'text', 'heads.2da');
    const built = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-built-')), 'expected.2da');
    execFileSync(twoda, ['build', text, built]);
    const { page, problems, downloads } =
      await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-open-')));
    await (await page.$('#table-file')).uploadFile(text);
    await waitForSelector(page, '#table-saves a[download="heads_binary.2da"]');
    const verdict = await page.$eval('#table-check', (pre) => pre.textContent);
    assert.equal(verdict, spawnSync(twoda, ['check', text], { encoding: 'utf8' }).stdout.replaceAll(text, 'heads.2da'));
    await page.click('#table-saves a[download="heads_binary.2da"]');
    assert.ok((await waitForFile(path.join(downloads, 'heads_binary.2da'))).equals(fs.readFileSync(built)));
    assert.deepEqual(problems, []);
    await page.close();
  });
};
