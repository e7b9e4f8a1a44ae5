'use strict';

// The compiled add-on: build/Release/nativeUIWrapper.node when it was built from source, else
// the prebuilt binary for this platform under prebuilds/ (see addon-file.js). Kept apart from
// the friendly layer so that the layer's own logic can be exercised with a stand-in class, and
// so that a missing binary fails with a hint rather than a bare error.
const path = require('node:path');
const { addonFile } = require('./addon-file');

const root = path.join(__dirname, '..');

let file;
try {
  file = addonFile(root);
} catch (error) {
  const hint = new Error(
    `The native add-on has not been built and no prebuilt binary fits this platform: ${error.message.trim()}. ` +
      'Build it with "bash scripts/build.sh" (needs g++, make, python3, pkg-config and the X11, ' +
      'Xrandr, Xext, Xft, Xcursor and lodepng development packages).'
  );
  hint.code = 'ERR_INDICATOR_NOT_BUILT';
  hint.cause = error;
  throw hint;
}

module.exports = require(file);
