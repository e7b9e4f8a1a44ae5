'use strict';
// The friendly layer's own logic, over a stand-in for the raw class: how show() settles, how
// listener errors travel, and how indicators share the one bar. The stand-in behaves as the raw
// class does at its surface (reports are queued and delivered later, in order, through the
// functions the safe-wrap function returned; every controller call logs "showControlBar" first).
// lib-indicator.test.js covers the same paths against the real add-on and real X servers.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const path = require('node:path');

const indicatorModule = path.join(__dirname, '..', '..', 'lib', 'indicator.js');
const { createIndicatorClass } = require(indicatorModule);

const TWO_MONITORS = [
  { index: 0, x: 0, y: 0, width: 1920, height: 1080, rotation: 1, outputs: ['DUMMY0'], primary: true },
  { index: 1, x: 1920, y: 0, width: 1280, height: 1024, rotation: 1, outputs: ['DUMMY1'], primary: false },
];

// Self-contained (no outer variables), so that child processes can be given its source.
function makeFakeRaw({ monitors } = {}) {
  const list = monitors || [
    { index: 0, x: 0, y: 0, width: 1920, height: 1080, rotation: 1, outputs: ['DUMMY0'], primary: true },
    { index: 1, x: 1920, y: 0, width: 1280, height: 1024, rotation: 1, outputs: ['DUMMY1'], primary: false },
  ];
  const calls = [];
  const queue = [];
  let safeWrap = null;
  let draining = false;
  const drain = () => {
    draining = false;
    while (queue.length > 0) {
      const deliver = queue.shift();
      try {
        deliver();
      } catch (error) {
        // What the real dispatcher would turn into an uncaught exception; the layer must never
        // let one through.
        calls.push(['escaped', error]);
      }
    }
  };
  class FakeRaw {
    static _internal_setSafeWrap(fn) {
      calls.push(['setSafeWrap']);
      safeWrap = fn;
    }

    // The native parser is tested natively; this one knows a single accelerator.
    static _internal_isAccelerator(text) {
      return text === 'Control+S';
    }

    static _internal_listMonitors() {
      calls.push(['list']);
      return list.map((monitor) => ({ ...monitor, outputs: [...monitor.outputs] }));
    }

    constructor() {
      calls.push(['new']);
      this.slots = {};
      this.visible = false;
      this.showing = 0;       // the number of the last showing started
      this.running = null;    // the monitor index whose UI thread may still run
      FakeRaw.instances.push(this);
    }

    register(slot, fn) {
      calls.push(['register', slot, safeWrap !== null]);
      this.slots[slot] = safeWrap ? safeWrap(fn) : fn;
    }

    registerShowControlBarCallback(fn) { this.register('shown', fn); }
    registerHideControlBarCallback(fn) { this.register('hidden', fn); }
    registerStopSharingClickEvent(fn) { this.register('stop', fn); }
    registerLogCallback(fn) { this.register('log', fn); }
    _internal_registerShowingEventCallback(fn) { this.register('events', fn); }

    // As the controller: the first line, the index check, nothing new where a UI thread still
    // runs on that monitor, otherwise a new showing whose 'started' comes before anything of it.
    showControlBar(index, options) {
      calls.push(['show', index, options]);
      if (typeof index !== 'number') {
        throw new TypeError('Wrong 1st argument type for showControlBar, expected Number');
      }
      this.log('log', 'showControlBar');
      if (index >>> 0 >= list.length) throw new TypeError('Invalid monitor id passed');
      if (this.running === index) return;
      this.showing += 1;
      this.running = index;
      const { x, y, width, height } = list[index];
      this.event('started', { x, y, width, height });
      this.log('log', 'showControlBar: Completed');
    }

    hideControlBar() {
      calls.push(['hide']);
      this.log('log', 'hideControlBar');
      this.visible = false;
      this.running = null;
      this.log('log', 'hideControlBar: Completed');
    }

    get Visible() {
      return this.visible;
    }

    // What the controller would report: a classic report (shown, hidden, stop, log)...
    report(slot, ...args) {
      const fn = this.slots[slot];
      if (!fn) return;
      queue.push(() => fn.apply(globalThis, args));
      if (!draining) {
        draining = true;
        setImmediate(drain);
      }
    }

    log(level, text) {
      this.report('log', level, text);
    }

    // ...and a showing report, of the current showing unless another number is given.
    event(kind, fields = {}, showing = this.showing) {
      if (kind === 'shown') this.visible = true;
      if (kind === 'hidden') this.visible = false;
      if (kind === 'ended' && showing === this.showing) this.running = null;
      this.report('events', { kind, showing, ...fields });
    }
  }
  FakeRaw.instances = [];
  FakeRaw.calls = calls;
  return FakeRaw;
}

