'use strict';
// The controller's reports reach the registered functions on the JavaScript thread: in the order
// made, with the global object as receiver, log lines as (level, text) cut at 1023 bytes.
// Shown, hidden and stop reports are made through the very sink the controller reports to, by
// the test add-on, from the JavaScript thread or from a thread of its own.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startXServer, sideBySide } = require('./support/xserver');
const path = require('node:path');
const { runScenario } = require('./support/child');

const indicatorModule = path.join(__dirname, '..', '..', 'lib', 'indicator.js');

let server;
test.before(async () => {
  server = await startXServer('xorg');
  await sideBySide(server.display);
});
test.after(async () => { await server.stop(); });

async function scenario(source, options = {}) {
  const result = await runScenario(source, { display: server.display, ...options });
  assert.equal(result.timedOut, false, 'the scenario hung');
  return result;
}

test('the controller\'s log lines arrive after the call returns, in order, with the global object as receiver', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper } = require(addon);
    const w = new NativeUIWrapper();
    const lines = [];
    // The UI thread logs lines of its own; only those of the two calls are checked here.
    w.registerLogCallback(function (level, text) {
      if (/^(show|hide)ControlBar/.test(text)) lines.push([level, text, this === globalThis, arguments.length]);
    });
    w.showControlBar(1.5);            // cut to 1: the second monitor
    const inline = lines.length;
    w.hideControlBar();
    w.showControlBar(0);
    w.showControlBar(0);              // already running there: nothing more than the first line
    w.hideControlBar();
    until(() => lines.length >= 11).then(() => setImmediate(() => {
      report({ inline, lines });
      process.exit(0);
    }));
  `);
  assert.equal(code, 0, stderr);
  const [{ inline, lines }] = reports;
  assert.equal(inline, 0, 'a log line was delivered inside the call');
  const L = (text) => ['log', text, true, 2];
  assert.deepEqual(lines, [
    L('showControlBar'),
    L('showControlBar: Current monitor details, x:1920, y:0, width:1280, height:1024'),
    L('showControlBar: Completed'),
    L('hideControlBar'),
    L('hideControlBar: Completed'),
    L('showControlBar'),
    L('showControlBar: Current monitor details, x:0, y:0, width:1920, height:1080'),
    L('showControlBar: Completed'),
    L('showControlBar'),
    L('hideControlBar'),
    L('hideControlBar: Completed'),
  ]);
});

test('lines made before a log function is registered are lost for good', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper } = require(addon);
    const w = new NativeUIWrapper();
    w.showControlBar(0);
    const lines = [];
    w.registerLogCallback((level, text) => {
      if (/^(show|hide)ControlBar/.test(text)) lines.push(text);
    });
    w.hideControlBar();
    until(() => lines.length >= 2).then(() => setImmediate(() => {
      report(lines);
      process.exit(0);
    }));
  `);
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], ['hideControlBar', 'hideControlBar: Completed']);
});

test('a log line is not even formatted while no log function is registered', async () => {
  const { code, signal, stderr, reports } = await scenario(`
    const { NativeUIWrapper, logUnformattable, report: make } = require(addon);
    const w = new NativeUIWrapper();
    const seen = [];
    w.registerShowControlBarCallback(() => seen.push('shown'));
    logUnformattable();               // would crash in vsnprintf if it were formatted
    make([['shown']]);
    until(() => seen.length === 1).then(() => { report(seen); process.exit(0); });
  `, { which: 'test' });
  assert.equal(signal, null, stderr);
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], ['shown']);
});

