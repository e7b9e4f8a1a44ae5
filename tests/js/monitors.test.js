'use strict';
// The monitor list that listMonitors() gives and show() chooses from, against what xrandr
// reports for the same server: one entry per CRTC that drives an output, in the server's CRTC
// order, with its output names and the primary flag; and an empty list without a server.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startXServer, sideBySide, xrandr } = require('./support/xserver');
const { addons } = require('./support/child');

const { NativeUIWrapper } = require(addons.shipped);

let server;
test.before(async () => {
  server = await startXServer('xorg');
});
test.after(async () => { await server.stop(); });

// The list is read through a connection to $DISPLAY opened for each call.
function listOn(display) {
  const saved = process.env.DISPLAY;
  if (display === undefined) delete process.env.DISPLAY;
  else process.env.DISPLAY = display;
  try {
    return NativeUIWrapper._internal_listMonitors();
  } finally {
    if (saved === undefined) delete process.env.DISPLAY;
    else process.env.DISPLAY = saved;
  }
}

const ROTATIONS = { normal: 1, left: 2, inverted: 4, right: 8 };

// What xrandr --verbose says: every active output with its CRTC, grouped by CRTC in CRTC order.
function expectedFromXrandr(verbose) {
  const outputs = [];
  let current = null;
  for (const line of verbose.split('\n')) {
    if (/^\S/.test(line)) current = null;
    const head = /^(\S+) connected (primary )?(\d+)x(\d+)\+(-?\d+)\+(-?\d+) \(0x[0-9a-f]+\) (\w+)/.exec(line);
    if (head) {
      const [, name, primary, width, height, x, y, rotation] = head;
      current = { name, primary: Boolean(primary), x: +x, y: +y, width: +width, height: +height, rotation: ROTATIONS[rotation] };
      outputs.push(current);
      continue;
    }
    const crtc = /^\tCRTC:\s+(\d+)$/.exec(line);
    if (crtc && current) current.crtc = Number(crtc[1]);
  }
  const crtcs = [...new Set(outputs.map((o) => o.crtc))].sort((a, b) => a - b);
  return crtcs.map((crtc, index) => {
    const driven = outputs.filter((o) => o.crtc === crtc);
    const { x, y, width, height, rotation } = driven[0];
    return { index, x, y, width, height, rotation, outputs: driven.map((o) => o.name), primary: driven.some((o) => o.primary) };
  });
}

test('listMonitors() is what xrandr reports, on the dual, mirrored, one-off and no-CRTC layouts', async () => {
  const display = server.display;
  const layouts = [];
  const record = async (name) => {
    const expected = expectedFromXrandr(await xrandr(display, '--verbose'));
    layouts.push({ name, expected, listed: listOn(display) });
  };

  await sideBySide(display);
  await record('dual');
  await xrandr(display, '--addmode', 'DUMMY2', '1280x1024');
  await xrandr(display, '--output', 'DUMMY2', '--mode', '1280x1024', '--same-as', 'DUMMY1', '--primary');
  await record('mirrored, the primary output on the mirror');
  await xrandr(display, '--output', 'DUMMY1', '--off');
  await record('the middle one off');
  await xrandr(display, '--output', 'DUMMY0', '--off', '--output', 'DUMMY2', '--off');
  await record('every output off');

  for (const { name, expected, listed } of layouts) assert.deepEqual(listed, expected, name);
  // Not only equal to a parse that could be wrong: the layouts as they were laid out. The server
  // lists the primary output's CRTC first.
  assert.deepEqual(layouts.map(({ listed }) => listed.map((m) => `${m.outputs}${m.primary ? '*' : ''} ${m.width}x${m.height}+${m.x}+${m.y}`)), [
    ['DUMMY0* 1920x1080+0+0', 'DUMMY1 1280x1024+1920+0'],
    ['DUMMY2* 1280x1024+1920+0', 'DUMMY0 1920x1080+0+0', 'DUMMY1 1280x1024+1920+0'],
    ['DUMMY2* 1280x1024+1920+0', 'DUMMY0 1920x1080+0+0'],
    [],
  ]);
});

test('listMonitors() without an X server is an empty list', () => {
  assert.deepEqual(listOn(undefined), []);
  assert.deepEqual(listOn(':4093'), []);
});
