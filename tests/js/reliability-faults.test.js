'use strict';
// Faults a desktop library meets in the field, seen from the host application: its X connection
// killed by another client or its server gone, no usable DISPLAY, instances collected while the
// UI thread reports, the process ending in the middle of things, registered functions that
// throw, texts far too long, a screen without the visual the indicator draws with. Each runs in
// a Node process of its own, whose exit code, standard error and reports are checked: the host
// must never crash, hang or be left with a bar nobody can take down.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startXServer, sideBySide, singleMonitor, xrun } = require('./support/xserver');
const { runScenario } = require('./support/child');
const { buildXProbe } = require('./support/xprobe');

let server;
let xprobePath;
test.before(async () => {
  xprobePath = buildXProbe();
  server = await startXServer('xorg');
  await sideBySide(server.display);
});
test.after(async () => { await server.stop(); });

// The shipped module with its four functions registered, the reports collected, and helpers
// over X clients; they follow DISPLAY as it is when they run.
const prelude = `
const { execFileSync } = require('node:child_process');
const { NativeUIWrapper } = require(addon);
const ui = new NativeUIWrapper();
const events = [];
const logs = [];
ui.registerShowControlBarCallback(() => events.push('shown'));
ui.registerHideControlBarCallback(() => events.push('hidden'));
ui.registerStopSharingClickEvent(() => events.push('stop'));
ui.registerLogCallback((level, text) => logs.push(level + ' ' + text));
const count = (kind) => events.filter((e) => e === kind).length;
const lines = (line) => logs.filter((l) => l === line).length;
const errors = () => logs.filter((l) => l.startsWith('error '));
const x = (command, ...args) => execFileSync(command, args, { encoding: 'utf8' });
const xprobe = (...args) => JSON.parse(x(process.env.XPROBE, ...args));
const lastId = (pattern) => logs.map((l) => pattern.exec(l)).filter(Boolean).map((m) => m[1]).at(-1);
const barId = () => lastId(/^log Created control bar window: (0x[0-9A-F]+)/);
const geometry = (id) => {
  // Without an id xwininfo would wait for a click on a window.
  if (!/^0x[0-9A-F]+$/i.test(id)) throw new Error('no window id: ' + id);
  const out = x('xwininfo', '-id', id);
  const field = (name) => Number(new RegExp(name + ':\\\\s+(-?\\\\d+)').exec(out)[1]);
  return { x: field('Absolute upper-left X'), y: field('Absolute upper-left Y'),
           width: field('Width'), height: field('Height') };
};
const children = () => logs.map((l) => /^log Child window created : (0x[0-9A-F]+)/.exec(l))
  .filter(Boolean).map((m) => m[1]).slice(-5);
const main = (body) => body().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
`;

async function scenario(source, options = {}) {
  const result = await runScenario(prelude + source, {
    display: server.display,
    ...options,
    env: { XPROBE: xprobePath, ...options.env },
  });
  assert.equal(result.timedOut, false, `the scenario hung: ${result.stderr}`);
  assert.equal(result.signal, null, `the scenario died of ${result.signal}: ${result.stderr}`);
  return result;
}

// What Xlib's I/O error handler prints before the module takes the loss over; nothing else may
// appear on standard error.
const lostLine = (display) => `X connection to ${display} broken (explicit kill or server shutdown).\n`;

// Module windows left on the server: every client but the server's own and the probe.
const windowsLeft = async (display) =>
  JSON.parse(await xrun(display, xprobePath, ['clients'])).filter((c) => c.counts.WINDOW).length;

test('another client kills the connection while the bar is shown: hidden and an error are reported, the process lives, the next show connects afresh', async () => {
  const { code, stderr, reports } = await scenario(`
    main(async () => {
      ui.showControlBar(0);
      await until(() => count('shown') === 1);
      const first = barId();
      x('xkill', '-id', first);
      await until(() => count('hidden') === 1 && lines('log runNativeUIControllerThread: Completed') === 1);
      const afterKill = { visible: ui.Visible, errors: errors(), client: xprobe('resources', first).base };
      ui.showControlBar(0);
      await until(() => count('shown') === 2);
      const second = xprobe('resources', barId());
      const visible = ui.Visible;
      ui.hideControlBar();
      await until(() => count('hidden') === 2);
      report({ afterKill, second, visible, events, errors: errors() });
    });
  `);
  assert.equal(code, 0, stderr);
  assert.equal(stderr, lostLine(server.display));
  const [r] = reports;
  assert.deepEqual(r.afterKill, {
    visible: false, errors: [`error X connection lost: ${server.display}`], client: null,
  });
  assert.equal(r.second.counts.WINDOW, 7, 'the new bar lives on a new connection');
  assert.equal(r.visible, true);
  assert.deepEqual(r.events, ['shown', 'hidden', 'shown', 'hidden']);
  assert.deepEqual(r.errors, r.afterKill.errors);
});

