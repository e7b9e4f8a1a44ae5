'use strict';

// ScreenShareIndicator: an EventEmitter over the raw NativeUIWrapper class.
//
// One bar per process. The native side keeps a single controller for the whole process and
// reports only to the most recently constructed NativeUIWrapper. So every indicator of a process
// shares one raw instance, owned by a hub that is made with the first indicator; the hub installs
// the safe-wrap function, registers its four functions once, and fans each report out to every
// open indicator. All indicators therefore see the same bar and the same events, whoever showed
// it, and `visible` reads the same on all of them. An indicator stays attached to the hub (and so
// reachable) until close().
//
// Settling show(). The raw call only starts a UI thread; the outcome arrives later as showing
// reports (data, never log texts), in the order the native side made them, each with the number
// of the showing it belongs to. Every raw showControlBar call that this layer lets through starts
// exactly one showing, whose 'started' report is made inside the call and so comes ahead of every
// report of the UI thread it starts; the n-th 'started' report therefore names the showing of the
// n-th call. Only reports of its own showing settle an attempt: its 'shown' resolves it, its
// 'failed' (carrying the line that ended the build) rejects it, and so does its 'ended' when it
// came first; hide(), a different show() and the timeout end it too. Late reports of an earlier
// showing can never settle a later show(). Start reading at Hub#show.
//
// Targets. show() takes an index, a monitor of listMonitors(), an output name or a rectangle in
// X pixels; all but an index are looked up in the monitor list here and become an index. It also
// takes one window, as { window: id } or as the source id 'window:<id>:<n>' that a desktop
// capturer gives a window on X11; whether the id names a window only the native side can tell.

const { EventEmitter } = require('node:events');

const DEFAULT_SHARING_TEXT = 'You are sharing entire screen';
const DEFAULT_WINDOW_SHARING_TEXT = 'You are sharing a window';
const DEFAULT_STOP_TEXT = 'Stop sharing';
// X window ids have 29 bits.
const MAX_WINDOW_ID = 0x1fffffff;
const DEFAULT_SHOW_TIMEOUT = 10000;

const MIN_SCALE = 1;
const MAX_SCALE = 4;

const kDeliver = Symbol('deliver');
const kClosed = Symbol('closed');

// Node's own way for an error that nobody handles: it becomes an uncaught exception of the
// process, outside the native call stack (an exception must never unwind into the add-on).
function raiseUncaught(error) {
  process.nextTick(() => {
    throw error;
  });
}

// Installed with _internal_setSafeWrap: every function the hub registers goes through it once.
// Whatever escapes a report (a fault of this layer, or an 'error' listener that throws) is raised
// as an uncaught exception instead of reaching the native dispatcher.
function safeWrap(fn) {
  return function safelyWrapped(...args) {
    try {
      fn.apply(this, args);
    } catch (error) {
      raiseUncaught(error);
    }
  };
}

function describe(value) {
  if (value === null) return 'null';
  if (typeof value === 'string') return `type string ('${value}')`;
  if (typeof value === 'function') return 'function';
  if (typeof value === 'object') return 'an object';
  return `type ${typeof value} (${String(value)})`;
}

function codedError(ErrorClass, code, message, extra) {
  const error = new ErrorClass(message);
  error.code = code;
  if (extra) Object.assign(error, extra);
  return error;
}

function abortError(message) {
  const error = codedError(Error, 'ABORT_ERR', message);
  error.name = 'AbortError';
  return error;
}

function isFiniteNumber(value) {
  return typeof value === 'number' && Number.isFinite(value);
}

function isRectangle(value) {
  return ['x', 'y', 'width', 'height'].every((key) => isFiniteNumber(value[key]));
}

function isMonitor(value) {
  return Number.isInteger(value.index) && Array.isArray(value.outputs);
}

function rectangleText({ x, y, width, height }) {
  return `{ x: ${x}, y: ${y}, width: ${width}, height: ${height} }`;
}

function noWindowError(what) {
  return codedError(RangeError, 'ERR_INDICATOR_NO_WINDOW', `No window ${what} to share: it cannot be an X window id`);
}

function readWindowTarget(id, text) {
  if (typeof id !== 'number') {
    throw codedError(TypeError, 'ERR_INVALID_ARG_TYPE', `The "target.window" property must be a number. Received ${describe(id)}`);
  }
  if (!Number.isInteger(id) || id < 0 || id > MAX_WINDOW_ID) throw noWindowError(text);
  return { kind: 'window', window: id };
}

