'use strict';
// The indicator under Wayland compositors started headless. Drawn natively on sway's layer shell:
// its outputs by their names, the bar above the frame and crisp at a fractional scale, every
// press of a native window beneath the frame let through, stop and a clamped drag, the keyboard
// once clicked (and the accessibility bus's view of the bar), nothing left by hide, and a compositor that dies while it is shown. Under weston, which has no layer shell,
// the X11 indicator on its XWayland instead. And the X11 indicator on sway's XWayland, under sway started headless, over a native Wayland window (foot,
// fullscreen, reporting presses): the frame is four edge windows of the frame's colour below the
// bar, the Wayland window gets every press inside the frame, hide leaves nothing, and a shared
// window's frame is withdrawn from the picture while the window is unmapped. (sway hands
// a press on a strip to that X window whatever its input shape: XWayland 22 does not pass the
// shape on, so there the 6-px ring itself stays out of reach of the window beneath.)
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { startSway, startPressDetector, startWeston } = require('./support/wayland');
const { startAccessibilityBus } = require('./support/a11ybus');
const { runScenario } = require('./support/child');

const lib = path.join(__dirname, '..', '..', 'lib');

// For a scenario: the output as composed, [r, g, b] at each point (grim: physical pixels).
const pixelsSource = `
  const { execFileSync } = require('node:child_process');
  const pixels = (grim, points) => {
    const png = execFileSync(grim.file, grim.args, { env: grim.env });
    const format = points.map(([px, py]) => '%[pixel:p{' + px + ',' + py + '}] ').join('');
    const out = execFileSync('convert', ['png:-', '-format', format, 'info:-'], { input: png, encoding: 'utf8' });
    return [...out.matchAll(/\\((\\d+),(\\d+),(\\d+)/g)].map((m) => m.slice(1).map(Number));
  };`;

let sway;
let detector;

before(async () => {
  sway = await startSway();
  if (sway) detector = await startPressDetector(sway);
});

after(async () => {
  await detector?.stop();
  await sway?.stop();
});