test('reports made on another thread arrive in the order made, events with no arguments', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper, reportFromThread } = require(addon);
    const w = new NativeUIWrapper();
    const seen = [];
    const event = (name) => function (...args) { seen.push([name, this === globalThis, args.length]); };
    w.registerShowControlBarCallback(event('shown'));
    w.registerHideControlBarCallback(event('hidden'));
    w.registerStopSharingClickEvent(event('stop'));
    w.registerLogCallback(function (level, text) { seen.push([level, text, this === globalThis]); });
    reportFromThread([['shown'], ['log', 0, 'a'], ['stop'], ['log', 1, 'b'], ['log', 2, 'c'],
                      ['log', 7, 'd'], ['log', -1, 'e'], ['hidden'], ['shown'], ['hidden']]);
    until(() => seen.length >= 10).then(() => {
      report(seen);
      process.exit(0);
    });
  `, { which: 'test' });
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], [
    ['shown', true, 0], ['log', 'a', true], ['stop', true, 0], ['warn', 'b', true],
    ['error', 'c', true], ['log', 'd', true], ['log', 'e', true], ['hidden', true, 0],
    ['shown', true, 0], ['hidden', true, 0],
  ]);
});

test('long lines are cut at 1023 bytes, never inside a UTF-8 character', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper, reportFromThread } = require(addon);
    const w = new NativeUIWrapper();
    const texts = [];
    w.registerLogCallback((level, text) => texts.push(text));
    const a = (n) => 'a'.repeat(n);
    const inputs = [
      'x'.repeat(2000),
      a(1021) + 'é',           // 1023 bytes: fits whole
      a(1022) + 'é',           // the 2-byte character would straddle the cut
      a(1021) + '€',           // 3 bytes, 2 of them before the cut
      a(1020) + '😀' + 'tail', // 4 bytes, 3 of them before the cut
      a(1019) + '😀' + 'tail', // ends exactly at the cut
      '€'.repeat(700),         // 2100 bytes of 3-byte characters
    ];
    reportFromThread(inputs.map((text) => ['log', 0, text]));
    until(() => texts.length >= inputs.length).then(() => {
      report(texts.map((t) => [t.length, Buffer.byteLength(t), t.includes('\\ufffd'), t.slice(-2)]));
      process.exit(0);
    });
  `, { which: 'test' });
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], [
    [1023, 1023, false, 'xx'],
    [1022, 1023, false, 'aé'],
    [1022, 1022, false, 'aa'],
    [1021, 1021, false, 'aa'],
    [1020, 1020, false, 'aa'],
    [1021, 1023, false, 'a😀'.slice(-2)],
    [341, 1023, false, '€€'],
  ]);
});

test('the function called is the one registered when the closure runs', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper, report: make } = require(addon);
    const w = new NativeUIWrapper();
    const seen = [];
    w.registerShowControlBarCallback(() => seen.push('A'));
    make([['shown']]);                 // posted while A is registered
    w.registerShowControlBarCallback(() => seen.push('B'));
    make([['hidden']]);                // no hidden function yet: dropped on the spot
    w.registerHideControlBarCallback(() => seen.push('hidden'));
    make([['shown']]);
    until(() => seen.length >= 2).then(() => setImmediate(() => {
      report(seen);
      process.exit(0);
    }));
  `, { which: 'test' });
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], ['B', 'B']);
});

test('a second instance takes the reports over; Visible reads the same on both', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper, reportFromThread } = require(addon);
    const first = new NativeUIWrapper();
    const seen = [];
    for (const [w, name] of [[first, 'first']]) {
      w.registerShowControlBarCallback(() => seen.push(name + ' shown'));
      w.registerLogCallback((l, t) => seen.push(name + ' ' + t));
    }
    reportFromThread([['shown'], ['log', 0, 'one']]);
    const second = new NativeUIWrapper();
    second.registerShowControlBarCallback(() => seen.push('second shown'));
    second.registerLogCallback((l, t) => seen.push('second ' + t));
    reportFromThread([['shown'], ['log', 0, 'two']]);
    const visible = [first.Visible, second.Visible];
    first.hideControlBar();           // the controller's lines go to the second instance too
    until(() => seen.length >= 6).then(() => {
      report({ seen, visible });
      process.exit(0);
    });
  `, { which: 'test' });
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0].seen, [
    'first shown', 'first one', 'second shown', 'second two',
    'second hideControlBar', 'second hideControlBar: Completed',
  ]);
  assert.equal(reports[0].visible[0], reports[0].visible[1]);
});

