'use strict';

// The package: the raw class as the add-on exports it, the friendly indicator built on it, and
// the monitor list that both choose from.
const { NativeUIWrapper } = require('./binding');
const { createIndicatorClass } = require('./indicator');

const ScreenShareIndicator = createIndicatorClass(NativeUIWrapper);

// The monitors in the order, and with the indices, that show() and showControlBar use:
// [{ index, x, y, width, height, rotation, outputs, primary }]; [] without an X server.
function listMonitors() {
  return NativeUIWrapper._internal_listMonitors();
}

module.exports = { NativeUIWrapper, ScreenShareIndicator, listMonitors };
