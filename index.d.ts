/// <reference types="node" />
import { EventEmitter } from 'node:events';

/** Severity of a log line of the native side. */
export type LogLevel = 'log' | 'warn' | 'error';

/** Options of the raw `showControlBar`: the two texts of the bar, and the scale of the build. */
export interface RawShowOptions {
  /** Replaces the notice "You are sharing entire screen" (converted to a string). */
  sharing_text?: unknown;
  /** Replaces the button text "Stop sharing" (converted to a string). */
  stop_sharing?: unknown;
  /** The scale of this build instead of the server's Xft.dpi / 96. */
  scale?: number;
  /**
   * An accelerator such as 'Control+Alt+Shift+S' that gives the shown bar the keyboard focus;
   * none when left out (a call without options clears it too).
   */
  shortcut?: string;
}

/**
 * One monitor of {@link listMonitors}: a CRTC that drives at least one output, or under the
 * Wayland backend one output of the compositor.
 */
export interface Monitor {
  /** Its index, as show() and showControlBar take it. */
  index: number;
  x: number;
  y: number;
  width: number;
  height: number;
  /** The CRTC's RandR rotation bits (1 is normal). */
  rotation: number;
  /** The RandR names of the outputs it drives, e.g. ['HDMI-1']. */
  outputs: string[];
  /** Whether it drives the screen's primary output. */
  primary: boolean;
}

/** A rectangle in X pixels (root-window coordinates). */
export interface Rectangle {
  x: number;
  y: number;
  width: number;
  height: number;
}

/** Why the bar went away. */
export type HiddenReason =
  | 'hide'
  | 'destroyed'
  | 'connection-lost'
  | 'monitor-disconnected'
  | 'window-closed';

/** One X window to share: its id, or the source id 'window:<id>:<n>' of a desktop capturer. */
export type WindowTarget = { window: number } | `window:${number}:${number}`;

/** What the raw class reports of a showing, to `_internal_registerShowingEventCallback`. */
/** Which backend draws a showing: X11 (an X server or XWayland), or Wayland's layer shell. */
export type Backend = 'x11' | 'wayland';

export type ShowingReport =
  | ({ kind: 'started'; showing: number; backend: Backend } & Rectangle)
  | ({ kind: 'monitor-changed' | 'window-changed'; showing: number } & Rectangle)
  | { kind: 'window-visibility'; showing: number; visible: boolean }
  | { kind: 'shown' | 'ended'; showing: number }
  | { kind: 'hidden'; showing: number; reason: HiddenReason }
  | { kind: 'failed'; showing: number; line: string }
  | { kind: 'stop'; showing: number; source: StopSource }
  | { kind: 'shortcut-taken'; showing: number; shortcut: string };

/** What pressed the stop button: a click, Return or space on the focused bar, or a screen reader. */
export type StopSource = 'pointer' | 'keyboard' | 'accessibility';

/**
 * The monitors in the order, and with the indices, that show() and showControlBar use; [] without
 * an X server. Never throws.
 */
export declare function listMonitors(): Monitor[];

/**
 * The class exported by the native add-on, unchanged. One controller serves the whole process;
 * it reports only to the most recently constructed instance. Call
 * `NativeUIWrapper._internal_setSafeWrap` before the first registration.
 */
export declare class NativeUIWrapper {
  constructor();

  /**
   * Installs the function that every later registration passes its function through; what it
   * returns is what the reports call. Process-wide.
   * @throws {TypeError} "Wrong argument type for argument 1, expected Function"
   */
  static _internal_setSafeWrap(wrap: (fn: (...args: any[]) => void) => (...args: any[]) => unknown): void;

  /** What {@link listMonitors} returns. */
  static _internal_listMonitors(): Monitor[];

  /** Whether showControlBar would take this text as its `shortcut`. */
  static _internal_isAccelerator(text: unknown): boolean;

  /**
   * Starts showing the bar on the monitor with this index in the XRandR monitor list. Texts
   * passed in `options` are kept for later showings too. Returns before the bar is visible: the
   * shown report (or error log lines) follow.
   * @throws {TypeError} "Wrong number of arguments for showControlBar, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for showControlBar, expected Number"
   * @throws {TypeError} "Wrong type of argument for options parameters, expected JSON object"
   * @throws {TypeError} "Wrong type of option scale, expected Number"
   * @throws {TypeError} "Wrong value of option shortcut, expected an accelerator such as 'Control+Alt+S'"
   * @throws {TypeError} "Invalid monitor id passed"
   * @throws {Error} code "ERR_INDICATOR_BACKEND" when no backend can show anything: a bad
   * SCREEN_SHARE_INDICATOR_BACKEND, or a forced backend that cannot start.
   */
  showControlBar(monitorIndex: number, options?: RawShowOptions | Function): void;
  /**
   * The same bar around one X window of the default screen, followed while it moves.
   * @throws {RangeError} code "ERR_INDICATOR_NO_WINDOW" when the id names no window, the root, a
   * window that is not viewable or one of another X screen; nothing was started or hidden.
   */
  _internal_showWindow(window: number, options?: RawShowOptions): void;

  /** Hides the bar; returns once it is gone. */
  hideControlBar(): void;

