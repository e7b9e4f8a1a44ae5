'use strict';
// Instances collected while reports are in flight, every way the environment can go away while
// the bar is shown (process.exit, an uncaught exception, the loop running out of work, and a
// worker's environment torn down while the process lives on), and the rule that only a bar that
// is shown or being shown keeps a process or worker alive. A fault here shows up as a crash, a
// hang (the child is killed at its deadline) or reports reaching the wrong place.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startXServer, singleMonitor } = require('./support/xserver');
const path = require('node:path');
const { runScenario } = require('./support/child');

const lib = JSON.stringify(path.join(__dirname, '..', '..', 'lib'));

let server;
test.before(async () => {
  server = await startXServer('xorg');
  await singleMonitor(server.display);
});
test.after(async () => { await server.stop(); });

const run = (source, options = {}) =>
  runScenario(source, { display: server.display, which: 'test', ...options });

const tornDown = /~NativeUIController: Completed/;

test('instances collected while reports arrive from another thread (use after free)', async () => {
  const { code, signal, stderr, timedOut, reports } = await run(`
    const { NativeUIWrapper, startReporter, stopReporter } = require(addon);
    let collected = 0;
    const registry = new FinalizationRegistry(() => { collected++; });
    let delivered = 0;
    let outOfOrder = 0;
    startReporter();
    (async () => {
      for (let round = 0; round < 60; round++) {
        let w = new NativeUIWrapper();
        registry.register(w, round);
        let last = -1;
        const count = () => { delivered++; };
        w.registerShowControlBarCallback(count);
        w.registerHideControlBarCallback(count);
        w.registerStopSharingClickEvent(count);
        w.registerLogCallback((level, text) => {
          delivered++;
          const m = /^seq (\\d+)$/.exec(text);
          if (m) {
            if (Number(m[1]) <= last) outOfOrder++;
            last = Number(m[1]);
          }
        });
        if (round % 3 === 0) w.showControlBar(0);
        if (round % 3 === 2) w.hideControlBar();
        const target = delivered + 40;
        await until(() => delivered >= target);
        w = null;
        global.gc();
        await new Promise((resolve) => setImmediate(resolve));
      }
      global.gc();
      await until(() => collected > 0);
      const made = stopReporter();
      new NativeUIWrapper().hideControlBar();
      report({ delivered, outOfOrder, made, collected });
      process.exit(0);
    })();
  `, { nodeArgs: ['--expose-gc'] });
  assert.equal(timedOut, false, 'hung');
  assert.equal(signal, null, stderr);
  assert.equal(code, 0, stderr);
  const [r] = reports;
  assert.equal(r.outOfOrder, 0);
  assert.ok(r.delivered >= 60 * 40, `delivered ${r.delivered}`);
  assert.ok(r.collected > 0, 'no instance was collected, so nothing was proved');
});

test('process.exit while the bar is shown and reports keep coming', async () => {
  const { code, signal, stdout, stderr, timedOut } = await run(`
    const { NativeUIWrapper, startReporter } = require(addon);
    const w = new NativeUIWrapper();
    let n = 0;
    w.registerLogCallback(() => { n++; });
    w.registerShowControlBarCallback(() => { n++; });
    w.registerHideControlBarCallback(() => { n++; });
    w.showControlBar(0);
    startReporter();
    until(() => n > 500).then(() => process.exit(0));
  `);
  assert.equal(timedOut, false, 'hung at exit');
  assert.equal(signal, null, stderr);
  assert.equal(code, 0, stderr);
  assert.match(stdout, tornDown);
});

test('an uncaught exception ends the process while the bar is shown, without a hang', async () => {
  const { code, signal, stdout, stderr, timedOut } = await run(`
    const { NativeUIWrapper, startReporter } = require(addon);
    const w = new NativeUIWrapper();
    let n = 0;
    w.registerLogCallback(() => { if (++n === 300) throw new Error('the application failed'); });
    w.showControlBar(0);
    startReporter();
  `);
  assert.equal(timedOut, false, 'hung at exit');
  assert.equal(signal, null, stderr);
  assert.equal(code, 1);
  assert.match(stderr, /Error: the application failed/);
  assert.match(stdout, tornDown);
});

test('the loop running out of work with the bar shown ends the process cleanly', async () => {
  const { code, signal, stdout, stderr, timedOut, reports } = await run(`
    const { NativeUIWrapper } = require(addon);
    let w = new NativeUIWrapper();
    w.registerLogCallback(() => {});
    w.showControlBar(0);
    w = null;
    global.gc();
    process.on('exit', () => report('exit event'));
  `, { nodeArgs: ['--expose-gc'] });
  assert.equal(timedOut, false, 'the process did not end by itself');
  assert.equal(signal, null, stderr);
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports, ['exit event']);
  assert.match(stdout, tornDown);
});

