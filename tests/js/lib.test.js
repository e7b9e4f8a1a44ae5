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

// Self-contained (no outer variables), so that child processes can be given its source.
function makeFakeRaw({ monitors = 2 } = {}) {
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

    constructor() {
      calls.push(['new']);
      this.slots = {};
      this.visible = false;
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

    showControlBar(index, options) {
      calls.push(['show', index, options]);
      if (typeof index !== 'number') {
        throw new TypeError('Wrong 1st argument type for showControlBar, expected Number');
      }
      this.log('log', 'showControlBar');
      if (index >>> 0 >= monitors) throw new TypeError('Invalid monitor id passed');
      this.log('log', 'showControlBar: Completed');
    }

    hideControlBar() {
      calls.push(['hide']);
      this.log('log', 'hideControlBar');
      this.visible = false;
      this.log('log', 'hideControlBar: Completed');
    }

    get Visible() {
      return this.visible;
    }

    // What the controller's UI thread would report.
    report(slot, ...args) {
      if (slot === 'shown') this.visible = true;
      if (slot === 'hidden') this.visible = false;
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
  await t.test('it resolves on the shown report of its own call, after the shown listeners ran', async () => {
    const { indicator, raw } = setup();
    const order = [];
    indicator.on('shown', () => order.push('shown event'));
    const shown = indicator.show(1).then(() => order.push('resolved'));
    await flush();
    assert.equal(await state(shown), 'pending');
    raw.report('shown');
    await shown;
    assert.deepEqual(order, ['shown event', 'resolved']);
    assert.equal(indicator.visible, true);
  });

  await t.test('it rejects with the first fatal error line, which still reaches the log listeners', async () => {
    const { indicator, raw } = setup();
    const lines = [];
    indicator.on('log', (level, text) => lines.push(`${level} ${text}`));
    const shown = indicator.show(0);
    raw.log('log', 'Created border window: 0x00400001');
    raw.log('error', 'XCreateWindow(): Control bar window creation failed: :7');
    raw.log('error', 'Control bar creation failed: :7');
    await assert.rejects(shown, (error) =>
      error instanceof Error &&
      error.code === 'ERR_INDICATOR_SHOW_FAILED' &&
      error.line === 'XCreateWindow(): Control bar window creation failed: :7' &&
      error.message === 'The indicator could not be shown: XCreateWindow(): Control bar window creation failed: :7');
    await flush();
    assert.deepEqual(lines.slice(-2), [
      'error XCreateWindow(): Control bar window creation failed: :7',
      'error Control bar creation failed: :7',
    ]);
  });

  await t.test('error lines that the bar survives do not settle it', async () => {
    const { indicator, raw } = setup();
    const shown = indicator.show(0);
    raw.log('error', 'Child window creation failed: :7');
    raw.log('error', 'Pipe creation failed, unable to manage thread exit: :7');
    raw.log('warn', 'something odd');
    assert.equal(await state(shown), 'pending');
    raw.report('shown');
    assert.deepEqual(await state(shown), ['resolved', undefined]);
  });

  await t.test('reports queued before its own call do not settle it', async () => {
    const { indicator, raw } = setup();
    const first = indicator.show(0);
    first.catch(() => {});
    // hide() joins the UI thread that was still building: its shown and hidden reports and an
    // error line are queued before the next show's own line.
    indicator.hide();
    raw.report('shown');
    raw.log('error', 'X connection lost: :7');
    raw.report('hidden');
    const second = indicator.show(1);
    assert.equal(await state(second), 'pending');
    assert.equal((await state(first))[1].name, 'AbortError');
    raw.report('shown');
    assert.deepEqual(await state(second), ['resolved', undefined]);
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
    raw.report('shown');
    await second;
  });

  await t.test('a repeated show shares the pending promise, and resolves at once while shown', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const first = indicator.show(1, { sharingText: 'A' });
    const again = indicator.show(1, { sharingText: 'A' });
    assert.equal(again, first);
    raw.report('shown');
    await first;
    assert.deepEqual(await state(indicator.show(1, { sharingText: 'A' })), ['resolved', undefined]);
    assert.deepEqual(rawCalls(FakeRaw), ['show 1']);
  });

  await t.test('other texts on the shown monitor rebuild the bar with them', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const first = indicator.show(1, { sharingText: 'A' });
    raw.report('shown');
    await first;
    const second = indicator.show(1, { sharingText: 'B', stopText: 'End' });
    raw.report('hidden');
    raw.report('shown');
    await second;
    assert.deepEqual(rawCalls(FakeRaw), ['show 1', 'hide', 'show 1']);
    const options = FakeRaw.calls.filter(([kind]) => kind === 'show').map((call) => call[2]);
    assert.deepEqual(options, [
      { sharing_text: 'A', stop_sharing: 'Stop sharing' },
      { sharing_text: 'B', stop_sharing: 'End' },
    ]);
  });

  await t.test('texts left out are the default ones, not those of an earlier show', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const first = indicator.show(0, { sharingText: 'Custom', stopText: 'Halt' });
    raw.report('shown');
    await first;
    indicator.hide();
    const second = indicator.show(0);
    raw.report('shown');
    await second;
    assert.deepEqual(FakeRaw.calls.filter(([kind]) => kind === 'show').at(-1)[2],
      { sharing_text: 'You are sharing entire screen', stop_sharing: 'Stop sharing' });
  });

  await t.test('after a failed build, a show on the same monitor hides first so that it builds again', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const failed = indicator.show(0);
    raw.log('error', 'initFont(): Font init failed: :7');
    await assert.rejects(failed, { code: 'ERR_INDICATOR_SHOW_FAILED' });
    const retry = indicator.show(0);
    raw.report('shown');
    await retry;
    assert.deepEqual(rawCalls(FakeRaw), ['show 0', 'hide', 'show 0']);
  });

  await t.test('wrong arguments reject and never throw; the raw class sees only what it must judge', async () => {
    const { indicator, raw, FakeRaw } = setup();
    const cases = [
      [['1'], TypeError, 'The "monitorIndex" argument must be of type number. Received type string (\'1\')'],
      [[], TypeError, 'The "monitorIndex" argument must be of type number. Received type undefined (undefined)'],
      [[1.5], RangeError, 'The monitor index must be an integer. Received 1.5'],
      [[NaN], RangeError, 'The monitor index must be an integer. Received NaN'],
      [[0, null], TypeError, 'The "options" argument must be an object'],
      [[0, 'texts'], TypeError, 'The "options" argument must be an object'],
      [[0, { sharingText: 5 }], TypeError, 'The "options.sharingText" property must be a string'],
      [[0, { stopText: null }], TypeError, 'The "options.stopText" property must be a string'],
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
    raw.report('shown');
    assert.deepEqual(await state(valid), ['resolved', undefined]);
  });
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
    raw.report('shown');
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
      FakeRaw.instances[0].report('shown');
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
    assert.deepEqual(FakeRaw.calls.slice(0, 6).map(([kind, slot, wrapped]) => [kind, slot, wrapped]), [
      ['new', undefined, undefined],
      ['setSafeWrap', undefined, undefined],
      ['register', 'shown', true],
      ['register', 'hidden', true],
      ['register', 'stop', true],
      ['register', 'log', true],
    ]);
    const events = [];
    for (const [name, target] of [['first', indicator], ['second', other]]) {
      for (const event of ['shown', 'hidden', 'stop', 'log']) {
        target.on(event, (...args) => events.push([name, event, ...args]));
      }
    }
    const shown = other.show(1);
    raw.report('shown');
    await shown;
    assert.equal(indicator.visible, true);
    assert.equal(other.visible, true);
    raw.report('stop');
    indicator.hide();
    raw.report('hidden');
    await flush();
    assert.equal(other.visible, false);
    const of = (name) => events.filter(([who]) => who === name).map((e) => e.slice(1));
    assert.deepEqual(of('first'), of('second'));
    assert.deepEqual(of('first').filter(([event]) => event !== 'log'), [['shown'], ['stop'], ['hidden']]);
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
