'use strict';
// ScreenShareIndicator over the real add-on on private X servers: show() settles on what the
// controller reports (the bar up, a failed build, a refused monitor, silence), the events reach
// every indicator, listener errors travel as documented. Each scenario runs in a process of its
// own, since the controller is process-wide.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { startXServer, sideBySide } = require('./support/xserver');
const { runScenario } = require('./support/child');
const { startAccessibilityBus } = require('./support/a11ybus');

const lib = path.join(__dirname, '..', '..', 'lib');

let server;
test.before(async () => {
  server = await startXServer('xorg');
  await sideBySide(server.display);
});
test.after(async () => { await server.stop(); });

// The scenario sees `ScreenShareIndicator`, `NativeUIWrapper`, `xclient(command, ...args)` (runs
// an X client against its display, returns its output) and `finish(value)` (reports and exits:
// a bar left shown would keep the process alive).
async function scenario(body, { display = server.display, env = {} } = {}) {
  const result = await runScenario(`
    const { ScreenShareIndicator, NativeUIWrapper } = require(${JSON.stringify(lib)});
    const { execFileSync } = require('node:child_process');
    const xclient = (command, ...args) => execFileSync(command, args.map(String), { encoding: 'utf8' });
    const finish = (value) => { report(value); process.exit(0); };
    const fail = (error) => { report({ failure: String(error && error.stack || error) }); process.exit(3); };
    (async () => { ${body} })().catch(fail);
  `, { display, env, timeoutMs: 60000 });
  assert.equal(result.timedOut, false, `the scenario hung:\n${result.stderr}`);
  return result;
}

function outcome(result) {
  assert.equal(result.code, 0, `exit ${result.code}:\n${JSON.stringify(result.reports)}\n${result.stderr}`);
  return result.reports[0];
}

test('show() resolves once the bar is up on its monitor with its texts; hide() takes it away; every indicator hears both', async () => {
  const result = outcome(await scenario(`
    const first = new ScreenShareIndicator();
    const second = new ScreenShareIndicator();
    const events = [];
    const lines = [];
    for (const [name, indicator] of [['first', first], ['second', second]]) {
      for (const event of ['shown', 'hidden']) indicator.on(event, () => events.push(name + ' ' + event));
    }
    first.on('log', (level, text) => lines.push(text));
    await second.show(1, { sharingText: 'Sharing the right screen', stopText: 'End it' });
    events.push('resolved');
    const bar = lines.find((text) => text.startsWith('Created control bar window: ')).split(': ')[1];
    const geometry = xclient('xwininfo', '-id', bar);
    const visible = [first.visible, second.visible];
    first.hide();
    const afterHide = first.visible;
    await new Promise((resolve) => second.once('hidden', resolve));
    let gone = false;
    try { xclient('xwininfo', '-id', bar); } catch { gone = true; }
    finish({ events, lines, geometry, visible, afterHide, gone });
  `));
  assert.deepEqual(result.events, ['first shown', 'second shown', 'resolved', 'first hidden', 'second hidden']);
  assert.deepEqual(result.visible, [true, true]);
  assert.equal(result.afterHide, false);
  assert.equal(result.gone, true, 'the bar window outlived hide()');
  const left = Number(/Absolute upper-left X:\s+(-?\d+)/.exec(result.geometry)[1]);
  const width = Number(/Width:\s+(\d+)/.exec(result.geometry)[1]);
  assert.ok(left >= 1920 && left + width <= 1920 + 1280, `the bar is not on the second monitor:\n${result.geometry}`);
  assert.ok(result.lines.some((text) => text.startsWith('Win info text: Sharing the right screen,')));
  assert.ok(result.lines.some((text) => text.startsWith('Win info text: End it,')));
});

