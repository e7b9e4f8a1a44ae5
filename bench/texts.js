'use strict';
// The show of a bar whose texts need Pango (fallback fonts, shaping, right-to-left) against one
// whose texts Xft draws alone, on a private Xorg dummy server with openbox. Each text set runs
// in a fresh process: its first show (connection, fonts opened, for Pango the fallback fonts
// found and loaded) is timed apart from the warm ones that follow. A program to run and read:
//
//   node bench/texts.js [warm cycles] [processes per text set]
const { fork } = require('node:child_process');
const path = require('node:path');
const { startXServer, singleMonitor, startOpenbox } =
  require(path.join(__dirname, '..', 'tests', 'js', 'support', 'xserver'));

const cycles = Number(process.argv[2] || 200);
const processes = Number(process.argv[3] || 5);
const sets = {
  'Latin (default texts)': null,
  'Latin (custom)': { sharing_text: 'Sie teilen den gesamten Bildschirm', stop_sharing: 'Freigabe beenden' },
  Japanese: { sharing_text: '画面全体を共有しています', stop_sharing: '共有を停止' },
  'Arabic + Hebrew': { sharing_text: 'أنت تشارك الشاشة بأكملها', stop_sharing: 'אתה משתף את כל המסך' },
  'Hindi + Thai': { sharing_text: 'आप पूरी स्क्रीन साझा कर रहे हैं', stop_sharing: 'คุณกำลังแชร์ทั้งหน้าจอ' },
};

function run(display, texts) {
  const env = { ...process.env, DISPLAY: display };
  if (texts) env.BENCH_TEXTS = JSON.stringify(texts);
  const child = fork(path.join(__dirname, 'show-hide-addon.js'), [], {
    env, stdio: ['ignore', 'ignore', 'inherit', 'ipc'],
  });
  const ask = (message) => new Promise((resolve) => {
    child.once('message', (answer) => {
      if (answer.errors.length) console.log(`  error lines: ${answer.errors.join(' | ')}`);
      resolve(answer);
    });
    child.send(message);
  });
  return { ask, stop: () => { child.disconnect(); return new Promise((r) => child.once('exit', r)); } };
}

const median = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];

(async () => {
  const server = await startXServer('xorg');
  await singleMonitor(server.display);
  const wm = await startOpenbox(server.display);
  const firsts = new Map();
  const warms = new Map();
  // Rounds go through every set in turn, so that no set always meets the warmest disk cache.
  for (let round = 0; round < processes; round++) {
    for (const [label, texts] of Object.entries(sets)) {
      const side = run(server.display, texts);
      const first = (await side.ask({ round: 1, gap: 0 })).show[0];
      await side.ask({ warm: 10 });
      const warm = median((await side.ask({ round: cycles, gap: 0 })).show);
      firsts.set(label, [...(firsts.get(label) || []), first]);
      warms.set(label, [...(warms.get(label) || []), warm]);
      await side.stop();
    }
  }
  console.log(`show, ms: medians over ${processes} processes of the first show and of the ` +
    `median of ${cycles} warm shows`);
  for (const label of Object.keys(sets)) {
    console.log(`${label.padEnd(24)} first ${median(firsts.get(label)).toFixed(2).padStart(7)}` +
      `   warm ${median(warms.get(label)).toFixed(3).padStart(7)}`);
  }
  await wm.stop();
  await server.stop();
})();
