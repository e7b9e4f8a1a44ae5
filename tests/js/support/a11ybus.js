'use strict';
// A private session bus with the accessibility bus's launcher on it, for one X display: the
// launcher publishes the accessibility bus on the root window (AT_SPI_BUS), and that bus starts
// the registry when the first application registers.
//
//   const bus = await startAccessibilityBus(display);   // bus.env: DISPLAY and the session bus
//   await bus.stop();
//
// stop() ends what was started, by pid: the registry (the accessibility bus names its pid: it
// runs detached), the launcher's children (the accessibility bus), the launcher, the session
// bus; and it removes the root's property, so that later showings on the same display find no
// bus.
const { spawn, execFileSync } = require('node:child_process');
const { xrun } = require('./xserver');

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The sanitized test run preloads the ASan runtime into every child it starts; the buses and the
// screen reader's side are not ours to check, and hang with it.
function plainEnv(extra = {}) {
  const env = { ...process.env, ...extra };
  delete env.LD_PRELOAD;
  delete env.ASAN_OPTIONS;
  return env;
}

function descendants(pid) {
  let children = [];
  try {
    children = execFileSync('ps', ['-o', 'pid=', '--ppid', String(pid)], { encoding: 'utf8', env: plainEnv() })
      .split('\n').map((line) => Number(line.trim())).filter(Boolean);
  } catch { /* none */ }
  return children.flatMap((child) => [child, ...descendants(child)]);
}

const alive = (pid) => { try { process.kill(pid, 0); return true; } catch { return false; } };

// Children before their parents, each waited for, so that every one is reaped by its own
// parent rather than left to init.
async function end(pids) {
  for (const pid of [...pids].reverse()) {
    try { process.kill(pid, 'SIGTERM'); } catch { continue; }
    for (let i = 0; i < 100 && alive(pid); ++i) await sleep(20);
    try { process.kill(pid, 'SIGKILL'); } catch { /* gone */ }
  }
}

async function startAccessibilityBus(display) {
  const session = spawn('dbus-daemon', ['--session', '--nofork', '--print-address'],
    { stdio: ['ignore', 'pipe', 'ignore'], env: plainEnv() });
  const address = await new Promise((resolve, reject) => {
    let text = '';
    session.stdout.on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) resolve(text.split('\n')[0].trim());
    });
    session.once('exit', () => reject(new Error('the session bus did not start')));
  });
  const env = { DISPLAY: display, DBUS_SESSION_BUS_ADDRESS: address };
  const launcher = spawn('/usr/libexec/at-spi-bus-launcher', ['--launch-immediately'],
    { stdio: 'ignore', env: plainEnv(env) });
  let address11y = '';
  const registry = () => {
    try {
      const reply = execFileSync('dbus-send', [`--bus=${address11y}`, '--print-reply', '--dest=org.freedesktop.DBus',
        '/org/freedesktop/DBus', 'org.freedesktop.DBus.GetConnectionUnixProcessID', 'string:org.a11y.atspi.Registry'],
      { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'], env: plainEnv() });
      return [Number(/uint32 (\d+)/.exec(reply)[1])];
    } catch {
      return [];  // never started
    }
  };
  const stop = async () => {
    if (address11y) await end(registry());
    await end([...descendants(launcher.pid), launcher.pid]);
    await end([...descendants(session.pid), session.pid]);
    await xrun(display, 'xprop', ['-root', '-remove', 'AT_SPI_BUS']).catch(() => {});
  };
  for (let i = 0; i < 250; ++i) {
    const root = await xrun(display, 'xprop', ['-root', 'AT_SPI_BUS']).catch(() => '');
    const published = /"(unix:[^"]+)"/.exec(root);
    if (published) {
      address11y = published[1];
      return { env, stop };
    }
    await sleep(20);
  }
  await stop();
  throw new Error('the accessibility bus did not come up');
}

module.exports = { startAccessibilityBus };