// No log listener in these two: nothing is registered for log lines, so show() settles on the
// showing reports alone.
test('wrong arguments and a monitor that does not exist reject, and the next show still settles', async () => {
  const result = outcome(await scenario(`
    const indicator = new ScreenShareIndicator();
    const errors = [];
    const root = Number(/Window id: (0x[0-9a-f]+)/.exec(xclient('xwininfo', '-root'))[1]);
    require('node:child_process').spawn('xmessage', ['hidden'], { stdio: 'ignore' });
    const hidden = xclient('xdotool', 'search', '--sync', '--onlyvisible', '--class', 'xmessage').trim();
    xclient('xdotool', 'windowunmap', '--sync', hidden);
    for (const args of [[true], [2], ['HDMI-1'], [0, { sharingText: 7 }], [{ window: 1 }], [{ window: '5' }],
                        ['window:12:x'], [{ window: 2 ** 29 }], ['window:' + root + ':0'], [{ window: Number(hidden) }]]) {
      await indicator.show(...args).then(
        () => errors.push('resolved'),
        (error) => errors.push([error.constructor.name, error.code, error.message]));
    }
    await indicator.show(0);
    finish({ errors, visible: indicator.visible, root, hidden: Number(hidden) });
  `));
  assert.deepEqual(result.errors, [
    ['TypeError', 'ERR_INVALID_ARG_TYPE', 'The "target" argument must be a monitor index, a monitor of ' +
      'listMonitors(), an output name, a rectangle { x, y, width, height } or a window. Received type boolean (true)'],
    ['TypeError', null, 'Invalid monitor id passed'],
    ['RangeError', 'ERR_INDICATOR_NO_MONITOR', "No monitor matches the output name 'HDMI-1'"],
    ['TypeError', 'ERR_INVALID_ARG_TYPE', 'The "options.sharingText" property must be a string'],
    ['RangeError', 'ERR_INDICATOR_NO_WINDOW', 'No window 0x1 to share: it is not a window'],
    ['TypeError', 'ERR_INVALID_ARG_TYPE', "The \"target.window\" property must be a number. Received type string ('5')"],
    ['RangeError', 'ERR_INDICATOR_NO_WINDOW', "No window 'window:12:x' to share: it cannot be an X window id"],
    ['RangeError', 'ERR_INDICATOR_NO_WINDOW', 'No window 536870912 to share: it cannot be an X window id'],
    ['RangeError', 'ERR_INDICATOR_NO_WINDOW', `No window 0x${result.root.toString(16)} to share: it is the root window`],
    ['RangeError', 'ERR_INDICATOR_NO_WINDOW', `No window 0x${result.hidden.toString(16)} to share: it is not viewable`],
  ]);
  assert.equal(result.visible, true);
});

test('show() by a monitor of listMonitors(), an output name, its rectangle or one inside it puts the frame on that monitor', async () => {
  const result = outcome(await scenario(`
    const { listMonitors } = require(${JSON.stringify(lib)});
    // The frame is the top-level window that covers a monitor exactly.
    const frames = () => [...xclient('xwininfo', '-root', '-children').matchAll(/\\s(\\d+x\\d+[+-]\\d+[+-]\\d+)\\s/g)]
      .map((m) => m[1]).filter((g) => g === '1920x1080+0+0' || g === '1280x1024+1920+0');
    const indicator = new ScreenShareIndicator();
    const second = listMonitors()[1];
    const placed = [];
    for (const target of [second, 0, 'DUMMY1', 0, { x: 1920, y: 0, width: 1280, height: 1024 }, 0,
                          { x: 2000, y: 100, width: 200, height: 100 }]) {
      await indicator.show(target);
      placed.push(frames());
    }
    const error = await indicator.show({ x: -500, y: 0, width: 200, height: 200 }).then(() => null, (e) => e);
    finish({ placed, second, error: [error.constructor.name, error.code, error.message], visible: indicator.visible });
  `));
  const right = ['1280x1024+1920+0'];
  const left = ['1920x1080+0+0'];
  assert.deepEqual(result.placed, [right, left, right, left, right, left, right]);
  assert.deepEqual(result.second, {
    index: 1, x: 1920, y: 0, width: 1280, height: 1024, rotation: 1, outputs: ['DUMMY1'], primary: false,
  });
  assert.deepEqual(result.error, ['RangeError', 'ERR_INDICATOR_NO_MONITOR',
    'No monitor matches the rectangle { x: -500, y: 0, width: 200, height: 200 }']);
  assert.equal(result.visible, true, 'a target that matches nothing leaves the bar as it was');
});

