'use strict';
// JavascriptDispatcher and the thread-safe function under it, through the test add-on's Probe:
// producer threads, order, sync, re-posting, errors of closures, and tear-down with work queued.
// Each scenario runs in a child (a probe's wake-up handles keep its process alive).
const test = require('node:test');
const assert = require('node:assert/strict');
const { runScenario } = require('./support/child');

async function scenario(source, options = {}) {
  const result = await runScenario(source, { which: 'test', ...options });
  assert.equal(result.timedOut, false, `the scenario hung: ${result.stderr}`);
  assert.equal(result.code, 0, result.stderr);
  return result.reports;
}

test('closures from several threads all run, each thread\'s in the order posted', async () => {
  const [r] = await scenario(`
    const { Probe, live } = require(addon);
    const probe = new Probe();
    const runs = [];
    probe.asyncFromThreads(4, 2500, (thread, seq) => runs.push([thread, seq]));
    const inline = runs.length;
    until(() => runs.length >= 10000).then(() => setImmediate(() => {
      const next = [0, 0, 0, 0];
      let outOfOrder = 0;
      for (const [thread, seq] of runs) {
        if (seq !== next[thread]) outOfOrder++;
        next[thread] = seq + 1;
      }
      report({ inline, count: runs.length, outOfOrder, next, live: live() });
      process.exit(0);
    }));
  `);
  assert.deepEqual(r, { inline: 0, count: 10000, outOfOrder: 0, next: [2500, 2500, 2500, 2500], live: 0 });
});

test('a closure posted on the JavaScript thread runs later, and one it posts runs in the same wake-up', async () => {
  const [r] = await scenario(`
    const { Probe } = require(addon);
    const probe = new Probe();
    const order = [];
    probe.post(() => order.push('posted'));
    order.push('after post');
    probe.postReposting((name) => {
      order.push(name);
      if (name === 'A') setImmediate(() => order.push('next turn'));
    });
    until(() => order.length >= 6).then(() => { report(order); process.exit(0); });
  `);
  assert.deepEqual(r, ['after post', 'posted', 'A', 'B', 'C', 'next turn']);
});

test('a closure that keeps posting itself does not starve the loop', async () => {
  const [r] = await scenario(`
    const { Probe } = require(addon);
    const probe = new Probe();
    let runs = 0;
    let stop = false;
    setImmediate(() => { stop = true; });
    probe.postWhile(() => { runs++; return !stop; });
    until(() => stop).then(() => setImmediate(() => {
      report({ stopped: stop, ran: runs > 0 });
      process.exit(0);
    }));
  `);
  assert.deepEqual(r, { stopped: true, ran: true });
});

test('sync returns only after its closure has run, with two threads waiting at once', async () => {
  const [r] = await scenario(`
    const { Probe, live } = require(addon);
    const probe = new Probe();
    const runs = [[], []];
    const done = [];
    probe.syncFromThreads(2, 2000, (thread, seq) => runs[thread].push(seq), (thread, violations) => {
      done.push([thread, violations]);
    });
    until(() => done.length === 2).then(() => {
      probe.join();
      const inOrder = runs.map((list) => list.every((seq, i) => seq === i));
      report({ done: done.sort(), counts: runs.map((l) => l.length), inOrder, live: live() });
      process.exit(0);
    });
  `);
  assert.deepEqual(r, { done: [[0, 0], [1, 0]], counts: [2000, 2000], inOrder: [true, true], live: 0 });
});

test('errors of closures become uncaught exceptions; draining goes on and sync is released', async () => {
  const [r] = await scenario(`
    const { Probe, live } = require(addon);
    const probe = new Probe();
    const seen = [];
    const thrown = new Error('from JavaScript');
    process.on('uncaughtException', (e) => seen.push(e === thrown ? 'the thrown error' : e.message));
    probe.post(() => { throw thrown; });
    probe.post(() => seen.push('next closure'));
    probe.postThrowingCpp('a C++ exception');
    probe.postPendingException('left pending by a failed call');
    probe.post(() => seen.push('last closure'));
    probe.syncThrowing(() => { throw new Error('in sync'); }, (ran) => seen.push('sync returned ' + ran));
    until(() => seen.length >= 7).then(() => setImmediate(() => {
      probe.join();
      report({ seen, live: live() });
      process.exit(0);
    }));
  `);
  const sync = r.seen.filter((s) => /sync/.test(s));
  const rest = r.seen.filter((s) => !/sync/.test(s));
  assert.deepEqual(rest, ['the thrown error', 'next closure', 'a C++ exception',
    'left pending by a failed call', 'last closure']);
  assert.deepEqual(sync, ['in sync', 'sync returned false']);
  assert.equal(r.live, 0);
});

test('without an uncaughtException handler a throwing closure ends the process as Node does', async () => {
  const result = await runScenario(`
    const { Probe } = require(addon);
    const probe = new Probe();
    probe.post(() => { throw new Error('nobody catches this'); });
  `, { which: 'test' });
  assert.equal(result.timedOut, false);
  assert.equal(result.code, 1);
  assert.match(result.stderr, /Error: nobody catches this/);
});

test('destroying a dispatcher frees its queued closures unrun and releases a thread in sync', async () => {
  const [r] = await scenario(`
    const { Probe, live } = require(addon);
    const probe = new Probe();
    let called = 0;
    const result = probe.queueAndClose(100, () => called++);
    const liveAtClose = live();
    setImmediate(() => setImmediate(() => {
      report({ result, called, liveAtClose });
      process.exit(0);
    }));
  `);
  assert.deepEqual(r, { result: { syncResult: 0, waitingBeforeClose: 1 }, called: 0, liveAtClose: 0 });
});

test('a closure may destroy its own dispatcher; the closures behind it never run', async () => {
  const [r] = await scenario(`
    const { Probe, live } = require(addon);
    const probe = new Probe();
    let called = 0;
    let closed = false;
    probe.closeFromInside(() => called++, () => { closed = true; });
    until(() => closed).then(() => setImmediate(() => {
      report({ called, live: live() });
      process.exit(0);
    }));
  `);
  assert.deepEqual(r, { called: 0, live: 0 });
});

test('a process whose dispatchers are all collected ends by itself', async () => {
  const [r] = await scenario(`
    const { Probe } = require(addon);
    let probe = new Probe();
    let ran = false;
    probe.post(() => { ran = true; });
    until(() => ran).then(() => {
      probe = null;
      global.gc();
      process.on('exit', () => report({ ran }));
    });
  `, { nodeArgs: ['--expose-gc'] });
  assert.deepEqual(r, { ran: true });
});