// What the caller asked for, for the messages.
function targetText(target) {
  switch (target.kind) {
    case 'output':
      return `the output name '${target.name}'`;
    case 'monitor':
      return `the monitor ${target.index} (${target.outputs.join(', ')}) at ${rectangleText(target)}`;
    default:
      return `the rectangle ${rectangleText(target)}`;
  }
}

// The target's shape, checked before anything else happens. An index stays an index: whether it
// names an existing monitor only the controller knows, and its refusal is today's error.
function readTarget(target) {
  if (typeof target === 'number') {
    if (!Number.isInteger(target)) {
      throw codedError(RangeError, 'ERR_OUT_OF_RANGE', `The monitor index must be an integer. Received ${target}`);
    }
    return { kind: 'index', index: target };
  }
  if (typeof target === 'string') {
    if (!target.startsWith('window:')) return { kind: 'output', name: target };
    const source = /^window:(\d+):\d+$/.exec(target);
    if (!source) throw noWindowError(`'${target}'`);
    return readWindowTarget(Number(source[1]), `'${target}'`);
  }
  if (target !== null && typeof target === 'object' && 'window' in target) {
    return readWindowTarget(target.window, String(target.window));
  }
  if (target !== null && typeof target === 'object' && isRectangle(target)) {
    const { x, y, width, height } = target;
    if (width < 0 || height < 0) {
      throw codedError(
        RangeError,
        'ERR_OUT_OF_RANGE',
        `The "target" rectangle must not have a negative width or height. Received ${rectangleText(target)}`
      );
    }
    if (isMonitor(target)) {
      return { kind: 'monitor', index: target.index, outputs: target.outputs.map(String), x, y, width, height };
    }
    return { kind: 'rectangle', x, y, width, height };
  }
  throw codedError(
    TypeError,
    'ERR_INVALID_ARG_TYPE',
    'The "target" argument must be a monitor index, a monitor of listMonitors(), an output name, a ' +
      `rectangle { x, y, width, height } or a window. Received ${describe(target)}`
  );
}

const sameGeometry = (a, b) => a.x === b.x && a.y === b.y && a.width === b.width && a.height === b.height;

function containsCentre(monitor, { x, y, width, height }) {
  const cx = x + width / 2;
  const cy = y + height / 2;
  return cx >= monitor.x && cx < monitor.x + monitor.width && cy >= monitor.y && cy < monitor.y + monitor.height;
}

// The index of the monitor that the target names in this list, or -1. In list order throughout,
// so that of mirrored monitors (one rectangle, several CRTCs) the lowest index wins.
function findMonitor(monitors, target) {
  const drives = (name) => monitors.findIndex((m) => m.outputs.includes(name));
  if (target.kind === 'output') return drives(target.name);
  if (target.kind === 'monitor') {
    // The very entry while the layout is unchanged; after a change, the same rectangle, then the
    // same output (a new mode moves its rectangle), then the rectangle's centre.
    const same = monitors[target.index];
    if (same && sameGeometry(same, target) && same.outputs.join('\n') === target.outputs.join('\n')) {
      return target.index;
    }
  }
  const exact = monitors.findIndex((m) => sameGeometry(m, target));
  if (exact >= 0) return exact;
  if (target.kind === 'monitor') {
    for (const name of target.outputs) {
      const index = drives(name);
      if (index >= 0) return index;
    }
  }
  return monitors.findIndex((m) => containsCentre(m, target));
}