test('the server dies while the bar is shown: hidden and an error are reported, shows fail cleanly, a new server works', async () => {
  const dying = await startXServer('xorg');
  const next = await startXServer('xorg');
  try {
    await singleMonitor(dying.display);
    await singleMonitor(next.display);
    const { code, stderr, reports } = await scenario(`
      main(async () => {
        ui.showControlBar(0);
        await until(() => count('shown') === 1);
        process.kill(Number(process.env.SERVER_PID), 'SIGTERM');
        await until(() => count('hidden') === 1 && lines('log runNativeUIControllerThread: Completed') === 1);
        const afterDeath = { visible: ui.Visible, errors: errors() };
        ui.hideControlBar();
        let refused;
        try { ui.showControlBar(0); } catch (e) { refused = [e instanceof TypeError, e.message]; }
        process.env.DISPLAY = process.env.NEXT_DISPLAY;
        ui.showControlBar(0);
        await until(() => count('shown') === 2);
        const onNext = xprobe('resources', barId());
        ui.hideControlBar();
        await until(() => count('hidden') === 2);
        report({ afterDeath, refused, onNext, events });
      });
    `, {
      display: dying.display,
      env: { SERVER_PID: String(dying.pid), NEXT_DISPLAY: next.display },
    });
    assert.equal(code, 0, stderr);
    assert.equal(stderr, lostLine(dying.display));
    const [r] = reports;
    assert.deepEqual(r.afterDeath, { visible: false, errors: [`error X connection lost: ${dying.display}`] });
    assert.deepEqual(r.refused, [true, 'Invalid monitor id passed']);
    assert.equal(r.onNext.counts.WINDOW, 7);
    assert.deepEqual(r.events, ['shown', 'hidden', 'shown', 'hidden']);
  } finally {
    await dying.stop();
    await next.stop();
  }
});

test('DISPLAY unset or naming no server at construction: shows are refused cleanly, nothing crashes, and once DISPLAY names a live server the next show brings the bar up', async (t) => {
  for (const display of [undefined, ':9999', 'no such display']) {
    await t.test(`DISPLAY ${display === undefined ? 'unset' : JSON.stringify(display)}`, async () => {
      const { code, stdout, stderr, reports } = await scenario(`
        main(async () => {
          const visible = ui.Visible;
          const refused = [];
          for (const args of [[0], [0, { sharing_text: 'text' }], [1]]) {
            try { ui.showControlBar(...args); refused.push('returned'); } catch (e) { refused.push([e instanceof TypeError, e.message]); }
          }
          try { ui._internal_showWindow(1); refused.push('returned'); } catch (e) { refused.push([e.code, e.message]); }
          ui.hideControlBar();
          // A server appears (an app started before the desktop): the show opens the connection
          // that construction could not.
          process.env.DISPLAY = process.env.LIVE;
          ui.showControlBar(0);
          await until(() => count('shown') === 1);
          const visibleShown = ui.Visible;
          ui.hideControlBar();
          await until(() => count('hidden') === 1);
          report({ visible, refused, events, errors: errors(), visibleShown, visibleAfter: ui.Visible });
        });
      `, { display, env: { LIVE: server.display } });
      assert.equal(code, 0, stderr);
      assert.equal(stderr, '');
      assert.match(stdout, /^NativeUIController:0x/m);
      const [r] = reports;
      const refusal = [true, 'Invalid monitor id passed'];
      assert.deepEqual(r.refused, [refusal, refusal, refusal, ['ERR_INDICATOR_NO_WINDOW',
        'No window 0x1 to share: no X server is reachable, and windows are shared through X11 (DISPLAY)']]);
      assert.deepEqual(r.events, ['shown', 'hidden']);
      assert.deepEqual(r.errors, []);
      assert.equal(r.visible, false);
      assert.equal(r.visibleShown, true);
      assert.equal(r.visibleAfter, false);
    });
  }
});

