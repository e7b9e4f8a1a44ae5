'use strict';
// Throughput and latency of JavascriptDispatcher::async against Node's own
// napi_threadsafe_function carrying the same items (a heap std::function run and freed on the
// JavaScript thread). A program to run and read, not a test:
//
//   node bench/dispatcher.js [items per producer thread] [latency samples] [rounds]
//
// Build first (bash scripts/build.sh). Rounds alternate the two carriers so that neither
// always runs on a warmer machine; the best round of each is reported next to the median.
const path = require('node:path');
const { bench } = require(path.join(__dirname, '..', 'build', 'Release', 'dispatcherTest.node'));

const perThread = Number(process.argv[2] || 500000);
const samples = Number(process.argv[3] || 20000);
const rounds = Number(process.argv[4] || 5);
const carriers = ['dispatcher', 'node'];

const nextTurn = () => new Promise((resolve) => setImmediate(resolve));

async function throughput(kind, threads, work) {
  const elapsed = await new Promise((resolve) => bench.throughput(kind, threads, perThread, work, resolve));
  await nextTurn();
  bench.finish();
  return (threads * perThread) / (elapsed / 1e9);
}

async function latency(kind) {
  const values = await new Promise((resolve) => bench.latency(kind, samples, resolve));
  await nextTurn();
  bench.finish();
  values.sort((a, b) => a - b);
  const at = (q) => values[Math.min(values.length - 1, Math.floor(q * values.length))] / 1000;
  return { p50: at(0.5), p90: at(0.9), p99: at(0.99) };
}

const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
const fmt = (n) => (n / 1e6).toFixed(2) + ' M/s';
const us = (n) => n.toFixed(1) + ' µs';

(async () => {
  const noop = () => {};
  const cases = [
    ['1 producer, native closure', 1, null],
    ['2 producers, native closure', 2, null],
    ['1 producer, closure calls a JS function', 1, noop],
    ['2 producers, closure calls a JS function', 2, noop],
  ];
  console.log(`node ${process.version}, ${perThread} items per producer, ${rounds} rounds, ${samples} latency samples`);
  console.log('\nthroughput (items per second: best / median of rounds)');
  for (const [label, threads, work] of cases) {
    const results = { dispatcher: [], node: [] };
    for (let round = 0; round < rounds; round++) {
      const order = round % 2 === 0 ? carriers : [...carriers].reverse();
      for (const kind of order) results[kind].push(await throughput(kind, threads, work));
    }
    const line = carriers.map((k) =>
      `${k.padEnd(10)} ${fmt(Math.max(...results[k])).padStart(10)} / ${fmt(median(results[k])).padStart(10)}`);
    console.log(`  ${label.padEnd(42)} ${line.join('   ')}`);
  }
  console.log('\nlatency from async on another thread to the closure running (median of rounds)');
  const lat = { dispatcher: [], node: [] };
  for (let round = 0; round < rounds; round++) {
    const order = round % 2 === 0 ? carriers : [...carriers].reverse();
    for (const kind of order) lat[kind].push(await latency(kind));
  }
  for (const kind of carriers) {
    const pick = (key) => us(median(lat[kind].map((r) => r[key])));
    console.log(`  ${kind.padEnd(10)} p50 ${pick('p50').padStart(9)}   p90 ${pick('p90').padStart(9)}   p99 ${pick('p99').padStart(9)}`);
  }
  process.exit(0);
})();
