'use strict';
// Load: a thousand showings and a burst of a hundred thousand log lines must leave nothing
// behind, neither in the host process nor on the X server.
//
// Memory is read after two full garbage collections, two ways: RSS (coarse: the JavaScript heap
// moves it by whole pages, so it only bounds large leaks) and the bytes that malloc has handed
// out and not got back (fine: a few hundred bytes kept per showing add up to far more than its
// bound over a thousand showings). The server's view comes from a second client through the
// X-Resource extension: every kind of resource that the module's connection holds, compared by
// name and count. The bar's cursors come from a theme of our own, so that they are really
// created on every showing (without a theme there would be none to leak).
const test = require('node:test');
const assert = require('node:assert/strict');
const { startXServer, sideBySide } = require('./support/xserver');
const { runScenario } = require('./support/child');
const { buildXProbe } = require('./support/xprobe');
const { makeCursorTheme } = require('./support/cursortheme');

const MiB = 1024 * 1024;
const KiB = 1024;
// Bounds on growth from the first checkpoint (taken after a warm-up) to the last. Over the
// showings: 4 KiB of RSS and 64 bytes of malloc'd memory per showing. Over the burst: 80 bytes
// of RSS and 10 bytes of malloc'd memory per line; a line crosses the threads in a closure of
// more than 1 KiB, and each line also costs a registration, whose reference takes about 100.
const SHOWINGS_RSS_BOUND = 4 * MiB;
const SHOWINGS_MALLOC_BOUND = 64 * KiB;
const BURST_RSS_BOUND = 8 * MiB;
const BURST_MALLOC_BOUND = 1 * MiB;

const cursors = {
  sb_h_double_arrow: { size: 9, xhot: 4, yhot: 4, pixel: 0xff123456 },
  hand2: { size: 11, xhot: 1, yhot: 2, pixel: 0xff654321 },
};

let server;
let env;
test.before(async () => {
  server = await startXServer('xorg');
  await sideBySide(server.display);
  env = { XPROBE: buildXProbe(), ...makeCursorTheme(cursors) };
});
test.after(async () => { await server.stop(); });

// What both scenarios start from: the test add-on (the shipped class plus mallocInUse), the
// four functions registered, and helpers over the second client.
const prelude = `
const { execFileSync, spawn } = require('node:child_process');
const { NativeUIWrapper, mallocInUse } = require(addon);
const ui = new NativeUIWrapper();
// Counts rather than a list, for the same reason as the lines below.
let shownReports = 0;
let hiddenReports = 0;
let alternating = true;  // every shown report followed by its hidden report, and no other order
// The latest lines only: keeping every line would itself be the growth the test looks for.
const lines = [];
let hideCompletions = 0;
const keep = (text) => {
  if (text === 'hideControlBar: Completed') ++hideCompletions;
  lines.push(text);
  if (lines.length > 400) lines.splice(0, 200);
};
ui.registerShowControlBarCallback(() => {
  if (shownReports !== hiddenReports) alternating = false;
  ++shownReports;
});
ui.registerHideControlBarCallback(() => {
  ++hiddenReports;
  if (shownReports !== hiddenReports) alternating = false;
});
ui.registerLogCallback((level, text) => keep(text));
const last = (pattern) => { for (let i = lines.length - 1; i >= 0; --i) { const m = pattern.exec(lines[i]); if (m) return m; } };
const xprobe = (...args) => execFileSync(process.env.XPROBE, args, { encoding: 'utf8' });
let connectionId;  // any XID of the module's connection: the bar window of the first showing
const resources = () => {
  const r = JSON.parse(xprobe('resources', connectionId));
  if (r.base === null) throw new Error('the module has no connection on the server');
  return r.counts;
};
const memory = () => {
  global.gc(); global.gc();
  return { rss: process.memoryUsage().rss, malloc: mallocInUse() };
};
let shows = 0;
const show = async (monitor, options) => {
  if (options) ui.showControlBar(monitor, options); else ui.showControlBar(monitor);
  ++shows;
  await until(() => shownReports === shows);
  connectionId ??= last(/Created control bar window: (0x[0-9A-F]+)/)[1];
};
const hide = async () => {
  ui.hideControlBar();
  await until(() => hiddenReports === shows);
};
const main = (body) => body().then(() => process.exit(0), (e) => { console.error(e); process.exit(1); });
`;