test('instances collected while the UI thread\'s reports to them are in flight', async () => {
  const { code, stderr, reports } = await scenario(`
    main(async () => {
      let collected = 0;
      const registry = new FinalizationRegistry(() => { collected++; });
      let calls = 0;
      for (let round = 0; round < 40; ++round) {
        let w = new NativeUIWrapper();
        registry.register(w, round);
        w.registerShowControlBarCallback(() => calls++);
        w.registerHideControlBarCallback(() => calls++);
        w.registerLogCallback(() => calls++);
        w.showControlBar(round % 2);  // the other monitor: the bar is hidden, then built there
        w = null;
        global.gc();
        await new Promise((resolve) => setImmediate(resolve));
      }
      await until(() => { global.gc(); return collected > 0; });
      const last = new NativeUIWrapper();
      const seen = [];
      last.registerShowControlBarCallback(() => seen.push('shown'));
      last.registerHideControlBarCallback(() => seen.push('hidden'));
      // The 40th bar may not be up yet: its shown report then comes here too, before hidden.
      last.hideControlBar();
      await until(() => seen.includes('hidden'));
      const fortieth = seen.splice(0);
      last.showControlBar(0);
      await until(() => seen.length >= 1);
      last.hideControlBar();
      await until(() => seen.length >= 2);
      report({ collected, calls, fortieth, seen });
    });
  `, { nodeArgs: ['--expose-gc'] });
  assert.equal(code, 0, stderr);
  assert.equal(stderr, '');
  const [r] = reports;
  assert.ok(r.collected > 0, 'no instance was collected, so nothing was proved');
  assert.ok(r.calls > 0);
  assert.ok(['hidden', 'shown,hidden'].includes(r.fortieth.join()), r.fortieth.join());
  assert.deepEqual(r.seen, ['shown', 'hidden']);
});

test('the process exits while the bar is shown, while it is dragged, and during a hide', async (t) => {
  const cases = {
    'while shown': `
      ui.showControlBar(1);
      until(() => count('shown') === 1).then(() => process.exit(0));
    `,
    // The grip holds the pointer grabbed until the button is released; it never is.
    'while dragging': `
      main(async () => {
        ui.showControlBar(1);
        await until(() => count('shown') === 1);
        const grip = geometry(children()[0]);
        const start = geometry(barId()).x;
        x('xdotool', 'mousemove', String(grip.x + 4), String(grip.y + 12), 'mousedown', '1');
        // The grip grabs the pointer when its press is handled; motion before that moves nothing.
        for (let i = 0; geometry(barId()).x === start; ++i) {
          if (i === 500) throw new Error('the bar never moved');
          x('xdotool', 'mousemove', String(grip.x + 40 + (i % 2)), String(grip.y + 12));
          await new Promise((resolve) => setTimeout(resolve, 10));
        }
        process.exit(0);
      });
    `,
    'right after a hide, its reports unread': `
      ui.showControlBar(1);
      until(() => count('shown') === 1).then(() => { ui.hideControlBar(); process.exit(0); });
    `,
    'from the hidden report': `
      ui.registerHideControlBarCallback(() => process.exit(0));
      ui.showControlBar(1);
      until(() => count('shown') === 1).then(() => ui.hideControlBar());
    `,
    'with a hide in an exit handler': `
      process.on('exit', () => ui.hideControlBar());
      ui.showControlBar(1);
      until(() => count('shown') === 1).then(() => process.exit(0));
    `,
  };
  try {
    for (const [name, source] of Object.entries(cases)) {
      await t.test(name, async () => {
        const { code, stdout, stderr } = await scenario(source);
        assert.equal(code, 0, stderr);
        assert.equal(stderr, '');
        assert.match(stdout, /~NativeUIController: Completed/);
        assert.equal(await windowsLeft(server.display), 0, 'windows left on the server');
      });
    }
  } finally {
    await xrun(server.display, 'xdotool', ['mouseup', '1']);
  }
});