function setup(options) {
  const FakeRaw = makeFakeRaw(options);
  const ScreenShareIndicator = createIndicatorClass(FakeRaw);
  const indicator = new ScreenShareIndicator();
  return { FakeRaw, ScreenShareIndicator, indicator, raw: FakeRaw.instances[0] };
}

// Lets every queued report be delivered, and the promise reactions after them run.
const flush = () => new Promise((resolve) => setImmediate(() => setImmediate(resolve)));

// 'pending', ['resolved', value] or ['rejected', error], after the queued reports are delivered.
async function state(promise) {
  let outcome = 'pending';
  promise.then((value) => { outcome = ['resolved', value]; }, (error) => { outcome = ['rejected', error]; });
  await flush();
  return outcome;
}

const rawCalls = (FakeRaw) =>
  FakeRaw.calls.filter(([kind]) => kind === 'show' || kind === 'hide').map(([kind, index]) =>
    (kind === 'show' ? `show ${index}` : 'hide'));

test('show() settles', async (t) => {
  await t.test('it resolves on the shown report of its own showing, after the shown listeners ran', async () => {
    const { indicator, raw } = setup();
    const order = [];
    indicator.on('shown', () => order.push('shown event'));
    const shown = indicator.show(1).then(() => order.push('resolved'));
    await flush();
    assert.equal(await state(shown), 'pending');
    raw.event('shown');
    await shown;
    assert.deepEqual(order, ['shown event', 'resolved']);
    assert.equal(indicator.visible, true);
  });

  await t.test('it rejects with the line of its failed report; log lines settle nothing and are asked for only by a log listener', async () => {
    const { ScreenShareIndicator, indicator, raw, FakeRaw } = setup();
    const registered = () => FakeRaw.calls.filter(([kind, slot]) => kind === 'register' && slot === 'log').length;
    const shown = indicator.show(0);
    raw.log('error', 'initFont(): Font init failed: :7');
    raw.log('error', 'Control bar creation failed: :7');
    assert.equal(await state(shown), 'pending');
    assert.equal(registered(), 0, 'a log function was registered without a log listener');
    raw.event('failed', { line: 'XCreateWindow(): Control bar window creation failed: :7' });
    raw.event('ended');
    await assert.rejects(shown, (error) =>
      error instanceof Error &&
      error.code === 'ERR_INDICATOR_SHOW_FAILED' &&
      error.line === 'XCreateWindow(): Control bar window creation failed: :7' &&
      error.message === 'The indicator could not be shown: XCreateWindow(): Control bar window creation failed: :7');

    const lines = [];
    indicator.once('log', (level, text) => lines.push(`${level} ${text}`));
    new ScreenShareIndicator().prependListener('log', () => {});
    assert.equal(registered(), 1);
    const retry = indicator.show(1);
    raw.log('error', 'Child window creation failed: :7');
    raw.event('shown');
    assert.deepEqual(await state(retry), ['resolved', undefined]);
    assert.deepEqual(lines, ['log showControlBar']);
  });

  await t.test('reports of an earlier showing do not settle a later one', async () => {
    const { indicator, raw } = setup();
    const first = indicator.show(0);
    first.catch(() => {});
    // hide() joins the UI thread that was still building: its late reports are queued before
    // the next show's own, and the next show's 'started' is not yet delivered when they come.
    indicator.hide();
    raw.event('shown', {}, 1);
    raw.event('failed', { line: 'X connection lost: :7' }, 1);
    raw.event('ended', {}, 1);
    const second = indicator.show(1);
    raw.event('shown', {}, 1);
    raw.event('ended', {}, 1);
    assert.equal(await state(second), 'pending');
    assert.equal((await state(first))[1].name, 'AbortError');
    raw.event('shown', {}, 2);
    assert.deepEqual(await state(second), ['resolved', undefined]);
  });

  await t.test('a showing that ends neither shown nor failed rejects at once', async () => {
    const { indicator, raw } = setup();
    const shown = indicator.show(0);
    raw.event('hidden', { reason: 'destroyed' });
    raw.event('ended');
    await assert.rejects(shown, (error) =>
      error.code === 'ERR_INDICATOR_SHOW_FAILED' && error.line === '' &&
      error.message === 'The indicator could not be shown: it was taken down before it appeared');
  });

  await t.test('the timeout rejects a show that never appears, and hides the bar', async () => {
    const { indicator, FakeRaw } = setup();
    await assert.rejects(indicator.show(0, { timeout: 20 }), (error) =>
      error.code === 'ERR_INDICATOR_SHOW_TIMEOUT' &&
      error.message === 'The indicator did not appear within 20 ms');
    assert.deepEqual(rawCalls(FakeRaw), ['show 0', 'hide']);
  });

  await t.test('hide() and a show() elsewhere end a pending show with an AbortError', async () => {
    const { indicator, raw } = setup();
    const hidden = indicator.show(0);
    indicator.hide();
    await assert.rejects(hidden, (error) => error.name === 'AbortError' && error.code === 'ABORT_ERR' &&
      error.message === 'The indicator was hidden before it appeared');
    const moved = indicator.show(0);
    const second = indicator.show(1);
    await assert.rejects(moved, (error) => error.name === 'AbortError' &&
      error.message === 'The indicator was shown on another monitor before it appeared');
    raw.event('shown');
    await second;
  });

  await t.test('a repeated show shares the pending promise, and resolves at once while shown', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const first = indicator.show(1, { sharingText: 'A' });
    const again = indicator.show(1, { sharingText: 'A' });
    assert.equal(again, first);
    raw.event('shown');
    await first;
    assert.deepEqual(await state(indicator.show(1, { sharingText: 'A' })), ['resolved', undefined]);
    assert.deepEqual(rawCalls(FakeRaw), ['show 1']);
  });

  await t.test('other texts or another scale on the shown monitor rebuild the bar with them', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const first = indicator.show(1, { sharingText: 'A' });
    raw.event('shown');
    await first;
    const second = indicator.show(1, { sharingText: 'B', stopText: 'End' });
    raw.event('hidden', { reason: 'hide' }, 1);
    raw.event('shown');
    await second;
    const third = indicator.show(1, { sharingText: 'B', stopText: 'End', scale: 2 });
    raw.event('shown');
    await third;
    assert.deepEqual(await state(indicator.show(1, { sharingText: 'B', stopText: 'End', scale: 2 })),
      ['resolved', undefined]);
    assert.deepEqual(rawCalls(FakeRaw), ['show 1', 'hide', 'show 1', 'hide', 'show 1']);
    const options = FakeRaw.calls.filter(([kind]) => kind === 'show').map((call) => call[2]);
    assert.deepEqual(options, [
      { sharing_text: 'A', stop_sharing: 'Stop sharing' },
      { sharing_text: 'B', stop_sharing: 'End' },
      { sharing_text: 'B', stop_sharing: 'End', scale: 2 },
    ]);
  });

  await t.test('texts left out are the default ones, not those of an earlier show', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const first = indicator.show(0, { sharingText: 'Custom', stopText: 'Halt' });
    raw.event('shown');
    await first;
    indicator.hide();
    const second = indicator.show(0);
    raw.event('shown');
    await second;
    assert.deepEqual(FakeRaw.calls.filter(([kind]) => kind === 'show').at(-1)[2],
      { sharing_text: 'You are sharing entire screen', stop_sharing: 'Stop sharing' });
  });

  await t.test('after a failed build, a show on the same monitor hides first so that it builds again', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const failed = indicator.show(0);
    raw.event('failed', { line: 'initFont(): Font init failed: :7' });
    await assert.rejects(failed, { code: 'ERR_INDICATOR_SHOW_FAILED' });
    const retry = indicator.show(0);
    raw.event('shown');
    await retry;
    assert.deepEqual(rawCalls(FakeRaw), ['show 0', 'hide', 'show 0']);
  });

  await t.test('wrong arguments reject and never throw; the raw class sees only what it must judge', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const target = 'The "target" argument must be a monitor index, a monitor of listMonitors(), an output name, ' +
      'a rectangle { x, y, width, height } or a window. Received ';
    const cases = [
      [[], TypeError, `${target}type undefined (undefined)`],
      [[null], TypeError, `${target}null`],
      [[{ x: 0, y: 0, width: 10 }], TypeError, `${target}an object`],
      [[{ x: '0', y: 0, width: 10, height: 10 }], TypeError, `${target}an object`],
      [[{ x: 0, y: 0, width: -10, height: 10 }], RangeError,
        'The "target" rectangle must not have a negative width or height. Received { x: 0, y: 0, width: -10, height: 10 }'],
      [[1.5], RangeError, 'The monitor index must be an integer. Received 1.5'],
      [[NaN], RangeError, 'The monitor index must be an integer. Received NaN'],
      [[0, null], TypeError, 'The "options" argument must be an object'],
      [[0, 'texts'], TypeError, 'The "options" argument must be an object'],
      [[0, { sharingText: 5 }], TypeError, 'The "options.sharingText" property must be a string'],
      [[0, { stopText: null }], TypeError, 'The "options.stopText" property must be a string'],
      [[0, { scale: 0.5 }], RangeError, 'The "options.scale" property must be a number from 1 to 4'],
      [[0, { scale: '2' }], RangeError, 'The "options.scale" property must be a number from 1 to 4'],
      [[0, { scale: NaN }], RangeError, 'The "options.scale" property must be a number from 1 to 4'],
      [[0, { shortcut: 5 }], TypeError, 'The "options.shortcut" property must be a string. Received type number (5)'],
      [[0, { shortcut: 'Ctrl+Foo' }], TypeError,
        'The "options.shortcut" property must be an accelerator such as \'Control+Alt+Shift+S\'. Received \'Ctrl+Foo\''],
      [[0, { timeout: 0 }], RangeError, 'The "options.timeout" property must be a positive finite number of milliseconds'],
      [[0, { timeout: Infinity }], RangeError, 'The "options.timeout" property must be a positive finite number of milliseconds'],
    ];
    for (const [args, type, message] of cases) {
      let promise;
      assert.doesNotThrow(() => { promise = indicator.show(...args); });
      await assert.rejects(promise, (error) => error instanceof type && error.message === message,
        `show(${args.map(String).join(', ')})`);
    }
    assert.deepEqual(rawCalls(FakeRaw), []);
    // The controller refuses the index after its first line; the next show must still settle
    // on its own reports.
    await assert.rejects(indicator.show(2), (error) =>
      error instanceof TypeError && error.message === 'Invalid monitor id passed');
    await assert.rejects(indicator.show(-1), (error) =>
      error instanceof TypeError && error.message === 'Invalid monitor id passed');
    const valid = indicator.show(1);
    assert.equal(await state(valid), 'pending');
    raw.event('shown');
    assert.deepEqual(await state(valid), ['resolved', undefined]);
  });
});