test('on XWayland the frame is four edge windows below the bar, presses inside reach the window beneath, hide leaves nothing, a withdrawn frame is gone', async (t) => {
  if (!sway) {
    t.skip('sway did not start headless here: no XWayland scenario');
    return;
  }
  const pressesBefore = detector.presses().length;
  const result = await runScenario(`
    const { execFileSync } = require('node:child_process');
    const { NativeUIWrapper } = require(addon);
    const ui = new NativeUIWrapper();
    const logs = [];
    ui.registerLogCallback((level, text) => logs.push(text));
    const commands = ${JSON.stringify(sway.commands)};
    const pointer = require(${JSON.stringify(require.resolve('./support/wayland'))}).openPointer(commands.pointer);
    const x = (file, ...args) => execFileSync(file, args, { encoding: 'utf8' });
    // The output as composed: [r, g, b] at each point.
    const pixels = (points) => {
      const png = execFileSync(commands.grim.file, commands.grim.args, { env: commands.grim.env });
      const format = points.map(([px, py]) => '%[pixel:p{' + px + ',' + py + '}] ').join('');
      const out = execFileSync('convert', ['png:-', '-format', format, 'info:-'], { input: png, encoding: 'utf8' });
      return [...out.matchAll(/\\((\\d+),(\\d+),(\\d+)/g)].map((m) => m.slice(1).map(Number));
    };
    const points = [[700, 700], [300, 3], [300, 1077], [2, 500], [1917, 500]];  // inside, then the ring
    const exists = (id) => { try { x('xwininfo', '-id', id); return true; } catch { return false; } };
    const field = (out, name) => new RegExp(name + ':\\\\s+(-?\\\\d+)').exec(out)[1];
    const geometry = (id) => {
      const out = x('xwininfo', '-id', id);
      return field(out, 'Width') + 'x' + field(out, 'Height') + '+' + field(out, 'Absolute upper-left X') +
        '+' + field(out, 'Absolute upper-left Y');
    };
    (async () => {
      let shown = false;
      ui.registerShowControlBarCallback(() => { shown = true; });
      ui.showControlBar(0);
      await until(() => shown);
      const strips = (/XWayland: frame in strips: (.*)/.exec(logs.join('\\n'))?.[1] ?? '').split(' ').filter(Boolean);
      const bar = /Created control bar window: 0x0*([0-9A-F]+)/.exec(logs.join('\\n'))[1].toLowerCase();
      const stacking = x('xwininfo', '-root', '-children');  // top first
      const order = (id) => stacking.indexOf('0x' + id.replace(/^0x0*/i, '').toLowerCase() + ' ');
      const shot = pixels(points);
      await pointer.play('move 7 500 click move 300 7 click move 1890 1050 click move 960 540 click');
      const seen = { strips: strips.map(geometry), barOrder: order(bar), stripOrders: strips.map(order), shot };
      ui.hideControlBar();
      Object.assign(seen, { left: strips.filter(exists), after: pixels(points) });
      // A shared X window unmapped: its strips are withdrawn from the compositor's picture too.
      const win = require('node:child_process').spawn('xmessage', ['shared'], { stdio: 'ignore' });
      const id = x('xdotool', 'search', '--sync', '--onlyvisible', '--class', 'xmessage').split('\\n')[0];
      ui._internal_showWindow(Number(id), {});
      await until(() => logs.filter((l) => l.startsWith('Window created and visible')).length === 2);
      const leftStrip = logs.filter((l) => l.startsWith('XWayland: frame in strips')).at(-1).split(' ')[6];
      const [, h, lx, ly] = /x(\\d+)\\+(-?\\d+)\\+(-?\\d+)/.exec(geometry(leftStrip)).map(Number);
      const edge = [[lx + 2, ly + (h >> 1)], [lx + 20, ly + (h >> 1)]];  // on the strip, and inside
      x('xdotool', 'windowunmap', '--sync', id);
      await until(() => logs.some((l) => l === 'Shared window viewable: false'));
      seen.withdrawn = pixels(edge);
      ui.hideControlBar();
      win.kill();
      report(seen);
      await pointer.close();
      process.exit(0);
    })();
  `, { display: sway.display, timeoutMs: 30000 });
  assert.equal(result.timedOut, false, result.stderr);
  assert.equal(result.code, 0, result.stderr);
  const [r] = result.reports;
  assert.deepEqual(r.strips, ['1920x6+0+0', '1920x6+0+1074', '6x1068+0+6', '6x1068+1914+6']);
  assert.ok(r.barOrder >= 0 && r.stripOrders.every((at) => at > r.barOrder), `bar ${r.barOrder}, strips ${r.stripOrders}`);
  // By the left, top and bottom-right strips (foot reports nothing in the margin round its grid),
  // and in the middle.
  for (let i = 0; i < 100 && detector.presses().length < pressesBefore + 4; ++i) {
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  assert.equal(detector.presses().length - pressesBefore, 4);
  // 0x991D7A48 is premultiplied: over the window beneath, the ring reads green + 40 % of it.
  assert.equal(r.shot.length, 5);
  const [inside, ...ring] = r.shot;
  const blend = inside.map((c, i) => [0x1d, 0x7a, 0x48][i] + Math.round(c * 0.4));
  for (const pixel of ring) pixel.forEach((c, i) => assert.ok(Math.abs(c - blend[i]) <= 2, `${pixel} vs ${blend}`));
  assert.deepEqual(r.left, []);
  assert.deepEqual(r.after, r.shot.map(() => inside));
  assert.deepEqual(r.withdrawn[0], r.withdrawn[1]);
});

test('on the layer shell: outputs by name, the bar whole above the frame, every press let through, stop, the keyboard once clicked, a clamped drag, crisp at 1.5, nothing left by hide', async (t) => {
  if (!sway) {
    t.skip('sway did not start headless here: no layer-shell scenario');
    return;
  }
  const pressesBefore = detector.presses().length;
  const bus = await startAccessibilityBus(sway.display);
  t.after(() => bus.stop());
  const grim2 = { ...sway.commands.grim, args: sway.commands.grim.args.map((a) => (a === 'HEADLESS-1' ? 'HEADLESS-2' : a)) };
  const result = await runScenario(`
    ${pixelsSource}
    const { ScreenShareIndicator, listMonitors } = require(${JSON.stringify(lib)});
    const pointer = require(${JSON.stringify(require.resolve('./support/wayland'))}).openPointer(${JSON.stringify(sway.commands.pointer)});
    const grim = ${JSON.stringify(sway.commands.grim)};
    const grim2 = ${JSON.stringify(grim2)};
    const swaymsg = (...args) => execFileSync('swaymsg', args, { env: { ...process.env, SWAYSOCK: ${JSON.stringify(sway.env.SWAYSOCK)} } });
    const indicator = new ScreenShareIndicator();
    const logs = [];
    const stops = [];
    indicator.on('log', (level, text) => logs.push(text));
    indicator.on('stop', (...args) => stops.push(args));
    const barWidth = () => Number(/Wayland bar (\\d+)x/.exec(logs.filter((l) => l.startsWith('Wayland bar')).at(-1))[1]);
    const env = { ...process.env };
    delete env.LD_PRELOAD;  // see support/a11ybus.js
    const walk = (mode) => {
      for (let i = 0; ; ++i) {  // until the bar has registered
        const seen = JSON.parse(execFileSync('/usr/bin/python3', [${JSON.stringify(path.join(__dirname, 'support', 'atspi-walk.py'))},
          'You are sharing entire screen', mode], { encoding: 'utf8', env }));
        if (seen.apps > 0 || i === 100) return seen;
      }
    };
    (async () => {
      const untouched = [[2, 2], [1917, 2], [3, 500], [700, 3]];
      const seen = { monitors: listMonitors(), before: pixels(grim, untouched) };
      await indicator.show('HEADLESS-1');
      seen.backend = indicator.backend;
      const left = 960 - (barWidth() >> 1);
      // The bar's top row in its own colours (green notice, red stop), the ring, inside.
      seen.shot = pixels(grim, [[left + 1, 0], [left + barWidth() - 30, 0], [3, 500], [700, 700]]);
      await pointer.play('move 3 500 click move 700 3 click move 700 700 click');
      await pointer.play('move ' + (left + barWidth() - 60) + ' 12 click');
      await until(() => stops.length === 1);
      // A click on the notice gives the bar the keyboard: the ring over the stop half's top row.
      const ring = () => pixels(grim, [[left + barWidth() - 30, 0], [left + 1, 0], [left + 11, 0]]);
      await pointer.play('keyboard move ' + (left + 40) + ' 12 click');
      await until(() => ring()[0].join() === '32,32,32');
      seen.focusedWalk = { ...walk('look'), at: [left, barWidth()] };
      await pointer.play('key 106');  // Right
      await until(() => ring()[1].join() !== '29,184,104');
      seen.keyed = ring();
      await pointer.play('key 28');  // Return
      await until(() => stops.length === 2);
      await pointer.play('key 1');  // Escape: the ring goes with the keyboard
      await until(() => ring()[0].join() !== '32,32,32');
      await pointer.play('move ' + (left + 10) + ' 12 down wait 50 move 0 12 wait 50 up');
      seen.draggedLeft = pixels(grim, [[2, 2]]);
      await pointer.play('move ' + (barWidth() - 10) + ' 12 down wait 50 move 1919 12 wait 50 up move 960 540');
      seen.draggedRight = pixels(grim, [[1917, 2]]);
      indicator.hide();
      seen.after = pixels(grim, untouched);
      swaymsg('create_output');
      swaymsg('output', 'HEADLESS-2', 'resolution', '1280x1024', 'position', '1920', '0', 'scale', '1.5');
      seen.second = listMonitors()[1];
      await indicator.show('HEADLESS-2');
      // Down the bar's left padding, physical rows: the bar's own green from the top edge on. sway
      // 1.7 asks for buffers at scale 2 and shows them at 1.5.
      const x = 640 - Math.round(barWidth() * 0.75 / 2) + 6;
      seen.column = pixels(grim2, Array.from({ length: 44 }, (_, y) => [x, y]));
      const changed = new Promise((resolve) => indicator.once('monitor-changed', resolve));
      swaymsg('output', 'HEADLESS-2', 'position', '1920', '100');
      seen.changed = await changed;
      seen.pressed = { ...walk('press'), width: barWidth() };  // on the second output, scaled, moved down by 100
      await until(() => stops.length === 3);
      seen.stops = stops;
      indicator.hide();
      await pointer.close();
      report(seen);
    })();
  `, { display: sway.display, env: { WAYLAND_DISPLAY: sway.env.WAYLAND_DISPLAY, ...bus.env }, timeoutMs: 45000 });
  assert.equal(result.timedOut, false, result.stderr);
  assert.equal(result.code, 0, result.stderr);  // ended by itself once hidden
  const [r] = result.reports;
  assert.deepEqual(r.monitors, [{ index: 0, x: 0, y: 0, width: 1920, height: 1080, rotation: 1, outputs: ['HEADLESS-1'], primary: false }]);
  assert.equal(r.backend, 'wayland');
  const [green, red, ring, inside] = r.shot;
  assert.deepEqual([green, red], [[0x1d, 0xb8, 0x68], [0xfe, 0x3a, 0x68]]);
  ring.forEach((c, i) => assert.ok(Math.abs(c - ([0x1d, 0x7a, 0x48][i] + Math.round(inside[i] * 0.4))) <= 2, `${ring} over ${inside}`));
  for (let i = 0; i < 100 && detector.presses().length < pressesBefore + 3; ++i) {
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  assert.equal(detector.presses().length - pressesBefore, 3);  // on the ring's left and top, and inside
  assert.deepEqual(r.stops, [[{ source: 'pointer' }], [{ source: 'keyboard' }], [{ source: 'accessibility' }]]);
  // The bus in the compositor's logical coordinates, the keyboard's focus on it, its press a stop.
  const { at: [left, width], ...focused } = r.focusedWalk;
  const [label, button] = [focused.label[1], focused.button[1]];
  assert.deepEqual([focused.focused, focused.window[1], focused.button[0], focused.actions], [true, [left, 0, width, 25], 'Stop sharing', ['click']]);
  assert.ok(left < label[0] && label[0] + label[2] < button[0] && button[0] + button[2] < left + width, `${label} ${button}`);
  const half = Math.ceil(r.pressed.width / 2);
  assert.deepEqual([r.pressed.window[1], r.pressed.pressed], [[1920 + 426 - (half >> 1), 100, half, 25], true]);
  assert.deepEqual(r.keyed, [[32, 32, 32], ring, [0x1d, 0xb8, 0x68]]);  // 10 px on: the frame, then the bar
  assert.deepEqual(r.draggedLeft, [[0x1d, 0xb8, 0x68]]);
  assert.deepEqual(r.draggedRight, [[0xfe, 0x3a, 0x68]]);
  assert.deepEqual(r.after, r.before);
  assert.deepEqual(r.second.outputs, ['HEADLESS-2']);
  assert.deepEqual([r.second.x, r.second.width], [1920, 853]);
  assert.deepEqual(r.changed, { x: 1920, y: 100, width: 853, height: 682 });
  // round(25 x 1.5) = 38 rows, not 50 magnified: sway 1.7 shows the scale-2 buffer at 0.75, so
  // the 38th row is the bar's lower edge blended with what lies beneath.
  const rows = r.column.map((c) => c.join() === '29,184,104');
  const below = r.column[43].join();
  assert.ok(rows.indexOf(false) >= 37 && r.column[37].join() !== below && r.column[38].join() === below,
    `bar rows ${rows.map(Number).join('')}`);
});

test('without a layer shell (weston) the X11 indicator on its XWayland, with one line that says why; a forced layer shell is refused', async (t) => {
  const weston = await startWeston();
  if (!weston) {
    t.skip('weston did not start headless here');
    return;
  }
  t.after(() => weston.stop());
  const source = (forced) => `
    const { ScreenShareIndicator } = require(${JSON.stringify(lib)});
    const indicator = new ScreenShareIndicator();
    const logs = [];
    indicator.on('log', (level, text) => logs.push(level + ' ' + text));
    indicator.show(0, { timeout: 5000 }).then(
      () => { report({ backend: indicator.backend, logs }); indicator.hide(); },
      (error) => report({ code: error.code, message: error.message }));
  `;
  const auto = await runScenario(source(), { display: weston.display, env: weston.env, timeoutMs: 20000 });
  assert.equal(auto.code, 0, auto.stderr);
  assert.equal(auto.reports[0].backend, 'x11');
  assert.deepEqual(auto.reports[0].logs.filter((l) => l.includes('through X11')),
    ['log the compositor offers no layer shell: drawing the indicator through X11']);
  const forced = await runScenario(source(), {
    display: weston.display, env: { ...weston.env, SCREEN_SHARE_INDICATOR_BACKEND: 'wayland' }, timeoutMs: 20000,
  });
  assert.deepEqual(forced.reports, [{
    code: 'ERR_INDICATOR_BACKEND',
    message: 'The indicator cannot be shown: SCREEN_SHARE_INDICATOR_BACKEND=wayland, but the compositor offers no layer shell',
  }]);
});

// Last: it ends the session's compositor.
test('the compositor killed while shown: hidden with connection-lost, and the host ends by itself', async (t) => {
  if (!sway) {
    t.skip('sway did not start headless here');
    return;
  }
  const result = await runScenario(`
    const { ScreenShareIndicator } = require(${JSON.stringify(lib)});
    const indicator = new ScreenShareIndicator();
    const hidden = [];
    indicator.on('hidden', (reason) => hidden.push(reason));
    indicator.show('HEADLESS-1').then(async () => {
      process.kill(-${sway.pid}, 'SIGKILL');
      await until(() => hidden.length > 0);
      report({ hidden, visible: indicator.visible });
    });
  `, { display: sway.display, env: { WAYLAND_DISPLAY: sway.env.WAYLAND_DISPLAY }, timeoutMs: 20000 });
  assert.equal(result.timedOut, false, result.stderr);
  assert.equal(result.code, 0, result.stderr);
  assert.deepEqual(result.reports, [{ hidden: ['connection-lost'], visible: false }]);
});