test('registered functions that throw on every report: each throw reaches the uncaught-exception handler once, as thrown, and the bar keeps working', async () => {
  const { code, stderr, reports } = await scenario(`
    main(async () => {
      const caught = [];
      process.on('uncaughtException', (e) => caught.push(e));
      const thrown = [];
      const made = { shown: 0, hidden: 0, stop: 0, log: 0 };
      const values = {
        shown: () => new Error('shown failed'),
        hidden: () => 'hidden failed',
        stop: () => undefined,
        log: () => ({ code: 42 }),
      };
      const thrower = (kind) => (level, text) => {
        made[kind]++;
        if (kind === 'log') logs.push(level + ' ' + text);
        const value = values[kind]();
        thrown.push(value);
        throw value;
      };
      ui.registerShowControlBarCallback(thrower('shown'));
      ui.registerHideControlBarCallback(thrower('hidden'));
      ui.registerStopSharingClickEvent(thrower('stop'));
      ui.registerLogCallback(thrower('log'));
      for (let i = 0; i < 10; ++i) {
        ui.showControlBar(i % 2);
        await until(() => made.shown === i + 1);
        ui.hideControlBar();
        await until(() => made.hidden === i + 1);
      }
      ui.showControlBar(1);
      await until(() => made.shown === 11);
      const stop = geometry(children()[3]);
      x('xdotool', 'mousemove', String(stop.x + 4), String(stop.y + 12), 'click', '1');
      await until(() => made.stop === 1);
      ui.hideControlBar();
      await until(() => made.hidden === 11);
      await until(() => caught.length >= thrown.length);
      const same = caught.length === thrown.length && thrown.every((v, i) => Object.is(v, caught[i]));

      ui.registerShowControlBarCallback(() => events.push('shown'));
      ui.registerHideControlBarCallback(() => events.push('hidden'));
      ui.showControlBar(0);
      await until(() => count('shown') === 1);
      ui.hideControlBar();
      await until(() => count('hidden') === 1);
      report({ made, caught: caught.length, same, events });
    });
  `);
  assert.equal(code, 0, stderr);
  assert.equal(stderr, '');
  const [r] = reports;
  assert.equal(r.made.shown, 11);
  assert.equal(r.made.hidden, 11);
  assert.equal(r.made.stop, 1);
  assert.ok(r.made.log > 100, `${r.made.log} log lines`);
  assert.equal(r.caught, r.made.shown + r.made.hidden + r.made.stop + r.made.log);
  assert.ok(r.same, 'the handler did not receive exactly the thrown values, in order');
  assert.deepEqual(r.events, ['shown', 'hidden']);
});

test('a 1 MiB "sharing_text" and "stop_sharing" show a bar that fits its monitor; texts that fit are kept whole', async () => {
  const { code, stderr, reports } = await scenario(`
    main(async () => {
      const texts = () => logs.map((l) => /^log Win info text: (.*), _extent\\.x: /.exec(l))
        .filter(Boolean).map((m) => m[1]).slice(-2);
      const bar = () => ({ bar: geometry(barId()), children: children().map(geometry), texts: texts() });
      ui.showControlBar(1, { sharing_text: 'x'.repeat(1 << 20), stop_sharing: '\\u20ac'.repeat(350000) });
      await until(() => count('shown') === 1);
      const long = bar();
      ui.hideControlBar();
      await until(() => count('hidden') === 1);
      ui.showControlBar(1, { sharing_text: 'Sharing a short text', stop_sharing: 'Stop' });
      await until(() => count('shown') === 2);
      const short = bar();
      ui.hideControlBar();
      await until(() => count('hidden') === 2);
      report({ long, short });
    });
  `);
  assert.equal(code, 0, stderr);
  assert.equal(stderr, '');
  const [{ long, short }] = reports;
  const monitor = { x: 1920, width: 1280 };
  for (const { bar, children } of [long, short]) {
    assert.ok(bar.x >= monitor.x && bar.x + bar.width <= monitor.x + monitor.width, JSON.stringify(bar));
    assert.equal(bar.height, 25);
    let left = bar.x;
    for (const child of children) {
      assert.equal(child.x, left);
      left += child.width;
    }
    assert.equal(left, bar.x + bar.width);
  }
  const [notice, stop] = long.texts;
  assert.match(notice, /^x+\u2026$/);
  assert.match(stop, /^\u20ac+\u2026$/);
  assert.ok(long.bar.width > 1000, `a ${long.bar.width}-pixel bar uses less of the monitor than it could`);
  assert.deepEqual(short.texts, ['Sharing a short text', 'Stop']);
});