// Checked here rather than by the raw class: the options' shape, and a monitor index that it
// would silently round (1.5 to 1, NaN to 0). A wrong type is refused here too, so that every raw
// call that is made starts a showing or is refused by the controller. Whether an index names an
// existing monitor only the controller knows.
function readShowArguments(target, options, isAccelerator) {
  const wanted = readTarget(target);
  if (options === undefined) options = {};
  if (options === null || typeof options !== 'object') {
    throw codedError(
      TypeError,
      'ERR_INVALID_ARG_TYPE',
      'The "options" argument must be an object'
    );
  }
  const texts = {};
  for (const [key, fallback] of [
    ['sharingText', wanted.kind === 'window' ? DEFAULT_WINDOW_SHARING_TEXT : DEFAULT_SHARING_TEXT],
    ['stopText', DEFAULT_STOP_TEXT],
  ]) {
    const value = options[key];
    if (value !== undefined && typeof value !== 'string') {
      throw codedError(
        TypeError,
        'ERR_INVALID_ARG_TYPE',
        `The "options.${key}" property must be a string`
      );
    }
    texts[key] = value === undefined ? fallback : value;
  }
  const { scale } = options;
  if (scale !== undefined && !(isFiniteNumber(scale) && scale >= MIN_SCALE && scale <= MAX_SCALE)) {
    throw codedError(
      RangeError,
      'ERR_OUT_OF_RANGE',
      `The "options.scale" property must be a number from ${MIN_SCALE} to ${MAX_SCALE}`
    );
  }
  const { shortcut } = options;
  if (shortcut !== undefined && (typeof shortcut !== 'string' || !isAccelerator(shortcut))) {
    throw codedError(
      TypeError,
      'ERR_INVALID_ARG_TYPE',
      typeof shortcut === 'string'
        ? `The "options.shortcut" property must be an accelerator such as 'Control+Alt+Shift+S'. Received '${shortcut}'`
        : `The "options.shortcut" property must be a string. Received ${describe(shortcut)}`
    );
  }
  let timeout = options.timeout;
  if (timeout === undefined) {
    timeout = DEFAULT_SHOW_TIMEOUT;
  } else if (typeof timeout !== 'number' || !(timeout > 0) || !Number.isFinite(timeout)) {
    throw codedError(
      RangeError,
      'ERR_OUT_OF_RANGE',
      'The "options.timeout" property must be a positive finite number of milliseconds'
    );
  }
  return { target: wanted, sharingText: texts.sharingText, stopText: texts.stopText, scale, shortcut, timeout };
}

class Hub {
  constructor(RawClass) {
    this.RawClass = RawClass;
    this.raw = null;
    this.indicators = new Set();
    // The showing in progress: { key, monitorIndex or window, sharingText, stopText, scale, seq,
    // showing, promise, resolve, reject, timer }; showing is null until its 'started' report came.
    this.attempt = null;
    // The texts, scale and monitor of the last successful raw showControlBar call.
    this.last = null;
    // A UI thread of ours may exist, running or ended but not joined; while it does, the
    // controller ignores a showControlBar for the same monitor, so that needs a hide first.
    this.threadMayExist = false;
    // Raw calls that started a showing, and 'started' reports received: the n-th report is the
    // showing of the n-th call.
    this.showCalls = 0;
    this.startsSeen = 0;
    this.logRegistered = false;
    // The backend of the latest showing, as its 'started' report says.
    this.backend = null;
    // The source of the stop report that came ahead of the raw stop callback it belongs to.
    this.stopSource = null;
  }

  attach(indicator) {
    if (this.raw === null) this.createRaw();
    this.indicators.add(indicator);
  }

  detach(indicator) {
    this.indicators.delete(indicator);
  }

  createRaw() {
    const raw = new this.RawClass();
    // The safe-wrap function is process-wide and applied at registration, so it is installed
    // right before our registrations, whatever someone else installed earlier.
    this.RawClass._internal_setSafeWrap(safeWrap);
    raw._internal_registerShowingEventCallback((report) => this.onReport(report));
    raw.registerStopSharingClickEvent(() => this.onStop());
    this.raw = raw;
  }

  // Log lines cost the native side a formatted copy each; they are asked for once somebody
  // listens. Nothing here depends on them.
  wantLog() {
    if (this.logRegistered) return;
    this.RawClass._internal_setSafeWrap(safeWrap);
    this.raw.registerLogCallback((level, text) => this.broadcast('log', [level, text]));
    this.logRegistered = true;
  }

  get visible() {
    return this.raw !== null && this.raw.Visible === true;
  }

  listMonitors() {
    return this.RawClass._internal_listMonitors();
  }

  resolveIndex(target) {
    if (target.kind === 'index') return target.index;
    const monitors = this.listMonitors();
    if (monitors.length === 0) throw noDisplayError();
    const index = findMonitor(monitors, target);
    if (index < 0) {
      throw codedError(RangeError, 'ERR_INDICATOR_NO_MONITOR', `No monitor matches ${targetText(target)}`);
    }
    return index;
  }

