'use strict';
// Bad input at the JavaScript boundary: thousands of generated calls of every method, the class,
// the safe-wrap function, the monitor list and the Visible property, with arguments of every shape JavaScript has.
// Each call must succeed or throw exactly its error; the process must live through all of them,
// and the bar must still come up and go away afterwards. The generator is seeded: a failure
// names the call and replays with the same seed (RELIABILITY_SEED picks another).
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { startXServer, singleMonitor } = require('./support/xserver');
const { runScenario } = require('./support/child');

const seed = Number(process.env.RELIABILITY_SEED ?? 0x5eed);
const calls = 10000;

let server;
test.before(async () => {
  server = await startXServer('xorg');
  await singleMonitor(server.display);
});
test.after(async () => { await server.stop(); });

test(`${calls} generated calls with bad arguments: each succeeds or throws exactly its error, and the bar still works`, async () => {
  const { code, signal, stderr, timedOut, reports } = await runScenario(`
    const { run } = require(${JSON.stringify(path.join(__dirname, 'support', 'boundary-fuzz.js'))});
    const { NativeUIWrapper } = require(addon);
    (async () => {
      const summary = await run({ NativeUIWrapper, seed: ${seed}, calls: ${calls}, monitors: 1 });

      // Afterwards, a plain use of the class works as ever.
      NativeUIWrapper._internal_setSafeWrap((f) => f);
      const ui = new NativeUIWrapper();
      const events = [];
      ui.registerShowControlBarCallback(() => events.push('shown'));
      ui.registerHideControlBarCallback(() => events.push('hidden'));
      ui.showControlBar(0, { sharing_text: 'Still sharing', stop_sharing: 'Stop' });
      await until(() => events.length === 1);
      const visibleWhileShown = ui.Visible;
      ui.hideControlBar();
      await until(() => events.length === 2);
      summary.detach();
      report({ ...summary, events, visibleWhileShown, visibleAfter: ui.Visible });
      process.exit(0);
    })();
  `, { display: server.display, timeoutMs: 170000 });
  assert.equal(timedOut, false, `hung (seed ${seed})`);
  assert.equal(signal, null, `killed by ${signal} (seed ${seed}): ${stderr}`);
  assert.equal(code, 0, `seed ${seed}: ${stderr}`);
  const [r] = reports;
  assert.deepEqual(r.mismatches, [], `seed ${seed}`);
  assert.deepEqual(r.uncaught.other, [], 'errors other than those of throwing registered functions');
  assert.deepEqual(r.events, ['shown', 'hidden']);
  assert.equal(r.visibleWhileShown, true);
  assert.equal(r.visibleAfter, false);

  // The generator reached every outcome, so each check was met many times.
  const total = Object.values(r.outcomes).reduce((a, b) => a + b, 0);
  assert.equal(total, calls);
  const expected = [
    'construct ok', 'construct subclass ok', 'call without new refused by new',
    'setSafeWrap ok', 'setSafeWrap refused by type',
    'showControlBar ok', 'showControlBar refused by receiver', 'showControlBar refused by count',
    'showControlBar refused by type', 'showControlBar refused by options',
    'showControlBar refused by texts', 'showControlBar refused by monitor',
    'hideControlBar ok', 'hideControlBar refused by receiver',
    'get Visible ok', 'get Visible refused by receiver',
    'set Visible (strict) refused by read-only', 'set Visible (sloppy) ok', 'listMonitors ok',
  ];
  for (const name of ['registerShowControlBarCallback', 'registerHideControlBarCallback',
    'registerStopSharingClickEvent', 'registerLogCallback', '_internal_registerShowingEventCallback']) {
    for (const outcome of ['ok', 'refused by receiver', 'refused by count', 'refused by type', 'refused by safe-wrap']) {
      expected.push(`${name} ${outcome}`);
    }
  }
  assert.deepEqual(expected.filter((key) => !(r.outcomes[key] >= 5)), [],
    `outcomes met fewer than 5 times: ${JSON.stringify(r.outcomes)}`);
  assert.ok(r.successfulShows >= 50, `${r.successfulShows} showings`);
  assert.ok(r.uncaught.expected > 0, 'no report reached a throwing registered function');
});

