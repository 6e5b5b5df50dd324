// The page in a real browser: Debian's Chromium, headless, driven through
// the file picker and the save links as a person uses them. Checks that the
// page does what the program does, byte for byte, that a failing kit offers
// nothing to save, and that no request leaves the page.
//   node tests/web/page_test.js HEADLINK_HTML HEADLINK_EXE EXAMPLES_DIR OUT_DIR
'use strict';
const assert = require('assert/strict');
const { execFileSync, spawnSync } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const puppeteer = require(path.join(__dirname, '../../web/node_modules/puppeteer-core'));

const [html, exe, examples, outDir] = process.argv.slice(2).map((p) => path.resolve(p));
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
      for (const name of outputs) {
        await page.click(`a[download="${name}"]`);
        assert.ok((await waitForFile(path.join(downloads, name))).equals(expected.written[name]), name + ' differs');
      }
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