test('a failed build rejects with its error line, and so does a second try on the same monitor; a window of another X screen is refused', async () => {
  // No 32-bit visual on this server: the controller cannot make its translucent windows.
  const bare = await startXServer('xvfb-nocomposite', ['1920x1080x24', '640x480x24']);
  try {
    const result = outcome(await scenario(`
      const indicator = new ScreenShareIndicator();
      const env = { ...process.env, DISPLAY: process.env.DISPLAY + '.1' };
      const { spawn, execFileSync } = require('node:child_process');
      spawn('xmessage', ['elsewhere'], { stdio: 'ignore', env });
      const other = execFileSync('xdotool', ['search', '--sync', '--onlyvisible', '--class', 'xmessage'], { env, encoding: 'utf8' }).trim();
      const refused = await indicator.show({ window: Number(other) }).then(() => 'resolved', (error) => error.message);
      const attempts = [];
      for (let i = 0; i < 2; i++) {
        await indicator.show(0).then(
          () => attempts.push('resolved'),
          (error) => attempts.push({ code: error.code, line: error.line, message: error.message }));
      }
      finish({ attempts, visible: indicator.visible, refused });
    `, { display: bare.display }));
    assert.match(result.refused, /^No window 0x[0-9a-f]+ to share: it is on another X screen$/);
    assert.equal(result.attempts.length, 2);
    for (const attempt of result.attempts) {
      assert.equal(attempt.code, 'ERR_INDICATOR_SHOW_FAILED', JSON.stringify(attempt));
      assert.match(attempt.line, /^XMatchVisualInfo\(\): No 32-bit TrueColor visual: :\d+$/);
      assert.equal(attempt.message, `The indicator could not be shown: ${attempt.line}`);
    }
    assert.equal(result.visible, false);
  } finally {
    await bare.stop();
  }
});

test('a click on the stop text reaches every indicator as a stop event', async () => {
  const result = outcome(await scenario(`
    const first = new ScreenShareIndicator();
    const second = new ScreenShareIndicator();
    const lines = [];
    first.on('log', (level, text) => lines.push(text));
    const stops = [];
    first.on('stop', ({ source }) => stops.push('first ' + source));
    second.on('stop', ({ source }) => stops.push('second ' + source));
    await first.show(0);
    const bar = lines.find((text) => text.startsWith('Created control bar window: ')).split(': ')[1];
    const geometry = xclient('xwininfo', '-id', bar);
    const barX = Number(/Absolute upper-left X:\\s+(-?\\d+)/.exec(geometry)[1]);
    const barY = Number(/Absolute upper-left Y:\\s+(-?\\d+)/.exec(geometry)[1]);
    // The fourth child from the left is the stop text.
    const child = lines.filter((text) => text.startsWith('Creating child window at'))[3];
    const [, x, width] = /x: (\\d+), y: \\d+, width: (\\d+)/.exec(child).map(Number);
    const stopped = new Promise((resolve) => second.once('stop', resolve));
    xclient('xdotool', 'mousemove', barX + x + Math.floor(width / 2), barY + 12, 'click', '1');
    await stopped;
    finish({ stops, visible: first.visible });
  `));
  assert.deepEqual(result.stops, ['first pointer', 'second pointer']);
  assert.equal(result.visible, true, 'a stop click alone must not hide the bar');
});

test('a throwing listener goes to the error listeners, or else is an uncaught exception', async () => {
  const handled = outcome(await scenario(`
    const indicator = new ScreenShareIndicator();
    const seen = [];
    indicator.on('shown', () => { throw new Error('listener boom'); });
    indicator.on('shown', () => seen.push('later listener'));
    indicator.on('error', (error) => seen.push(error.message));
    await indicator.show(0);
    finish({ seen, visible: indicator.visible });
  `));
  assert.deepEqual(handled, { seen: ['listener boom'], visible: true });

  const unhandled = await scenario(`
    const indicator = new ScreenShareIndicator();
    indicator.on('shown', () => { throw new Error('listener boom'); });
    await indicator.show(0);
    finish('the process went on');
  `);
  assert.equal(unhandled.code, 1, unhandled.stderr);
  assert.match(unhandled.stderr, /Error: listener boom/);
  assert.deepEqual(unhandled.reports, []);
});