test('show() targets: exact geometry first, then the output, then the centre; lowest index first; nothing matching rejects', async () => {
  const [left, right] = TWO_MONITORS;
  const mirrored = [left, right, { ...right, index: 2, outputs: ['DUMMY2', 'DUMMY3'] }];
  const none = (text) => `No monitor matches ${text}`;
  const cases = [
    [mirrored, 'DUMMY3', 2],
    [mirrored, mirrored[2], 2],                                     // a monitor keeps its own index
    [mirrored, { x: 1920, y: 0, width: 1280, height: 1024 }, 1],
    [mirrored, { x: 1920, y: 0, width: 1024 * 1.25, height: 819.2 * 1.25 }, 1],  // Electron's bounds at 125 %
    [mirrored, { x: 1000, y: 100, width: 1000, height: 400 }, 0],   // centre at 1500,300
    [[{ ...left, width: 3200 }, right], { x: 1920, y: 0, width: 1280, height: 1024 }, 1],  // inside another, yet exact
    [[{ ...right, index: 0 }, { ...left, index: 1 }], right, 0],      // the layout changed: its rectangle
    [[left, { ...right, width: 1024, height: 768 }], { ...right, x: 5000 }, 1],  // its output, in a new mode
    [mirrored, 'HDMI-1', none("the output name 'HDMI-1'")],
    [mirrored, { x: 5000, y: 0, width: 100, height: 100 }, none('the rectangle { x: 5000, y: 0, width: 100, height: 100 }')],
    [mirrored, { ...right, x: 5000, outputs: ['HDMI-2'] }, none('the monitor 1 (HDMI-2) at { x: 5000, y: 0, width: 1280, height: 1024 }')],
    [[], 'DUMMY0', 'No display'],                                   // no display at all: an empty list
    [[], 0, 'No display'],
  ];
  for (const [monitors, target, expected] of cases) {
    const { indicator, FakeRaw } = setup({ monitors });
    const [outcome, error] = await state(indicator.show(target));
    const show = FakeRaw.calls.find(([kind]) => kind === 'show');
    if (typeof expected === 'number') {
      assert.equal(show && show[1], expected, JSON.stringify(target));
    } else if (expected === 'No display') {
      assert.equal(error.code, 'ERR_INDICATOR_NO_DISPLAY');
    } else {
      assert.equal(outcome, 'rejected');
      assert.ok(error instanceof RangeError && error.code === 'ERR_INDICATOR_NO_MONITOR', expected);
      assert.equal(error.message, expected);
      assert.equal(show, undefined);
    }
  }
});