  show(target, options) {
    const { target: wanted, ...rest } = readShowArguments(target, options, (text) =>
      this.RawClass._internal_isAccelerator(text));
    let request;
    if (wanted.kind === 'window') {
      request = { key: `window ${wanted.window}`, window: wanted.window, ...rest };
    } else {
      const monitorIndex = this.resolveIndex(wanted);
      request = { key: `monitor ${monitorIndex}`, monitorIndex, ...rest };
    }
    const same = (other) =>
      other !== null &&
      other.key === request.key &&
      other.sharingText === request.sharingText &&
      other.stopText === request.stopText &&
      other.scale === request.scale &&
      other.shortcut === request.shortcut;

    if (this.attempt !== null && same(this.attempt)) return this.attempt.promise;
    if (this.attempt === null && this.threadMayExist && same(this.last) && this.visible) {
      return Promise.resolve();
    }

    // A different target is hidden by the controller itself, and only once it has been accepted;
    // the same one must be hidden here or the controller would keep the old bar.
    if (this.threadMayExist && this.last !== null && this.last.key === request.key) {
      this.endAttempt(abortError('The indicator was shown again with other texts before it appeared'));
      this.raw.hideControlBar();
      this.threadMayExist = false;
    }

    const rawOptions = { sharing_text: request.sharingText, stop_sharing: request.stopText };
    if (request.scale !== undefined) rawOptions.scale = request.scale;
    if (request.shortcut !== undefined) rawOptions.shortcut = request.shortcut;
    try {
      if (request.window !== undefined) this.raw._internal_showWindow(request.window, rawOptions);
      else this.raw.showControlBar(request.monitorIndex, rawOptions);
    } catch (error) {
      // The controller refused the index or the window; no showing was started. An index is
      // refused by every list when there is no display at all: that is worth saying.
      const noDisplay = request.monitorIndex !== undefined && error instanceof TypeError &&
        this.listMonitors().length === 0;
      return Promise.reject(noDisplay ? noDisplayError() : error);
    }
    this.showCalls += 1;
    this.endAttempt(abortError('The indicator was shown on another monitor before it appeared'));
    this.threadMayExist = true;
    this.last = request;

    const attempt = { ...request, seq: this.showCalls, showing: null, timer: null };
    attempt.promise = new Promise((resolve, reject) => {
      attempt.resolve = resolve;
      attempt.reject = reject;
    });
    attempt.timer = setTimeout(() => this.onShowTimeout(attempt), request.timeout);
    this.attempt = attempt;
    return attempt.promise;
  }

  hide() {
    this.endAttempt(abortError('The indicator was hidden before it appeared'));
    if (this.raw === null) return;
    this.raw.hideControlBar();
    this.threadMayExist = false;
  }

  // Settles the attempt in progress, if any, with a rejection.
  endAttempt(error) {
    const attempt = this.attempt;
    if (attempt === null) return;
    this.attempt = null;
    clearTimeout(attempt.timer);
    attempt.reject(error);
  }

  // The attempt that a report of this showing may settle.
  attemptOf(showing) {
    const attempt = this.attempt;
    return attempt !== null && attempt.showing === showing ? attempt : null;
  }

  onShowTimeout(attempt) {
    if (this.attempt !== attempt) return;
    this.attempt = null;
    // Whatever the native side is doing, a rejected show leaves no bar behind.
    this.raw.hideControlBar();
    this.threadMayExist = false;
    attempt.reject(
      codedError(
        Error,
        'ERR_INDICATOR_SHOW_TIMEOUT',
        `The indicator did not appear within ${attempt.timeout} ms`
      )
    );
  }

  onReport(report) {
    const handler = REPORT_HANDLERS[report.kind];
    if (handler) handler(this, report);
  }

  onStarted({ showing, backend }) {
    this.startsSeen += 1;
    this.backend = backend ?? null;
    const attempt = this.attempt;
    if (attempt !== null && attempt.seq === this.startsSeen) attempt.showing = showing;
  }

  onShown({ showing }) {
    const attempt = this.attemptOf(showing);
    if (attempt !== null) {
      this.attempt = null;
      clearTimeout(attempt.timer);
      attempt.resolve();
    }
    this.broadcast('shown', []);
  }

  // The UI thread has ended; the controller keeps it unjoined, hence threadMayExist stays.
  onFailed({ showing, line }) {
    this.rejectAttempt(showing, line, `The indicator could not be shown: ${line}`);
  }

  // Only when neither shown nor failed came first: the bar was taken down while being built.
  onEnded({ showing }) {
    this.rejectAttempt(showing, '', 'The indicator could not be shown: it was taken down before it appeared');
  }

