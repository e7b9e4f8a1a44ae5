'use strict';
// Writes a cursor theme of our own, so that the module's cursors come from files whose
// pictures the tests know (a machine may have no theme at all, and then no cursor would ever be
// created and none could leak). Each cursor is one solid square in the Xcursor file format:
// a file header, a table of contents with one image entry, and the image chunk, all
// little-endian 32-bit fields.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const IMAGE_TYPE = 0xfffd0002;

function xcursorFile({ size, xhot, yhot, pixel }) {
  const fields = [
    0x72756358, 16, 0x10000, 1,                 // "Xcur", header size, version, one entry
    IMAGE_TYPE, size, 28,                       // the entry: type, nominal size, file offset
    36, IMAGE_TYPE, size, 1, size, size, xhot, yhot, 0,  // chunk header: ..., delay
  ];
  const buffer = Buffer.alloc((fields.length + size * size) * 4);
  fields.forEach((value, i) => buffer.writeUInt32LE(value, i * 4));
  for (let i = 0; i < size * size; ++i) buffer.writeUInt32LE(pixel, (fields.length + i) * 4);
  return buffer;
}

// cursors: { name: { size, xhot, yhot, pixel } }. Resolves to the environment that makes
// libXcursor use the theme: XCURSOR_PATH and XCURSOR_THEME.
function makeCursorTheme(cursors, theme = 'reliability') {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'cursors-'));
  fs.mkdirSync(path.join(dir, theme, 'cursors'), { recursive: true });
  for (const [name, picture] of Object.entries(cursors)) {
    fs.writeFileSync(path.join(dir, theme, 'cursors', name), xcursorFile(picture));
  }
  process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
  return { XCURSOR_PATH: dir, XCURSOR_THEME: theme };
}

module.exports = { makeCursorTheme };