test('a screen without a 32-bit visual: a clear error line per show, nothing shown, nothing drawn with a missing visual', async () => {
  const plain = await startXServer('xvfb-nocomposite');
  try {
    const { code, stdout, stderr, reports } = await scenario(`
      main(async () => {
        const visual = 'error XMatchVisualInfo(): No 32-bit TrueColor visual: ' + process.env.DISPLAY;
        for (let i = 1; i <= 2; ++i) {
          ui.showControlBar(0);
          await until(() => lines(visual) === i);
          ui.hideControlBar();
          await until(() => lines('log hideControlBar: Completed') === i);
        }
        report({ events, errors: errors(), visible: ui.Visible, clients: xprobe('clients') });
      });
    `, { display: plain.display });
    assert.equal(code, 0, stderr);
    assert.equal(stderr, '');
    assert.doesNotMatch(stdout, /Received X11 error/);
    const [r] = reports;
    const line = `error XMatchVisualInfo(): No 32-bit TrueColor visual: ${plain.display}`;
    assert.deepEqual(r.errors, [line, line]);
    assert.deepEqual(r.events, []);
    assert.equal(r.visible, false);
    assert.deepEqual(r.clients.filter((c) => c.counts.WINDOW || c.counts.COLORMAP), []);
  } finally {
    await plain.stop();
  }
});

test('a shared window killed during the build, a storm of 1,000 moves, a hide in the middle of another: nothing is left behind', async () => {
  const { code, stderr, reports } = await scenario(`
    const { spawn } = require('node:child_process');
    const app = () => {
      spawn('xmessage', ['-geometry', '300x200+50+50', 'shared'], { stdio: 'ignore' });
      return '0x' + Number(x('xdotool', 'search', '--sync', '--onlyvisible', '--class', 'xmessage').split('\\n')[0]).toString(16);
    };
    const storm = (id) => ['windowmove', id, '0', '0'].concat(...Array.from({ length: 1000 },
      (_, i) => ['windowmove', id, String(100 + (i % 900)), String(100 + (i % 500))]));
    const changes = () => logs.filter((l) => l.startsWith('log Shared window changed')).length;
    // No window manager here: every window on the screen is a child of the root.
    const windowsLeft = () => Number(/(\\d+) child/.exec(x('xwininfo', '-root', '-children'))[1]);
    main(async () => {
      const doomed = app();
      ui._internal_showWindow(Number(doomed));
      x('xdotool', 'windowkill', doomed);
      await until(() => lines('log runNativeUIControllerThread: Completed') === 1);
      const afterKill = { events: [...events], visible: ui.Visible, left: windowsLeft() };
      const id = app();
      const mapped = () => logs.filter((l) => l.startsWith('log Window created and visible')).length;
      const before = mapped();
      ui._internal_showWindow(Number(id));
      await until(() => mapped() === before + 1);
      x('xdotool', ...storm(id));
      const border = lastId(/^log Created border window: (0x[0-9A-F]+)/);
      const outer = () => {
        const g = geometry(id);
        const edge = 2 * Number(/Border width: (\\d+)/.exec(x('xwininfo', '-id', id))[1]);
        return JSON.stringify({ ...g, width: g.width + edge, height: g.height + edge });
      };
      await until(() => JSON.stringify(geometry(border)) === outer() && changes() > 0);
      const followed = changes();
      const second = spawn('xdotool', storm(id), { stdio: 'ignore' });
      const stormOver = new Promise((resolve) => second.on('exit', resolve));
      await new Promise((resolve) => setTimeout(resolve, 50));
      ui.hideControlBar();
      const visible = ui.Visible;
      await stormOver;
      x('xdotool', 'windowkill', id);
      report({ afterKill, followed, visible, left: windowsLeft(), errors: errors() });
    });
  `);
  assert.equal(code, 0, stderr);
  const [r] = reports;
  assert.equal(r.afterKill.visible, false);
  assert.equal(r.afterKill.left, 0, 'neither the killed window nor any of ours is left');
  assert.equal(r.afterKill.events.length % 2, 0, `${r.afterKill.events}: each shown has its hidden`);
  assert.ok(r.followed >= 1 && r.followed < 1001, `${r.followed} frame moves for 1,001 window moves: coalesced`);
  assert.equal(r.visible, false);
  assert.equal(r.left, 0);
  assert.deepEqual(r.errors, []);
});

