// The frame around what is shown: the monitor, or the shared window's outer rectangle.
//
// On an X server the frame is one override-redirect window of the framed rectangle's size,
// shaped to the ring. XWayland gives every top-level a surface of its own, and compositors that
// route Wayland-side input by that surface (kwin, wlroots) never see its X input shape: a
// monitor-sized window there takes every press on the monitor away from the Wayland clients
// under it. There the frame is four windows, one per edge, and nothing of ours lies over the
// inside. Either way the frame is one set of windows, and every operation below applies to the
// whole set; the first window, the primary, is the one whose map and destruction the event loop
// follows.
//
// UI thread only, on the controller's connection, which must outlive the set's use. The set
// holds ids; the windows live on the server until destroy(): the loop ends on the primary's
// DestroyNotify, so their destruction is a request of its own, never a destructor's side effect.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <vector>

#include "MonitorList.h"

namespace NativeUI {

class FrameWindows {
 public:
  enum class Layout { Ring, Strips };

  // Creates the set over `rect` (root coordinates), unmapped, each window with the frame's
  // colour and properties, the ring's width and an empty input shape: every press goes through
  // the frame to what lies below. The primary selects `primaryEvents`, the others nothing.
  // false: a window could not be created; the set is then empty, nothing of it left on the
  // server.
  bool create(Display* display, Window root, const XVisualInfo& visual, Layout layout,
              const MonitorInfo& rect, int frameWidth, long primaryEvents);
  // 0 when there is none: never created, forgotten, or destroyed by another client.
  Window primary() const { return _windows.empty() ? 0 : _windows.front(); }
  bool holds(Window window) const;
  // The primary first, then the rest in the order they are mapped and raised.
  const std::vector<Window>& windows() const { return _windows; }
  // Mapped and raised in order, the primary lowest; a caller maps or raises the bar after them,
  // so that the bar lies above every one.
  void map() const;
  void raise() const;
  // The set takes `rect`: one move per window, and the shapes and size hints again where the
  // size changed, before the resize, so that no unshaped part of the new size is ever shown.
  void place(const MonitorInfo& rect);
  // Withdrawn (false) with every window still mapped, so that no compositor that paints in map
  // order puts the frame over the bar when it comes back: the ring by an empty bounding shape,
  // the strips by a transparent fill.
  void show(bool shown);
  bool shown() const { return _shown; }
  // Whether `area` (root coordinates) lies over a part of the frame that `window`, one of the
  // set, draws.
  bool overlaps(Window window, const XRectangle& area) const;
  // The others first: the primary's DestroyNotify, which ends the loop, comes after theirs. The
  // ids stay known, so that the loop can tell that DestroyNotify, until forget().
  void destroy();
  // The primary went by another client's hand: destroy() leaves it out.
  void forgetPrimary();
  // Everything went with the connection.
  void forget() { _windows.clear(); }

 private:
  // Each window's rectangle in root coordinates, in the order of _windows.
  std::vector<MonitorInfo> pieces() const;
  void shape(Window window, const MonitorInfo& piece) const;

  Display* _display = nullptr;
  Layout _layout = Layout::Ring;
  MonitorInfo _rect;
  int _frameWidth = 0;
  bool _shown = true;
  std::vector<Window> _windows;
};

}  // namespace NativeUI
