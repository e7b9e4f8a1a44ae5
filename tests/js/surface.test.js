'use strict';
// What JavaScript sees of the shipped module: its one export, the class's properties and their
// attributes, and every argument check with its exact message.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startXServer, singleMonitor } = require('./support/xserver');
const { runScenario, addons } = require('./support/child');

const { NativeUIWrapper } = require(addons.shipped);

let server;
test.before(async () => {
  server = await startXServer('xorg');
  await singleMonitor(server.display);
});
test.after(async () => { await server.stop(); });

const isTypeError = (message) => (err) =>
  err instanceof TypeError && err.message === message;

test('the module exports the class and nothing else', () => {
  const exports = require(addons.shipped);
  assert.deepEqual(Reflect.ownKeys(exports), ['NativeUIWrapper']);
  assert.equal(typeof NativeUIWrapper, 'function');
  assert.equal(NativeUIWrapper.name, 'NativeUIWrapper');
});

test('the eight properties, and the internal ones, have their kinds and the default attributes', () => {
  const methods = ['showControlBar', 'registerShowControlBarCallback',
    'registerHideControlBarCallback', 'registerStopSharingClickEvent', 'registerLogCallback',
    'hideControlBar'];
  const own = Reflect.ownKeys(NativeUIWrapper.prototype).filter((k) => k !== 'constructor');
  const internal = ['_internal_registerShowingEventCallback', '_internal_showWindow'];
  assert.deepEqual(own, [...methods, 'Visible', ...internal]);
  methods.push(...internal);
  for (const name of methods) {
    const d = Object.getOwnPropertyDescriptor(NativeUIWrapper.prototype, name);
    assert.equal(typeof d.value, 'function', name);
    assert.deepEqual([d.writable, d.enumerable, d.configurable], [false, false, false], name);
  }
  const visible = Object.getOwnPropertyDescriptor(NativeUIWrapper.prototype, 'Visible');
  assert.equal(typeof visible.get, 'function');
  assert.equal(visible.set, undefined);
  assert.deepEqual([visible.enumerable, visible.configurable], [false, false]);

  const statics = Reflect.ownKeys(NativeUIWrapper)
    .filter((k) => !['length', 'name', 'prototype', 'arguments', 'caller'].includes(k));
  assert.deepEqual(statics, ['_internal_setSafeWrap', '_internal_listMonitors', '_internal_isAccelerator']);
  for (const name of statics) {
    const d = Object.getOwnPropertyDescriptor(NativeUIWrapper, name);
    assert.equal(typeof d.value, 'function', name);
    assert.deepEqual([d.writable, d.enumerable, d.configurable], [false, false, false], name);
  }
});

test('the class needs new, and the safe-wrap function must be a function', () => {
  assert.throws(() => NativeUIWrapper(), isTypeError("Class constructors cannot be invoked without 'new'"));
  const message = 'Wrong argument type for argument 1, expected Function';
  assert.throws(() => NativeUIWrapper._internal_setSafeWrap(), isTypeError(message));
  assert.throws(() => NativeUIWrapper._internal_setSafeWrap({}), isTypeError(message));
  assert.throws(() => NativeUIWrapper._internal_setSafeWrap('f'), isTypeError(message));
});