test('a worker torn down while its bar is shown: reports stop reaching it and the bar is hidden', async () => {
  const { code, signal, stderr, timedOut, reports } = await run(`
    const { Worker } = require('node:worker_threads');
    const { once } = require('node:events');
    const { NativeUIWrapper, startReporter, stopReporter } = require(addon);
    const worker = new Worker(\`
      const { parentPort } = require('node:worker_threads');
      const { NativeUIWrapper } = require(\${JSON.stringify(addon)});
      const w = new NativeUIWrapper();
      let n = 0;
      w.registerLogCallback(() => { if (++n === 200) parentPort.postMessage('flowing'); });
      w.registerShowControlBarCallback(() => {});
      w.registerHideControlBarCallback(() => {});
      w.showControlBar(0);
    \`, { eval: true });
    (async () => {
      startReporter();
      await once(worker, 'message');
      await worker.terminate();
      const w = new NativeUIWrapper();
      const lines = [];
      let seq = 0;
      w.registerLogCallback((level, text) => {
        if (/^seq /.test(text)) seq++;
        else if (/^(show|hide)ControlBar/.test(text)) lines.push(text);
      });
      await until(() => seq > 50);       // the reports now reach this environment
      stopReporter();
      w.showControlBar(0);                // starts afresh only if the worker's bar was hidden
      w.hideControlBar();
      await until(() => lines.includes('hideControlBar: Completed'));
      report(lines);
      process.exit(0);
    })();
  `);
  assert.equal(timedOut, false, 'hung');
  assert.equal(signal, null, stderr);
  assert.equal(code, 0, stderr);
  assert.deepEqual(reports[0], [
    'showControlBar',
    'showControlBar: Current monitor details, x:0, y:0, width:1920, height:1080',
    'showControlBar: Completed',
    'hideControlBar',
    'hideControlBar: Completed',
  ]);
});

test('a process or worker ends by itself once its bar is hidden, after the hidden report; a shown bar keeps it alive', async () => {
  // Each runs in a process of its own; none ends the process itself unless it says so.
  const atExit = `process.on('exit', (code) => report('exit ' + code));`;
  const inWorker = (body) => `
    const { Worker } = require('node:worker_threads');
    const worker = new Worker(${'`'}
      const { parentPort } = require('node:worker_threads');
      const report = (value) => parentPort.postMessage(value);
      ${'${'}${JSON.stringify(body)}${'}'}
    ${'`'}, { eval: true });
    worker.on('message', report);
    worker.on('exit', (code) => report('worker exit ' + code));
    ${atExit}`;
  const hideOnceShown = `
    const { ScreenShareIndicator } = require(${lib});
    const indicator = new ScreenShareIndicator();
    indicator.on('hidden', (reason) => report('hidden ' + reason));
    indicator.show(0).then(() => indicator.hide());`;
  // The timer does not hold the loop: it fires only while something else does.
  const leaveShown = `
    const { ScreenShareIndicator } = require(${lib});
    const indicator = new ScreenShareIndicator();
    indicator.show(0).then(() => {
      report('shown');
      setTimeout(() => { report('alive after 2 s'); process.exit(0); }, 2000).unref();
    });`;
  const scenarios = {
    raw: [`
      const { NativeUIWrapper } = require(addon);
      const w = new NativeUIWrapper();
      w.registerShowControlBarCallback(() => w.hideControlBar());
      w.registerHideControlBarCallback(() => report('hidden'));
      w.showControlBar(0);
      ${atExit}`, ['hidden', 'exit 0']],
    'raw, a newer instance taking the reports over while shown': [`
      const { NativeUIWrapper } = require(addon);
      const older = new NativeUIWrapper();
      older.registerShowControlBarCallback(() => {
        const newer = new NativeUIWrapper();
        newer.registerHideControlBarCallback(() => report('hidden'));
        older.hideControlBar();
      });
      older.showControlBar(0);
      ${atExit}`, ['hidden', 'exit 0']],
    indicator: [hideOnceShown + atExit, ['hidden hide', 'exit 0']],
    'indicator in a worker': [inWorker(hideOnceShown), ['hidden hide', 'worker exit 0', 'exit 0']],
    'indicator left shown': [leaveShown, ['shown', 'alive after 2 s']],
    'indicator left shown in a worker': [inWorker(leaveShown), ['shown', 'alive after 2 s', 'worker exit 0', 'exit 0']],
  };
  const results = await Promise.all(Object.values(scenarios).map(([source]) =>
    runScenario(source, { display: server.display, which: 'shipped', timeoutMs: 20000 })));
  Object.keys(scenarios).forEach((name, i) => {
    const { code, signal, stderr, timedOut, reports } = results[i];
    assert.equal(timedOut, false, `${name}: did not end by itself\n${stderr}`);
    assert.equal(signal, null, `${name}: ${stderr}`);
    assert.equal(code, 0, `${name}: ${stderr}`);
    assert.deepEqual(reports, scenarios[name][1], name);
  });
});
