// What the page checks share: the kits and the program to compare with,
// a browser and a page opened on headlink.html, waiting on what the page
// says, typing, and the accessibility audit of every state a check reaches.
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
    execFileSync(exe, [], { cwd: dir, stdio: 'pipe' });
    for (const name of outputs) written[name] = fs.readFileSync(path.join(dir, name));
  }
  return { status: dry.status, stdout: dry.stdout, stderr: dry.stderr, given, written };
}

// Waits until `test` (run in the page, given `arg`) is true, polling from
// here: Firefox ESR 140 holds the driver's own waiting functions to the
// page's security policy, which forbids building a function from text.
async function waitFor(page, test, arg, timeout = 60000) {
  for (const end = Date.now() + timeout; ;) {
    if (await page.evaluate(test, arg)) return;
    if (Date.now() > end) throw new Error('timed out waiting for ' + test.toString());
    await new Promise((done) => setTimeout(done, 50));
  }
}
// Firefox ESR 140 cannot override the screen orientation, which the driver
// asks for beside the viewport: the viewport is set all the same.
async function setViewport(page, viewport) {
  // Remembered here: where the browser lacks the orientation command,
  // puppeteer throws before it records the size, and page.viewport()
  // would give its default.
  page.sizeAsked = viewport;
  try {
    await page.setViewport(viewport);
  } catch (error) {
    if (!String(error.message).includes('setScreenOrientationOverride')) throw error;
    await waitFor(page, ([width, height]) => window.innerWidth === width && window.innerHeight === height,
      [viewport.width, viewport.height], 5000);
  }
}
const waitForSelector = (page, selector) => waitFor(page, (s) => document.querySelector(s) !== null, selector);

// Every state a check reaches is audited: axe-core's rules at a wide and
// a narrow width, and, as axe does not measure them, the contrast of the
// borders and frames that mark a control (3:1 at least against what is
// behind them). Violations fail the check; what axe leaves for review is
// gathered by rule and printed once per browser.
const axeSource = fs.readFileSync(path.join(__dirname, '../../web/node_modules/axe-core/axe.min.js'), 'utf8');
const audits = { states: 0, review: new Map(), checkName: '' };

function bordersTooFaint() {
  const rgb = (color) => { const v = color.match(/[\d.]+/g).map(Number); return v.length > 3 ? v : [...v, 1]; };
  const luminance = ([r, g, b]) => [r, g, b].map((v) => v / 255).map((v) => (v <= 0.03928 ? v / 12.92
    : ((v + 0.055) / 1.055) ** 2.4)).reduce((sum, v, i) => sum + v * [0.2126, 0.7152, 0.0722][i], 0);
  const ratio = (a, b) => { const [x, y] = [luminance(a), luminance(b)].sort((p, q) => q - p); return (x + 0.05) / (y + 0.05); };
  // What is behind an element: the first ancestor with a background that is not transparent.
  const behind = (item) => {
    for (let e = item; e; e = e.parentElement) { const color = rgb(getComputedStyle(e).backgroundColor); if (color[3] > 0) return color; }
    return [255, 255, 255, 1];
  };
  const faint = [];
  const marks = document.querySelectorAll('textarea, button, select, .drop, .grid, .columns, .grid .set, .grid .link');
  for (const item of marks) {
    if (item.getClientRects().length === 0) continue;  // not shown
    const style = getComputedStyle(item);
    // A marked cell's grid lines are the grid's, not its mark.
    const lines = item.matches('.set, .link') ? [] : ['Top', 'Right', 'Bottom', 'Left'].filter((side) => parseFloat(style['border' + side + 'Width']) > 0 &&
      style['border' + side + 'Style'] !== 'none').map((side) => style['border' + side + 'Color']);
    // A frame drawn inside a marked cell lies on the cell's own background; a focus ring is the browser's.
    if (style.outlineStyle !== 'none' && parseFloat(style.outlineWidth) > 0 && !item.matches(':focus')) lines.push(style.outlineColor);
    const base = item.matches('.set, .link') ? behind(item) : behind(item.parentElement);
    for (const line of lines) {
      const contrast = ratio(rgb(line), base);
      if (contrast < 3) faint.push(`${item.id || item.className || item.tagName}: ${line} on rgb(${base.slice(0, 3)}), ${contrast.toFixed(2)}:1`);
    }
  }
  return faint;
}

