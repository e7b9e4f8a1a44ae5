'use strict';
// A private sway, headless, with XWayland, for tests of the indicator under a Wayland compositor.
//
//   const sway = await startSway();        // null when sway does not start here
//   sway.display, sway.env                 // XWayland's DISPLAY; WAYLAND_DISPLAY (absolute) and more
//   await sway.swaymsg('-t', 'get_tree');  // its IPC
//   await sway.pointer('move', 2, 500, 'click', 'key', 28);  // a real Wayland pointer and keyboard (vpointer.c)
//   sway.commands.pointer, .grim           // how to run that pointer (openPointer) and grim (a PNG
//                                          // of the output as composed, on stdout): { file, args, env }
//   sway.asSession(command, args, options) // spawns a process of the session's uid
//   await sway.stop();
//
// sway refuses to run as root: it runs as nobody (65534) in a private 0700 XDG_RUNTIME_DIR owned
// by that uid, and lets local clients (root's tests) into its XWayland with xhost before it tells
// us its displays. It runs in a process group of its own, which stop() ends with every client it
// started.
const { spawn, execFile, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const uid = 65534;
const output = { name: 'HEADLESS-1', width: 1920, height: 1080 };
let pointerProgram;

function run(command, args, options = {}) {
  return new Promise((resolve, reject) => {
    execFile(command, args, { timeout: 20000, ...options }, (error, stdout, stderr) => {
      if (error) reject(new Error(`${command} ${args.join(' ')}: ${error.message} ${stderr}`));
      else resolve(stdout);
    });
  });
}

// The virtual pointer and keyboard client, built once per test process with the protocol code that
// wayland-scanner generates from the XML beside it.
function buildPointer() {
  if (pointerProgram) return pointerProgram;
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'vpointer-'));
  process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
  const codes = ['wlr-virtual-pointer-unstable-v1', 'virtual-keyboard-unstable-v1'].map((name) => {
    const xml = path.join(__dirname, name + '.xml');
    execFileSync('wayland-scanner', ['client-header', xml, path.join(dir, name + '-client-protocol.h')]);
    execFileSync('wayland-scanner', ['private-code', xml, path.join(dir, name + '.c')]);
    return path.join(dir, name + '.c');
  });
  const flags = execFileSync('pkg-config', ['--cflags', '--libs', 'wayland-client', 'xkbcommon'], { encoding: 'utf8' })
    .trim().split(/\s+/).filter(Boolean);
  const program = path.join(dir, 'vpointer');
  execFileSync('cc', ['-O2', '-Wall', '-Wextra', '-I', dir, '-o', program,
    path.join(__dirname, 'vpointer.c'), ...codes, ...flags],
  { stdio: ['ignore', 'ignore', 'inherit'] });
  pointerProgram = program;
  return program;
}

// A virtual pointer that lives until close(): play(...actions) resolves once the compositor has
// taken them. command: sway.commands.pointer, also from a scenario's process of its own.
function openPointer(command) {
  const child = spawn(command.file, command.args, { env: { ...process.env, ...command.env }, stdio: ['pipe', 'pipe', 'inherit'] });
  const waiting = [];
  let text = '';
  child.stdout.on('data', (chunk) => {
    text += chunk;
    for (let end = text.indexOf('\n'); end >= 0; end = text.indexOf('\n')) {
      const answer = text.slice(0, end);
      text = text.slice(end + 1);
      const { resolve, reject } = waiting.shift();
      if (answer === 'ok') resolve(); else reject(new Error('vpointer: ' + answer));
    }
  });
  const exited = new Promise((resolve) => child.once('exit', (code) => {
    for (const { reject } of waiting.splice(0)) reject(new Error(`vpointer ended: ${code}`));
    resolve();
  }));
  return {
    play: (...actions) => new Promise((resolve, reject) => {
      waiting.push({ resolve, reject });
      child.stdin.write(actions.join(' ') + '\n');
    }),
    close: () => { child.stdin.end(); return exited; },
  };
}

