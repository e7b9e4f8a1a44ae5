// Mistakes the declarations must refuse: each line below has to be a type error.
import { NativeUIWrapper, ScreenShareIndicator } from '../..';

const indicator = new ScreenShareIndicator();
// @ts-expect-error a target is an index, an output name, a monitor or a rectangle
void indicator.show(true);
// @ts-expect-error a rectangle has all four numbers
void indicator.show({ x: 0, y: 0 });
// @ts-expect-error a window is given by its numeric id
void indicator.show({ window: '0x4600003' });
// @ts-expect-error the scale is a number
void indicator.show(0, { scale: '2' });
// @ts-expect-error a stop's source is one of three names
indicator.on('stop', ({ source }) => source === 'mouse');
// @ts-expect-error a hidden reason is one of four names
indicator.on('hidden', (reason: 'gone') => reason);
// @ts-expect-error texts are strings
void indicator.show(0, { sharingText: 1 });
// @ts-expect-error the raw option names belong to the raw class
void indicator.show(0, { sharing_text: 'x' });
// @ts-expect-error a log listener receives a level name, not a number
indicator.on('log', (level: number) => level);
// @ts-expect-error no such event
indicator.on('clicked', () => undefined);
// @ts-expect-error visible is read-only
indicator.visible = true;
// @ts-expect-error hide returns nothing to await on
void indicator.hide().then(() => undefined);

const wrapper = new NativeUIWrapper();
// @ts-expect-error Visible is read-only
wrapper.Visible = false;
// @ts-expect-error the raw log function takes the level first, as a level name
wrapper.registerLogCallback((level: number, text: string) => text + level);
// @ts-expect-error the friendly names do not exist on the raw class
wrapper.show(0);
