'use strict';
// The indicator end to end through the shipped module, as a user of it sees and works it: a
// private Xorg with two monitors side by side and openbox managing the screen, a real pointer
// (XTEST through xdotool), screenshots of the root window. Each scenario runs in a Node process
// of its own, since the controller is one per process.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startXServer, sideBySide, singleMonitor, startOpenbox, startDesktop, xrun } = require('./support/xserver');
const { runScenario } = require('./support/child');
const { buildXProbe } = require('./support/xprobe');
const { spawn } = require('node:child_process');

let server;
let wm;
let workAreaTop;

before(async () => {
  server = await startXServer('xorg');
  await sideBySide(server.display);
  // A top margin, as a desktop panel would reserve: the bar must sit below it.
  const rc = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'openbox-')), 'rc.xml');
  fs.writeFileSync(rc, '<?xml version="1.0"?>\n<openbox_config xmlns="http://openbox.org/3.4/rc">' +
    '<margins><top>27</top><bottom>0</bottom><left>0</left><right>0</right></margins>' +
    '</openbox_config>\n');
  wm = await startOpenbox(server.display, { args: ['--config-file', rc] });
  for (let i = 0; i < 200 && workAreaTop === undefined; ++i) {
    const area = await xrun(server.display, 'xprop', ['-root', '-notype', '_NET_WORKAREA']);
    const match = /=\s*-?\d+,\s*(-?\d+)/.exec(area);
    if (match) workAreaTop = Number(match[1]);
    else await new Promise((resolve) => setTimeout(resolve, 50));
  }
  assert.equal(workAreaTop, 27);
});

after(async () => {
  await wm?.stop();
  await server?.stop();
});

// What every scenario starts from: the module, its four functions registered, the reports
// collected, and small helpers over the X tools. A scenario exits by itself when it is done:
// the module's wake-up handles keep the event loop alive for as long as an instance lives.
const prelude = `
const { execFileSync } = require('node:child_process');
const { NativeUIWrapper } = require(addon);
NativeUIWrapper._internal_setSafeWrap((f) => f);
const ui = new NativeUIWrapper();
const events = [];
const logs = [];
ui.registerShowControlBarCallback(function () { events.push(this === globalThis ? 'shown' : 'bad this'); });
ui.registerHideControlBarCallback(() => events.push('hidden'));
ui.registerStopSharingClickEvent(() => events.push('stop'));
ui.registerLogCallback((level, text) => logs.push(level + ' ' + text));
const x = (command, ...args) => execFileSync(command, args, { encoding: 'utf8' });
const count = (kind) => events.filter((e) => e === kind).length;
const ids = (pattern) => logs.map((l) => pattern.exec(l)).filter(Boolean).map((m) => m[1]);
// Without an id xwininfo would wait for a click on some window: refuse that instead.
const need = (id) => { if (!id) throw new Error('no window id logged'); return id; };
const geometry = (id) => {
  const out = x('xwininfo', '-id', need(id));
  const field = (name) => Number(new RegExp(name + ':\\\\s+(-?\\\\d+)').exec(out)[1]);
  return { x: field('Absolute upper-left X'), y: field('Absolute upper-left Y'),
           width: field('Width'), height: field('Height') };
};
const exists = (id) => { try { x('xwininfo', '-id', need(id)); return true; } catch { return false; } };
// Screen pixels of a region as 'rrggbb' strings, row by row.
const pixels = (g) => {
  const out = x('import', '-window', 'root', '-crop', g.width + 'x' + g.height + '+' + g.x + '+' + g.y, 'txt:-');
  const rows = Array.from({ length: g.height }, () => []);
  for (const m of out.matchAll(/^(\\d+),(\\d+): \\S+\\s+#(\\w{4})(\\w{4})(\\w{4})/gm)) {
    rows[Number(m[2])][Number(m[1])] = (m[3].slice(0, 2) + m[4].slice(0, 2) + m[5].slice(0, 2)).toLowerCase();
  }
  return rows;
};
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const eventually = async (predicate, what) => {
  for (let i = 0; i < 1000; ++i) { if (predicate()) return; await sleep(10); }
  throw new Error('never happened: ' + what);
};
const shown = async (n = 1) => {
  await until(() => count('shown') >= n);
  const border = ids(/Created border window: (0x[0-9A-F]+)/).at(-1);
  const bar = ids(/Created control bar window: (0x[0-9A-F]+)/).at(-1);
  const children = ids(/Child window created : (0x[0-9A-F]+)/).slice(-5);
  return { border, bar, children };
};
`;

async function scenario(source) {
  const result = await runScenario(prelude + source, { display: server.display });
  assert.equal(result.timedOut, false, `scenario hung: ${result.stderr}`);
  assert.equal(result.code, 0, `scenario failed: ${result.stderr}`);
  return result.reports;
}

