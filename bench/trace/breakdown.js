'use strict';
// Where the time of one show and one hide goes. The add-on's side of bench/show-hide.js runs
// under bench/trace/xtrace.c, which times every call into Xlib, Xft, Xcursor, LodePNG and a few of
// libc's with the round trips it waited for; the calls are grouped into the steps of a showing.
// Medians over the cycles. A program to run and read, not a test:
//
//   node bench/trace/breakdown.js [cycles] [--timeline] [--sync]
//
// --timeline prints every recorded call of the median show and hide. --sync follows each request
// with an XSync inside its call, so that the server's own time shows in the request that caused
// it (the whole then grows by one round trip per request). The wrappers cost about a microsecond
// per call, so the sum comes out a little above bench/show-hide.js.
const { execFileSync, fork } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startXServer, singleMonitor, startOpenbox } =
  require(path.join(__dirname, '..', '..', 'tests', 'js', 'support', 'xserver'));

const args = process.argv.slice(2);
const timeline = args.includes('--timeline');
const syncEach = args.includes('--sync');
const cycles = Number(args.find((a) => /^\d+$/.test(a)) || 100);
const root = path.join(__dirname, '..', '..');
const MAP_NOTIFY = 19;

function buildTracer() {
  const out = path.join(root, 'build', 'bench', 'xtrace.so');
  fs.mkdirSync(path.dirname(out), { recursive: true });
  const cflags = execFileSync('pkg-config', ['--cflags', 'xft']).toString().trim().split(/\s+/);
  execFileSync('cc', ['-O2', '-Wall', '-Wextra', '-shared', '-fPIC', '-o', out,
    path.join(__dirname, 'xtrace.c'), ...cflags,
    // Linked to them so that they are loaded with it, in the global scope, where RTLD_NEXT
    // finds them: Node loads the add-on, and with it these, with a local scope.
    '-Wl,--no-as-needed', '-lX11', '-lXrandr', '-lXext', '-lXft', '-lXcursor', '-lXrender',
    '-llodepng', '-lxcb', '-ldl'], { stdio: 'inherit' });
  return out;
}

async function collect(display, tracer, dir) {
  const traceFile = path.join(dir, 'trace.txt');
  const marksFile = path.join(dir, 'marks.json');
  const env = { ...process.env, DISPLAY: display, LD_PRELOAD: tracer, XTRACE_OUT: traceFile,
    BENCH_MARKS: marksFile };
  if (syncEach) env.XTRACE_SYNC = '1';
  const child = fork(path.join(__dirname, '..', 'show-hide-addon.js'), [], {
    env, stdio: ['ignore', 'ignore', 'inherit', 'ipc'],
  });
  const ask = (message) => new Promise((resolve, reject) => {
    const onExit = (code, signal) => reject(new Error(`traced add-on side ended: ${code ?? signal}`));
    child.once('exit', onExit);
    child.once('message', (answer) => { child.off('exit', onExit); resolve(answer); });
    child.send(message);
  });
  await ask({ warm: 20 });
  await ask({ round: cycles, gap: 20 });
  child.disconnect();
  await new Promise((resolve) => child.once('exit', resolve));
  const lines = fs.readFileSync(traceFile, 'utf8').split('\n');
  const pid = Number(lines[0].split(' ')[2]);
  const calls = lines.slice(1).filter(Boolean).map((line) => {
    const [tid, start, duration, replies, name, arg, arg2, detail] = line.split(' ');
    const begin = BigInt(start);
    return { tid: Number(tid), start: begin, end: begin + BigInt(duration),
      duration: Number(duration) / 1e6, replies: Number(replies), name, arg: Number(arg),
      arg2: Number(arg2), detail };
  }).sort((a, b) => (a.start < b.start ? -1 : a.start > b.start ? 1 : 0));
  const marks = JSON.parse(fs.readFileSync(marksFile, 'utf8')).map((m) => m.map(BigInt));
  return { pid, calls, marks };
}

const ms = (ns) => Number(ns) / 1e6;

