// What a TypeScript user writes: both APIs, type-checked against index.d.ts.
import { NativeUIWrapper, ScreenShareIndicator, type LogLevel, type ShowFailedError } from '../..';

async function friendly(): Promise<boolean> {
  const indicator = new ScreenShareIndicator();
  indicator.on('log', (level: LogLevel, text: string) => console.log(`[${level}] ${text}`));
  indicator.on('stop', () => indicator.hide());
  indicator.once('hidden', () => indicator.close());
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
  wrapper.showControlBar(1);
  return wrapper.Visible;
}

export { friendly, raw };