test('a raw instance made later takes the reports away, and show() then ends at its timeout with no bar left', async () => {
  const result = outcome(await scenario(`
    const indicator = new ScreenShareIndicator();
    const taker = new NativeUIWrapper();
    const error = await indicator.show(0, { timeout: 3000 }).then(() => null, (e) => e);
    finish({ code: error && error.code, message: error && error.message, visible: indicator.visible });
  `));
  assert.deepEqual(result, {
    code: 'ERR_INDICATOR_SHOW_TIMEOUT',
    message: 'The indicator did not appear within 3000 ms',
    visible: false,
  });
});

// Last in this file: the accessibility bus is published on the shared display while it runs.
test('a screen reader finds the bar on the accessibility bus, follows it and presses its stop button', async () => {
  const bus = await startAccessibilityBus(server.display);
  try {
    const walker = path.join(__dirname, 'support', 'atspi-walk.py');
    const result = outcome(await scenario(`
      const notice = 'Sharing for the review';
      const env = { ...process.env };
      delete env.LD_PRELOAD;  // see support/a11ybus.js
      const walk = (mode) => JSON.parse(execFileSync('/usr/bin/python3', [${JSON.stringify(walker)}, notice, mode],
        { encoding: 'utf8', env }));
      const indicator = new ScreenShareIndicator();
      const lines = [];
      const stops = [];
      indicator.on('log', (level, text) => lines.push([level, text]));
      indicator.on('stop', (details) => stops.push(details));
      await indicator.show(0, { sharingText: notice, stopText: 'End it now', shortcut: 'Control+Alt+Shift+S' });
      const shownLines = lines.length;
      const texts = lines.map(([, text]) => text);
      const bar = texts.find((text) => text.startsWith('Created control bar window: ')).split(': ')[1];
      const at = /Absolute upper-left X:\\s+(-?\\d+)[^]*Absolute upper-left Y:\\s+(-?\\d+)[^]*Width: (\\d+)[^]*Height: (\\d+)/;
      const geometry = () => at.exec(xclient('xwininfo', '-id', bar)).slice(1).map(Number);
      const children = texts.filter((text) => text.startsWith('Creating child window at'))
        .map((text) => /x: (\\d+), y: (\\d+), width: (\\d+), height: (\\d+)/.exec(text).slice(1).map(Number));
      let first = walk('look');
      for (let i = 0; i < 100 && first.apps === 0; ++i) first = walk('look');
      const before = geometry();
      xclient('xdotool', 'key', 'ctrl+alt+shift+s', 'Right');
      let moved = walk('look');
      for (let i = 0; i < 100 && !(moved.focused && moved.window[1][0] !== first.window[1][0]); ++i) moved = walk('look');
      const pressed = walk('press');
      await until(() => stops.length === 1);
      const after = geometry();
      indicator.hide();
      let gone = walk('look');
      for (let i = 0; i < 100 && gone.apps !== 0; ++i) gone = walk('look');
      finish({ first, moved, pressed, stops, before, after, children, newLines: lines.slice(shownLines).filter(([level]) => level !== 'log'), gone });
    `, { env: bus.env }));
    const { first, moved, before, after, children } = result;
    const box = ([x, y, width, height], [barX, barY]) => [barX + x, barY + y, width, height];
    assert.equal(first.role, 75);
    assert.deepEqual(first.window, ['Sharing for the review', before]);
    assert.deepEqual(first.label, ['Sharing for the review', box(children[1], before)]);
    assert.deepEqual(first.button, ['End it now', box(children[3], before)]);
    assert.deepEqual(first.actions, ['click']);
    assert.deepEqual(first.interfaces.filter((name) => ['Action', 'Component'].includes(name)), ['Action', 'Component']);
    assert.equal(first.focused, false, 'a show must not take the focus');
    assert.equal(after[0], before[0] + 10);
    assert.deepEqual([moved.focused, moved.window[1], moved.button[1]], [true, after, box(children[3], after)]);
    assert.equal(result.pressed.pressed, true);
    assert.deepEqual(result.stops, [{ source: 'accessibility' }]);
    assert.deepEqual(result.newLines, [], 'the accessibility bus adds no line');
    assert.equal(result.gone.apps, 0, 'after hide the application leaves the registry');
  } finally {
    await bus.stop();
  }
});
