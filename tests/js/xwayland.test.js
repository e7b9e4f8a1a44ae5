'use strict';
// The X11 indicator on XWayland, under sway started headless, over a native Wayland window (foot,
// fullscreen, reporting presses): the frame is four edge windows of the frame's colour below the
// bar, the Wayland window gets every press inside the frame, hide leaves nothing, and a shared
// window's frame is withdrawn from the picture while the window is unmapped. (sway hands
// a press on a strip to that X window whatever its input shape: XWayland 22 does not pass the
// shape on, so there the 6-px ring itself stays out of reach of the window beneath.)
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { startSway, startPressDetector } = require('./support/wayland');
const { runScenario } = require('./support/child');

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
