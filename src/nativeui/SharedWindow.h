// Finding a shared window on the server: the client that the user sees as the window, the
// top-level that holds it (the window manager's frame, or the client itself), and the
// top-level's outer rectangle. Free functions over Xlib in the style of X11Utils.h: the caller's
// Display* first, no state, nothing flushed. Every query may meet a window that has just gone;
// callers hold an XErrorSuppressor, and a gone window reads as "not found", never as garbage.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "MonitorList.h"

namespace NativeUI {

// What a window id names, as a show must answer it before anything is built.
enum class WindowLookup {
  Found,
  NotAWindow,   // no such window (never was, or destroyed)
  Root,         // the root window of a screen
  NotViewable,  // unmapped, or inside an unmapped ancestor (minimised, on another workspace)
  OtherScreen,  // a window of another X screen than the indicator's
  NoXServer,    // no X server (nor XWayland) could be reached to look
};

struct SharedWindowPlace {
  Window client = 0;    // the window with WM_STATE at or below the id, else the id itself
  Window topLevel = 0;  // the client's ancestor that is a child of the root
  MonitorInfo outer;    // the top-level's rectangle, border included, in root pixels
};

// `root` is the root of the screen the indicator is built on.
WindowLookup locateSharedWindow(Display* display, Window root, Window id, SharedWindowPlace& place);
// The client's ancestor that is a child of `root`, the client itself when the root is its
// parent; 0 when the client is gone or not below `root`.
Window topLevelOf(Display* display, Window root, Window client);
// false when the window is gone. The rectangle is fitted as fitFrameRect does.
bool readOuterRect(Display* display, Window topLevel, MonitorInfo& outer);
// A window's outer rectangle as a frame window of ours can take it: X geometry is 16 bits, and a
// window may be up to 65535 pixels wide plus its borders. One whose size or far edge does not fit
// 32767 is cut to [-64, 32703] on both axes (screens lie within it), at least one pixel on each;
// others stay exactly as they are.
MonitorInfo fitFrameRect(int64_t x, int64_t y, int64_t width, int64_t height);
bool isViewable(Display* display, Window window);
// The monitor that holds the rectangle's centre; else the one it overlaps most; else the first.
// `monitors` must not be empty.
size_t monitorHolding(const std::vector<MonitorInfo>& monitors, const MonitorInfo& rect);
// The active CRTCs of the screen of `root`, as the monitor list has them; read with
// GetScreenResourcesCurrent, which never makes the server probe the outputs.
std::vector<MonitorInfo> readScreenMonitors(Display* display, Window root);

}  // namespace NativeUI
