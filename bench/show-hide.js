'use strict';
// Show and hide of the add-on, from JavaScript, side by side with bare Xlib doing the least the
// same job needs (bench/xlib-baseline.c), on a private Xorg dummy server (one 1920x1080 monitor)
// with openbox, both started and stopped here. It also times the add-on's own windows made in
// bare Xlib (the floor: what the server alone spends on them). A program to run and read, not a
// test:
//
//   node bench/show-hide.js [rounds] [cycles per round] [gap ms] [idle seconds]
//   BENCH_ADDON=/other/build/Release/nativeUIWrapper.node node bench/show-hide.js
//
// Build the add-on first (bash scripts/build.sh); the baseline is compiled here with cc. Rounds
// alternate which side goes first, so that neither always runs on a warmer machine. Each side
// runs in a process of its own, warmed up before the first round. Every time is a wall-clock
// time, so a loaded machine shows in them: the load average is printed before and after.
const { execFileSync, fork, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { startXServer, singleMonitor, startOpenbox } =
  require(path.join(__dirname, '..', 'tests', 'js', 'support', 'xserver'));

const rounds = Number(process.argv[2] || 3);
const cycles = Number(process.argv[3] || 200);
const gap = Number(process.argv[4] || 20);
const idleSeconds = Number(process.argv[5] || 5);
const WARM = 20;

const root = path.join(__dirname, '..');
const addon = process.env.BENCH_ADDON || path.join(root, 'build', 'Release', 'nativeUIWrapper.node');

function buildBaseline() {
  const out = path.join(root, 'build', 'bench', 'xlib-baseline');
  fs.mkdirSync(path.dirname(out), { recursive: true });
  execFileSync('cc', ['-O2', '-Wall', '-Wextra', '-o', out, path.join(__dirname, 'xlib-baseline.c'),
    '-lX11', '-lXrandr', '-lXext', '-lXcursor', '-lpthread'], { stdio: 'inherit' });
  return out;
}

// The add-on's process: one request at a time, answered over IPC.
function startAddonSide(display) {
  const child = fork(path.join(__dirname, 'show-hide-addon.js'), [], {
    env: { ...process.env, DISPLAY: display },
    stdio: ['ignore', 'ignore', 'inherit', 'ipc'],
  });
  const ask = (message) => new Promise((resolve, reject) => {
    const onExit = (code, signal) => reject(new Error(`add-on side ended: ${code ?? signal}`));
    child.once('exit', onExit);
    child.once('message', (answer) => {
      child.off('exit', onExit);
      if (answer.errors.length) console.log(`  add-on error lines: ${answer.errors.join(' | ')}`);
      resolve(answer);
    });
    child.send(message);
  });
  return {
    warm: () => ask({ warm: WARM }),
    round: () => ask({ round: cycles, gap }),
    idle: async () => (await ask({ idle: idleSeconds })).idle,
    stop: () => { child.disconnect(); return new Promise((r) => child.once('exit', r)); },
  };
}

// The baseline's process: one command a line on its standard input, answers on its output.
function startBaselineSide(display, program) {
  const child = spawn(program, [], {
    env: { ...process.env, DISPLAY: display },
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  const lines = readline.createInterface({ input: child.stdout });
  const waiting = [];
  lines.on('line', (line) => waiting.shift()(line));
  child.once('exit', (code, signal) => {
    for (const resolve of waiting.splice(0)) resolve(`ended ${code ?? signal}`);
  });
  const command = (text, answers) => {
    const got = [];
    const done = new Promise((resolve) => {
      for (let i = 0; i < answers; i++) {
        waiting.push((line) => { got.push(line); if (got.length === answers) resolve(got); });
      }
    });
    child.stdin.write(`${text}\n`);
    return done;
  };
  const numbers = (line, name) => {
    const [head, ...values] = line.split(' ');
    if (head !== name) throw new Error(`baseline answered "${line}" instead of ${name}`);
    return values.map(Number);
  };
  return {
    warm: () => command(`warm ${WARM}`, 1),
    round: async () => {
      const [show, hide] = await command(`round ${cycles} ${gap}`, 2);
      return { show: numbers(show, 'show'), hide: numbers(hide, 'hide') };
    },
    floor: async () => {
      const [show, hide] = await command(`floor ${cycles} ${gap}`, 2);
      return { show: numbers(show, 'show'), hide: numbers(hide, 'hide') };
    },
    idle: async () => numbers((await command(`idle ${idleSeconds}`, 1))[0], 'idle')[0],
    stop: () => { child.stdin.end('quit\n'); return new Promise((r) => child.once('exit', r)); },
  };
}

const sorted = (list) => [...list].sort((a, b) => a - b);
const quantile = (list, q) => {
  const s = sorted(list);
  return s[Math.min(s.length - 1, Math.floor(q * s.length))];
};
const median = (list) => quantile(list, 0.5);
const f3 = (v) => v.toFixed(3).padStart(7);
const load = () => os.loadavg().map((v) => v.toFixed(2)).join(' ');

function summarise(label, perRound) {
  const medians = perRound.map((r) => median(r));
  const p90s = perRound.map((r) => quantile(r, 0.9));
  const all = perRound.flat();
  return {
    label,
    median: median(medians),
    p90: median(p90s),
    slowest: Math.max(...all),
    line: `  ${label.padEnd(34)} median ${f3(median(medians))} ms   p90 ${f3(median(p90s))} ms` +
      `   slowest ${f3(Math.max(...all))} ms   (round medians ${medians.map((m) => m.toFixed(3)).join(', ')})`,
  };
}

(async () => {
  if (!fs.existsSync(addon)) {
    console.error(`${addon} is missing: build it first (bash scripts/build.sh)`);
    process.exit(1);
  }
  const program = buildBaseline();
  const server = await startXServer('xorg');
  let wm;
  let sides = [];
  try {
    await singleMonitor(server.display);
    wm = await startOpenbox(server.display);
    const addonSide = startAddonSide(server.display);
    const baseline = startBaselineSide(server.display, program);
    sides = [addonSide, baseline];
    console.log(`node ${process.version}, ${os.cpus().length} cores, Xorg dummy ${server.display}` +
      ` with openbox, one 1920x1080 monitor`);
    console.log(`${rounds} rounds of ${cycles} cycles (after ${WARM} warm-up cycles),` +
      ` ${gap} ms between shown and hide; load average ${load()}`);
    await addonSide.warm();
    await baseline.warm();

    const results = { addon: { show: [], hide: [] }, baseline: { show: [], hide: [] },
      floor: { show: [], hide: [] } };
    const run = { addon: addonSide.round, baseline: baseline.round, floor: baseline.floor };
    for (let round = 0; round < rounds; round++) {
      const order = round % 2 === 0 ? ['addon', 'baseline', 'floor'] : ['floor', 'baseline', 'addon'];
      for (const name of order) {
        const r = await run[name]();
        results[name].show.push(r.show);
        results[name].hide.push(r.hide);
      }
      console.log(`  round ${round + 1}: add-on show ${median(results.addon.show[round]).toFixed(3)}` +
        ` hide ${median(results.addon.hide[round]).toFixed(3)}, baseline show` +
        ` ${median(results.baseline.show[round]).toFixed(3)} hide` +
        ` ${median(results.baseline.hide[round]).toFixed(3)} ms (medians)`);
    }
    const addonIdle = await addonSide.idle();
    const baselineIdle = await baseline.idle();

    const s = {
      addonShow: summarise('add-on show (call -> shown report)', results.addon.show),
      baseShow: summarise('baseline show', results.baseline.show),
      addonHide: summarise('add-on hide (call -> return)', results.addon.hide),
      baseHide: summarise('baseline hide', results.baseline.hide),
    };
    const floor = {
      show: summarise('floor show', results.floor.show),
      hide: summarise('floor hide', results.floor.hide),
    };
    console.log('\nmedians of the round medians, medians of the round p90s, slowest single cycle:');
    for (const entry of Object.values(s)) console.log(entry.line);
    console.log('\nfloor: the add-on\'s own windows made and destroyed in bare Xlib, no monitor listing' +
      ' (what the server spends on them; not a baseline):');
    for (const entry of Object.values(floor)) console.log(entry.line);
    console.log(`  floor / baseline: show ${(floor.show.median / s.baseShow.median).toFixed(2)}x,` +
      ` hide ${(floor.hide.median / s.baseHide.median).toFixed(2)}x`);
    console.log(`\nCPU while shown and idle (${idleSeconds} s): add-on process` +
      ` ${addonIdle.toFixed(3)} ms/s, baseline process ${baselineIdle.toFixed(3)} ms/s`);
    console.log(`load average after: ${load()}`);
    const showRatio = s.addonShow.median / s.baseShow.median;
    const hideRatio = s.addonHide.median / s.baseHide.median;
    console.log(`ratios (add-on / baseline, medians): show ${showRatio.toFixed(2)}x` +
      ` (${s.addonShow.median.toFixed(3)} / ${s.baseShow.median.toFixed(3)} ms),` +
      ` hide ${hideRatio.toFixed(2)}x (${s.addonHide.median.toFixed(3)} /` +
      ` ${s.baseHide.median.toFixed(3)} ms)`);
  } finally {
    for (const side of sides) await side.stop();
    if (wm) await wm.stop();
    await server.stop();
  }
  process.exit(0);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