test('the bar frames monitor 1, sits at its top centre and goes away in the reported order', async () => {
  const [r] = await scenario(`
    (async () => {
      ui.showControlBar(1);
      const w = await shown();
      const visibleWhileShown = ui.Visible;
      const border = geometry(w.border);
      const bar = geometry(w.bar);
      const children = w.children.map(geometry);
      const shape = x('xwininfo', '-shape', '-id', w.border);
      ui.hideControlBar();
      await until(() => count('hidden') === 1);
      report({ events, visibleWhileShown, visibleAfter: ui.Visible, border, bar, children, shape,
               gone: [w.border, w.bar, ...w.children].filter(exists),
               logs: logs.slice(logs.indexOf('log hideControlBar')) });
    })().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
  `);
  assert.deepEqual(r.events, ['shown', 'hidden']);
  assert.equal(r.visibleWhileShown, true);
  assert.equal(r.visibleAfter, false);
  assert.deepEqual(r.border, { x: 1920, y: 0, width: 1280, height: 1024 });
  assert.doesNotMatch(r.shape, /No window shape defined/);
  assert.equal(r.bar.height, 25);
  assert.equal(r.bar.y, workAreaTop + 0);
  assert.equal(r.bar.x, Math.trunc(1280 / 2) + 1920 - Math.trunc(r.bar.width / 2));
  let left = r.bar.x;
  for (const child of r.children) {
    assert.equal(child.x, left);
    left += child.width;
  }
  assert.equal(left, r.bar.x + r.bar.width);
  assert.deepEqual(r.gone, []);
  assert.deepEqual(r.logs.slice(0, 2), ['log hideControlBar', 'log Exit requested']);
  assert.equal(r.logs.at(-2), 'log runNativeUIControllerThread: Completed');
  assert.equal(r.logs.at(-1), 'log hideControlBar: Completed');
});

test('a screenshot shows the green half with its grip, the red half with the stop square, the texts and the frame', async () => {
  const [r] = await scenario(`
    (async () => {
      ui.showControlBar(1);
      const w = await shown();
      const bar = geometry(w.bar);
      const children = w.children.map(geometry);
      await sleep(200);  // the exposures are painted right after the map
      report({ bar, children, shot: pixels(bar),
               frame: pixels({ x: 1920, y: 500, width: 1280, height: 1 })[0] });
      ui.hideControlBar();
    })().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
  `);
  const at = (x, y) => r.shot[y][x];
  const [grip, notice, stop, text] = r.children.map((c) => c.x - r.bar.x);
  assert.equal(at(grip + 8, 5), 'ffffff');
  assert.equal(at(grip + 11, 18), 'ffffff');
  assert.equal(at(grip + 10, 10), '1db868');
  assert.equal(at(notice + 1, 2), '1db868');
  assert.equal(at(stop + 10, 9), 'ffffff');
  assert.equal(at(stop + 15, 14), 'ffffff');
  assert.equal(at(stop + 9, 9), 'fe3a68');
  const ink = (from, to, background) => {
    let n = 0;
    for (let y = 0; y < 25; ++y) for (let x = from; x < to; ++x) n += at(x, y) !== background;
    return n;
  };
  assert.ok(ink(notice, stop, '1db868') > 50, 'the notice is drawn');
  assert.ok(ink(text, text + r.children[3].width, 'fe3a68') > 30, 'the stop text is drawn');
  assert.equal(r.frame[0], '1d7a48');
  assert.equal(r.frame[5], '1d7a48');
  assert.notEqual(r.frame[6], '1d7a48');
  assert.notEqual(r.frame[640], '1d7a48');
  assert.equal(r.frame[1279], '1d7a48');
});

