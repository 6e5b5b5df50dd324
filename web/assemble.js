// Puts headlink.html together: page.html with page.css and one classic
// script (the WebAssembly module, then the page's parts in one closure)
// inlined, and a security policy that lets that script run by its hash and
// nothing load from anywhere. Usage: node assemble.js MODULE.js WEB_DIR OUT.html
'use strict';
const fs = require('fs');
const path = require('path');
const crypto = require('crypto');

const [moduleJs, webDir, out] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(webDir, name), 'utf8');
// The parts, each before those that use it.
const parts = ['codec.js', 'drafts.js', 'engine.js', 'words.js', 'state.js', 'grid.js', 'results.js', 'editors.js',
  'files.js', 'main.js'];
const page = "(function () {\n'use strict';\n" + parts.map(read).join('\n') + '})();\n';
// A script ending "</script>" would end the inline element early.
const script = (fs.readFileSync(moduleJs, 'utf8') + '\n' + page).replace(/<\/script/gi, '<\\/script');
const style = read('page.css');
const hashOf = (text) => crypto.createHash('sha256').update(text, 'utf8').digest('base64');
const policy = [
  "default-src 'none'",
  // Neither falls back to default-src: without them a <base> or a form
  // could still send the page's data somewhere.
  "base-uri 'none'",
  "form-action 'none'",
  `script-src 'sha256-${hashOf(script)}' 'wasm-unsafe-eval'`,
  `style-src 'sha256-${hashOf(style)}'`,
  // The module fetches its own WebAssembly from the data: URL it carries;
  // a data: URL is no request to anywhere, and nothing else may connect.
  'connect-src data:',
].join('; ');
const html = read('page.html')
  .replace('@POLICY@', () => policy)
  .replace('@STYLE@', () => style)
  .replace('@SCRIPT@', () => script);
fs.writeFileSync(out, html);