// A young generation of fixed size: V8 otherwise grows it under the allocation rate of the
// loops, by several MiB of RSS that have nothing to do with the module.
const nodeArgs = ['--expose-gc', '--min-semi-space-size=1', '--max-semi-space-size=1'];

async function scenario(source) {
  const result = await runScenario(prelude + source, {
    display: server.display, which: 'test', nodeArgs, env, timeoutMs: 150000,
  });
  assert.equal(result.timedOut, false, `scenario hung: ${result.stderr}`);
  assert.equal(result.code, 0, `scenario failed: ${result.stderr}`);
  assert.equal(result.stderr, '');
  return result.reports;
}

const growth = (checkpoints, key) => checkpoints.at(-1)[key] - checkpoints[0][key];

test('1,000 showings, on one monitor (half of them with CJK texts), alternating two, and switching without a hide, leave memory and the server flat', async (t) => {
  const [r] = await scenario(`
    main(async () => {
      // Half the showings with texts that Pango lays out from fallback fonts.
      const cjk = { sharing_text: '画面全体を共有しています', stop_sharing: '共有を停止' };
      for (let i = 0; i < 20; ++i) { await show(i % 2, i % 4 < 2 ? cjk : undefined); await hide(); }

      // The cursors of this showing are our theme's: the grips' and the stop text's.
      await show(1);
      const bar = /Absolute upper-left X:\\s+(\\d+)[^]*Absolute upper-left Y:\\s+(\\d+)/
        .exec(execFileSync('xwininfo', ['-id', last(/Created control bar window: (0x[0-9A-F]+)/)[1]],
          { encoding: 'utf8' })).slice(1).map(Number);
      const children = lines.slice(-40).map((l) => /^Creating child window at, x: (\\d+)/.exec(l))
        .filter(Boolean).map((m) => Number(m[1])).slice(-5);
      const cursorAt = (child) => JSON.parse(xprobe('cursor', String(bar[0] + children[child] + 3), String(bar[1] + 12)));
      const cursors = [cursorAt(0), cursorAt(3), cursorAt(4)];
      const shownCounts = [resources()];
      await hide();

      const checkpoints = [{ cycle: 0, ...memory(), counts: resources() }];
      for (let i = 1; i <= 1000; ++i) {
        if (i <= 400) {
          await show(0, i % 2 ? cjk : undefined);
          await hide();
        } else if (i <= 800) {
          await show(i % 2);
          await hide();
        } else {
          await show(i % 2);    // the other monitor: hidden, then shown there
          if (i === 1000) { shownCounts.push(resources()); await hide(); }
        }
        if (i % 250 === 0) checkpoints.push({ cycle: i, ...memory(), counts: resources() });
      }
      report({ cursors, shownCounts, checkpoints, shows, shownReports, hiddenReports, alternating });
    });
  `);
  assert.deepEqual(r.cursors.map(({ width, xhot, pixel }) => [width, xhot, pixel]), [
    [9, 4, '0xff123456'], [11, 1, '0xff654321'], [9, 4, '0xff123456'],
  ], 'the bar does not use the test theme\'s cursors, so none could leak');
  assert.deepEqual([r.shows, r.shownReports, r.hiddenReports], [1021, 1021, 1021]);
  assert.ok(r.alternating, 'every shown report is followed by its hidden report');
  // While hidden the connection keeps only what outlives the showings (the font's glyph set,
  // its pictures and a GC); every window, colormap, GC and cursor of a showing is gone.
  for (const checkpoint of r.checkpoints) {
    assert.deepEqual(checkpoint.counts, r.checkpoints[0].counts, `after ${checkpoint.cycle} showings`);
  }
  assert.equal(r.checkpoints[0].counts.WINDOW, undefined);
  assert.equal(r.checkpoints[0].counts.CURSOR, undefined);
  assert.deepEqual(r.shownCounts[1], r.shownCounts[0], 'a showing holds the same resources each time');
  assert.equal(r.shownCounts[0].WINDOW, 7);
  const rss = growth(r.checkpoints, 'rss');
  const malloc = growth(r.checkpoints, 'malloc');
  assert.ok(rss <= SHOWINGS_RSS_BOUND, `RSS grew by ${rss} bytes over 1,000 showings`);
  assert.ok(malloc <= SHOWINGS_MALLOC_BOUND, `malloc'd bytes grew by ${malloc} over 1,000 showings`);
  t.diagnostic(`RSS ${rss} B, malloc ${malloc} B over 1,000 showings`);
});