test('registered functions pass through the safe-wrap function; before one is set they are kept as they are', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper, reportFromThread } = require(addon);
    const w = new NativeUIWrapper();
    const seen = [];
    const original = (l, t) => seen.push('direct ' + t);
  (async () => {
    w.registerLogCallback(original);          // no safe-wrap function yet
    reportFromThread([['log', 0, 'one']]);
    await until(() => seen.length === 1);
    const wrapCalls = [];
    NativeUIWrapper._internal_setSafeWrap(function (fn) {
      wrapCalls.push([this === undefined, arguments.length, fn === original]);
      return (...args) => seen.push('wrapped ' + args[1]);
    });
    w.registerLogCallback(original);
    reportFromThread([['log', 0, 'two']]);
    const thrown = new Error('refused');
    NativeUIWrapper._internal_setSafeWrap(() => { throw thrown; });
    let rethrown;
    try { w.registerLogCallback(original); } catch (e) { rethrown = e === thrown; }
    let failedSetSafeWrap;
    try { NativeUIWrapper._internal_setSafeWrap(1); } catch (e) { failedSetSafeWrap = e.message; }
    reportFromThread([['log', 0, 'three']]); // the wrapped function is still in the slot
    let stillRefused;
    try { w.registerShowControlBarCallback(() => {}); } catch (e) { stillRefused = e === thrown; }
    await until(() => seen.length >= 3);
    report({ seen, wrapCalls, rethrown, stillRefused, failedSetSafeWrap });
    process.exit(0);
  })();
  `, { which: 'test' });
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], {
    seen: ['direct one', 'wrapped two', 'wrapped three'],
    wrapCalls: [[true, 1, true]],
    rethrown: true,
    stillRefused: true,
    failedSetSafeWrap: 'Wrong argument type for argument 1, expected Function',
  });
});

test('showing reports arrive as plain objects; the friendly layer hears every hidden reason and each monitor change', async () => {
  const { code, stderr, reports } = await scenario(`
    const { NativeUIWrapper, showingEvents } = require(addon);
    const { createIndicatorClass } = require(${JSON.stringify(indicatorModule)});
    (async () => {
      const raw = new NativeUIWrapper();
      const seen = [];
      raw._internal_registerShowingEventCallback(function (report) {
        seen.push([report, this === globalThis, arguments.length]);
      });
      showingEvents([
        { kind: 'started', showing: 1, x: 1920, y: 0, width: 1280, height: 1024 },
        { kind: 'shown', showing: 1 },
        { kind: 'monitor-changed', showing: 1, x: 1920, y: 200, width: 1024, height: 768 },
        { kind: 'hidden', showing: 1, reason: 'destroyed' },
        { kind: 'ended', showing: 1 },
        { kind: 'failed', showing: 2, line: "XOpenDisplay(): Can't connect to: :9" },
        { kind: 'hidden', showing: 2 },
      ], true);
      await until(() => seen.length === 7);

      const Indicator = createIndicatorClass(NativeUIWrapper);
      const indicator = new Indicator();   // its raw instance now receives the reports
      const events = [];
      for (const name of ['hidden', 'monitor-changed']) {
        indicator.on(name, (...args) => events.push([name, ...args]));
      }
      showingEvents(['hide', 'destroyed', 'connection-lost', 'monitor-disconnected']
        .map((reason, i) => ({ kind: 'hidden', showing: i + 3, reason }))
        .concat([{ kind: 'monitor-changed', showing: 7, x: 0, y: 0, width: 1280, height: 1024 }]), true);
      await until(() => events.length === 5);
      report({ seen, events });
      process.exit(0);
    })();
  `, { which: 'test' });
  assert.equal(code, 0, stderr);
  const [{ seen, events }] = reports;
  assert.deepEqual(seen.map(([, receiver, count]) => [receiver, count]), Array(7).fill([true, 1]));
  assert.deepEqual(seen.map(([report]) => report), [
    { kind: 'started', showing: 1, x: 1920, y: 0, width: 1280, height: 1024, backend: 'x11' },
    { kind: 'shown', showing: 1 },
    { kind: 'monitor-changed', showing: 1, x: 1920, y: 200, width: 1024, height: 768 },
    { kind: 'hidden', showing: 1, reason: 'destroyed' },
    { kind: 'ended', showing: 1 },
    { kind: 'failed', showing: 2, line: "XOpenDisplay(): Can't connect to: :9" },
    { kind: 'hidden', showing: 2, reason: 'hide' },
  ]);
  assert.deepEqual(events, [
    ['hidden', 'hide'], ['hidden', 'destroyed'], ['hidden', 'connection-lost'], ['hidden', 'monitor-disconnected'],
    ['monitor-changed', { x: 0, y: 0, width: 1280, height: 1024 }],
  ]);
});
