// A script's bytes and the text its editor shows, each way, so that an
// edit changes only what was typed. A script is UTF-8 when its bytes are,
// else Windows-1252 (what such scripts are written in, as the game's
// tables are): browsers decode that but cannot encode it, hence the table
// of 0x80-0x9F. A plain-ASCII script takes typed characters as
// Windows-1252 too. Its line ending (a textarea gives LF) and a UTF-8
// byte-order mark are put back. UTF-16 is only shown.
const cp1252 = [0x20AC, 0x81, 0x201A, 0x192, 0x201E, 0x2026, 0x2020, 0x2021, 0x2C6, 0x2030, 0x160, 0x2039, 0x152,
  0x8D, 0x17D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x2DC, 0x2122, 0x161, 0x203A,
  0x153, 0x9D, 0x17E, 0x178];
const utf8 = new TextEncoder();
export const plainForm = { encoding: 'windows-1252', eol: '\n', bom: false };
// {text, form}: the text an editor shows, and how to make the bytes again;
// `wide` is the byte order of a script saved as UTF-16 ('utf-16le',
// 'utf-16be'), as the engine tells it, or ''.
export function decodeScript(bytes, wide) {
  if (wide) return { text: new TextDecoder(wide).decode(bytes), form: { encoding: 'utf-16', eol: '\n', bom: false } };
  const bom = bytes[0] === 0xEF && bytes[1] === 0xBB && bytes[2] === 0xBF;
  const body = bom ? bytes.subarray(3) : bytes;
  let text = null, encoding = 'utf-8';
  if (!bom && !body.some((b) => b >= 0x80)) {
    encoding = 'windows-1252';
  } else {
    try {
      text = new TextDecoder('utf-8', { fatal: true, ignoreBOM: true }).decode(body);
    } catch (error) {
      encoding = 'windows-1252';
    }
  }
  if (text === null) text = Array.from(body, (b) => String.fromCharCode(b >= 0x80 && b < 0xA0 ? cp1252[b - 0x80] : b)).join('');
  // CR LF only when every line ends so; a lone CR is shown as a line break anyway.
  const eol = /\r\n/.test(text) && !/[^\r]\n|^\n/.test(text) ? '\r\n' : '\n';
  return { text: text.replace(/\r\n?/g, '\n'), form: { encoding, eol, bom } };
}
// A character's bytes in the script's encoding (a line break's in its
// line ending), or null when the encoding cannot hold it.
function charBytes(char, form) {
  if (char === '\n') return form.eol === '\r\n' ? [13, 10] : [10];
  if (form.encoding === 'utf-8') return [...utf8.encode(char)];
  const code = char.codePointAt(0);
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return [code];
  const at = cp1252.indexOf(code);
  return at >= 0 ? [0x80 + at] : null;
}
// {bytes, bad}: the text's bytes, and where the encoding cannot hold a
// character ({line, char}; a "?" stands in for it in `bytes`).
export function encodeScript(text, form) {
  if (plainlyEncoded(text, form)) return { bytes: encodedNatively(text, form), bad: [] };
  const bytes = form.bom ? [0xEF, 0xBB, 0xBF] : [];
  const bad = [];
  let line = 1;
  for (const char of text) {
    const own = charBytes(char, form);
    if (own === null) bad.push({ line, char });
    for (const b of own || [0x3F]) bytes.push(b);
    if (char === '\n') ++line;
  }
  return { bytes: new Uint8Array(bytes), bad };
}
// Text the browser's own encoder writes as the script's encoding would:
// any text in UTF-8, plain ASCII in Windows-1252. The common case, and
// at native speed, which a long script needs at every keystroke.
const plainlyEncoded = (text, form) => form.encoding === 'utf-8' || (form.encoding === 'windows-1252' && /^[\x00-\x7f]*$/.test(text));
function encodedNatively(text, form) {
  const body = utf8.encode(form.eol === '\r\n' ? text.replace(/\n/g, '\r\n') : text);
  if (!form.bom) return body;
  const bytes = new Uint8Array(body.length + 3);
  bytes.set([0xEF, 0xBB, 0xBF]);
  bytes.set(body, 3);
  return bytes;
}
// Where the encoding cannot hold a character of the text ({line, char}), as encodeScript says.
export const unwritableIn = (text, form) => (plainlyEncoded(text, form) ? [] : encodeScript(text, form).bad);
// A caret (an index into the text) as a byte offset into the script's bytes, and back.
export function byteOffset(text, index, form) {
  const before = text.slice(0, index);
  if (plainlyEncoded(before, form)) return encodedNatively(before, form).length;
  let offset = form.bom ? 3 : 0;
  for (const char of before) offset += (charBytes(char, form) || [0]).length;
  return offset;
}
export function textIndex(text, offset, form) {
  let at = form.bom ? 3 : 0, index = 0;
  for (const char of text) {
    if (at >= offset) break;
    at += (charBytes(char, form) || [0]).length;
    index += char.length;
  }
  return index;
}
// The bytes of a script as it stands: the file's own until edited; null when missing.
export function scriptBytes(entry) {
  if (!entry.edited) return entry.given;
  const encoded = encodeScript(entry.text, entry.form);
  if (encoded.bad.length > 0) throw new Error(cannotHold(encoded.bad[0], entry.form));
  return encoded.bytes;
}
export const cannotHold = (bad, form) => 'line ' + bad.line + ': "' + bad.char + '" cannot be written in ' +
  (form.encoding === 'utf-8' ? 'UTF-8' : 'Windows-1252') + ', the encoding of this script: type another character';