// The lines are the UI thread's own: one per exposure of a text child, drawn and logged by its
// event loop. A second client asks for the exposures a thousand at a time and the next thousand
// only once the lines have arrived: Xlib keeps the queue entries of the largest backlog its
// connection ever had until the connection closes, so an unpaced flood would leave megabytes
// held that no line leaked. A warm-up of 10,000 lines brings that queue to its size first.
test('100,000 log lines from the UI thread while JavaScript keeps re-registering the log function', async (t) => {
  const [r] = await scenario(`
    main(async () => {
      await show(0);
      await hide();
      const hiddenCounts = resources();
      await show(1);
      const [, notice, , stop] = lines.map((l) => /^Child window created : (0x[0-9A-F]+)/.exec(l))
        .filter(Boolean).map((m) => m[1]).slice(-5);

      // Every registration passes the function through the safe-wrap function and replaces the
      // slot's reference; lines in flight go to whichever function is registered when they run.
      // Each line registers anew, and so does every turn of the loop in between.
      NativeUIWrapper._internal_setSafeWrap((f) => (...args) => f(...args));
      const drawn = new Map([[String(Number(notice)), 0], [String(Number(stop)), 0]]);
      let total = 0;
      let registrations = 0;
      const register = () => {
        ++registrations;
        ui.registerLogCallback((level, text) => {
          const m = /^Winid: (\\d+),/.exec(text);
          if (m && drawn.has(m[1])) {
            drawn.set(m[1], drawn.get(m[1]) + 1);
            ++total;
          } else {
            keep(text);
          }
          register();
        });
      };
      let registering = true;
      const keepRegistering = () => { if (registering) { register(); setImmediate(keepRegistering); } };
      keepRegistering();

      const exposer = spawn(process.env.XPROBE, ['expose', '-', notice, stop],
        { stdio: ['pipe', 'ignore', 'inherit'] });
      const drawLines = async (count) => {
        for (let sent = 0; sent < count; sent += 1000) {
          const target = total + 1000;
          exposer.stdin.write('1000\\n');
          await until(() => total >= target);
        }
      };
      await drawLines(10000);
      const warm = { total, registrations };
      const before = memory();
      await drawLines(100000);
      exposer.stdin.end();
      const completions = hideCompletions;
      ui.hideControlBar();  // every line drawn before it arrives before its last line
      await until(() => hideCompletions > completions);
      registering = false;
      report({ drawn: [...drawn.values()], warm, total, registrations, before, after: memory(),
               hiddenCounts, afterCounts: resources(), shownReports, hiddenReports, alternating });
    });
  `);
  assert.deepEqual(r.drawn, [55000, 55000], 'each exposure is drawn once and its line delivered once');
  const registrations = r.registrations - r.warm.registrations;
  assert.ok(registrations > 100000, `${registrations} registrations during the burst`);
  assert.deepEqual([r.shownReports, r.hiddenReports, r.alternating], [2, 2, true]);
  assert.deepEqual(r.afterCounts, r.hiddenCounts);
  const rss = r.after.rss - r.before.rss;
  const malloc = r.after.malloc - r.before.malloc;
  assert.ok(rss <= BURST_RSS_BOUND, `RSS grew by ${rss} bytes over the burst`);
  assert.ok(malloc <= BURST_MALLOC_BOUND, `malloc'd bytes grew by ${malloc} over the burst`);
  t.diagnostic(`RSS ${rss} B, malloc ${malloc} B, ${registrations} registrations`);
});
