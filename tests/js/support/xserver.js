'use strict';
// Starts private X servers through tests/rig/xserver and lays out their monitors.
//
//   const server = await startXServer('xorg');      // or 'xvfb', ['1920x1080x24'], ...
//   await singleMonitor(server.display);             // DUMMY0 1920x1080 at 0,0
//   await sideBySide(server.display);                // + DUMMY1 1280x1024 at 1920,0
//   const wm = await startOpenbox(server.display);   // optional window manager
//   await wm.stop(); await server.stop();
//
// The rig execs the server, so the spawned pid is the server itself; it also dies with this
// process (parent-death signal) if a test crashes before stop().
const { spawn, execFile } = require('node:child_process');
const path = require('node:path');

const rig = path.join(__dirname, '..', '..', 'rig', 'xserver');
const started = new Set();

process.on('exit', () => {
  for (const child of started) child.kill('SIGKILL');
});

function waitForExit(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  return new Promise((resolve) => child.once('exit', () => resolve()));
}

function track(child) {
  started.add(child);
  child.once('exit', () => started.delete(child));
  return async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
    await waitForExit(child);
  };
}

// kind: 'xvfb', 'xvfb-nocomposite' or 'xorg'; args go to the rig (geometries, server options).
// Resolves to { display: ':N', pid, stop() } once the server accepts connections.
function startXServer(kind = 'xvfb', args = [], { timeoutMs = 30000 } = {}) {
  const child = spawn(rig, [kind, ...args], { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const stop = track(child);
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => fail(new Error(`X server (${kind}) did not come up`)), timeoutMs);
    const fail = (error) => {
      clearTimeout(timer);
      stop().then(() => reject(error));
    };
    child.once('error', fail);
    child.once('exit', (code, signal) =>
      fail(new Error(`X server (${kind}) ended before it was ready: ${code ?? signal}`)));
    child.stdio[3].on('data', (chunk) => {
      text += chunk.toString();
      const newline = text.indexOf('\n');
      if (newline < 0) return;
      clearTimeout(timer);
      child.removeAllListeners('exit');
      child.stdio[3].destroy();
      resolve({ display: `:${text.slice(0, newline).trim()}`, pid: child.pid, stop });
    });
  });
}

// Runs an X client against display; resolves to its standard output.
function xrun(display, command, args, { timeoutMs = 20000 } = {}) {
  return new Promise((resolve, reject) => {
    execFile(command, args, { env: { ...process.env, DISPLAY: display }, timeout: timeoutMs },
      (error, stdout, stderr) => {
        if (error) reject(new Error(`${command} ${args.join(' ')}: ${error.message} ${stderr}`));
        else resolve(stdout);
      });
  });
}

const xrandr = (display, ...args) => xrun(display, 'xrandr', args);

// Dummy-driver layouts (the 'xorg' server). Every other output is switched off.
async function layout(display, outputs) {
  const query = await xrandr(display, '--query');
  const names = [...query.matchAll(/^(DUMMY\d+) /gm)].map((m) => m[1]);
  for (const { output, mode } of outputs) {
    if (!new RegExp(`^${output} [^\\n]*\\n(?:\\s+.*\\n)*?\\s+${mode} `, 'm').test(query)) {
      await xrandr(display, '--addmode', output, mode);
    }
  }
  const args = [];
  for (const name of names) {
    const wanted = outputs.find((o) => o.output === name);
    if (wanted) args.push('--output', name, '--mode', wanted.mode, '--pos', wanted.pos);
    else args.push('--output', name, '--off');
  }
  await xrandr(display, ...args);
}

const singleMonitor = (display) =>
  layout(display, [{ output: 'DUMMY0', mode: '1920x1080', pos: '0x0' }]);

const sideBySide = (display) =>
  layout(display, [
    { output: 'DUMMY0', mode: '1920x1080', pos: '0x0' },
    { output: 'DUMMY1', mode: '1280x1024', pos: '1920x0' },
  ]);

// Starts openbox on display and resolves once it manages the screen (it has published
// _NET_SUPPORTING_WM_CHECK on the root window).
async function startOpenbox(display, { args = [], timeoutMs = 20000 } = {}) {
  const child = spawn('openbox', args, {
    stdio: 'ignore',
    env: { ...process.env, DISPLAY: display },
  });
  const stop = track(child);
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const root = await xrun(display, 'xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']).catch(() => '');
    if (/window id/.test(root)) return { pid: child.pid, stop };
    if (child.exitCode !== null || Date.now() > deadline) {
      await stop();
      throw new Error('openbox did not come up');
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// A window manager or compositor on display, in a process group of its own that stop() ends (a
// dbus-run-session simply killed leaves its bus running); null unless ready() holds within 20 s.
async function startDesktop(display, command, args, ready) {
  const child = spawn(command, args, { stdio: 'ignore', detached: true, env: { ...process.env, DISPLAY: display } });
  const end = track(child.once('error', () => {}));
  const stop = () => { try { process.kill(-child.pid, 'SIGTERM'); } catch {} return end(); };
  for (let i = 0; i < 400 && child.pid && child.exitCode === null; ++i) {
    if (await ready()) return { stop };
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  await stop();
  return null;
}
module.exports = { startXServer, singleMonitor, sideBySide, startOpenbox, startDesktop, xrun, xrandr };
