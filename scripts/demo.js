'use strict';
// Shows the indicator on monitor $MONITOR (default 0) of $DISPLAY and prints what it reports.
//   node scripts/demo.js                 until "Stop sharing" is pressed, or Ctrl-C
//   node scripts/demo.js --screenshot F  saves a screenshot of the screen to F, then hides
const { execFileSync } = require('node:child_process');
const path = require('node:path');
const { NativeUIWrapper } = require(path.join(__dirname, '..', 'build', 'Release',
  'nativeUIWrapper.node'));

const screenshotAt = process.argv.indexOf('--screenshot');
const screenshot = screenshotAt > 0 ? process.argv[screenshotAt + 1] : null;
const monitor = Number(process.env.MONITOR || 0);

NativeUIWrapper._internal_setSafeWrap((fn) => fn);
const ui = new NativeUIWrapper();
ui.registerLogCallback((level, text) => {
  if (level !== 'log' || process.env.VERBOSE) console.log(`[${level}] ${text}`);
});
ui.registerShowControlBarCallback(() => {
  console.log(`shown on monitor ${monitor}` + (screenshot ? '' : '; press "Stop sharing" or Ctrl-C'));
  if (!screenshot) return;
  // The children paint on their first exposure, right after the map.
  setTimeout(() => {
    execFileSync('import', ['-window', 'root', screenshot]);
    console.log(`screenshot: ${screenshot}`);
    ui.hideControlBar();
  }, 500);
});
ui.registerHideControlBarCallback(() => {
  console.log('hidden');
  process.exit(0);
});
ui.registerStopSharingClickEvent(() => {
  console.log('"Stop sharing" pressed');
  ui.hideControlBar();
});
process.on('SIGINT', () => ui.hideControlBar());

try {
  ui.showControlBar(monitor);
} catch (error) {
  console.error(`cannot show the indicator on monitor ${monitor}: ${error.message}`);
  process.exit(1);
}