  rejectAttempt(showing, line, message) {
    const attempt = this.attemptOf(showing);
    if (attempt === null) return;
    this.attempt = null;
    clearTimeout(attempt.timer);
    attempt.reject(codedError(Error, 'ERR_INDICATOR_SHOW_FAILED', message, { line }));
  }

  // The native side reports each stop twice, its source first: a raw class without the report
  // (an older build) still gives a stop, taken for the pointer's.
  onStop() {
    const source = this.stopSource ?? 'pointer';
    this.stopSource = null;
    this.broadcast('stop', [{ source }]);
  }

  broadcast(name, args) {
    // A copy: a listener may close an indicator or make a new one while we go through them.
    for (const indicator of [...this.indicators]) {
      if (this.indicators.has(indicator)) indicator[kDeliver](name, args);
    }
  }
}

// One entry per kind of showing report; kinds this version does not know are ignored.
const REPORT_HANDLERS = {
  started: (hub, report) => hub.onStarted(report),
  shown: (hub, report) => hub.onShown(report),
  hidden: (hub, { reason }) => hub.broadcast('hidden', [reason]),
  failed: (hub, report) => hub.onFailed(report),
  'monitor-changed': (hub, { x, y, width, height }) => hub.broadcast('monitor-changed', [{ x, y, width, height }]),
  'window-changed': (hub, { x, y, width, height }) => hub.broadcast('window-changed', [{ x, y, width, height }]),
  'window-visibility': (hub, { visible }) => hub.broadcast('window-visibility', [visible]),
  ended: (hub, report) => hub.onEnded(report),
  stop: (hub, { source }) => {
    hub.stopSource = source;
  },
  'shortcut-taken': (hub, { shortcut }) => hub.broadcast('shortcut-taken', [shortcut]),
};

function createIndicatorClass(RawClass) {
  const hub = new Hub(RawClass);

  class ScreenShareIndicator extends EventEmitter {
    constructor() {
      super({ captureRejections: true });
      this[kClosed] = false;
      hub.attach(this);
    }

    // The first 'log' listener asks the native side for its lines (once, for every indicator).
    // once() and prependOnceListener() come through these too.
    addListener(name, listener) {
      if (name === 'log' && !this.closed) hub.wantLog();
      return super.addListener(name, listener);
    }

    on(name, listener) {
      return this.addListener(name, listener);
    }

    prependListener(name, listener) {
      if (name === 'log' && !this.closed) hub.wantLog();
      return super.prependListener(name, listener);
    }

    get closed() {
      return this[kClosed];
    }

    get visible() {
      return hub.visible;
    }

    get backend() {
      return hub.backend;
    }

    show(target, options) {
      if (this.closed) return Promise.reject(closedError());
      try {
        return hub.show(target, options);
      } catch (error) {
        return Promise.reject(error);
      }
    }

    hide() {
      if (this.closed) throw closedError();
      hub.hide();
    }

    close() {
      if (this[kClosed]) return;
      this[kClosed] = true;
      hub.detach(this);
    }

    // A listener that throws ends this emit, as with any EventEmitter, and the error goes to
    // this indicator's 'error' listeners, or becomes an uncaught exception when there are none.
    // The other indicators still receive the report.
    [kDeliver](name, args) {
      try {
        this.emit(name, ...args);
      } catch (error) {
        routeListenerError(this, error);
      }
    }

    // Rejections of async listeners, seen through captureRejections, take the same way.
    [Symbol.for('nodejs.rejection')](error) {
      routeListenerError(this, error);
    }
  }

  return ScreenShareIndicator;
}

function routeListenerError(indicator, error) {
  if (indicator.listenerCount('error') === 0) {
    raiseUncaught(error);
    return;
  }
  try {
    indicator.emit('error', error);
  } catch (secondError) {
    raiseUncaught(secondError);
  }
}

function noDisplayError() {
  return codedError(
    Error,
    'ERR_INDICATOR_NO_DISPLAY',
    'No display to show the indicator on: DISPLAY names no X server that answers, and WAYLAND_DISPLAY no compositor with a layer shell'
  );
}

function closedError() {
  return codedError(Error, 'ERR_INDICATOR_CLOSED', 'The indicator has been closed');
}

module.exports = {
  createIndicatorClass,
  DEFAULT_SHARING_TEXT,
  DEFAULT_WINDOW_SHARING_TEXT,
  DEFAULT_STOP_TEXT,
  DEFAULT_SHOW_TIMEOUT,
};