// The keyboard: the shortcut in every lock state, the keys of a focused bar, the focus given
// back, the grab released at hide and refused while another client holds it, bad accelerators.
test('the shortcut focuses the bar whatever NumLock says; its keys stop, move and give the focus back', async () => {
  const { code, stderr, timedOut, reports } = await runScenario(`
    const { execFileSync, spawn } = require('node:child_process');
    const x = (...args) => execFileSync(args[0], args.slice(1), { encoding: 'utf8' }).trim();
    const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
    const focus = () => Number(x('xdotool', 'getwindowfocus', '-f'));
    const waitFocus = async (want) => {
      for (let i = 0; i < 100 && focus() !== want; ++i) await sleep(20);
      return focus();
    };
    const barX = (bar) => Number(/Absolute upper-left X: +(-?\\d+)/.exec(x('xwininfo', '-id', bar))[1]);
    const pixel = (px, py) => /#([0-9A-F]{6})/i.exec(x('import', '-window', 'root', '-depth', '8', '-crop', \`1x1+\${px}+\${py}\`, 'txt:-'))[1].toLowerCase();
    const shortcut = 'Control+Alt+Shift+S';
    // Another process's bar with the same shortcut: what it was told, and its warn lines.
    const other = (options) => JSON.parse(execFileSync(process.execPath, ['-e', \`
      const { NativeUIWrapper } = require(\${JSON.stringify(addon)});
      const ui = new NativeUIWrapper();
      const out = { taken: [], warn: [] };
      try { ui.showControlBar(0, { shortcut: 'Ctrl++' }); } catch (error) { out.refused = error.message; }
      ui.registerLogCallback((level, text) => { if (level === 'warn') out.warn.push(text); });
      ui._internal_registerShowingEventCallback((r) => {
        if (r.kind === 'shortcut-taken') out.taken.push(r.shortcut);
        if (r.kind === 'shown') ui.hideControlBar();
        if (r.kind === 'ended') { process.stdout.write('@@' + JSON.stringify(out) + '@@'); process.exit(0); }
      });
      ui.showControlBar(0, \${JSON.stringify(options)});
    \`], { encoding: 'utf8' }).split('@@')[1]);

    const { ScreenShareIndicator } = require(${JSON.stringify(path.join(__dirname, '..', '..', 'lib'))});
    const indicator = new ScreenShareIndicator();
    const stops = [];
    const lines = [];
    indicator.on('stop', (details) => stops.push(details));
    indicator.on('log', (level, text) => lines.push(text));
    (async () => {
      const bad = await indicator.show(0, { shortcut: 'Control+Alt+Foo' }).catch((error) => error);
      const app = spawn('xmessage', ['-geometry', '300x100+100+600', 'focused'], { stdio: 'ignore' });
      const appWindow = Number(x('xdotool', 'search', '--sync', '--onlyvisible', '--class', 'xmessage').split('\\n')[0]);
      x('xdotool', 'windowfocus', '--sync', String(appWindow));
      await indicator.show(0, { shortcut });
      const bar = lines.find((text) => text.startsWith('Created control bar window: ')).split(': ')[1];
      const focusAfterShow = focus();
      const start = barX(bar);
      // The ring's left edge lies in the stop square's padding, its right edge in the grip's.
      const [icon, , grip] = lines.filter((text) => text.startsWith('Creating child window at')).slice(2)
        .map((text) => Number(/x: (\\d+)/.exec(text)[1]));
      const ring = () => [pixel(start + icon, 12), pixel(start + grip, 12)];
      const seen = { ring: [ring()] };
      for (const numLock of [false, true]) {
        if (numLock) x('xdotool', 'key', 'Num_Lock');
        x('xdotool', 'key', 'ctrl+alt+shift+s');
        seen[numLock ? 'withNumLock' : 'without'] = (await waitFocus(Number(bar))) === Number(bar);
        if (!numLock) seen.ring.push(ring());
        x('xdotool', 'key', 'Escape');
        seen[numLock ? 'backWithNumLock' : 'back'] = (await waitFocus(appWindow)) === appWindow;
        if (!numLock) {
          await sleep(200);
          seen.ring.push(ring());
        }
        if (numLock) x('xdotool', 'key', 'Num_Lock');
      }
      x('xdotool', 'key', 'ctrl+alt+shift+s');
      await waitFocus(Number(bar));
      x('xdotool', 'key', 'Right', 'Right', 'Left', 'Right');
      await sleep(200);
      const moved = barX(bar) - start;
      x('xdotool', 'key', 'Return');
      await until(() => stops.length === 1);
      // Another client takes the focus: the ring goes, and Escape no longer matters to the bar.
      x('xdotool', 'windowfocus', '--sync', String(appWindow));
      await sleep(200);
      const ringWhenTaken = pixel(barX(bar) + icon, 12);
      const taken = other({ shortcut });
      indicator.hide();
      const free = other({ shortcut });
      const focusAfterHide = focus();
      app.kill();
      report({ bad: [bad.constructor.name, bad.code, bad.message], appWindow, focusAfterShow, seen, moved,
        stops, ringWhenTaken, taken, free, focusAfterHide });
      process.exit(0);
    })();
  `, { display: server.display, timeoutMs: 60000 });
  assert.equal(timedOut, false);
  assert.equal(code, 0, stderr);
  const [r] = reports;
  assert.deepEqual(r.bad, ['TypeError', 'ERR_INVALID_ARG_TYPE',
    'The "options.shortcut" property must be an accelerator such as \'Control+Alt+Shift+S\'. Received \'Control+Alt+Foo\'']);
  assert.equal(r.focusAfterShow, r.appWindow, 'a show must never take the focus');
  const red = 'fe3a68';
  assert.deepEqual(r.seen, { without: true, back: true, withNumLock: true, backWithNumLock: true,
    ring: [[red, red], ['202020', '202020'], [red, red]] });
  assert.equal(r.moved, 20, 'three steps right and one left, 10 px each');
  assert.deepEqual(r.stops, [{ source: 'keyboard' }]);
  assert.equal(r.ringWhenTaken, red);
  const refused = "Wrong value of option shortcut, expected an accelerator such as 'Control+Alt+S'";
  assert.deepEqual(r.taken, { refused, taken: ['Control+Alt+Shift+S'],
    warn: ['The shortcut Control+Alt+Shift+S is taken by another client'] });
  assert.deepEqual(r.free, { refused, taken: [], warn: [] }, 'hide must release the grab');
  assert.equal(r.focusAfterHide, r.appWindow);
});