test('listener errors', async (t) => {
  await t.test('a throwing listener ends that emit and goes to error listeners; the rest is unaffected', async () => {
    const { ScreenShareIndicator, indicator, raw, FakeRaw } = setup();
    const other = new ScreenShareIndicator();
    const boom = new Error('listener boom');
    const seen = [];
    indicator.on('shown', () => { throw boom; });
    indicator.on('shown', () => seen.push('second listener'));
    indicator.on('error', (error) => seen.push(error));
    other.on('shown', () => seen.push('other indicator'));
    const shown = indicator.show(0);
    raw.event('shown');
    await shown;
    assert.deepEqual(seen, [boom, 'other indicator']);
    assert.deepEqual(FakeRaw.calls.filter(([kind]) => kind === 'escaped'), []);
  });

  await t.test('an async listener that rejects goes to the error listeners too', async () => {
    const { indicator, raw } = setup();
    const boom = new Error('async boom');
    indicator.on('stop', async () => { throw boom; });
    const errors = [];
    indicator.on('error', (error) => errors.push(error));
    raw.report('stop');
    await flush();
    assert.deepEqual(errors, [boom]);
  });

  await t.test('without error listeners, or when one throws, it is an uncaught exception of the process', async () => {
    const scenario = (listeners) => `
      const { createIndicatorClass } = require(${JSON.stringify(indicatorModule)});
      const FakeRaw = (${makeFakeRaw.toString()})();
      const indicator = new (createIndicatorClass(FakeRaw))();
      ${listeners}
      process.on('exit', () => {
        const escaped = FakeRaw.calls.filter(([kind]) => kind === 'escaped').length;
        process.stdout.write('escaped into the raw class: ' + escaped + '\\n');
      });
      indicator.show(0);
      FakeRaw.instances[0].event('shown');
    `;
    const noErrorListener = await runNode(scenario(`
      indicator.on('shown', () => { throw new Error('listener boom'); });`));
    assert.equal(noErrorListener.code, 1);
    assert.match(noErrorListener.stderr, /Error: listener boom/);
    assert.match(noErrorListener.stdout, /escaped into the raw class: 0/);

    const throwingErrorListener = await runNode(scenario(`
      indicator.on('shown', () => { throw new Error('listener boom'); });
      indicator.on('error', (error) => { throw new Error('error listener boom, after ' + error.message); });`));
    assert.equal(throwingErrorListener.code, 1);
    assert.match(throwingErrorListener.stderr, /Error: error listener boom, after listener boom/);
    assert.match(throwingErrorListener.stdout, /escaped into the raw class: 0/);
  });
});