test('only a press on "Stop sharing" calls the stop function; the frame lets presses through; the grips drag the bar within its monitor', async () => {
  // A window beneath the frame, mapped before it: a press on the ring must reach it.
  const beneath = spawn(buildXProbe(), ['presses', '1920', '0', '1280', '1024'],
    { env: { ...process.env, DISPLAY: server.display }, stdio: ['pipe', 'pipe', 'inherit'] });
  let presses = '';
  beneath.stdout.on('data', (chunk) => { presses += chunk; });
  await new Promise((resolve) => beneath.stdout.once('data', resolve));
  const [r] = await scenario(`
    (async () => {
      ui.showControlBar(1);
      const w = await shown();
      x('xdotool', 'mousemove', '1922', '500', 'click', '1');
      const [grip, notice, square, text] = w.children.map(geometry);
      const click = (g) => x('xdotool', 'mousemove', String(g.x + 4), String(g.y + 12), 'click', '1');
      click(notice);
      click(square);
      click(text);
      await until(() => count('stop') === 1);
      await sleep(100);
      const stopsAfterThree = count('stop');
      const y = String(geometry(w.bar).y + 12);
      const drag = (fromX, toX) => x('xdotool', 'mousemove', String(fromX), y, 'mousedown', '1',
        'sleep', '0.1', 'mousemove', String(Math.round((fromX + toX) / 2)), y,
        'mousemove', String(toX), y, 'mouseup', '1');
      const width = geometry(w.bar).width;
      drag(geometry(w.bar).x + 9, 2100);
      await eventually(() => geometry(w.bar).x === 2100, 'left grip drag');
      drag(geometry(w.bar).x + width - 10, 3000);
      await eventually(() => geometry(w.bar).x === 3000 - width, 'right grip drag');
      drag(geometry(w.bar).x + 9, 500);
      await eventually(() => geometry(w.bar).x === 1920, 'clamped at the left edge');
      report({ stopsAfterThree, events, width, barY: geometry(w.bar).y });
      ui.hideControlBar();
    })().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
  `);
  assert.equal(r.stopsAfterThree, 1);
  assert.equal(r.barY, workAreaTop);
  beneath.stdin.end();
  await new Promise((resolve) => beneath.once('exit', resolve));
  assert.deepEqual(presses.trim().split('\n'), ['ready', 'press 1922 500']);
});

test('a hide right after a show still reports shown, then hidden', async () => {
  const [r] = await scenario(`
    (async () => {
      ui.showControlBar(0);
      ui.hideControlBar();
      const visible = ui.Visible;
      await until(() => count('hidden') === 1);
      report({ events, visible });
    })().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
  `);
  assert.deepEqual(r.events, ['shown', 'hidden']);
  assert.equal(r.visible, false);
});

test('custom texts widen the bar at the next build; the same monitor changes nothing; another monitor hides first', async () => {
  const [r] = await scenario(`
    (async () => {
      ui.showControlBar(0);
      let w = await shown(1);
      const plain = geometry(w.bar);
      ui.showControlBar(0, { sharing_text: 'You are sharing your entire screen right now' });
      await sleep(100);
      const same = geometry(w.bar);
      ui.showControlBar(1);
      w = await shown(2);
      const moved = geometry(w.bar);
      const border = geometry(w.border);
      report({ plain, same, moved, border, events });
      ui.hideControlBar();
    })().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
  `);
  assert.deepEqual(r.same, r.plain);
  assert.deepEqual(r.events, ['shown', 'hidden', 'shown']);
  assert.ok(r.moved.width > r.plain.width + 50, `${r.moved.width} vs ${r.plain.width}`);
  assert.deepEqual(r.border, { x: 1920, y: 0, width: 1280, height: 1024 });
});

