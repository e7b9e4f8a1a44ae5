'use strict';
// Both backends in one run: the layer-shell indicator on sway headless beside the X11 indicator
// on a private Xorg dummy server, each driven through ScreenShareIndicator in a process of its
// own. For each: the first show of the process (to shown), then the medians of a warm show (to
// shown) and of a hide over `cycles` showings, and the process's descriptors and RSS before and
// after `leakCycles` more. A program to run and read, not a test:
//
//   node bench/backends.js [cycles] [leakCycles]       (as root; build the add-on first)
const { fork } = require('node:child_process');
const path = require('node:path');
const { startXServer, singleMonitor } = require(path.join(__dirname, '..', 'tests', 'js', 'support', 'xserver'));
const { startSway } = require(path.join(__dirname, '..', 'tests', 'js', 'support', 'wayland'));

const cycles = Number(process.argv[2] || 200);
const leakCycles = Number(process.argv[3] || 1000);

if (process.argv[2] === '--side') {
  const fs = require('node:fs');
  const { ScreenShareIndicator } = require(path.join(__dirname, '..', 'lib'));
  const indicator = new ScreenShareIndicator();
  const usage = () => ({ fds: fs.readdirSync('/proc/self/fd').length, rssKb: Math.round(process.memoryUsage().rss / 1024) });
  const median = (values) => values.sort((a, b) => a - b)[values.length >> 1];
  const showHide = async () => {
    const start = process.hrtime.bigint();
    await indicator.show(0);
    const shown = Number(process.hrtime.bigint() - start) / 1e6;
    const hideStart = process.hrtime.bigint();
    indicator.hide();
    return [shown, Number(process.hrtime.bigint() - hideStart) / 1e6];
  };
  process.once('message', async ({ cycles: n, leakCycles: m }) => {
    const [first] = await showHide();
    const shows = [];
    const hides = [];
    for (let i = 0; i < n; ++i) {
      const [shown, hidden] = await showHide();
      shows.push(shown);
      hides.push(hidden);
    }
    const before = usage();
    for (let i = 0; i < m; ++i) await showHide();
    process.send({ backend: indicator.backend, first, show: median(shows), hide: median(hides), before, after: usage() });
    indicator.close();
    process.disconnect();
  });
} else {
  const side = (env) => new Promise((resolve, reject) => {
    const child = fork(__filename, ['--side'], { env: { ...process.env, ...env }, stdio: ['ignore', 'ignore', 'inherit', 'ipc'] });
    child.once('message', resolve);
    child.once('exit', (code) => reject(new Error(`side ended: ${code}`)));
    child.send({ cycles, leakCycles });
  });
  const line = (r) => `${r.backend.padEnd(8)} first ${r.first.toFixed(1)} ms, warm show ${r.show.toFixed(2)} ms, ` +
    `hide ${r.hide.toFixed(2)} ms (medians of ${cycles}); after ${leakCycles} more: ` +
    `fds ${r.before.fds} -> ${r.after.fds}, RSS ${r.before.rssKb} -> ${r.after.rssKb} kB`;
  (async () => {
    const server = await startXServer('xorg');
    const sway = await startSway();
    try {
      await singleMonitor(server.display);
      const env = { WAYLAND_DISPLAY: '', SCREEN_SHARE_INDICATOR_BACKEND: 'x11' };
      console.log(line(await side({ ...env, DISPLAY: server.display })));
      if (!sway) throw new Error('sway did not start');
      console.log(line(await side({ DISPLAY: sway.display, WAYLAND_DISPLAY: sway.env.WAYLAND_DISPLAY })));
    } finally {
      await sway?.stop();
      await server.stop();
    }
  })();
}