test('one bar per process', async (t) => {
  await t.test('indicators share one raw instance, wrapped before it registers, and all receive every report', async () => {
    const { ScreenShareIndicator, indicator, raw, FakeRaw } = setup();
    const other = new ScreenShareIndicator();
    assert.equal(FakeRaw.instances.length, 1);
    const registrations = () => FakeRaw.calls.filter(([kind]) => kind === 'setSafeWrap' || kind === 'register' || kind === 'new')
      .map(([kind, slot, wrapped]) => [kind, slot, wrapped]);
    assert.deepEqual(registrations(), [
      ['new', undefined, undefined],
      ['setSafeWrap', undefined, undefined],
      ['register', 'events', true],
      ['register', 'stop', true],
    ]);
    const events = [];
    for (const [name, target] of [['first', indicator], ['second', other]]) {
      for (const event of ['shown', 'hidden', 'stop', 'log', 'monitor-changed', 'shortcut-taken']) {
        target.on(event, (...args) => events.push([name, event, ...args]));
      }
    }
    assert.deepEqual(registrations().slice(4), [['setSafeWrap', undefined, undefined], ['register', 'log', true]]);
    const shown = other.show(1);
    raw.event('shown');
    await shown;
    assert.equal(indicator.visible, true);
    assert.equal(other.visible, true);
    raw.event('stop', { source: 'keyboard' });
    raw.report('stop');
    raw.report('stop');  // a build without the report: the pointer's
    raw.event('shortcut-taken', { shortcut: 'Control+S' });
    raw.event('monitor-changed', { x: 1920, y: 0, width: 1024, height: 768 });
    indicator.hide();
    raw.event('hidden', { reason: 'hide' });
    await flush();
    assert.equal(other.visible, false);
    const of = (name) => events.filter(([who]) => who === name).map((e) => e.slice(1));
    assert.deepEqual(of('first'), of('second'));
    assert.deepEqual(of('first').filter(([event]) => event !== 'log'), [
      ['shown'], ['stop', { source: 'keyboard' }], ['stop', { source: 'pointer' }],
      ['shortcut-taken', 'Control+S'], ['monitor-changed', { x: 1920, y: 0, width: 1024, height: 768 }], ['hidden', 'hide'],
    ]);
    assert.deepEqual(of('first').filter(([event]) => event === 'log')[0], ['log', 'log', 'showControlBar']);
  });

  await t.test('close() ends the events of that indicator only; a closed indicator refuses show and hide', async () => {
    const { ScreenShareIndicator, indicator, raw } = setup();
    const other = new ScreenShareIndicator();
    const events = [];
    indicator.on('stop', () => events.push('closed one'));
    other.on('stop', () => events.push('open one'));
    indicator.close();
    indicator.close();
    assert.equal(indicator.closed, true);
    raw.report('stop');
    await flush();
    assert.deepEqual(events, ['open one']);
    await assert.rejects(indicator.show(0), { code: 'ERR_INDICATOR_CLOSED', message: 'The indicator has been closed' });
    assert.throws(() => indicator.hide(), { code: 'ERR_INDICATOR_CLOSED' });
  });
});

function runNode(source) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, ['-e', source], { stdio: ['ignore', 'pipe', 'pipe'] });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (chunk) => { stdout += chunk; });
    child.stderr.on('data', (chunk) => { stderr += chunk; });
    const timer = setTimeout(() => child.kill('SIGKILL'), 30000);
    child.once('error', reject);
    child.once('close', (code, signal) => {
      clearTimeout(timer);
      resolve({ code, signal, stdout, stderr });
    });
  });
}
