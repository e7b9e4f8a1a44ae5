// What a TypeScript user writes: both APIs, type-checked against index.d.ts.
import {
  NativeUIWrapper, ScreenShareIndicator, listMonitors, type HiddenReason, type LogLevel, type Monitor,
  type ShowFailedError,
} from '../..';

async function friendly(): Promise<boolean> {
  const indicator = new ScreenShareIndicator();
  indicator.on('log', (level: LogLevel, text: string) => console.log(`[${level}] ${text}`));
  indicator.on('stop', ({ source }) => { if (source !== 'accessibility') indicator.hide(); });
  indicator.on('shortcut-taken', (shortcut: string) => console.warn(shortcut));
  indicator.once('hidden', (reason: HiddenReason) => { if (reason !== 'hide') indicator.close(); });
  indicator.on('monitor-changed', ({ width, height }) => console.log(width * height));
  const monitors: Monitor[] = listMonitors();
  const primary = monitors.find((monitor) => monitor.primary);
  if (primary) await indicator.show(primary, { scale: 2, shortcut: 'CommandOrControl+Shift+F12' });
  await indicator.show('HDMI-1');
  await indicator.show({ x: 1920, y: 0, width: 1280, height: 1024 });
  await indicator.show('window:73400323:0');
  indicator.on('window-visibility', (visible: boolean) => console.log(visible));
  indicator.on('error', (error: unknown) => console.error(error));
  try {
    await indicator.show(0, { sharingText: 'Sharing screen 1', stopText: 'Stop', timeout: 5000 });
  } catch (error) {
    const failed = error as ShowFailedError;
    if (failed.code === 'ERR_INDICATOR_SHOW_FAILED') console.error(failed.line);
    return false;
  }
  const closed: boolean = indicator.closed;
  return indicator.visible && !closed;
}

function raw(): boolean {
  NativeUIWrapper._internal_setSafeWrap((fn) => (...args: unknown[]) => fn(...args));
  const wrapper = new NativeUIWrapper();
  wrapper.registerShowControlBarCallback(() => console.log('shown'));
  wrapper.registerHideControlBarCallback(() => console.log('hidden'));
  wrapper.registerStopSharingClickEvent(() => wrapper.hideControlBar());
  wrapper.registerLogCallback((level, text) => console.log(level.toUpperCase(), text));
  wrapper.showControlBar(0, { sharing_text: 'Sharing', stop_sharing: 'Stop' });
  wrapper.showControlBar(1, { scale: 1.5 });
  wrapper._internal_registerShowingEventCallback((report) => {
    if (report.kind === 'failed') console.error(report.line);
    if (report.kind === 'hidden') console.log(report.reason, report.showing);
  });
  console.log(NativeUIWrapper._internal_listMonitors().map((monitor) => monitor.outputs));
  return wrapper.Visible;
}

export { friendly, raw };
