/// <reference types="node" />
import { EventEmitter } from 'node:events';

/** Severity of a log line of the native side. */
export type LogLevel = 'log' | 'warn' | 'error';

/** Options of the raw `showControlBar`: the two texts of the bar. */
export interface RawShowOptions {
  /** Replaces the notice "You are sharing entire screen" (converted to a string). */
  sharing_text?: unknown;
  /** Replaces the button text "Stop sharing" (converted to a string). */
  stop_sharing?: unknown;
}

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

  /**
   * Starts showing the bar on the monitor with this index in the XRandR monitor list. Texts
   * passed in `options` are kept for later showings too. Returns before the bar is visible: the
   * shown report (or error log lines) follow.
   * @throws {TypeError} "Wrong number of arguments for showControlBar, expected 1"
   * @throws {TypeError} "Wrong 1st argument type for showControlBar, expected Number"
   * @throws {TypeError} "Wrong type of argument for options parameters, expected JSON object"
   * @throws {TypeError} "Invalid monitor id passed"
   */
  showControlBar(monitorIndex: number, options?: RawShowOptions | Function): void;

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

  /** Whether the bar is on the screen now. */
  readonly Visible: boolean;
}

/** Options of {@link ScreenShareIndicator.show}. */
export interface ShowOptions {
  /** The notice on the bar. Default "You are sharing entire screen". */
  sharingText?: string;
  /** The text of the stop button. Default "Stop sharing". */
  stopText?: string;
  /**
   * Milliseconds after which a show that has neither appeared nor failed is given up: the promise
   * rejects with code "ERR_INDICATOR_SHOW_TIMEOUT" and the bar is hidden. Default 10000.
   */
  timeout?: number;
}

/** The rejection of a show whose build failed: `line` is the first fatal error log line. */
export interface ShowFailedError extends Error {
  code: 'ERR_INDICATOR_SHOW_FAILED';
  line: string;
}

export interface ScreenShareIndicatorEvents {
  /** The bar has become visible. */
  shown: [];
  /** The bar has gone (hidden, or destroyed by another X client). */
  hidden: [];
  /** The user pressed the stop button. */
  stop: [];
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
   * Shows the bar on a monitor. Resolves when it is visible; rejects when its build fails, when
   * the arguments are wrong, when hide() or a show with other arguments comes first, or after
   * `options.timeout`. Never throws.
   */
  show(monitorIndex: number, options?: ShowOptions): Promise<void>;

  /** Hides the bar; returns once it is gone ('hidden' follows). */
  hide(): void;

  /** Stops this indicator's events and releases it. Other indicators are not affected. */
  close(): void;

  /** Whether the bar is on the screen now. */
  readonly visible: boolean;
  /** Whether close() was called. */
  readonly closed: boolean;

  on<E extends EventName>(event: E, listener: Listener<E>): this;
  once<E extends EventName>(event: E, listener: Listener<E>): this;
  addListener<E extends EventName>(event: E, listener: Listener<E>): this;
  prependListener<E extends EventName>(event: E, listener: Listener<E>): this;
  prependOnceListener<E extends EventName>(event: E, listener: Listener<E>): this;
  off<E extends EventName>(event: E, listener: Listener<E>): this;
  removeListener<E extends EventName>(event: E, listener: Listener<E>): this;
  emit<E extends EventName>(event: E, ...args: ScreenShareIndicatorEvents[E]): boolean;
}
