'use strict';
// Builds tests/js/support/xprobe.c once per test process, into a private temporary directory,
// and returns the path of the program. It is a separate X client: what it counts is what the
// server holds for the module's connection, seen from outside.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

let built;

function buildXProbe() {
  if (built) return built;
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'xprobe-'));
  const program = path.join(dir, 'xprobe');
  const flags = execFileSync('pkg-config', ['--cflags', '--libs', 'x11', 'xres', 'xfixes'], { encoding: 'utf8' })
    .trim().split(/\s+/).filter(Boolean);
  execFileSync('cc', ['-O2', '-Wall', '-o', program, path.join(__dirname, 'xprobe.c'), ...flags],
    { stdio: ['ignore', 'ignore', 'inherit'] });
  process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
  built = program;
  return program;
}

module.exports = { buildXProbe };