// The controller is process-wide, so everything that constructs an instance runs in a child.
test('every argument check of an instance throws its exact TypeError', async () => {
  const { code, stderr, reports } = await runScenario(`
    const { NativeUIWrapper } = require(addon);
    const w = new NativeUIWrapper();
    const outcome = (fn) => {
      try { return ['returned', fn()]; } catch (e) { return [e.constructor.name, e.message]; }
    };
    const results = {};
    for (const name of ['registerShowControlBarCallback', 'registerHideControlBarCallback',
                        'registerStopSharingClickEvent', 'registerLogCallback',
                        '_internal_registerShowingEventCallback']) {
      results[name] = [outcome(() => w[name]()), outcome(() => w[name]('f')),
                       outcome(() => w[name]({})), outcome(() => w[name](() => {}, 'extra'))];
    }
    results.show = [
      outcome(() => w.showControlBar()),
      outcome(() => w.showControlBar('0')),
      outcome(() => w.showControlBar(null)),
      outcome(() => w.showControlBar(0, undefined)),
      outcome(() => w.showControlBar(0, null)),
      outcome(() => w.showControlBar(0, 'text')),
      outcome(() => w.showControlBar(0, 7)),
      outcome(() => w.showControlBar(0, { scale: '2' })),
      outcome(() => w.showControlBar(0, { scale: null })),
      outcome(() => w.showControlBar(0, { scale: NaN })),
      outcome(() => w.showControlBar(-1)),
      outcome(() => w.showControlBar(1)),
      outcome(() => w.showControlBar(0, {})),
      outcome(() => w.showControlBar(0, () => {})),
      outcome(() => w.showControlBar(0, { scale: undefined })),
      outcome(() => w.showControlBar(0, { scale: 9 })),
      outcome(() => w.hideControlBar('ignored')),
    ];
    results.visible = outcome(() => w.Visible);
    results.assign = outcome(() => { w.Visible = true; });
    results.visibleAfter = w.Visible;
    report(results);
    process.exit(0);
  `, { display: server.display });
  assert.equal(code, 0, stderr);
  const [r] = reports;
  const names = {
    registerShowControlBarCallback: 'registerShowControlBarCallback',
    registerHideControlBarCallback: 'registerHideControlBarCallback',
    registerStopSharingClickEvent: 'registerStopSharingClickEvent',
    registerLogCallback: 'regsiterLogCallback',
    _internal_registerShowingEventCallback: '_internal_registerShowingEventCallback',
  };
  for (const [method, inMessage] of Object.entries(names)) {
    assert.deepEqual(r[method], [
      ['TypeError', `Wrong number of arguments for ${inMessage}, expected 1`],
      ['TypeError', `Wrong 1st argument type for ${inMessage}, expected Function`],
      ['TypeError', `Wrong 1st argument type for ${inMessage}, expected Function`],
      ['returned', null],
    ], method);
  }
  const options = 'Wrong type of argument for options parameters, expected JSON object';
  assert.deepEqual(r.show, [
    ['TypeError', 'Wrong number of arguments for showControlBar, expected 1'],
    ['TypeError', 'Wrong 1st argument type for showControlBar, expected Number'],
    ['TypeError', 'Wrong 1st argument type for showControlBar, expected Number'],
    ['TypeError', options],
    ['TypeError', options],
    ['TypeError', options],
    ['TypeError', options],
    ['TypeError', 'Wrong type of option scale, expected Number'],
    ['TypeError', 'Wrong type of option scale, expected Number'],
    ['TypeError', 'Wrong type of option scale, expected Number'],
    ['TypeError', 'Invalid monitor id passed'],
    ['TypeError', 'Invalid monitor id passed'],
    ['returned', null],
    ['returned', null],
    ['returned', null],
    ['returned', null],
    ['returned', null],
  ]);
  assert.deepEqual(r.visible, ['returned', false]);
  assert.equal(r.assign[0], 'TypeError');
  assert.equal(r.visibleAfter, false);
});

test('options are stored as text, own or inherited, even when the index is then refused', async () => {
  const { code, stderr, reports } = await runScenario(`
    const { NativeUIWrapper, childText } = require(addon);
    const w = new NativeUIWrapper();
    const texts = () => [childText(2), childText(4)];
    const seen = [];
    try { w.showControlBar(5, { stop_sharing: 'Halt' }); } catch (e) { seen.push(e.message); }
    seen.push(texts());
    try { w.showControlBar(5, { sharing_text: 42, other: 'x' }); } catch (e) { seen.push(e.message); }
    seen.push(texts());
    try { w.showControlBar(0, { sharing_text: 'never', scale: 'x' }); } catch (e) { seen.push(e.message); }
    seen.push(texts());
    w.showControlBar(0, Object.create({ sharing_text: 'inherited' }));
    seen.push(texts());
    const fn = () => {};
    fn.stop_sharing = 'from a function';
    w.showControlBar(0, fn);
    seen.push(texts());
    w.showControlBar(0, {});
    seen.push(texts());
    const error = new Error('getter failed');
    try {
      w.showControlBar(0, { get sharing_text() { throw error; } });
    } catch (e) { seen.push(e === error); }
    w.hideControlBar();
    // A scale out of range reaches the next build, clamped.
    NativeUIWrapper._internal_setSafeWrap((f) => f);
    const lines = [];
    w.registerLogCallback((level, text) => lines.push(text));
    w.showControlBar(0, { scale: 9 });
    until(() => lines.includes('All windows mapped')).then(() => {
      seen.push(lines.filter((line) => line.startsWith('Control bar scale')));
      w.hideControlBar();
      report(seen);
      process.exit(0);
    });
  `, { display: server.display, which: 'test' });
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], [
    'Invalid monitor id passed', ['', 'Halt'],
    'Invalid monitor id passed', ['42', 'Halt'],
    'Wrong type of option scale, expected Number', ['42', 'Halt'],
    ['inherited', 'Halt'],
    ['inherited', 'from a function'],
    ['inherited', 'from a function'],
    true,
    ['Control bar scale: 4.00'],
  ]);
});