// Another client grabs the server while the bar is shown: the teardown's DestroyNotify cannot
// come until the grab ends. hide() still returns, the host hears hidden, and the process ends by
// itself under the grab; once it ends, nothing of ours is left on the server.
test('another client grabs the server: hide() returns within a bound and the process exits by itself', async () => {
  const grabMs = 8000;
  const { code, stderr, reports } = await scenario(`
    const { spawn } = require('node:child_process');
    ui.showControlBar(0);
    until(() => count('shown') === 1).then(() => {
      const grabber = spawn(process.env.XPROBE, ['grab', '${grabMs}'], { stdio: ['ignore', 'pipe', 'ignore'] });
      grabber.stdout.once('data', () => {
        grabber.unref();
        grabber.stdout.destroy();
        const grabbedAt = Date.now();
        ui.hideControlBar();
        const elapsed = Date.now() - grabbedAt;
        const visible = ui.Visible;
        setTimeout(() => report({ grabbedAt, elapsed, visible, events, warnings: logs.filter((l) => l.startsWith('warn ')) }), 50);
      });
    });
  `);
  const endedAt = Date.now();
  assert.equal(code, 0, stderr);
  const [r] = reports;
  assert.ok(r.elapsed < 3000, `hide() took ${r.elapsed} ms`);
  assert.ok(endedAt - r.grabbedAt < grabMs - 1000, 'the process waited for the grab to end');
  assert.equal(r.visible, false);
  assert.deepEqual(r.events, ['shown', 'hidden']);
  assert.match(r.warnings.join('\n'), /the UI thread did not end within 1000 ms/);
  // A client that connects during the grab fails in Xlib's setup: the probe waits for its end.
  await new Promise((resolve) => setTimeout(resolve, r.grabbedAt + grabMs + 500 - Date.now()));
  assert.equal(await windowsLeft(server.display), 0, 'windows left on the server after the grab');
});

// Four megabytes of lines without a colon, then the dpi: Xlib's parser would take many seconds
// over them, with the UI thread in it and the host's hide waiting.
test('a 4 MB resource database: the host\'s event loop keeps running and the dpi is found', async () => {
  // Distinct names: Xlib makes a quark of each.
  const text = Array.from({ length: 40 * 1024 }, (_, i) => `line${i}${'x'.repeat(90)}\n`).join('') + 'Xft.dpi: 192\n';
  await new Promise((resolve, reject) => {
    const setter = require('node:child_process').execFile(xprobePath, ['resource-text'],
      { env: { ...process.env, DISPLAY: server.display } }, (error) => (error ? reject(error) : resolve()));
    setter.stdin.end(text);
  });
  try {
    const { code, stderr, reports } = await scenario(`
      const { ScreenShareIndicator } = require(process.env.LIB);
      const indicator = new ScreenShareIndicator();
      const texts = [];
      indicator.on('log', (level, text) => texts.push(text));
      let late = 0;
      let last = Date.now();
      const tick = setInterval(() => { late = Math.max(late, Date.now() - last - 20); last = Date.now(); }, 20);
      indicator.show(0, { timeout: 5000 }).then(() => 'shown', (error) => error.code).then((outcome) => {
        indicator.hide();
        setTimeout(() => {
          clearInterval(tick);
          report({ outcome, late, scale: texts.filter((l) => l.startsWith('Control bar scale')) });
          indicator.close();
        }, 100);
      });
    `, { env: { LIB: require('node:path').join(__dirname, '..', '..', 'lib', 'index.js') } });
    assert.equal(code, 0, stderr);
    const [r] = reports;
    assert.ok(r.late < 2500, `the host's timer came ${r.late} ms late`);
    assert.deepEqual(r.scale, ['Control bar scale: 2.00']);
    assert.equal(r.outcome, 'shown');
  } finally {
    await xrun(server.display, 'xprop', ['-root', '-remove', 'RESOURCE_MANAGER']);
  }
});
