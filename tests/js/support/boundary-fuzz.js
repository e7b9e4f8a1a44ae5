'use strict';
// Generated calls at the JavaScript boundary of the raw class, each checked against what the
// class promises for it. Required by a scenario's child process (an instance keeps the process
// alive, and a crash must not take the test runner with it).
//
// Every call picks a target (the class, a method, the safe-wrap function, the Visible getter or
// an assignment to it), a receiver and up to three arguments from a pool of shapes, all from a
// seeded generator, so that a failure replays exactly. The expected outcome is worked out from
// the shapes alone, in the order the checks are made: receiver, argument count, first argument,
// options, the options' texts, the monitor index; then the call is made and the two compared:
// a success returns what it should, a failure throws exactly the expected error (its class and
// message, or the very object that a getter or a safe-wrap function threw).
//
// A tripwire counts every read of a shape's getters, traps and conversions: a call refused by
// an argument check must not have read anything.

const NO_NEW = "Class constructors cannot be invoked without 'new'";
const SAFE_WRAP = 'Wrong argument type for argument 1, expected Function';
const SHOW_COUNT = 'Wrong number of arguments for showControlBar, expected 1';
const SHOW_NUMBER = 'Wrong 1st argument type for showControlBar, expected Number';
const OPTIONS = 'Wrong type of argument for options parameters, expected JSON object';
const MONITOR = 'Invalid monitor id passed';
const SCALE = 'Wrong type of option scale, expected Number';
// The engine's own words where the engine decides.
const ILLEGAL = 'Illegal invocation';                 // a method called on a foreign receiver
const UNWRAP = 'Invalid argument';                    // the getter on one (napi_unwrap fails)
const READ_ONLY = 'Cannot set property Visible of #<NativeUIWrapper> which has only a getter';
const SYMBOL_TEXT = 'Cannot convert a Symbol value to a string';
const NO_PRIMITIVE = 'Cannot convert object to primitive value';
const REVOKED_HAS = "Cannot perform 'has' on a proxy that has been revoked";
const REVOKED_APPLY = "Cannot perform 'apply' on a proxy that has been revoked";

const REGISTRATIONS = {
  registerShowControlBarCallback: 'registerShowControlBarCallback',
  registerHideControlBarCallback: 'registerHideControlBarCallback',
  registerStopSharingClickEvent: 'registerStopSharingClickEvent',
  registerLogCallback: 'regsiterLogCallback',
  _internal_registerShowingEventCallback: '_internal_registerShowingEventCallback',
};

