// Free functions over Xlib: window-manager hints and properties, window shapes, the Linux
// distribution name, and the embedded PNG icons. Each takes the caller's Display* first and the
// window second, keeps no state, owns nothing beyond the call and never flushes the connection
// (callers sync where they need to). Called on the controller's UI thread.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

#include "BarDesign.h"
#include "MonitorList.h"
#include "XHandles.h"

namespace NativeUI {

// An override-redirect window of `visual` (depth 32) on `root`, over `rect`, filled with the
// frame's translucent green, with a colormap of its own (the window keeps the colormap alive; ours
// is released at once). 0 when the server refused it.
Window createArgbTopLevel(Display* display, Window root, const XVisualInfo& visual,
                          const MonitorInfo& rect, unsigned long valueMask, long eventMask);

// Whether the server is XWayland: it offers the XWAYLAND extension (XWayland 23.1 and later) or,
// as older ones do, names every RandR output XWAYLAND<n>. A few round trips.
bool isXWayland(Display* display);

// Window-manager hints and properties.
void setAlwaysOnTop(Display* display, Window window, Window root);
void keepWindowAlwaysTop(Display* display, Window window, Window unused);
void removeTitleBar(Display* display, Window window, Window unused);
void setFullScreen(Display* display, Window window);
void setWindowFixedSize(Display* display, Window window, int width, int height);
// The first `length` 32-bit units of `window`'s `property` when it exists with this type and
// format, `items` set to the items returned; null otherwise (missing, of another type or format,
// or the window gone). Xlib terminates the data, whatever the property holds.
XPtr<unsigned char> readProperty(Display* display, Window window, Atom property, Atom type,
                                 int format, long length, unsigned long& items);
// The first rectangle of _NET_WORKAREA as another client wrote it: x, y, width, height, in longs
// as Xlib returns them, unchecked (the caller decides what fits).
struct RootWorkArea {
  long x = 0;
  long y = 0;
  long width = 0;
  long height = 0;
};
// Leaves `area` unchanged and returns false when _NET_WORKAREA is missing, of another type or
// shorter than 4.
bool getWorkArea(Display* display, Window root, RootWorkArea& area);
// The rows at the top of `monitor` that the docks reserve for themselves, for a root without
// _NET_WORKAREA: the deepest top strut (_NET_WM_STRUT_PARTIAL, else _NET_WM_STRUT) of a viewable
// top-level, or of a window that the window manager framed, that spans some of the monitor's
// columns and ends inside it; 0 without one (Struts.cpp).
int topStrutRows(Display* display, Window root, const MonitorInfo& monitor);
void getWindowPosition(Display* display, Window window, Window reference, int& x, int& y);
// false when the window cannot be queried (it no longer exists).
bool getWindowParent(Display* display, Window window, Window& parent, Window& root);
void wmNoDecorations(Display* display, Window unused, Window transientFor, Window window);
void setZELNativeUIWindowType(Display* display, Window window);
void setZELNativeUIWindowTypeIgnore(Display* display, Window window);
// Asks compositors to draw no shadow around the window.
void setNoShadow(Display* display, Window window);

// Shapes.
// Leaves a frame `frameWidth` pixels wide along the four edges of a window of the monitor's size.
void setWindowShape(Display* display, Window window, const MonitorInfo& monitor,
                    int frameWidth = kFrameWidth);
// An empty shape of that kind: ShapeBounding, nothing of the window is drawn (it stays mapped);
// ShapeInput, every pointer event goes through it to whatever lies below.
void clearShape(Display* display, Window window, int kind);
void setCurvedBorder(Display* display, Window window, int width, int height, int radius);

// A short name of the running distribution, detected once per process; never fails
// ("Unknown Linux"). Not safe for concurrent first calls.
std::string getLinuxOSDistribution();

namespace detail {

// Where the distribution name is read from: `root` is prefixed to the three /etc paths, and
// `lsbReleaseCommand` is run through popen. Tests point both at sources of their own.
struct DistributionSources {
  std::string root;
  std::string lsbReleaseCommand;
};

// The detection without the cache: the first source whose first line is not empty decides.
std::string detectLinuxOSDistribution(const DistributionSources& sources);
// The caching rule of getLinuxOSDistribution on a cache of the caller's: detects only while
// `read` is false.
std::string cachedLinuxOSDistribution(bool& read, std::string& name,
                                      const DistributionSources& sources);

}  // namespace detail

// The embedded icon of that file name, or null with length 0. The bytes are static.
unsigned char* getPngImageFileData(const std::string& name, unsigned long& length);
// Decodes to 8-bit RGBA; the caller owns *pixels (malloc). Returns the decoder's error, 0 on
// success.
unsigned int loadPng(const unsigned char* data, unsigned long length, unsigned char** pixels,
                     unsigned int* width, unsigned int* height);

}  // namespace NativeUI
