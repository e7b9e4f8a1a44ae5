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