function mulberry32(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const typeError = (message) => ({ ctor: TypeError, message });
const plainError = (message) => ({ ctor: Error, message });

// The pool. Each shape: { name, value, options?, call? }.
//   options: what reading the two texts from it does when it is passed as options (objects and
//            functions only): 'ok' or an expected error. Default 'ok'.
//   call:    for functions, what calling it with one argument and no receiver does, as a
//            safe-wrap function would be called: 'ok' (returns its argument) or an expected error.
function makeShapes(trip) {
  const huge = 'x'.repeat(1 << 20);
  const hugeWide = '\u20ac'.repeat(350000);  // 1 MiB of UTF-8, three bytes a character
  const thrown = new RangeError('thrown by a getter');
  const thrownByTrap = new SyntaxError('thrown by a trap');
  const thrownByConversion = new EvalError('thrown by toString');
  const thrownBySafeWrap = new URIError('thrown by the safe-wrap function');
  const thrownValue = { reason: 'not an Error at all' };
  const same = (value) => ({ same: value });

  const counted = (value) => {
    trip.count++;
    return value;
  };
  const convertible = (text) => ({ toString: () => counted(text), valueOf: () => counted(0) });
  const revokedObject = Proxy.revocable({}, {});
  revokedObject.revoke();
  const revokedFunction = Proxy.revocable(function revoked() {}, {});
  revokedFunction.revoke();
  class Klass {}

  const shapes = [
    // Numbers: every one is a valid first argument; the index is its unsigned 32-bit value.
    ...[0, -0, 1, 0.5, 1.5, -0.5, -1, -1.5, NaN, Infinity, -Infinity, 2 ** 31, 2 ** 32, 2 ** 32 + 1,
      -(2 ** 32), 2 ** 53, 4294967295, Number.MAX_VALUE, Number.MIN_VALUE, Number.EPSILON]
      .map((n) => ({ name: `number ${Object.is(n, -0) ? '-0' : n}`, value: n })),
    // Other primitives.
    { name: 'undefined', value: undefined },
    { name: 'null', value: null },
    { name: 'true', value: true },
    { name: 'false', value: false },
    { name: 'empty string', value: '' },
    { name: 'string 0', value: '0' },
    { name: 'string with NUL', value: 'a\0b' },
    { name: 'lone surrogate', value: '\ud800' },
    { name: '1 MiB string', value: huge },
    { name: '1 MiB of euro signs', value: hugeWide },
    { name: 'symbol', value: Symbol('s') },
    { name: 'Symbol.iterator', value: Symbol.iterator },
    { name: 'bigint 0', value: 0n },
    { name: 'bigint 2^64', value: 2n ** 64n },
    { name: 'bigint -1', value: -1n },
    // Objects that carry neither text.
    { name: 'empty object', value: {} },
    { name: 'empty array', value: [] },
    { name: 'array [0]', value: [0] },
    { name: 'boxed number', value: Object(0) },
    { name: 'boxed string', value: Object('s') },
    { name: 'null-prototype object', value: Object.create(null) },
    { name: 'date', value: new Date(0) },
    { name: 'regexp', value: /re/ },
    { name: 'map', value: new Map([['sharing_text', 'no']]) },
    { name: 'frozen object', value: Object.freeze({ other: 1 }) },
    { name: 'convertible object', value: convertible('converted') },
    { name: 'object with a throwing valueOf', value: { valueOf() { trip.count++; throw thrownByConversion; } } },
    // Options that carry texts.
    { name: 'sharing_text string', value: { sharing_text: 'Sharing' } },
    { name: 'stop_sharing string', value: { stop_sharing: 'Stop' } },
    { name: 'both texts', value: { sharing_text: 'Both', stop_sharing: 'Halt' } },
    { name: 'sharing_text number', value: { sharing_text: 42 } },
    { name: 'sharing_text NaN', value: { sharing_text: NaN } },
    { name: 'sharing_text null', value: { sharing_text: null } },
    { name: 'stop_sharing undefined', value: { stop_sharing: undefined } },
    { name: 'sharing_text bigint', value: { sharing_text: 12345678901234567890n } },
    { name: 'sharing_text 1 MiB', value: { sharing_text: huge } },
    { name: 'stop_sharing 1 MiB of euro signs', value: { stop_sharing: hugeWide } },
    { name: 'sharing_text convertible', value: { sharing_text: convertible('from toString') } },
    // Texts for the layout engine that do nothing a reader expects.
    { name: 'marks only', value: { sharing_text: '\u0301\u0308\u0327'.repeat(40), stop_sharing: '\u0e48' } },
    { name: 'unpaired bidi controls', value: { sharing_text: '\u202eabc\u2067', stop_sharing: '\u202b\u05d0' } },
    { name: 'lone surrogates, no font', value: { sharing_text: '\udc00\ud800x', stop_sharing: '\u{10fffd}\uffff' } },
    { name: '1,000 emoji, 10,000 CJK', value: { sharing_text: '\u{1f600}'.repeat(1000), stop_sharing: '\u4f60'.repeat(10000) } },
    { name: 'inherited sharing_text', value: Object.create({ sharing_text: 'inherited' }) },
    { name: 'sharing_text symbol', value: { sharing_text: Symbol('t') }, options: typeError(SYMBOL_TEXT) },
    { name: 'stop_sharing null-prototype', value: { stop_sharing: Object.create(null) }, options: typeError(NO_PRIMITIVE) },
    {
      name: 'sharing_text whose toString throws',
      value: { sharing_text: { toString() { trip.count++; throw thrownByConversion; } } },
      options: same(thrownByConversion),
    },
    {
      name: 'throwing sharing_text getter',
      value: { get sharing_text() { trip.count++; throw thrown; } },
      options: same(thrown),
    },
    {
      name: 'throwing stop_sharing getter',
      value: { sharing_text: 'fine', get stop_sharing() { trip.count++; throw thrown; } },
      options: same(thrown),
    },
    {
      name: 'stop_sharing getter throwing a non-error',
      value: { get stop_sharing() { trip.count++; throw thrownValue; } },
      options: same(thrownValue),
    },
    { name: 'counting getters', value: { get sharing_text() { return counted('got'); }, get stop_sharing() { return counted(7); } } },
    {
      // Its "scale" is a string as well.
      name: 'proxy answering every key',
      value: new Proxy({}, { has: () => counted(true), get: (t, key) => counted(`proxied ${String(key)}`) }),
      options: typeError(SCALE),
    },
    { name: 'scale string', value: { sharing_text: 'not stored', scale: '2' }, options: typeError(SCALE) },
    { name: 'scale NaN', value: { scale: NaN }, options: typeError(SCALE) },
    {
      name: 'proxy whose has trap throws',
      value: new Proxy({}, { has() { trip.count++; throw thrownByTrap; } }),
      options: same(thrownByTrap),
    },
    {
      name: 'proxy whose get trap throws',
      value: new Proxy({ sharing_text: 'x' }, { get() { trip.count++; throw thrownByTrap; } }),
      options: same(thrownByTrap),
    },
    { name: 'proxy of an empty object', value: new Proxy({}, {}) },
    { name: 'revoked proxy', value: revokedObject.proxy, options: typeError(REVOKED_HAS) },
    // Functions: objects too, so valid options.
    { name: 'identity arrow', value: (f) => f, call: 'ok' },
    { name: 'identity function', value: function identity(f) { return f; }, call: 'ok' },
    { name: 'bound identity', value: function bound(f) { return f; }.bind(null), call: 'ok' },
    {
      name: 'identity with stop_sharing',
      value: Object.assign((f) => f, { stop_sharing: 'from a function' }),
      call: 'ok',
    },
    { name: 'proxy of identity', value: new Proxy((f) => f, {}), call: 'ok' },
    { name: 'class', value: Klass, call: typeError("Class constructor Klass cannot be invoked without 'new'") },
    { name: 'revoked function proxy', value: revokedFunction.proxy, call: typeError(REVOKED_APPLY), options: typeError(REVOKED_HAS) },
    { name: 'throwing function', value: () => { throw thrownBySafeWrap; }, call: same(thrownBySafeWrap) },
  ];
  const reportErrors = (error) => error === thrownBySafeWrap ||
    (error instanceof TypeError && [REVOKED_APPLY, "Class constructor Klass cannot be invoked without 'new'"]
      .includes(error.message));
  return { shapes, reportErrors };
}

const isObjectish = (v) => (typeof v === 'object' && v !== null) || typeof v === 'function';

// The receivers a method is called on, instances most often. Only 'instance' and 'subclass' are
// wrapped objects.
const RECEIVERS = ['instance', 'instance', 'instance', 'instance', 'instance', 'instance',
  'subclass', 'plain object', 'prototype', 'class', 'undefined', 'null', 'number'];

const TARGETS = ['construct', 'construct subclass', 'call without new', 'setSafeWrap',
  'showControlBar', 'showControlBar', 'showControlBar', 'showControlBar',
  'registerShowControlBarCallback', 'registerHideControlBarCallback',
  'registerStopSharingClickEvent', 'registerLogCallback', '_internal_registerShowingEventCallback',
  'listMonitors', 'hideControlBar', 'get Visible', 'set Visible (strict)', 'set Visible (sloppy)'];

// Resolves to { outcomes, mismatches, successfulShows, uncaught, detach }. Yields to the event
// loop every few calls, so that the reports of the showings reach the registered functions
// meanwhile; uncaught counts the errors those functions threw until detach() is called.
async function run({ NativeUIWrapper, seed, calls, monitors }) {
  const random = mulberry32(seed);
  const pick = (list) => list[Math.floor(random() * list.length)];
  const trip = { count: 0 };
  const { shapes, reportErrors } = makeShapes(trip);
  // A registered function may be one that throws when a report calls it (a class, a revoked
  // proxy, a throwing function): that error becomes an uncaught exception, and nothing else may.
  const uncaught = { expected: 0, other: [] };
  const onUncaught = (error) => {
    if (reportErrors(error)) uncaught.expected++;
    else if (uncaught.other.length < 10) uncaught.other.push(String(error && error.stack || error));
  };
  process.on('uncaughtException', onUncaught);
  const numbers = shapes.filter((s) => typeof s.value === 'number');
  const objects = shapes.filter((s) => isObjectish(s.value));
  const functions = shapes.filter((s) => s.call);
  class Sub extends NativeUIWrapper {}
  const getVisible = Object.getOwnPropertyDescriptor(NativeUIWrapper.prototype, 'Visible').get;
  const sloppyAssign = new Function('target', 'value', 'target.Visible = value; return target.Visible;');

  const instances = [new NativeUIWrapper()];
  let safeWrap = null;  // the shape last accepted by _internal_setSafeWrap
  const outcomes = {};
  const mismatches = [];
  let successfulShows = 0;

  const receiverFor = (kind) => {
    switch (kind) {
      case 'instance': return instances[instances.length - 1 - Math.floor(random() * Math.min(3, instances.length))];
      case 'subclass': return new Sub();
      case 'plain object': return {};
      case 'prototype': return NativeUIWrapper.prototype;
      case 'class': return NativeUIWrapper;
      case 'undefined': return undefined;
      case 'null': return null;
      default: return 7;
    }
  };
  const wrapped = (kind) => kind === 'instance' || kind === 'subclass';

  const argumentsFor = (target) => {
    const count = pick([0, 1, 1, 1, 2, 2, 2, 3]);
    const args = [];
    for (let i = 0; i < count; ++i) {
      // Bias toward the shapes that get past the earlier checks, so that the later ones are met.
      if (target === 'showControlBar' && i === 0 && random() < 0.6) args.push(pick(numbers));
      else if (target === 'showControlBar' && i === 1 && random() < 0.6) args.push(pick(objects));
      else if (target in REGISTRATIONS && i === 0 && random() < 0.5) {
        args.push(pick(functions));
      } else args.push(pick(shapes));
    }
    return args;
  };

  // What the call must do, from the shapes alone: { ok: kind } or { error: matcher, check }
  // where check names the check that refuses it (argument checks read nothing).
  const expect = (target, receiverKind, args) => {
    const values = args.map((s) => s.value);
    switch (target) {
      case 'construct':
      case 'construct subclass':
        return { ok: 'instance' };
      case 'call without new':
        return { error: typeError(NO_NEW), check: 'new' };
      case 'setSafeWrap':
        return typeof values[0] === 'function' ? { ok: 'undefined' } : { error: typeError(SAFE_WRAP), check: 'type' };
      case 'get Visible':
        return wrapped(receiverKind) ? { ok: 'boolean' } : { error: plainError(UNWRAP), check: 'receiver' };
      case 'listMonitors':  // static: any receiver, arguments ignored
        return { ok: 'list' };
      case 'set Visible (strict)':
        return { error: typeError(READ_ONLY), check: 'read-only' };
      case 'set Visible (sloppy)':
        return { ok: 'unchanged' };
      default:
        break;
    }
    if (!wrapped(receiverKind)) return { error: typeError(ILLEGAL), check: 'receiver' };
    if (target === 'hideControlBar') return { ok: 'undefined' };
    if (target in REGISTRATIONS) {
      const name = REGISTRATIONS[target];
      if (args.length === 0) return { error: typeError(`Wrong number of arguments for ${name}, expected 1`), check: 'count' };
      if (typeof values[0] !== 'function') return { error: typeError(`Wrong 1st argument type for ${name}, expected Function`), check: 'type' };
      if (safeWrap && safeWrap.call !== 'ok') return { error: safeWrap.call, check: 'safe-wrap' };
      return { ok: 'undefined' };
    }
    // showControlBar
    if (args.length === 0) return { error: typeError(SHOW_COUNT), check: 'count' };
    if (typeof values[0] !== 'number') return { error: typeError(SHOW_NUMBER), check: 'type' };
    if (args.length > 1) {
      if (!isObjectish(values[1])) return { error: typeError(OPTIONS), check: 'options' };
      if (args[1].options && args[1].options !== 'ok') return { error: args[1].options, check: 'texts' };
    }
    if ((values[0] >>> 0) >= monitors) return { error: typeError(MONITOR), check: 'monitor' };
    return { ok: 'undefined' };
  };

  const invoke = (target, receiver, values) => {
    switch (target) {
      case 'construct': return new NativeUIWrapper(...values);
      case 'construct subclass': return new Sub(...values);
      case 'call without new': return NativeUIWrapper(...values);
      case 'setSafeWrap': return Reflect.apply(NativeUIWrapper._internal_setSafeWrap, receiver, values);
      case 'listMonitors': return Reflect.apply(NativeUIWrapper._internal_listMonitors, receiver, values);
      case 'get Visible': return Reflect.apply(getVisible, receiver, values);
      case 'set Visible (strict)': receiver.Visible = values[0]; return undefined;
      case 'set Visible (sloppy)': return sloppyAssign(receiver, values[0]);
      default: return Reflect.apply(NativeUIWrapper.prototype[target], receiver, values);
    }
  };

  const matches = (error, matcher) => ('same' in matcher
    ? error === matcher.same
    : error instanceof matcher.ctor && error.constructor === matcher.ctor && error.message === matcher.message);
  const describe = (matcher) => ('same' in matcher ? `the thrown ${String(matcher.same)}` : `${matcher.ctor.name} "${matcher.message}"`);

  for (let n = 0; n < calls; ++n) {
    if (n % 50 === 0) await new Promise((resolve) => setImmediate(resolve));
    const target = pick(TARGETS);
    const assignment = target.startsWith('set Visible');
    const receiverKind = assignment ? 'instance' : pick(RECEIVERS);
    const receiver = receiverFor(receiverKind);
    const args = assignment ? [pick(shapes)] : argumentsFor(target);
    const expected = expect(target, receiverKind, args);
    const visibleBefore = instances[0].Visible;
    const tripBefore = trip.count;
    let result;
    let error;
    let threw = false;
    try {
      result = invoke(target, receiver, args.map((s) => s.value));
    } catch (e) {
      threw = true;
      error = e;
    }
    const call = `#${n} ${target} on ${receiverKind} with (${args.map((s) => s.name).join(', ')})`;
    let problem = null;
    if (expected.error) {
      if (!threw) problem = `returned instead of throwing ${describe(expected.error)}`;
      else if (!matches(error, expected.error)) problem = `threw ${String(error && error.constructor && error.constructor.name)} "${String(error && error.message)}" instead of ${describe(expected.error)}`;
      else if (['count', 'type', 'options', 'receiver', 'new', 'read-only'].includes(expected.check) &&
               trip.count !== tripBefore) {
        problem = `refused by the ${expected.check} check after reading its arguments`;
      }
    } else if (threw) {
      problem = `threw ${String(error && error.constructor && error.constructor.name)} "${String(error && error.message)}"`;
    } else if (expected.ok === 'instance' && !(result instanceof NativeUIWrapper)) {
      problem = 'constructed no instance';
    } else if (expected.ok === 'undefined' && result !== undefined) {
      problem = `returned ${String(result)}`;
    } else if (expected.ok === 'list' && !(Array.isArray(result) && result.length === monitors)) {
      problem = `listed ${JSON.stringify(result)}`;
    } else if (expected.ok === 'boolean' && typeof result !== 'boolean') {
      problem = `Visible read ${String(result)}`;
    } else if (expected.ok === 'unchanged' && result !== visibleBefore) {
      problem = 'an assignment changed Visible';
    }
    if (problem && mismatches.length < 20) mismatches.push(`${call}: ${problem}`);
    const key = `${target} ${expected.error ? `refused by ${expected.check}` : 'ok'}`;
    outcomes[key] = (outcomes[key] || 0) + 1;

    if (!threw && target === 'setSafeWrap') safeWrap = args[0];
    if (!threw && target.startsWith('construct')) {
      instances.push(result);
      if (instances.length > 4) instances.shift();
    }
    // The bar never stays up: each showing that was started is taken down at once, and after a
    // hide nothing is visible.
    if (!threw && target === 'showControlBar') {
      successfulShows++;
      instances[instances.length - 1].hideControlBar();
    }
    if (!threw && (target === 'showControlBar' || target === 'hideControlBar') && instances[0].Visible !== false) {
      if (mismatches.length < 20) mismatches.push(`${call}: Visible still true after a hide`);
    }
  }
  // The handler stays until the caller is done: reports of the last showings are still on
  // their way.
  const detach = () => process.off('uncaughtException', onUncaught);
  return { outcomes, mismatches, successfulShows, uncaught, detach };
}

module.exports = { run };