async function startSway({ timeoutMs = 10000 } = {}) {
  if (process.getuid() !== 0) return null;  // only root may start it as another uid
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'sway-'));
  const config = path.join(dir, 'config');
  const ready = path.join(dir, 'displays');
  fs.writeFileSync(config, [
    'xwayland enable',
    `output ${output.name} resolution ${output.width}x${output.height} position 0 0`,
    `exec sh -c 'xhost +local: >/dev/null && echo "$WAYLAND_DISPLAY $DISPLAY" > ${ready}.new && mv ${ready}.new ${ready}'`,
    '',
  ].join('\n'));
  fs.chownSync(config, uid, uid);
  fs.chownSync(dir, uid, uid);
  fs.chmodSync(dir, 0o700);
  const env = {
    PATH: process.env.PATH, HOME: dir, XDG_RUNTIME_DIR: dir, LANG: 'C.UTF-8',
    WLR_BACKENDS: 'headless', WLR_RENDERER: 'pixman', WLR_LIBINPUT_NO_DEVICES: '1',
  };
  const asSession = (command, args, options = {}) => spawn('setpriv',
    [`--reuid=${uid}`, `--regid=${uid}`, '--clear-groups', command, ...args],
    { ...options, env: { ...env, ...options.env } });
  const log = fs.openSync(path.join(dir, 'sway.log'), 'w');
  const sway = asSession('sway', ['-c', config], { detached: true, stdio: ['ignore', log, log] });
  fs.closeSync(log);
  sway.once('error', () => {});
  const exited = new Promise((resolve) => sway.once('exit', resolve));
  const stop = async () => {
    try { process.kill(-sway.pid, 'SIGTERM'); } catch {}
    await exited;
    fs.rmSync(dir, { recursive: true, force: true });
  };
  const killOnExit = () => {
    try { process.kill(-sway.pid, 'SIGKILL'); } catch {}
    fs.rmSync(dir, { recursive: true, force: true });
  };
  process.on('exit', killOnExit);

  const deadline = Date.now() + timeoutMs;
  while (!fs.existsSync(ready)) {
    if (sway.exitCode !== null || sway.signalCode !== null || !sway.pid || Date.now() > deadline) {
      await stop();
      return null;
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  const [wayland, display] = fs.readFileSync(ready, 'utf8').trim().split(' ');
  const socket = fs.readdirSync(dir).find((name) => /^sway-ipc\..*\.sock$/.test(name));
  const wenv = { WAYLAND_DISPLAY: path.join(dir, wayland), SWAYSOCK: path.join(dir, socket) };
  // For scenarios that run them synchronously in a process of their own: file, args, env.
  const commands = {
    pointer: { file: buildPointer(), args: [`${output.width}x${output.height}`], env: wenv },
    grim: { file: 'setpriv', args: [`--reuid=${uid}`, `--regid=${uid}`, '--clear-groups', 'grim', '-o', output.name, '-'],
      env: { ...env, ...wenv } },
  };
  let pointer;
  return {
    dir, display, output, pid: sway.pid, env: { ...env, ...wenv }, commands,
    asSession: (command, args, options = {}) =>
      asSession(command, args, { ...options, env: { ...wenv, ...options.env } }),
    swaymsg: (...args) => run('swaymsg', args, { env: { ...process.env, ...wenv } }),
    pointer: (...actions) => (pointer ??= openPointer(commands.pointer)).play(...actions),
    stop: async () => {
      process.off('exit', killOnExit);
      await pointer?.close();
      await stop();
    },
  };
}

// foot, fullscreen on the output, with mouse reporting on: a native Wayland window that logs
// every press it gets. presses() lists them as [column, row] cells. Resolves once a first press
// (a click in the middle) has reached it: foot takes presses only once its window is up and its
// shell has switched reporting on.
async function startPressDetector(sway) {
  const log = path.join(sway.dir, 'presses');
  const script = path.join(sway.dir, 'detector.sh');
  fs.writeFileSync(script, `stty raw -echo\nprintf '\\033[?1000h\\033[?1006h'\nexec cat > ${log}\n`);
  const foot = sway.asSession('foot', ['--fullscreen', '--log-level=error', 'sh', script], { stdio: 'ignore' });
  const exited = new Promise((resolve) => foot.once('exit', resolve));
  const stop = async () => { foot.kill('SIGTERM'); await exited; };
  const presses = () => {
    const text = fs.existsSync(log) ? fs.readFileSync(log, 'latin1') : '';
    return [...text.matchAll(/\x1b\[<0;(\d+);(\d+)M/g)].map((m) => [Number(m[1]), Number(m[2])]);
  };
  for (let i = 0; i < 100 && presses().length === 0; ++i) {
    if (foot.exitCode !== null) break;
    if (fs.existsSync(log)) await sway.pointer('move', 960, 540, 'click');
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  if (presses().length === 0) {
    await stop();
    throw new Error('foot never reported a press');
  }
  return { presses, stop };
}

// weston, headless, with XWayland: a compositor without the layer shell. Runs as root, in a
// process group and a private XDG_RUNTIME_DIR of its own. Resolves to { display, env, stop }, or
// null when it does not start.
async function startWeston({ timeoutMs = 10000 } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'weston-'));
  fs.chmodSync(dir, 0o700);
  const log = path.join(dir, 'log');
  const weston = spawn('weston', ['--backend=headless-backend.so', '--use-pixman', '--xwayland',
    '--width=1920', '--height=1080', '-S', 'wayland-test', '--no-config', `--log=${log}`],
  { detached: true, stdio: 'ignore', env: { ...process.env, XDG_RUNTIME_DIR: dir } });
  weston.once('error', () => {});
  const exited = new Promise((resolve) => weston.once('exit', resolve));
  const stop = async () => {
    try { process.kill(-weston.pid, 'SIGTERM'); } catch {}
    await exited;
    fs.rmSync(dir, { recursive: true, force: true });
  };
  for (const deadline = Date.now() + timeoutMs; Date.now() < deadline && weston.exitCode === null;) {
    const display = /xserver listening on display (:\d+)/.exec(fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '');
    if (display) return { display: display[1], env: { WAYLAND_DISPLAY: path.join(dir, 'wayland-test') }, stop };
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  await stop();
  return null;
}

module.exports = { startSway, startPressDetector, startWeston, openPointer };
