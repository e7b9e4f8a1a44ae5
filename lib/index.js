'use strict';

// The package: the raw class as the add-on exports it, and the friendly indicator built on it.
const { NativeUIWrapper } = require('./binding');
const { createIndicatorClass } = require('./indicator');

const ScreenShareIndicator = createIndicatorClass(NativeUIWrapper);

module.exports = { NativeUIWrapper, ScreenShareIndicator };
