'use strict';
// The TypeScript declarations: a user's example of both APIs type-checks, and the mistakes
// listed in tests/types/misuse.ts are refused (each carries @ts-expect-error, so a declaration
// that became too loose fails the check as surely as one that became wrong).
const test = require('node:test');
const assert = require('node:assert/strict');
const { execFile } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '..', '..');
const tsc = path.join(root, 'node_modules', '.bin', 'tsc');

test('tsc --noEmit accepts the example and refuses the misuses', { timeout: 120000 }, async (t) => {
  if (!fs.existsSync(tsc)) {
    t.skip('TypeScript is not installed (node_modules/.bin/tsc is missing): run "npm ci"');
    return;
  }
  const result = await new Promise((resolve) => {
    execFile(tsc, ['--noEmit', '-p', 'tests/types'], { cwd: root, timeout: 110000 },
      (error, stdout, stderr) => resolve({ code: error ? error.code ?? error.signal : 0, stdout, stderr }));
  });
  assert.equal(result.code, 0, `tsc reported:\n${result.stdout}${result.stderr}`);
});
