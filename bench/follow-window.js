'use strict';
// How fast the frame of a window showing follows its window, on a private Xorg dummy server
// without a window manager: bench/follow-window.c moves and resizes its own window and times
// each change from the ConfigureNotify of its window to that of the frame, both seen on its own
// connection. A program to run and read:
//
//   node bench/follow-window.js [changes of each kind]
const { execFileSync, spawn } = require('node:child_process');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { startXServer, singleMonitor } = require(path.join(__dirname, '..', 'tests', 'js', 'support', 'xserver'));

const count = Number(process.argv[2] || 100);

(async () => {
  const program = path.join(os.tmpdir(), `follow-window-${process.pid}`);
  execFileSync('cc', ['-O2', '-Wall', '-Wextra', '-o', program, path.join(__dirname, 'follow-window.c'), '-lX11']);
  const server = await startXServer('xorg');
  await singleMonitor(server.display);
  process.env.DISPLAY = server.display;
  const { NativeUIWrapper } = require(path.join(__dirname, '..', 'build', 'Release', 'nativeUIWrapper.node'));
  const ui = new NativeUIWrapper();
  let frame = null;
  const shown = new Promise((resolve) => {
    ui.registerLogCallback((level, text) => {
      const match = /^Created border window: (0x[0-9A-F]+)/.exec(text);
      if (match) frame = match[1];
    });
    ui.registerShowControlBarCallback(resolve);
  });
  const observer = spawn(program, [String(count)], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = readline.createInterface({ input: observer.stdout })[Symbol.asyncIterator]();
  const window = (await lines.next()).value;
  ui._internal_showWindow(Number(window));
  await shown;
  observer.stdin.write(`${frame}\n`);
  console.log(`frame follows its window, ms from the window's ConfigureNotify to the frame's (${count} each):`);
  for (let i = 0; i < 2; i++) {
    const [kind, median, max] = (await lines.next()).value.split(' ');
    console.log(`  ${kind.padEnd(7)} median ${median}  max ${max}`);
  }
  ui.hideControlBar();
  await server.stop();
  process.exit(0);
})().catch((error) => { console.error(error); process.exit(1); });