test('a shared window is framed and followed through moves, maximise, minimise, another monitor and its close', async () => {
  const [r] = await scenario(`
    const { ScreenShareIndicator } = require(${JSON.stringify(path.join(__dirname, '..', '..', 'lib'))});
    const { spawn } = require('node:child_process');
    const topLevel = (id) => {
      for (let w = id; ;) {
        const p = /Parent window id: (0x[0-9a-f]+)( \\(the root)?/.exec(x('xwininfo', '-tree', '-id', w));
        if (p[2]) return w;
        w = p[1];
      }
    };
    const viewable = (id) => /IsViewable/.test(x('xwininfo', '-id', id));
    // A withdrawn frame stays mapped (see the compositor scenario below) with an empty shape.
    const ring = (id) => !/shape extents:\\s+0x0\\+0\\+0/.test(x('xwininfo', '-shape', '-id', id));
    (async () => {
      spawn('xmessage', ['-geometry', '400x300+100+100', 'shared'], { stdio: 'ignore' });
      const id = x('xdotool', 'search', '--sync', '--onlyvisible', '--class', 'xmessage').split('\\n')[0];
      const indicator = new ScreenShareIndicator();
      const seen = [];
      indicator.on('log', (level, text) => logs.push(level + ' ' + text));
      for (const name of ['window-changed', 'window-visibility', 'hidden']) indicator.on(name, (a) => seen.push(name + ' ' + JSON.stringify(a)));
      await indicator.show('window:' + id + ':0');
      const border = ids(/Created border window: (0x[0-9A-F]+)/).at(-1);
      const bar = ids(/Created control bar window: (0x[0-9A-F]+)/).at(-1);
      const last = (pattern) => ids(pattern).at(-1);
      const framed = (what) => eventually(() => JSON.stringify(geometry(border)) === JSON.stringify(geometry(topLevel(id))), what);
      const steps = { shown: { frame: geometry(border), window: geometry(topLevel(id)), bar: geometry(bar) } };
      x('xdotool', 'windowmove', id, '300', '200');
      await framed('move');
      x('xdotool', 'windowsize', id, '500', '400');
      await framed('resize');
      x('wmctrl', '-i', '-r', id, '-b', 'add,maximized_vert,maximized_horz');
      await framed('maximise');
      steps.maximised = geometry(border);
      x('wmctrl', '-i', '-r', id, '-b', 'remove,maximized_vert,maximized_horz');
      await framed('unmaximise');
      x('xdotool', 'windowminimize', id);
      await eventually(() => !ring(border), 'frame withdrawn');
      steps.minimised = { bar: viewable(bar), visible: indicator.visible };
      x('wmctrl', '-i', '-a', id);
      await eventually(() => ring(border), 'frame back');
      x('xdotool', 'windowmove', id, '2300', '300');
      await framed('to monitor 1');
      steps.moved = geometry(bar);
      await indicator.show(1);  // a switch to a monitor and back hides the old showing first
      await indicator.show({ window: Number(id) });
      x('xdotool', 'windowkill', id);
      await eventually(() => seen.includes('hidden "window-closed"'), 'closed');
      report({ steps, seen, visible: indicator.visible,
               gone: [border, bar, last(/Created border window: (0x[0-9A-F]+)/)].filter(exists),
               closed: logs.filter((l) => l.startsWith('warn Shared window closed')) });
      process.exit(0);
    })().catch((e) => { console.error(e); process.exit(1); });
  `);
  const { shown, maximised, minimised, moved } = r.steps;
  assert.deepEqual(shown.frame, shown.window);
  assert.equal(shown.bar.x, Math.trunc(1920 / 2) - Math.trunc(shown.bar.width / 2));
  assert.equal(shown.bar.y, workAreaTop);
  assert.equal(maximised.y, workAreaTop);
  assert.equal(maximised.width, 1920);
  assert.deepEqual(minimised, { bar: true, visible: true });
  assert.equal(moved.x, 1920 + Math.trunc(1280 / 2) - Math.trunc(moved.width / 2));
  // The killed client may be unmapped a moment before it is destroyed.
  const others = r.seen.filter((e) => !e.startsWith('window-changed'));
  assert.deepEqual(others.slice(0, 2), ['window-visibility false', 'window-visibility true']);
  assert.deepEqual(others.filter((e) => e.startsWith('hidden')), ['hidden "hide"', 'hidden "hide"', 'hidden "window-closed"']);
  assert.equal(r.seen.at(-1), 'hidden "window-closed"');
  assert.ok(r.seen.filter((e) => e.startsWith('window-changed')).length >= 5);
  assert.equal(r.visible, false);
  assert.deepEqual(r.gone, []);
  assert.equal(r.closed.length, 1);
});

// Common desktops' compositors over a white client; picom on its defaults (shadows on all but desktops).
const picomPid = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'picom-')), 'pid');
for (const [name, command, ...args] of [['mutter --x11', 'dbus-run-session', 'mutter', '--x11', '--sm-disable'],
  ['kwin_x11', 'dbus-run-session', 'kwin_x11'], ['picom --shadow', 'picom', '--shadow', '--config', '/dev/null', '--write-pid-path', picomPid]]) {
  test(`under ${name} the bar is drawn whole above the frame, and the monitor inside keeps its pixels`, async (t) => {
    const own = await startXServer('xorg');
    const desktop = await startDesktop(own.display, command, args, command === 'picom' ? () => fs.existsSync(picomPid)
      : () => xrun(own.display, 'xprop', ['-root', '_NET_SUPPORTING_WM_CHECK']).then((out) => /window id/.test(out), () => false));
    await singleMonitor(own.display);  // after mutter, which sets the dummy screen to its own size
    const result = desktop && await runScenario(prelude + `
      require('node:child_process').spawn('display', ['-backdrop', '-background', 'white', 'xc:white'], { stdio: 'ignore' });
      const at = (x, y, height = 1) => pixels({ x, y, width: 1, height }).map((row) => row[0]).join();
      (async () => {
        await eventually(() => at(960, 700) === 'ffffff', 'the white client');
        ui.showControlBar(0);
        const [, notice, square, text] = (await shown()).children.map(geometry);
        await eventually(() => !['ffffff', '1d7a48'].includes(at(2, 700)) && at(notice.x + 1, 12) === '1db868', 'frame blended, bar drawn');
        report({ darkened: pixels({ x: 6, y: 700, width: 1908, height: 1 })[0].some((pixel) => pixel !== 'ffffff'), bands: [notice, square, text].map((c) => at(c.x + 1, 0, 5)) });
      })().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
    `, { display: own.display });
    await own.stop();  // the white client and the desktop end with their server
    await desktop?.stop();
    if (!desktop) return t.skip(`${name} does not start on this machine`);
    assert.deepEqual({ code: result.code, ...result.reports[0] }, { code: 0, darkened: false, bands: ['1db868', 'fe3a68', 'fe3a68'].map((c) => Array(5).fill(c).join()) });
  });
}
