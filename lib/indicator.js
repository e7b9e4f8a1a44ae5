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
// Settling show(). The raw call only starts a UI thread; the outcome arrives later as reports, in
// the order the native side made them. Reports still queued from an earlier showing must not
// settle a newer one, so an attempt only listens once the "showControlBar" log line of its own raw
// call has come through (every raw showControlBar call makes exactly one, before anything else).
// From then on the first "shown" report resolves it and the first error line that the bar does not
// survive rejects it; hide(), a different show() and the timeout end it too. Start reading at
// Hub#show.

const { EventEmitter } = require('node:events');

const DEFAULT_SHARING_TEXT = 'You are sharing entire screen';
const DEFAULT_STOP_TEXT = 'Stop sharing';
const DEFAULT_SHOW_TIMEOUT = 10000;

// Error lines after which the build goes on and the bar still appears: a child window that
// could not be made, and the exit pipe (hiding then waits for the loop's one-second tick).
const SURVIVABLE_ERROR =
  /^(Child window creation failed|Pipe creation failed|Pipe read failure|hideControlBar: write to pipe failed)/;

// The line that every raw showControlBar call logs first, on the calling thread.
const SHOW_MARKER = 'showControlBar';

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

// Checked here rather than by the raw class: the options' shape, and a monitor index that it
// would silently round (1.5 to 1, NaN to 0). A wrong type is refused here too, so that every raw
// call that is made reaches the controller (see SHOW_MARKER). Whether the index names an existing
// monitor only the controller knows.
function readShowArguments(monitorIndex, options) {
  if (typeof monitorIndex !== 'number') {
    throw codedError(
      TypeError,
      'ERR_INVALID_ARG_TYPE',
      `The "monitorIndex" argument must be of type number. Received ${describe(monitorIndex)}`
    );
  }
  if (!Number.isInteger(monitorIndex)) {
    throw codedError(
      RangeError,
      'ERR_OUT_OF_RANGE',
      `The monitor index must be an integer. Received ${monitorIndex}`
    );
  }
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
    ['sharingText', DEFAULT_SHARING_TEXT],
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
  return { monitorIndex, sharingText: texts.sharingText, stopText: texts.stopText, timeout };
}

class Hub {
  constructor(RawClass) {
    this.RawClass = RawClass;
    this.raw = null;
    this.indicators = new Set();
    // The showing in progress: { monitorIndex, sharingText, stopText, seq, promise, resolve,
    // reject, timer }.
    this.attempt = null;
    // The texts and monitor of the last successful raw showControlBar call.
    this.last = null;
    // A UI thread of ours may exist, running or ended but not joined; while it does, the
    // controller ignores a showControlBar for the same monitor, so that needs a hide first.
    this.threadMayExist = false;
    this.showCalls = 0;
    this.markersSeen = 0;
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
    raw.registerShowControlBarCallback(() => this.onShown());
    raw.registerHideControlBarCallback(() => this.onHidden());
    raw.registerStopSharingClickEvent(() => this.broadcast('stop', []));
    raw.registerLogCallback((level, text) => this.onLog(level, text));
    this.raw = raw;
  }

  get visible() {
    return this.raw !== null && this.raw.Visible === true;
  }

  show(monitorIndex, options) {
    const request = readShowArguments(monitorIndex, options);
    const same = (other) =>
      other !== null &&
      other.monitorIndex === request.monitorIndex &&
      other.sharingText === request.sharingText &&
      other.stopText === request.stopText;

    if (this.attempt !== null && same(this.attempt)) return this.attempt.promise;
    if (this.attempt === null && this.threadMayExist && same(this.last) && this.visible) {
      return Promise.resolve();
    }

    // A different monitor is hidden by the controller itself, and only once the index has been
    // accepted; the same monitor must be hidden here or the controller would keep the old bar.
    if (this.threadMayExist && this.last !== null && this.last.monitorIndex === request.monitorIndex) {
      this.endAttempt(abortError('The indicator was shown again with other texts before it appeared'));
      this.raw.hideControlBar();
      this.threadMayExist = false;
    }

    try {
      this.raw.showControlBar(request.monitorIndex, {
        sharing_text: request.sharingText,
        stop_sharing: request.stopText,
      });
    } catch (error) {
      // The controller refused the index after logging its marker line.
      if (error && error.message === 'Invalid monitor id passed') this.showCalls += 1;
      return Promise.reject(error);
    }
    this.showCalls += 1;
    this.endAttempt(abortError('The indicator was shown on another monitor before it appeared'));
    this.threadMayExist = true;
    this.last = request;

    const attempt = { ...request, seq: this.showCalls, timer: null };
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

  // The attempt that reports may settle: the current one, once its own marker line has come.
  listeningAttempt() {
    const attempt = this.attempt;
    return attempt !== null && this.markersSeen >= attempt.seq ? attempt : null;
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

  onShown() {
    const attempt = this.listeningAttempt();
    if (attempt !== null) {
      this.attempt = null;
      clearTimeout(attempt.timer);
      attempt.resolve();
    }
    this.broadcast('shown', []);
  }

  onHidden() {
    this.broadcast('hidden', []);
  }

  onLog(level, text) {
    if (level === 'log' && text === SHOW_MARKER) this.markersSeen += 1;
    if (level === 'error' && !SURVIVABLE_ERROR.test(text)) {
      const attempt = this.listeningAttempt();
      if (attempt !== null) {
        // The UI thread has ended; the controller keeps it unjoined, hence threadMayExist stays.
        this.attempt = null;
        clearTimeout(attempt.timer);
        attempt.reject(
          codedError(Error, 'ERR_INDICATOR_SHOW_FAILED', `The indicator could not be shown: ${text}`, {
            line: text,
          })
        );
      }
    }
    this.broadcast('log', [level, text]);
  }

  broadcast(name, args) {
    // A copy: a listener may close an indicator or make a new one while we go through them.
    for (const indicator of [...this.indicators]) {
      if (this.indicators.has(indicator)) indicator[kDeliver](name, args);
    }
  }
}

function createIndicatorClass(RawClass) {
  const hub = new Hub(RawClass);

  class ScreenShareIndicator extends EventEmitter {
    constructor() {
      super({ captureRejections: true });
      this[kClosed] = false;
      hub.attach(this);
    }

    get closed() {
      return this[kClosed];
    }

    get visible() {
      return hub.visible;
    }

    show(monitorIndex, options) {
      if (this.closed) return Promise.reject(closedError());
      try {
        return hub.show(monitorIndex, options);
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

function closedError() {
  return codedError(Error, 'ERR_INDICATOR_CLOSED', 'The indicator has been closed');
}

module.exports = {
  createIndicatorClass,
  DEFAULT_SHARING_TEXT,
  DEFAULT_STOP_TEXT,
  DEFAULT_SHOW_TIMEOUT,
};
