// The page checks of writing in the page: near misses, warnings, the
// keyboard, marked cells, the game's labels, scripts typed.
'use strict';
const {
  assert, execFileSync, spawnSync, fs, os, path, exe, examples, outDir, twoda, kitNames, outputs, kit, native,
  waitFor, setViewport, audit, openPage, runOn, waitForFile, typingTaken, typeScript
} = require('./harness');

module.exports = async function checks(browser, kind, check) {
  await check('a near miss is named in the checklist and not taken', async () => {
    const dir = kit({ 'heads.2da': null });
    fs.copyFileSync(path.join(examples, 'heads.2da'), path.join(dir, 'Heads.2DA'));
    const { page, problems } = await openPage(browser, os.tmpdir());
    const shown = await runOn(page, dir, fs.readdirSync(dir));
    assert.equal(shown.state, 'failed');
    const item = await page.$eval('#checklist li.near', (li) => li.textContent);
    // The program's own hint, as it says it.
    assert.equal(item, 'heads.2da: missing; the folder holds "Heads.2DA"; headlink opens exactly "heads.2da" ' +
      '(a file browser may hide an extension), so rename it');
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('a warning: the status says so, and the messages come before the save links', async () => {
    const dir = kit({ 'apphead3.txt': Buffer.from('1 0 elffemalemoonveil 5 ****\n') });
    const expected = native(kit({ 'apphead3.txt': Buffer.from('1 0 elffemalemoonveil 5 ****\n') }));
    const { page, problems } = await openPage(browser, os.tmpdir());
    const shown = await runOn(page, dir, kitNames);
    assert.equal(shown.state, 'done');
    assert.equal(shown.status, 'Done, with 1 warning: read it before saving');
    assert.equal(shown.messages, expected.stderr);
    assert.ok(await page.evaluate(() => Boolean(document.getElementById('messages')
      .compareDocumentPosition(document.getElementById('save-links')) & Node.DOCUMENT_POSITION_FOLLOWING)));
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('every control is reached by Tab, in order, and Enter and Space work them', async () => {
    // The file pickers are opened by their buttons; here the opening is
    // recorded rather than done, as no one is there to choose.
    const { page, problems } = await openPage(browser, os.tmpdir(), () => {
      window.opened = [];
      HTMLInputElement.prototype.click = function () { window.opened.push(this.id); };
    });
    const tabThrough = async (count) => {
      const reached = [];
      for (let i = 0; i < count; ++i) {
        await page.keyboard.press('Tab');
        reached.push(await page.evaluate(() => {
          const at = document.activeElement;
          const visible = at.matches(':focus-visible') && getComputedStyle(at).outlineStyle !== 'none';
          return (at.id || at.getAttribute('download') || at.textContent) + (visible ? '' : ' (focus not shown)');
        }));
      }
      return reached;
    };
    const editors = ['head.txt', 'apphead1.txt', 'apphead2.txt', 'apphead3.txt', 'portraits.txt']
      .flatMap((name, i) => ['script-' + i, name]);
    // No script yet: nothing to save of them.
    assert.deepEqual(await tabThrough(11), ['pick-files', 'pick-folder', 'pick-game', 'strict', 'forget',
      ...editors.filter((name) => name.startsWith('script-')), 'pick-table']);
    await page.focus('#pick-files');
    await page.keyboard.press('Enter');
    await page.focus('#pick-table');
    await page.keyboard.press(kind === 'firefox' ? ' ' : 'Space');
    assert.deepEqual(await page.evaluate(() => window.opened), ['files', 'table-file']);
    await runOn(page, kit(), kitNames);
    await page.focus('#pick-files');
    // Of the tabs, the chosen one alone: the arrow keys go between them.
    // Each editor's column list is stopped at once it has columns.
    const listed = editors.flatMap((name, i) => (i % 2 === 0 ? [name, 'columns-' + i / 2] : [name]));
    assert.deepEqual(await tabThrough(30), ['pick-folder', 'pick-game', 'run', 'strict',
      'appearance_updated.2da', 'heads_updated.2da', 'portraits_updated.2da', 'save-all', 'save-scripts', 'forget',
      ...listed, 'tab-0', 'which', 'jump', 'previous-mark', 'next-mark']);
    // Space on the strict switch runs the job again, and fails it: a
    // warning-free kit stays done.
    await page.focus('#strict');
    await page.keyboard.press(kind === 'firefox' ? ' ' : 'Space');
    await waitFor(page, () => document.getElementById('strict').checked && document.body.dataset.state === 'done');
    // The arrow keys go from tab to tab, each showing its table, and
    // Enter on a tab shows it too; in the grid the first arrow lands on
    // the first cell, the next move from there, and Ctrl+End goes to the
    // last row.
    await page.focus('#tab-0');
    await page.keyboard.press('ArrowRight');
    const tabbed = await page.evaluate(() => [document.activeElement.id, document.getElementById('grid').getAttribute('aria-label'),
      document.getElementById('table-panel').getAttribute('aria-labelledby')]);
    assert.deepEqual(tabbed, ['tab-1', 'heads_updated.2da', 'tab-1']);
    await page.focus('#tabs button[data-table="2"]');
    await page.keyboard.press('Enter');
    await page.focus('#tab-2');
    await page.keyboard.press('ArrowLeft');
    await page.focus('#grid');
    const details = () => page.evaluate(() => document.getElementById('grid-details').textContent);
    await page.keyboard.press('ArrowDown');
    assert.equal(await details(), 'heads_updated.2da, row 0 (label 0), column 0 (label): "head_human_m01"');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('ArrowRight');
    const seen = await page.evaluate(() => [document.getElementById('grid').getAttribute('aria-label'),
      document.getElementById('grid-details').textContent]);
    assert.deepEqual(seen, ['heads_updated.2da', 'heads_updated.2da, row 1 (label 1), column 1 (model): "hd_el_f01"']);
    await page.keyboard.down('Control');
    await page.keyboard.press('End');
    await page.keyboard.up('Control');
    assert.match(await details(), /^heads_updated\.2da, row 30 \(label 30\), column 1 \(model\): "hd_el_f_moon"/);
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('"Go to the new rows" and the next and previous buttons bring marked cells into view, ' +
    'in a table of 100 columns', async () => {
    // The example's appearance table widened to 100 columns; the first
    // appearance script also sets column 95.
    const lines = execFileSync(twoda, ['text', path.join(examples, 'appearance.2da')], { encoding: 'utf8' })
      .split('\n');
    const extra = Array.from({ length: 88 }, (_, i) => 'extra' + (i + 12));
    const wide = lines.map((line, i) => (i < 2 || line === '' ? line : i === 2 ? line + '\t' + extra.join('\t')
      : line + '\t****'.repeat(extra.length))).join('\n');
    const dir = kit({ 'apphead1.txt': Buffer.from('1 0 ElfFemaleMoonveil 4 tex_el_moon 95 wide\n') });
    fs.writeFileSync(path.join(dir, 'wide.txt'), wide);
    execFileSync(twoda, ['build', path.join(dir, 'wide.txt'), path.join(dir, 'appearance.2da')]);
    const { page, problems } = await openPage(browser, os.tmpdir());
    assert.equal((await runOn(page, dir, kitNames)).state, 'done');
    const inView = () => page.evaluate(() => {
      const grid = document.getElementById('grid').getBoundingClientRect();
      const cell = document.querySelector('#grid .selected');
      if (!cell) return 'no cell chosen';
      const at = cell.getBoundingClientRect();
      const labels = document.querySelector('#grid .grid-head > div').getBoundingClientRect();
      const shown = at.left >= labels.right - 1 && at.right <= grid.right + 1 && at.top >= labels.bottom - 1 &&
        at.bottom <= grid.bottom + 1;
      return `${cell.parentNode.dataset.row}:${cell.dataset.col} ${cell.className.replace(' selected', '')}` +
        (shown ? '' : ' out of view');
    });
    await setViewport(page, { width: 1000, height: 900 });
    await page.click('#jump');
    const visited = [await inView()];
    for (let i = 0; i < 5; ++i) {
      await page.click('#next-mark');
      visited.push(await inView());
    }
    await page.click('#previous-mark');
    visited.push(await inView());
    assert.deepEqual(visited, ['40:0 set', '40:4 set', '40:10 link', '40:11 set', '40:95 set', '41:0 set', '40:95 set']);
    // Scrolled far from it, the chosen cell is still there to be said.
    await page.evaluate(() => { const grid = document.getElementById('grid'); grid.scrollTop = 0; grid.scrollLeft = 0; });
    await typingTaken(page);
    const active = await page.evaluate(() => {
      const cell = document.getElementById(document.getElementById('grid').getAttribute('aria-activedescendant'));
      return cell && [cell.parentNode.dataset.row, cell.dataset.col, cell.getAttribute('aria-selected'),
        document.querySelector('#grid .grid-row[data-row="0"]') !== null];
    });
    assert.deepEqual(active, ['40', '95', 'true', true]);
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('tables labelled as the game labels them: the program\'s outputs, byte for byte; the link columns ' +
    'named in the column lists and the help', async () => {
    // The example's tables with the game's labels: normalhead at 9 before
    // backuphead, the three bodies of a portrait at 1 to 3.
    const relabel = (table, labels) => {
      const lines = execFileSync(twoda, ['text', path.join(examples, table)], { encoding: 'utf8' }).split('\n');
      const header = lines[2].split('\t');
      for (const [column, label] of Object.entries(labels)) header[Number(column) + 1] = label;
      lines[2] = header.join('\t');
      return lines.join('\n');
    };
    const dir = kit(), texts = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-labelled-'));
    fs.writeFileSync(path.join(texts, 'appearance.2da'), relabel('appearance.2da', { 9: 'normalhead', 10: 'backuphead' }));
    fs.writeFileSync(path.join(texts, 'portraits.2da'),
      relabel('portraits.2da', { 1: 'appearancenumber', 2: 'Appearance_S', 3: 'appearance_l' }));
    for (const table of ['appearance.2da', 'portraits.2da'])
      execFileSync(twoda, ['build', path.join(texts, table), path.join(dir, table)]);
    const expected = native(dir);
    assert.equal(expected.status, 0);
    const { page, problems, downloads } =
      await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-downloads-')));
    const shown = await runOn(page, dir, kitNames);
    assert.equal(shown.state, 'done');
    assert.equal(shown.report, expected.stdout);
    assert.equal(shown.messages, expected.stderr);
    for (const name of outputs) {
      await page.click(`a[download="${name}"]`);
      assert.ok((await waitForFile(path.join(downloads, name))).equals(expected.written[name]), name + ' differs');
    }
    const said = await page.evaluate(() => ({
      help: document.getElementById('link-help').textContent,
      links: [1, 4].map((s) => [...document.querySelectorAll(`#columns-${s} [role="option"].link`)].map((o) => o.textContent)),
    }));
    assert.equal(said.help, 'Linking writes the new row numbers: appearance column 9 "normalhead" gets the head row; ' +
      'portraits columns 1 "appearancenumber", 2 "appearance_s" and 3 "appearance_l" get the appearance rows of ' +
      'apphead2.txt, apphead1.txt and apphead3.txt.');
    assert.deepEqual(said.links, [['9 normalhead (link: gets the row of head.txt)'],
      ['1 appearancenumber (link: gets the row of apphead2.txt)', '2 Appearance_S (link: gets the row of apphead1.txt)',
        '3 appearance_l (link: gets the row of apphead3.txt)']]);
    assert.deepEqual(problems, []);
    await page.close();
  });

  await check('the five scripts typed into a page holding only the three tables: the program\'s outputs, ' +
    'byte for byte; a half-typed script stopped at its line; a column clicked; what was typed kept', async () => {
    const expected = native(kit());
    const { page, problems, downloads } =
      await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-typed-')));
    const tables = kit();
    assert.equal((await runOn(page, tables, kitNames.slice(0, 3))).state, 'waiting');
    // Before any script: the tables as given, in view at once, and a row
    // of one made a template row.
    const given = await page.evaluate(() => [document.getElementById('tables').hidden,
      document.getElementById('tables-title').textContent,
      [...document.querySelectorAll('#tabs button')].map((button) => button.textContent),
      document.querySelectorAll('#grid .grid-row').length > 0, document.getElementById('which').hidden]);
    assert.deepEqual(given, [false, 'The tables as given', kitNames.slice(0, 3), true, true]);
    if (kind === 'chromium') {
      await setViewport(page, { width: 1500, height: 1100 });
      await page.screenshot({ path: path.join(outDir, 'headlink-page-scratch.png'), fullPage: false });
      await setViewport(page, { width: 800, height: 600 });
    }
    await page.click('[data-script="portraits.txt"]');
    await page.click('#tabs button[data-table="2"]');
    await page.click('#grid .grid-row[data-row="3"] .row-pick');
    await waitFor(page, () => document.querySelector('[data-script="portraits.txt"]').value === '3');
    const scripts = kitNames.slice(3);
    for (const name of scripts) await typeScript(page, name, fs.readFileSync(path.join(examples, name), 'utf8'));
    await waitFor(page, () => document.body.dataset.state === 'done');
    const shown = await page.evaluate(() => [document.getElementById('report').textContent,
      document.getElementById('messages').textContent]);
    assert.deepEqual(shown, [expected.stdout, expected.stderr]);
    // Once a run works the grid shows the outputs; the switch shows the tables as given again.
    const switched = [];
    for (let i = 0; i < 3; ++i) {
      switched.push(await page.evaluate(() => [document.getElementById('tables-title').textContent,
        document.querySelector('#tabs button').textContent, document.getElementById('grid').getAttribute('aria-rowcount')]));
      if (i < 2) await page.click('#which');
    }
    assert.deepEqual(switched.map((seen) => seen.slice(0, 2)), [['The updated tables', 'appearance_updated.2da'],
      ['The tables as given', 'appearance.2da'], ['The updated tables', 'appearance_updated.2da']]);
    assert.ok(Number(switched[0][2]) > Number(switched[1][2]));  // the outputs have rows added
    await page.click('#save-all');
    for (const name of outputs)
      assert.ok((await waitForFile(path.join(downloads, name))).equals(expected.written[name]), name + ' differs');
    if (kind === 'chromium') {
      await setViewport(page, { width: 1500, height: 1100 });
      await page.click('[data-script="apphead1.txt"]');
      await page.evaluate(() => {
        document.getElementById('scripts').scrollIntoView();
        for (const area of document.querySelectorAll('[data-script]')) area.scrollTop = 0;
        // Just before the "4" that starts the second line: the arrow puts the caret on it.
        const area = document.querySelector('[data-script="apphead1.txt"]');
        area.setSelectionRange(area.value.indexOf('\n4 ') + 1, area.value.indexOf('\n4 ') + 1);
      });
      await page.keyboard.press('ArrowRight');
      await page.click('#jump');
      await page.screenshot({ path: path.join(outDir, 'headlink-page-editors.png'), fullPage: false });
      await setViewport(page, { width: 800, height: 600 });
    }

    // Half typed: the program's own message under the script, nothing to
    // save, the grids kept and marked out of date.
    const half = kit({ 'head.txt': Buffer.from('1 0') });
    const said = spawnSync(exe, ['-n'], { cwd: half, encoding: 'utf8' }).stderr;
    await typeScript(page, 'head.txt', '1 0');
    await waitFor(page, () => document.body.dataset.state === 'failed');
    const stopped = await page.evaluate(() => ({
      lines: [...document.querySelectorAll('.editor')].map((e) => [...e.querySelectorAll('.said li')]
        .map((li) => li.textContent)),
      saves: document.getElementById('saves').hidden,
      stale: !document.getElementById('stale').hidden && !document.getElementById('tables').hidden,
      rows: document.querySelectorAll('#grid .grid-row').length > 0,
    }));
    assert.deepEqual(stopped.lines, [said.split('\n').filter((l) => l).map((l) => l.replace(/^headlink: /, '')),
      [], [], [], []]);
    assert.match(stopped.lines[0][0], /^head\.txt: line 1: /);
    assert.deepEqual([stopped.saves, stopped.stale, stopped.rows], [true, true, true]);
    await audit(page);  // out of date: its text and frames

    // A column clicked: its number at the caret, and the caret names it.
    const label = execFileSync(twoda, ['text', path.join(examples, 'portraits.2da')], { encoding: 'utf8' })
      .split('\n')[2].trim().split(/\s+/)[3];
    await typeScript(page, 'portraits.txt', '0 ');
    await page.click('.editor:nth-child(5) .columns [data-column="3"]');
    await waitFor(page, () => document.querySelector('[data-script="portraits.txt"]').value === '0 3');
    assert.equal(await page.$eval('.editor:nth-child(5) .caret', (p) => p.textContent), 'key column 3: ' + label);
    // Undo reaches what was there before the click (the browser may take
    // back the typing with it), and the click works again after.
    const undone = [];
    for (let i = 0; i < 3; ++i) {
      await page.keyboard.down('Control');
      await page.keyboard.press('KeyZ');
      await page.keyboard.up('Control');
      undone.push(await page.$eval('[data-script="portraits.txt"]', (area) => area.value));
    }
    assert.ok(undone.includes('0 '), 'undo did not reach "0 ": ' + JSON.stringify(undone));
    // The same by keys: the column list is a listbox, Enter takes the option chosen.
    await typeScript(page, 'portraits.txt', '0 ');
    await page.focus('#columns-4');
    for (const key of ['End', 'Home', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowUp', 'ArrowDown', 'Enter'])
      await page.keyboard.press(key);
    await waitFor(page, () => document.querySelector('[data-script="portraits.txt"]').value === '0 3');
    // A row's header chosen in the portraits grid and Enter pressed: the
    // template row of the script written in last. The grid names the
    // header it has chosen as its active descendant.
    await page.click('#tabs button[data-table="2"]');
    await page.focus('#grid');
    for (const key of ['ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowDown', 'ArrowLeft', 'ArrowLeft'])
      await page.keyboard.press(key);
    const header = await page.evaluate(() => {
      const active = document.getElementById(document.getElementById('grid').getAttribute('aria-activedescendant'));
      return [active.getAttribute('role'), active.getAttribute('aria-label'), document.getElementById('grid-details').textContent];
    });
    assert.deepEqual(header, ['rowheader', 'row 5, label 5; Enter makes it the template row of the script you were writing',
      'portraits_updated.2da, row 5 (label 5): Enter makes it the template row of the script you were writing']);
    await page.keyboard.press('Enter');
    await waitFor(page, () => document.querySelector('[data-script="portraits.txt"]').value === '5 3');

    // What was typed survives a reload, until forgotten.
    await page.reload();
    await waitFor(page, () => window.headlinkTimings !== undefined);
    const kept = await page.$$eval('[data-script]', (areas) => areas.map((a) => a.value));
    assert.deepEqual(kept, ['1 0', ...scripts.slice(1, 4).map((n) => fs.readFileSync(path.join(examples, n), 'utf8')), '5 3']);
    // Forgetting asks first, in the page.
    await page.click('#forget');
    await audit(page);
    assert.deepEqual(await page.$$eval('[data-script]', (areas) => areas.map((a) => a.value)), kept);
    assert.equal(await page.$eval('#forget-what', (p) => p.textContent), 'Forget your edits of head.txt, ' +
      'apphead1.txt, apphead2.txt, apphead3.txt, portraits.txt? They cannot be brought back.');
    await page.click('#forget-yes');
    assert.deepEqual(await page.$$eval('[data-script]', (areas) => areas.map((a) => a.value)), ['', '', '', '', '']);
    assert.equal(await page.evaluate(() => localStorage.length), 0);
    assert.deepEqual(problems, []);
    await page.close();
  });
};