async function audit(page) {
  const viewport = page.sizeAsked || page.viewport() || { width: 800, height: 600 };
  const found = [];
  for (const width of [1500, 420]) {
    await setViewport(page, { width, height: 900 });
    if (!(await page.evaluate(() => window.axe !== undefined))) await page.evaluate(axeSource);
    const seen = await page.evaluate(async () => {
      const result = await window.axe.run(document, { resultTypes: ['violations', 'incomplete'] });
      const named = (rule) => ({ id: rule.id, nodes: rule.nodes.map((node) => node.target.join(' ') + ': ' +
        node.any.concat(node.all, node.none).map((c) => c.message).join('; ')) });
      return { violations: result.violations.map(named), review: result.incomplete.map(named) };
    });
    for (const rule of seen.violations) found.push(`${width} px: ${rule.id}: ${rule.nodes.join(' | ')}`);
    for (const faint of await page.evaluate(bordersTooFaint)) found.push(`${width} px: a faint border: ${faint}`);
    for (const rule of seen.review) {
      const where = audits.review.get(rule.id) || new Set();
      for (const node of rule.nodes) where.add(node.replace(/#(table-)?grid-\d+-\w+/, '#$1grid-R-C'));
      audits.review.set(rule.id, where);
    }
  }
  ++audits.states;
  await setViewport(page, viewport);
  assert.deepEqual(found, [], 'accessibility in "' + audits.checkName + '"');
}

// Firefox saves where its preferences say, for the whole browser.
const firefoxDownloads = fs.mkdtempSync(path.join(os.tmpdir(), 'headlink-firefox-dl-'));

function launch(kind) {
  if (kind === 'firefox')
    return puppeteer.launch({ browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true,
      extraPrefsFirefox: { 'browser.download.dir': firefoxDownloads, 'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true, 'browser.download.always_ask_before_handling_new_types': false } });
  return puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// A new page on headlink.html; what it saves lands in `downloads` (in
// Firefox, in the browser's one folder, emptied first). Drafts an earlier
// check left in the browser are cleared unless `keepDrafts`.
async function openPage(browser, downloads, before, keepDrafts = false) {
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
  if (browser.kind === 'firefox') {
    for (const name of fs.readdirSync(firefoxDownloads)) fs.rmSync(path.join(firefoxDownloads, name));
    downloads = firefoxDownloads;
  } else {
    const cdp = await page.createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  }
  if (before) await page.evaluateOnNewDocument(before);
  // The state a page is left in is audited as it closes.
  const close = page.close.bind(page);
  page.close = async (options) => {
    if (!page.isClosed()) await audit(page);
    return close(options);
  };
  await page.goto(url);
  await waitFor(page, () => window.headlinkTimings !== undefined);
  if (!keepDrafts && await page.evaluate(() => localStorage.length > 0)) {
    await page.evaluate(() => localStorage.clear());
    await page.reload();
    await waitFor(page, () => window.headlinkTimings !== undefined);
  }
  return { page, problems, downloads };
}

// Gives the page the files of `dir` through its picker and waits for the verdict.
async function runOn(page, dir, files) {
  const input = await page.$('#files');
  await input.uploadFile(...files.map((name) => path.join(dir, name)));
  await waitFor(page, () => ['done', 'failed', 'waiting'].includes(document.body.dataset.state));
  await audit(page);
  return page.evaluate(() => ({
    state: document.body.dataset.state,
    report: document.getElementById('report').textContent,
    status: document.getElementById('status').textContent,
    messages: document.getElementById('messages').textContent,
    saves: [...document.querySelectorAll('#save-links a[download]')].map((a) => a.getAttribute('download')),
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

// Types `text` at the end of a script's editor, a key at a time, waiting
// for the run each key starts; the page's own timing of each, in ms.
async function typeTimed(page, script, text) {
  await page.click(`[data-script="${script}"]`);
  await page.keyboard.down('Control');
  await page.keyboard.press('End');
  await page.keyboard.up('Control');
  const times = [];
  for (const key of text) {
    const runs = await page.evaluate(() => window.headlinkTimings.runs);
    await page.keyboard.type(key);
    await waitFor(page, (before) => window.headlinkTimings.runs > before, runs);
    times.push(await page.evaluate(() => window.headlinkTimings.keystroke));
  }
  return times;
}
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// Typing is taken once a frame: this waits until what was typed has run.
const typingTaken = (page) => page.evaluate(() => new Promise((done) => requestAnimationFrame(() => setTimeout(done, 0))));

// Replaces what a script's editor holds by typing `text` into it.
async function typeScript(page, script, text) {
  await page.click(`[data-script="${script}"]`);
  await page.evaluate((s) => document.querySelector(`[data-script="${s}"]`).select(), script);
  await page.keyboard.press('Backspace');
  if (text !== '') await page.keyboard.type(text);
  await typingTaken(page);
}
const verdict = (page) => waitFor(page, () => ['done', 'failed', 'waiting'].includes(document.body.dataset.state));

module.exports = {
  assert, execFileSync, spawnSync, fs, os, path, puppeteer, html, exe, examples, outDir, twoda, makeKit,
  kitNames, outputs, kit, native, waitFor, setViewport, waitForSelector, axeSource, audits, bordersTooFaint,
  audit, firefoxDownloads, launch, openPage, runOn, waitForFile, typeTimed, median, typingTaken, typeScript,
  verdict
};