class Steps {
  constructor() { this.map = new Map(); }
  add(step, time, replies = 0, count = 1) {
    const s = this.map.get(step) || { time: 0, replies: 0, count: 0 };
    s.time += time;
    s.replies += replies;
    s.count += count;
    this.map.set(step, s);
  }
  call(step, c) { this.add(step, c.duration, c.replies); }
  // A stretch of waiting that no recorded call covers; counted with the calls, not in them.
  span(step, from, to) { this.add(step, ms(to - from), 0, 0); }
}

// The JavaScript thread's part of a show: from the call until the UI thread has been started.
function jsShowStep(c) {
  switch (c.name) {
    case 'vsnprintf': return 'log lines, JS thread (format)';
    case 'write': return 'log lines, JS thread (uv_async_send)';
    case 'XOpenDisplay': return 'monitor list: XOpenDisplay (a new connection)';
    case 'XCloseDisplay': return 'monitor list: XCloseDisplay';
    case 'XRRGetScreenResources': return 'monitor list: XRRGetScreenResources';
    case 'XRRGetCrtcInfo': return 'monitor list: XRRGetCrtcInfo, per CRTC';
    case 'XSync': case 'XFlush': return 'monitor list: its error suppressor (XFlush + XSync, twice)';
    case 'XRRQueryExtension': return 'monitor list: XRRQueryExtension';
    case 'XSelectInput': case 'XPending': return 'monitor list: XSelectInput, XPending';
    case 'pipe2': case 'pthread_create': return 'thread start: pipe2 + pthread_create';
    default: return `JS thread: ${c.name}`;
  }
}

// The UI thread's part of a show, up to the MapNotify of the border window.
function uiShowStep(c, state) {
  const n = c.name;
  if (n === 'XSync' || n === 'XFlush') {
    return state.syncs++ < 2 ? 'error suppressor install: XFlush + XSync' : 'build: XSync';
  }
  if (n === 'vsnprintf') return 'log lines, UI thread (format)';
  if (n === 'write') return 'log lines, UI thread (uv_async_send)';
  if (n === 'XQueryExtension' || n === 'XShapeQueryExtension') return 'Shape extension queries';
  if (n === 'XInternAtom') return 'atoms: XInternAtom';
  if (n === 'XGetWindowProperty') return 'work area: XGetWindowProperty';
  if (n === 'XMatchVisualInfo') return 'visual: XMatchVisualInfo (border, bar, each child)';
  if (n === 'XCreateColormap' || n === 'XFreeColormap') return 'colormaps: create + free, each window';
  if (n === 'XCreateWindow') {
    if (!state.border) { state.border = c.arg2; return 'border window: XCreateWindow'; }
    if (!state.bar) { state.bar = c.arg2; return 'bar window: XCreateWindow'; }
    return 'child windows: XCreateWindow';
  }
  if (n === 'XChangeProperty' || n === 'XSetWMNormalHints' || n === 'XSendEvent') {
    return 'hints and properties (XChangeProperty, size hints, XSendEvent)';
  }
  if (n === 'XShapeCombineRectangles') return 'shapes: the frame';
  if (/^X(CreatePixmap|FreePixmap|FillRectangle|FillArc|ShapeCombineMask|SetForeground)$/.test(n) ||
      ((n === 'XCreateGC' || n === 'XFreeGC') && !state.childrenStarted)) {
    return 'shapes: rounded corners (pixmap, GC, fills, masks)';
  }
  if (n === 'XcursorGetDefaultSize' || n === 'XcursorGetTheme') state.childrenStarted = true;
  if (n === 'XCreateGC' || n === 'XCreateImage') return 'child windows: GC + XImage of the icons';
  if (n === 'XftTextExtentsUtf8' || n === 'XftColorAllocValue') return 'Xft: text extents + colour';
  if (n === 'XftDrawCreate') return 'Xft: XftDrawCreate';
  if (n === 'lodepng_decode32') return 'PNG decoding';
  if (n === 'XcursorLibraryLoadImages') {
    return c.arg ? 'cursors: XcursorLibraryLoadImages, found (theme files)'
      : 'cursors: XcursorLibraryLoadImages, not found (theme files)';
  }
  if (/^Xcursor/.test(n) || n === 'XDefineCursor' || n === 'XFreeCursor') {
    return 'cursors: theme, size, create, define, free';
  }
  if (n === 'XSelectInput') return 'XSelectInput (bar, children)';
  if (n === 'XMoveResizeWindow') return 'bar layout: XMoveResizeWindow';
  if (n === 'XMapWindow') return 'maps: XMapWindow (children, bar, border)';
  if (n === 'select') return 'map -> MapNotify: waiting in select (the server at work)';
  if (n === 'XPending' || n === 'XNextEvent') return 'map -> MapNotify: XPending + XNextEvent';
  if (n === 'XPutImage' || n === 'XftDrawStringUtf8') return 'Expose before MapNotify: drawing the children';
  return `UI thread: ${n}`;
}