  /**
   * @throws {TypeError} "Wrong number of arguments for registerShowControlBarCallback, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for registerShowControlBarCallback, expected Function"
   */
  registerShowControlBarCallback(callback: () => void): void;
  /**
   * @throws {TypeError} "Wrong number of arguments for registerHideControlBarCallback, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for registerHideControlBarCallback, expected Function"
   */
  registerHideControlBarCallback(callback: () => void): void;
  /**
   * @throws {TypeError} "Wrong number of arguments for registerStopSharingClickEvent, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for registerStopSharingClickEvent, expected Function"
   */
  registerStopSharingClickEvent(callback: () => void): void;
  /**
   * @throws {TypeError} "Wrong number of arguments for regsiterLogCallback, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for regsiterLogCallback, expected Function"
   */
  registerLogCallback(callback: (level: LogLevel, text: string) => void): void;
  /**
   * Registers the function that receives every showing report as data.
   * @throws {TypeError} "Wrong number of arguments for _internal_registerShowingEventCallback, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for _internal_registerShowingEventCallback, expected Function"
   */
  _internal_registerShowingEventCallback(callback: (report: ShowingReport) => void): void;

  /** Whether the bar is on the screen now. */
  readonly Visible: boolean;
}

/** Options of {@link ScreenShareIndicator.show}. */
export interface ShowOptions {
  /** The notice on the bar, in any script. Default "You are sharing entire screen". */
  sharingText?: string;
  /** The text of the stop button, in any script. Default "Stop sharing". */
  stopText?: string;
  /** From 1 to 4: the bar's and the frame's scale for this showing, instead of Xft.dpi / 96. */
  scale?: number;
  /**
   * An accelerator in Electron's format, e.g. 'Control+Alt+Shift+S' or
   * 'CommandOrControl+Shift+F12': while the bar is shown, it gives the stop button the keyboard
   * focus. None by default. A malformed one rejects with a TypeError, code
   * "ERR_INVALID_ARG_TYPE"; one that another client holds emits 'shortcut-taken'.
   */
  shortcut?: string;
  /**
   * Milliseconds after which a show that has neither appeared nor failed is given up: the promise
   * rejects with code "ERR_INDICATOR_SHOW_TIMEOUT" and the bar is hidden. Default 10000.
   */
  timeout?: number;
}

/** The rejection of a show whose build failed: `line` is the error line that ended it. */
export interface ShowFailedError extends Error {
  code: 'ERR_INDICATOR_SHOW_FAILED';
  line: string;
}

export interface ScreenShareIndicatorEvents {
  /** The bar has become visible. */
  shown: [];
  /** The bar has gone, and why. */
  hidden: [reason: HiddenReason];
  /** The shown monitor took a new geometry; the indicator followed it. */
  'monitor-changed': [geometry: Rectangle];
  /** The shared window moved or took a new size (its outer rectangle); the frame followed it. */
  'window-changed': [geometry: Rectangle];
  /** The shared window stopped being viewable (the frame is withdrawn, the bar stays) or is again. */
  'window-visibility': [visible: boolean];
  /** The user pressed the stop button: with the pointer, the keyboard or a screen reader. */
  stop: [details: { source: StopSource }];
  /** The show's shortcut could not be had (another client holds it); the bar is shown without it. */
  'shortcut-taken': [shortcut: string];
  /** A log line of the native side. */
  log: [level: LogLevel, text: string];
  /** A listener of this indicator threw (or an async listener rejected). */
  error: [error: unknown];
}

type EventName = keyof ScreenShareIndicatorEvents;
type Listener<E extends EventName> = (...args: ScreenShareIndicatorEvents[E]) => unknown;

/**
 * The indicator as an event emitter. Every indicator of a process drives the same single bar and
 * receives every event of it, until `close()`.
 */
export declare class ScreenShareIndicator extends EventEmitter {
  constructor();

  /**
   * Shows the bar on a monitor: given by its index, a monitor of listMonitors(), an output name
   * or a rectangle in X pixels; or around one window, followed while it moves, with the bar on
   * the monitor that holds its centre. Resolves when it is visible; rejects when its build fails,
   * when the arguments are wrong, there is no display at all (code "ERR_INDICATOR_NO_DISPLAY"), no backend can show
   * anything (code "ERR_INDICATOR_BACKEND"), no monitor matches (code "ERR_INDICATOR_NO_MONITOR") or the id
   * names no viewable window of the screen (code "ERR_INDICATOR_NO_WINDOW"), when hide() or a
   * show with other arguments comes first, or after `options.timeout`. Never throws.
   */
  show(target: number | string | Monitor | Rectangle | WindowTarget, options?: ShowOptions): Promise<void>;

  /** Hides the bar; returns once it is gone ('hidden' follows). */
  hide(): void;

  /** Stops this indicator's events and releases it. Other indicators are not affected. */
  close(): void;

  /** Whether the bar is on the screen now. */
  readonly visible: boolean;
  /** Whether close() was called. */
  readonly closed: boolean;
  /** The backend that draws the latest showing of the process; null before the first. */
  readonly backend: Backend | null;

  on<E extends EventName>(event: E, listener: Listener<E>): this;
  once<E extends EventName>(event: E, listener: Listener<E>): this;
  addListener<E extends EventName>(event: E, listener: Listener<E>): this;
  prependListener<E extends EventName>(event: E, listener: Listener<E>): this;
  prependOnceListener<E extends EventName>(event: E, listener: Listener<E>): this;
  off<E extends EventName>(event: E, listener: Listener<E>): this;
  removeListener<E extends EventName>(event: E, listener: Listener<E>): this;
  emit<E extends EventName>(event: E, ...args: ScreenShareIndicatorEvents[E]): boolean;
}
