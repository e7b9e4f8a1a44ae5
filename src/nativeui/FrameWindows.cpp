#include "FrameWindows.h"

#include <X11/extensions/shape.h>

#include <algorithm>

#include "X11Utils.h"

namespace NativeUI {

namespace {

constexpr unsigned long kFrameValueMask =
    CWBackPixel | CWBorderPixel | CWOverrideRedirect | CWEventMask | CWColormap;

bool intersects(const XRectangle& a, int x, int y, int width, int height) {
  return a.x < x + width && x < a.x + a.width && a.y < y + height && y < a.y + a.height;
}

}  // namespace

bool FrameWindows::create(Display* display, Window root, const XVisualInfo& visual, Layout layout,
                          const MonitorInfo& rect, int frameWidth, long primaryEvents) {
  _display = display;
  _layout = layout;
  _rect = rect;
  _frameWidth = frameWidth;
  _shown = true;
  _windows.clear();
  for (const MonitorInfo& piece : pieces()) {
    const long events = _windows.empty() ? primaryEvents : NoEventMask;
    const Window window = createArgbTopLevel(display, root, visual, piece, kFrameValueMask, events);
    if (window == 0) {
      destroy();
      forget();
      return false;
    }
    _windows.push_back(window);
    setWindowFixedSize(display, window, piece.width, piece.height);
    removeTitleBar(display, window, root);
    setAlwaysOnTop(display, window, root);
    shape(window, piece);
    // The ring lies on the monitor's edges, where scrollbars, panels and hot corners wait, and
    // on a shared window's own edges, where its resize handles are.
    clearShape(display, window, ShapeInput);
    setZELNativeUIWindowTypeIgnore(display, window);
    setNoShadow(display, window);
  }
  return true;
}

bool FrameWindows::holds(Window window) const {
  return window != 0 && std::find(_windows.begin(), _windows.end(), window) != _windows.end();
}

void FrameWindows::map() const {
  for (const Window window : _windows) XMapWindow(_display, window);
}

void FrameWindows::raise() const {
  for (const Window window : _windows) XRaiseWindow(_display, window);
}

void FrameWindows::place(const MonitorInfo& rect) {
  const bool resized = rect.width != _rect.width || rect.height != _rect.height;
  _rect = rect;
  const std::vector<MonitorInfo> rects = pieces();
  for (size_t i = 0; i < _windows.size(); ++i) {
    const MonitorInfo& piece = rects[i];
    if (resized) {
      if (_shown) shape(_windows[i], piece);
      setWindowFixedSize(_display, _windows[i], piece.width, piece.height);
    }
    XMoveResizeWindow(_display, _windows[i], piece.x, piece.y,
                      static_cast<unsigned int>(piece.width),
                      static_cast<unsigned int>(piece.height));
  }
}

// XWayland (22) passes no change of shape on to the compositor, which would go on showing a
// strip's last pixels: a strip is withdrawn by painting it transparent instead.
void FrameWindows::show(bool shown) {
  _shown = shown;
  const std::vector<MonitorInfo> rects = pieces();
  for (size_t i = 0; i < _windows.size(); ++i) {
    if (_layout == Layout::Strips) {
      XSetWindowBackground(_display, _windows[i], shown ? kFrameColour : 0);
      XClearWindow(_display, _windows[i]);
    } else if (shown) {
      shape(_windows[i], rects[i]);
    } else {
      clearShape(_display, _windows[i], ShapeBounding);
    }
  }
}

bool FrameWindows::overlaps(Window window, const XRectangle& area) const {
  const auto at = std::find(_windows.begin(), _windows.end(), window);
  if (window == 0 || at == _windows.end()) return false;
  const MonitorInfo piece = pieces()[static_cast<size_t>(at - _windows.begin())];
  if (_layout == Layout::Strips) {
    return intersects(area, piece.x, piece.y, piece.width, piece.height);
  }
  // The ring's four strips, not the window's rectangle: a window over the middle of the monitor
  // (or of the shared window) lies over nothing of ours.
  const int x = piece.x;
  const int y = piece.y;
  const int w = piece.width;
  const int h = piece.height;
  const int f = _frameWidth;
  return intersects(area, x, y, w, f) || intersects(area, x, y + h - f, w, f) ||
         intersects(area, x, y, f, h) || intersects(area, x + w - f, y, f, h);
}

void FrameWindows::destroy() {
  for (auto window = _windows.rbegin(); window != _windows.rend(); ++window) {
    if (*window != 0) XDestroyWindow(_display, *window);
  }
}

void FrameWindows::forgetPrimary() {
  if (!_windows.empty()) _windows.front() = 0;
}

// Strips: top and bottom across the whole width, left and right between them, so that no pixel
// is covered twice (two translucent strips would blend to a darker corner).
std::vector<MonitorInfo> FrameWindows::pieces() const {
  const MonitorInfo& r = _rect;
  const int f = _frameWidth;
  if (_layout == Layout::Ring) return {r};
  const int side = std::max(1, r.height - 2 * f);
  return {MonitorInfo{r.x, r.y, r.width, f, 0}, MonitorInfo{r.x, r.y + r.height - f, r.width, f, 0},
          MonitorInfo{r.x, r.y + f, f, side, 0},
          MonitorInfo{r.x + r.width - f, r.y + f, f, side, 0}};
}

// A strip is all frame: it keeps the shape of its rectangle.
void FrameWindows::shape(Window window, const MonitorInfo& piece) const {
  if (_layout == Layout::Ring) setWindowShape(_display, window, piece, _frameWidth);
}

}  // namespace NativeUI
