// The page in real browsers: Debian's Chromium and Firefox ESR, headless,
// driven through the file picker, drops, the keyboard and the save links as
// a person uses them. Checks that the page does what the program does, byte
// for byte, that a failing kit offers nothing to save, and that no request
// leaves the page. A drop, a folder pick and a file changed after picking
// are tried in Chromium only: the driver cannot cause them in Firefox.
//   node tests/web/page_test.js HEADLINK_HTML HEADLINK_EXE EXAMPLES_DIR OUT_DIR TWODA_EXE MAKE_KIT_EXE
// It also prints how long the page takes on the benchmarks' kits: measured,
// never asserted.
'use strict';
const { audits, launch } = require('./harness');

// The checks, by subject, in the order they run.
const groups = ['job', 'speed', 'writing', 'drafts', 'game'].map((name) => require('./checks_' + name));

async function main() {
  let failures = 0;
  for (const kind of (process.env.BROWSERS || 'chromium,firefox').split(',')) {
    const started = Date.now();
    const browser = await launch(kind);
    browser.kind = kind;
    const check = async (name, body) => {
      if (process.env.ONLY && !name.includes(process.env.ONLY)) return;  // ONLY=words: the checks so named
      audits.checkName = name;
      try {
        await body();
        console.log(`ok   ${kind}: ${name}`);
      } catch (error) {
        ++failures;
        console.log(`FAIL ${kind}: ${name}\n${error.stack || error.message}`);
      }
    };
    try {
      await checks(browser, kind, check);
    } finally {
      await browser.close();
    }
    console.log(`     ${kind}: ${((Date.now() - started) / 1000).toFixed(1)} s for every check; axe-core and the ` +
      `borders audited ${audits.states} states at 1500 and 420 px`);
    for (const [rule, where] of audits.review)
      console.log(`     ${kind}: axe-core leaves for review: ${rule}: ${[...where].join(' | ')}`);
    audits.states = 0;
    audits.review.clear();
  }
  console.log(failures === 0 ? 'page: every check passed' : `page: ${failures} checks failed`);
  process.exit(failures === 0 ? 0 : 1);
}

async function checks(browser, kind, check) {
  for (const group of groups) await group(browser, kind, check);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
