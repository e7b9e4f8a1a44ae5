'use strict';
// The add-on's side of bench/show-hide.js, in a process of its own (forked with an IPC channel;
// the controller's own lines on standard output go wherever the runner sends them). Uses the raw
// class as a new user would: all four functions registered, bar shown on monitor 0.
//
//   show: showControlBar(0) called -> the shown function runs on the JavaScript thread
//   hide: hideControlBar() called -> it returns
//
// Messages in: { warm: n }, { round: cycles, gap: ms }, { idle: seconds }; each is answered
// once done: { warm: true }, { show: [ms...], hide: [ms...] }, { idle: cpu ms per second }.
// With BENCH_TEXTS='{"sharing_text": ..., "stop_sharing": ...}' the bar shows those texts.
// With BENCH_MARKS=file, the monotonic times (ns) of every timed cycle's show call, shown report,
// hide call and hide return are written there at the end, for bench/trace/breakdown.js.
const fs = require('node:fs');
const path = require('node:path');

// BENCH_ADDON names another build of the add-on, to time two builds on the same machine.
const { NativeUIWrapper } = require(process.env.BENCH_ADDON ||
  path.join(__dirname, '..', 'build', 'Release', 'nativeUIWrapper.node'));

const ui = new NativeUIWrapper();
let onShown = null;
let onHidden = null;
let shownAt = 0n;
let errors = [];
ui.registerShowControlBarCallback(() => {
  shownAt = process.hrtime.bigint();
  if (onShown) onShown();
});
ui.registerHideControlBarCallback(() => { if (onHidden) onHidden(); });
ui.registerStopSharingClickEvent(() => {});
// Kept, as a logger would, but only the errors: a bench must not grow while it runs.
ui.registerLogCallback((level, text) => {
  if (level === 'error' && errors.length < 20) errors.push(text);
});

const texts = process.env.BENCH_TEXTS ? JSON.parse(process.env.BENCH_TEXTS) : null;
const showBar = () => (texts ? ui.showControlBar(0, texts) : ui.showControlBar(0));
const marks = process.env.BENCH_MARKS ? [] : null;
const ms = (ns) => Number(ns) / 1e6;
const sleep = (milliseconds) => new Promise((resolve) => setTimeout(resolve, milliseconds));

function nextReport(set) {
  return new Promise((resolve) => set(() => { set(null); resolve(); }));
}
const shown = () => nextReport((f) => { onShown = f; });
const hidden = () => nextReport((f) => { onHidden = f; });

// One showing: the time to the shown report, then after `gap` ms the time of the hide call.
// The hidden report is waited for (untimed) so that no report of this cycle falls into the next.
async function cycle(gap) {
  const waitShown = shown();
  const t0 = process.hrtime.bigint();
  showBar();
  await waitShown;
  const show = ms(shownAt - t0);
  await sleep(gap);
  const waitHidden = hidden();
  const t1 = process.hrtime.bigint();
  ui.hideControlBar();
  const t2 = process.hrtime.bigint();
  const hide = ms(t2 - t1);
  await waitHidden;
  return { show, hide, marks: [t0, shownAt, t1, t2].map(String) };
}

async function idle(seconds) {
  const waitShown = shown();
  showBar();
  await waitShown;
  await sleep(500);
  const cpu0 = process.cpuUsage();
  const wall0 = process.hrtime.bigint();
  await sleep(seconds * 1000);
  const cpu = process.cpuUsage(cpu0);
  const wall = ms(process.hrtime.bigint() - wall0);
  const waitHidden = hidden();
  ui.hideControlBar();
  await waitHidden;
  return ((cpu.user + cpu.system) / 1000) / (wall / 1000);
}

process.on('message', async (message) => {
  errors = [];
  let answer;
  if (message.warm !== undefined) {
    for (let i = 0; i < message.warm; i++) await cycle(0);
    answer = { warm: true };
  } else if (message.round !== undefined) {
    const show = [];
    const hide = [];
    for (let i = 0; i < message.round; i++) {
      const sample = await cycle(message.gap);
      show.push(sample.show);
      hide.push(sample.hide);
      if (marks) marks.push(sample.marks);
    }
    answer = { show, hide };
  } else if (message.idle !== undefined) {
    answer = { idle: await idle(message.idle) };
  }
  answer.errors = errors;
  process.send(answer);
});
process.on('disconnect', () => {
  if (marks) fs.writeFileSync(process.env.BENCH_MARKS, JSON.stringify(marks));
  process.exit(0);
});
