'use strict';

// The compiled add-on. Kept apart from the friendly layer so that the layer's own logic can be
// exercised with a stand-in class, and so that a missing build fails with a hint rather than a
// bare MODULE_NOT_FOUND.
const path = require('node:path');

const file = path.join(__dirname, '..', 'build', 'Release', 'nativeUIWrapper.node');

let binding;
try {
  binding = require(file);
} catch (error) {
  if (error && error.code === 'MODULE_NOT_FOUND' && String(error.message).includes(file)) {
    const hint = new Error(
      `The native add-on has not been built: ${file} is missing. ` +
        'Build it with "npm run build" (needs g++, make, python3, pkg-config and the X11, ' +
        'Xrandr, Xext, Xft, Xcursor and lodepng development packages).'
    );
    hint.code = 'ERR_INDICATOR_NOT_BUILT';
    hint.cause = error;
    throw hint;
  }
  throw error;
}

module.exports = binding;