function showSteps(calls, pid, t0, shownAt) {
  const steps = new Steps();
  const created = calls.find((c) => c.tid === pid && c.name === 'pthread_create');
  for (const c of calls) {
    if (c.tid === pid && (!created || c.start <= created.start)) steps.call(jsShowStep(c), c);
  }
  const firstJs = calls.find((c) => c.tid === pid);
  if (firstJs) steps.span('JS call -> native showControlBar (until its first line)', t0, firstJs.start);
  const named = calls.find((c) => c.name === 'pthread_setname_np');
  if (!named) return steps;
  if (created) steps.span('thread start: pthread_create returns -> thread runs', created.end, named.start);
  const state = { syncs: 0, border: 0, bar: 0, childrenStarted: false };
  let mapNotify = null;
  for (const c of calls) {
    if (c.tid !== named.tid || c === named) continue;
    if (mapNotify) {
      if (c.name === 'vsnprintf' || c.name === 'write') steps.call('report: its log line, on the UI thread', c);
      continue;
    }
    steps.call(uiShowStep(c, state), c);
    if (c.name === 'XNextEvent' && c.arg === MAP_NOTIFY && c.arg2 === state.border) mapNotify = c;
  }
  if (mapNotify) steps.span('report: MapNotify handled -> JS function runs', mapNotify.end, shownAt);
  return steps;
}

function hideSteps(calls, pid) {
  const steps = new Steps();
  let pipeWrite = null;
  let woken = false;
  for (const c of calls) {
    const n = c.name;
    if (c.tid === pid) {
      if (n === 'vsnprintf') steps.call('log lines, JS thread (format)', c);
      else if (n === 'write' && c.arg === 1) {
        // The woken UI thread may run on this CPU first: the write then returns only when it
        // waits again, so its duration overlaps the teardown and is not counted.
        steps.add('pipe: write the byte (overlaps the teardown)', 0, 0);
        pipeWrite = c;
      }
      else if (n === 'write' || n === 'read') steps.call('log lines, JS thread (uv_async_send)', c);
      else if (n === 'pthread_join') continue;
      else steps.call(`JS thread: ${n}`, c);
      continue;
    }
    // The select that the byte ends began before the hide; the thread's first call after it is
    // the read of the byte.
    if (!woken && pipeWrite) {
      woken = true;
      steps.span('pipe wake-up: byte written -> the UI thread runs', pipeWrite.start, c.start);
    }
    if (n === 'select') steps.call('teardown -> DestroyNotify: waiting in select (the server at work)', c);
    else if (n === 'read' && c.arg === 1) steps.call('pipe: read the byte', c);
    else if (n === 'write' || n === 'read') steps.call('log lines, UI thread (uv_async_send)', c);
    else if (n === 'vsnprintf') steps.call('log lines, UI thread (format)', c);
    else if (n === 'XftDrawDestroy' || n === 'XftColorFree') steps.call('teardown: Xft surfaces + colours', c);
    else if (n === 'XFreeColormap' || n === 'XFreeGC') steps.call('teardown: colormaps + GCs', c);
    else if (n === 'XDestroyWindow') steps.call('teardown: XDestroyWindow (children, bar, border)', c);
    else if (n === 'XPending' || n === 'XNextEvent') steps.call('teardown -> DestroyNotify: XPending + XNextEvent', c);
    else if (n === 'XSync' || n === 'XFlush') steps.call('error suppressor removal: XFlush + XSync', c);
    else steps.call(`UI thread: ${n}`, c);
  }
  const join = calls.find((c) => c.tid === pid && c.name === 'pthread_join');
  const last = calls.filter((c) => c.tid !== pid && c.name !== 'write' && c.name !== 'read').pop();
  if (join && last) steps.span('join: UI thread\'s last call -> pthread_join returns', last.end, join.end);
  return steps;
}

