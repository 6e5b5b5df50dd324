// The page in a real browser: Debian's Chromium, headless, driven through
// the file picker and the save links as a person uses them. Checks that the
// page does what the program does, byte for byte, that a failing kit offers
// nothing to save, and that no request leaves the page.
//   node tests/web/page_test.js HEADLINK_HTML HEADLINK_EXE EXAMPLES_DIR OUT_DIR TWODA_EXE MAKE_KIT_EXE
// It also prints how long the page takes on the benchmarks' kits: measured,
// never asserted.
'use strict';
const assert = require('assert/strict');
const { execFileSync, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const puppeteer = require(path.join(__dirname, '../../web/node_modules/puppeteer-core'));

const [html, exe, examples, outDir, twoda, makeKit] = process.argv.slice(2).map((p) => path.resolve(p));
const kitNames = ['appearance.2da', 'heads.2da', 'portraits.2da', 'head.txt', 'apphead1.txt', 'apphead2.txt',
  'apphead3.txt', 'portraits.txt'];
const outputs = ['appearance_updated.2da', 'heads_updated.2da', 'portraits_updated.2da'];

// A folder holding the kit with `change` applied (name -> bytes, or null to leave a file out).
function kit(change = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-page-'));
  for (const name of kitNames) {
    const bytes = name in change ? change[name] : fs.readFileSync(path.join(examples, name));
    if (bytes !== null) fs.writeFileSync(path.join(dir, name), bytes);
  }
  return dir;
}

// What the program says of a kit: `headlink -n`, then a real run's outputs.
function native(dir) {
  const dry = spawnSync(exe, ['-n'], { cwd: dir, encoding: 'utf8' });
  const given = fs.readdirSync(dir);
  const written = {};
  if (dry.status === 0) {
    execFileSync(exe, [], { cwd: dir });
    for (const name of outputs) written[name] = fs.readFileSync(path.join(dir, name));
  }
  return { status: dry.status, stdout: dry.stdout, stderr: dry.stderr, given, written };
}

async function openPage(browser, downloads) {
  const page = await browser.newPage();
  const url = 'file://' + html;
  const problems = [];
  await page.setRequestInterception(true);
  page.on('request', (request) => {
    const target = request.url();
    if (target === url || target.startsWith('blob:') || target.startsWith('data:')) return request.continue();
    problems.push('a request left the page: ' + target);
    return request.abort();
  });
  page.on('pageerror', (error) => problems.push('page error: ' + error.message));
  page.on('dialog', (dialog) => { problems.push('a dialog opened: ' + dialog.message()); dialog.dismiss(); });
  page.on('console', (message) => {
    if (message.type() === 'error') problems.push('console error: ' + message.text());
  });
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.goto(url);
  return { page, problems };
}

// Gives the page the files of `dir` through its picker and waits for the verdict.
async function runOn(page, dir, files) {
  const input = await page.$('#files');
  await input.uploadFile(...files.map((name) => path.join(dir, name)));
  await page.waitForFunction(() => ['done', 'failed'].includes(document.body.dataset.state), { timeout: 60000 });
  return page.evaluate(() => ({
    state: document.body.dataset.state,
    report: document.getElementById('report').textContent,
    messages: document.getElementById('messages').textContent,
    saves: [...document.querySelectorAll('a[download]')].map((a) => a.getAttribute('download')),
  }));
}

async function waitForFile(file) {
  for (let i = 0; i < 200; ++i) {
    if (fs.existsSync(file)) {
      const size = fs.statSync(file).size;
      await new Promise((done) => setTimeout(done, 50));
      if (fs.existsSync(file) && fs.statSync(file).size === size) return fs.readFileSync(file);
    }
    await new Promise((done) => setTimeout(done, 50));
  }
  throw new Error('not downloaded: ' + file);
}

async function main() {
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  let failures = 0;
  const check = async (name, body) => {
    try {
      await body();
      console.log('ok   ' + name);
    } catch (error) {
      ++failures;
      console.log('FAIL ' + name + '\n' + error.message);
    }
  };
  try {
    await check('the example kit: the report of headlink -n and the same outputs, byte for byte', async () => {
      const dir = kit();
      const expected = native(kit());
      assert.equal(expected.status, 0);
      const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-downloads-'));
      const { page, problems } = await openPage(browser, downloads);
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
      // cells marked with their old values; the picture of the links.
      await page.click('#jump');
      const grid = await page.evaluate(() => {
        const cell = (r, c) => document.querySelector(`#grid .grid-row[data-row="${r}"] [data-col="${c}"]`);
        return {
          added: [...document.querySelectorAll('#grid .grid-row.added')].map((row) => Number(row.dataset.row)),
          link: cell(40, 10) && [cell(40, 10).className, cell(40, 10).textContent, cell(40, 10).title],
          set: cell(40, 4) && [cell(40, 4).className, cell(40, 4).textContent, cell(40, 4).title],
          plain: cell(39, 4) && cell(39, 4).className,
          picture: document.getElementById('links-picture').textContent,
        };
      });
      assert.deepEqual(grid.added, [40, 41]);
      assert.deepEqual(grid.link, ['link', '30', 'was: 1']);
      assert.deepEqual(grid.set, ['set', 'tex_el_moon', 'was: tex_el_f']);
      assert.equal(grid.plain, '');
      assert.equal(grid.picture, 'portraits row 32 (32)names \u2192appearance row 40 (40), appearance row 41 (41)' +
        'name \u2192heads row 30 (30)');
      fs.mkdirSync(outDir, { recursive: true });
      await page.setViewport({ width: 1100, height: 1400 });
      await page.screenshot({ path: path.join(outDir, 'headlink-page.png'), fullPage: true });
      assert.deepEqual(problems, []);
      await page.close();
    });

    const failing = {
      'a missing script': { 'portraits.txt': null },
      'a malformed table': { 'heads.2da': fs.readFileSync(path.join(examples, 'heads.2da')).subarray(0, 200) },
      'a warning under --strict': { 'apphead3.txt': Buffer.from('1 0 elffemalemoonveil 5 ****\n') },
    };
    for (const [name, change] of Object.entries(failing)) {
      await check(name + ': the program\'s errors, nothing to save', async () => {
        const strict = name.includes('--strict');
        const dir = kit(change);
        const expected = spawnSync(exe, strict ? ['-n', '--strict'] : ['-n'], { cwd: dir, encoding: 'utf8' });
        assert.equal(expected.status, 1);
        const { page, problems } = await openPage(browser, fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-dl-')));
        if (strict) await page.click('#strict');
        const shown = await runOn(page, dir, fs.readdirSync(dir));
        assert.equal(shown.state, 'failed');
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
      await page.waitForSelector('#table-grid .grid-row');
      const shown = await page.evaluate(() => ({
        head: document.querySelector('#table-grid .grid-head > div:nth-child(2)').textContent,
        label: document.querySelector('#table-grid .grid-row > div:first-child').textContent,
        cells: [...document.querySelectorAll('#table-grid .grid-row > div[data-col]')].map((c) => c.textContent),
        images: document.images.length,
      }));
      assert.equal(shown.head, '0 ' + markup);
      assert.equal(shown.label, '0  </script>');
      assert.deepEqual(shown.cells, [markup, '<b>x</b>']);
      assert.equal(shown.images, 0);
      await new Promise((done) => setTimeout(done, 300));
      assert.deepEqual(problems, []);
      await page.close();
    });

    await check('an opened table keeps its cells through runs of the job, and its old save links are revoked',
      async () => {
        const dir = kit();
        const { page, problems } = await openPage(browser, os.tmpdir());
        await page.evaluateOnNewDocument(() => {
          window.revoked = [];
          const revoke = URL.revokeObjectURL.bind(URL);
          URL.revokeObjectURL = (url) => { window.revoked.push(url); revoke(url); };
        });
        await page.reload();
        await page.waitForFunction(() => window.headlink !== undefined);
        const tableFile = await page.$('#table-file');
        await tableFile.uploadFile(path.join(examples, 'heads.2da'));
        await page.waitForSelector('#table-saves a');
        const firstLinks = await page.$$eval('#table-saves a', (links) => links.map((a) => a.href));
        await tableFile.uploadFile(path.join(examples, 'portraits.2da'));
        await page.waitForFunction((old) => document.querySelector('#table-saves a').href !== old, {}, firstLinks[0]);
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
        await page.waitForFunction(() => document.body.dataset.state === 'failed' || document.body.dataset.state === 'done');
        assert.deepEqual(await lastRow(), before);
        const revoked = await page.evaluate(() => window.revoked);
        for (const url of firstLinks) assert.ok(revoked.includes(url), 'not revoked: ' + url);
        assert.deepEqual(problems, []);
        await page.close();
      });

    await check('two runs asked for at once: only the newer shows its result', async () => {
      const { page, problems } = await openPage(browser, os.tmpdir());
      await page.waitForFunction(() => window.headlink !== undefined);
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
        for (let i = 0; i < 200 && !['done', 'failed'].includes(document.body.dataset.state); ++i)
          await new Promise((done) => setTimeout(done, 50));
        await new Promise((done) => setTimeout(done, 300));
        return seen.filter((s) => s === 'done' || s === 'failed');
      }, kitFiles);
      assert.deepEqual(verdicts, ['done']);
      assert.deepEqual(problems, []);
      await page.close();
    });

    await check('a text-form table opened, checked and saved as binary: twoda build\'s bytes', async () => {
      const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-open-'));
      const text = path.join(examples, 'text', 'heads.2da');
      const built = path.join(downloads, 'expected.2da');
      execFileSync(twoda, ['build', text, built]);
      const { page, problems } = await openPage(browser, downloads);
      await (await page.$('#table-file')).uploadFile(text);
      await page.waitForSelector('#table-saves a[download="heads_binary.2da"]');
      const verdict = await page.$eval('#table-check', (pre) => pre.textContent);
      assert.equal(verdict, spawnSync(twoda, ['check', text], { encoding: 'utf8' }).stdout.replaceAll(text, 'heads.2da'));
      await page.click('#table-saves a[download="heads_binary.2da"]');
      assert.ok((await waitForFile(path.join(downloads, 'heads_binary.2da'))).equals(fs.readFileSync(built)));
      assert.deepEqual(problems, []);
      await page.close();
    });

    // The benchmarks' kits: from picking the files to the report and the
    // first screen of the grid, and scrolling the largest grid.
    for (const kind of ['realistic', 'largest']) {
      await check(`the ${kind} kit runs and its grid appears`, async () => {
        const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-kit-'));
        execFileSync(makeKit, [kind, dir]);
        const { page, problems } = await openPage(browser, dir);
        await page.waitForFunction(() => window.headlink !== undefined);
        const started = Date.now();
        const shown = await runOn(page, dir, kitNames);
        await page.waitForSelector('#grid .grid-row');
        const took = Date.now() - started;
        const inPage = await page.evaluate(() => document.body.dataset.took);
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
          scrolling = `, scrolling ${perScreen.toFixed(1)} ms a screen (two frames each)`;
        }
        console.log(`     ${kind} kit: ${inPage} ms in the page from the files to the report and the grid ` +
          `(${took} ms with the picker's upload)${scrolling}`);
        assert.deepEqual(problems, []);
        await page.close();
      });
    }

    await check('a near miss is named in the checklist and not taken', async () => {
      const dir = kit({ 'heads.2da': null });
      fs.copyFileSync(path.join(examples, 'heads.2da'), path.join(dir, 'Heads.2DA'));
      const { page, problems } = await openPage(browser, os.tmpdir());
      const shown = await runOn(page, dir, fs.readdirSync(dir));
      assert.equal(shown.state, 'failed');
      const item = await page.$eval('#checklist li.near', (li) => li.textContent);
      assert.match(item, /^heads\.2da: missing; you gave Heads\.2DA, which is not taken/);
      assert.deepEqual(problems, []);
      await page.close();
    });
  } finally {
    await browser.close();
  }
  console.log(failures === 0 ? 'page: every check passed' : `page: ${failures} checks failed`);
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
