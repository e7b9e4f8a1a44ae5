// The indicator's scale on HiDPI desktops. A desktop set to 200 % publishes "Xft.dpi: 192" in
// the server's resource database (the RESOURCE_MANAGER property of the first root window); 96
// dpi is scale 1, the indicator as it has always been drawn. Free functions; callers pass their
// own connection and call them on the thread that uses it.
#pragma once

#include <X11/Xlib.h>

namespace NativeUI {

constexpr double kBaseDpi = 96.0;
constexpr double kMinScale = 1.0;
constexpr double kMaxScale = 4.0;

// Xft.dpi in a resource database text as Xft reads it (a leading number); 0 when the text is
// null, has no such resource, or its value is not a positive finite number. The entry is chosen
// as Xlib's resource manager would choose it, in one pass over the text (ResourceScan.cpp).
double dpiFromResources(const char* resources);

// A resource value as Xft reads a dpi from it: the number it starts with; 0 when that is not a
// positive finite number.
double dpiFromValue(const char* value);

// Xft.dpi as the server holds it now: the root property is read anew, because the copy that Xlib
// took when the connection was opened (XResourceManagerString) goes stale while the connection
// lives on. 0 when absent, unreadable, or larger than 16 MiB (its length is asked for first, so
// such a database is never transferred).
double readDesktopDpi(Display* display);

// Xft.dpi as this connection saw it when it was opened: the dpi Xft applies to every font it
// opens on it. 0 when the resource was absent (Xft then derives the dpi from the screen's size).
double connectionDpi(Display* display);

// [1, 4]; a NaN is 1.
double clampScale(double scale);

// The scale of a desktop publishing `dpi`; 1 for 0 (nothing published).
double scaleFromDpi(double dpi);

// The build's scale: `override` when it is a number other than 0, else the desktop's; clamped.
double effectiveScale(double override, double desktopDpi);

// A length of the 96-dpi indicator at `scale`, rounded to whole pixels.
int scaledLength(int length, double scale);

// The dpi to open the bar's font with so that it is drawn at `scale`, or 0 when Xft's own dpi
// for this connection (`xftDpi`, as connectionDpi gives it) already does, and the font is opened
// as it always was. `overridden`: the caller asked for this scale rather than the desktop.
double fontDpiFor(double scale, double xftDpi, bool overridden);

}  // namespace NativeUI