function medianOf(list) {
  const s = [...list].sort((a, b) => a - b);
  return s.length ? s[Math.floor(s.length / 2)] : 0;
}

function table(title, perCycle, totals) {
  const names = [];
  for (const steps of perCycle) for (const name of steps.map.keys()) if (!names.includes(name)) names.push(name);
  console.log(`\n${title}`);
  console.log(`  ${'step'.padEnd(68)} ${'ms'.padStart(7)} ${'trips'.padStart(5)} ${'calls'.padStart(5)}`);
  let sum = 0;
  for (const name of names) {
    const pick = (key) => medianOf(perCycle.map((s) => (s.map.get(name) || { [key]: 0 })[key]));
    sum += pick('time');
    console.log(`  ${name.padEnd(68)} ${pick('time').toFixed(3).padStart(7)} ${String(pick('replies')).padStart(5)} ${String(pick('count')).padStart(5)}`);
  }
  const trips = medianOf(perCycle.map((s) => [...s.map.values()].reduce((t, v) => t + v.replies, 0)));
  console.log(`  ${'sum of the medians above'.padEnd(68)} ${sum.toFixed(3).padStart(7)} ${String(trips).padStart(5)}`);
  console.log(`  ${'whole, median (the rest: C++ work, stdio lines, gaps between calls)'.padEnd(68)} ${medianOf(totals).toFixed(3).padStart(7)}`);
}

function printTimeline(label, calls, from) {
  console.log(`\n${label}: every recorded call (ms from the call, thread, duration, round trips, call, values)`);
  for (const c of calls) {
    console.log(`  ${ms(c.start - from).toFixed(3).padStart(8)} ${String(c.tid).padStart(7)} ${c.duration.toFixed(3).padStart(7)} ${String(c.replies).padStart(2)}  ${c.name} ${c.arg} ${c.arg2 || ''} ${c.detail === '-' ? '' : c.detail}`);
  }
}

function medianIndex(totals) {
  const order = totals.map((t, i) => [t, i]).sort((a, b) => a[0] - b[0]);
  return order[Math.floor(order.length / 2)][1];
}

(async () => {
  const tracer = buildTracer();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'breakdown-'));
  const server = await startXServer('xorg');
  let wm;
  let data;
  try {
    await singleMonitor(server.display);
    wm = await startOpenbox(server.display);
    console.log(`${cycles} cycles after 20 warm-up cycles, 20 ms between shown and hide${syncEach ? ', XSync after every request' : ''};` +
      ` load average ${os.loadavg().map((v) => v.toFixed(2)).join(' ')}`);
    data = await collect(server.display, tracer, dir);
  } finally {
    if (wm) await wm.stop();
    await server.stop();
    fs.rmSync(dir, { recursive: true, force: true });
  }
  const { pid, calls, marks } = data;
  const cycleData = marks.map(([t0, shownAt, t1, t2]) => {
    const showCalls = calls.filter((c) => c.start >= t0 && c.start < shownAt);
    const hideCalls = calls.filter((c) => c.start >= t1 && c.start < t2);
    return { t0, t1, showCalls, hideCalls, show: ms(shownAt - t0), hide: ms(t2 - t1),
      showSteps: showSteps(showCalls, pid, t0, shownAt), hideSteps: hideSteps(hideCalls, pid) };
  });
  table('show: showControlBar() call -> shown report', cycleData.map((c) => c.showSteps), cycleData.map((c) => c.show));
  table('hide: hideControlBar() call -> return', cycleData.map((c) => c.hideSteps), cycleData.map((c) => c.hide));
  if (timeline) {
    const s = cycleData[medianIndex(cycleData.map((c) => c.show))];
    printTimeline(`median show (${s.show.toFixed(3)} ms)`, s.showCalls, s.t0);
    const h = cycleData[medianIndex(cycleData.map((c) => c.hide))];
    printTimeline(`median hide (${h.hide.toFixed(3)} ms)`, h.hideCalls, h.t1);
  }
  process.exit(0);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
