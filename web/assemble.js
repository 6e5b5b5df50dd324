// Puts headlink.html together: page.html with page.css and one classic
// script (the WebAssembly module, then the page's ES modules) inlined, and
// a security policy that lets that script run by its hash and nothing load
// from anywhere. A page opened from disk may not load a module from beside
// it, so the modules are joined here: each in import order (a module
// after those it imports), in a function of its own that gets what it
// imports and returns what it exports, as a module would.
// Usage: node assemble.js MODULE.js WEB_DIR OUT.html
'use strict';
const fs = require('fs');
const path = require('path');
const crypto = require('crypto');

const [moduleJs, webDir, out] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(webDir, name), 'utf8');

// The one form of import the modules use, and the declarations they export.
const importLine = /^import \{([^}]*)\} from '\.\/([\w-]+\.js)';$/;
const exportLine = /^export ((?:async )?(?:function\*?|const|let|class)) ([A-Za-z_$][\w$]*)/;
const modules = new Map();  // by file, in import order
function add(file, from) {
  if (modules.has(file)) {
    if (modules.get(file) === null) throw new Error(`${file}: imported in a circle, from ${from}`);
    return;
  }
  modules.set(file, null);  // being read
  const imports = [], exports = [], body = [];
  for (const line of read(file).split('\n')) {
    const imported = importLine.exec(line);
    const exported = exportLine.exec(line);
    if (imported) imports.push({ names: imported[1].trim(), from: imported[2] });
    else if (/^\s*(import|export)\b/.test(line) && !exported) throw new Error(`${file}: an import or export not of the usual form: ${line}`);
    if (exported) exports.push(exported[2]);
    if (!imported) body.push(exported ? line.slice('export '.length) : line);
  }
  for (const { from } of imports) add(from, file);
  modules.delete(file);
  modules.set(file, { imports, exports, body });
}
add('main.js', 'the page');
const nameOf = (file) => 'module_' + file.replace(/\W/g, '_');
const joined = [...modules].map(([file, { imports, exports, body }]) =>
  `// ${file}\nconst ${nameOf(file)} = (() => {\n` +
  imports.map(({ names, from }) => `const { ${names} } = ${nameOf(from)};\n`).join('') +
  body.join('\n') + `\nreturn { ${exports.join(', ')} };\n})();\n`).join('\n');
const page = "(function () {\n'use strict';\n" + joined + '})();\n';
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
