#include "SharedWindow.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <deque>

#include "X11Utils.h"
#include "XHandles.h"

namespace NativeUI {

namespace {

bool hasWmState(Display* display, Window window, Atom wmState) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display, window, wmState, 0, 0, False, AnyPropertyType,
                                        &type, &format, &items, &after, &data);
  const XPtr<unsigned char> owned(data);
  return status == Success && type != None;
}

// The window manager marks the clients it manages with WM_STATE; an app that hands over its
// frame's id (as a window picker may) means the client inside it. Breadth first, as the frame's
// own decorations lie at the top of the tree and the client near it.
Window clientOf(Display* display, Window id) {
  const Atom wmState = XInternAtom(display, "WM_STATE", True);
  if (wmState == None) return id;  // no window manager ever ran: every window is its own client
  std::deque<Window> pending{id};
  while (!pending.empty()) {
    const Window window = pending.front();
    pending.pop_front();
    if (hasWmState(display, window, wmState)) return window;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) continue;
    const XPtr<Window> owned(children);
    pending.insert(pending.end(), children, children + count);
  }
  return id;
}

int64_t overlap(const MonitorInfo& a, const MonitorInfo& b) {
  const int64_t width = std::min<int64_t>(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const int64_t height = std::min<int64_t>(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  return width > 0 && height > 0 ? width * height : 0;
}

// X geometry: 16-bit positions and sizes; and the box a frame too large for it is cut to.
constexpr int64_t kMost = 32767;
constexpr int64_t kLow = -64;
constexpr int64_t kHigh = kLow + kMost;

}  // namespace

WindowLookup locateSharedWindow(Display* display, Window root, Window id,
                                SharedWindowPlace& place) {
  if (id == 0) return WindowLookup::NotAWindow;
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display, id, &attributes)) return WindowLookup::NotAWindow;
  if (id == attributes.root) return WindowLookup::Root;
  if (attributes.root != root) return WindowLookup::OtherScreen;
  const Window client = clientOf(display, id);
  const Window topLevel = topLevelOf(display, root, client);
  if (topLevel == 0) return WindowLookup::NotAWindow;  // gone while we walked
  if (!isViewable(display, client)) return WindowLookup::NotViewable;
  MonitorInfo outer;
  if (!readOuterRect(display, topLevel, outer)) return WindowLookup::NotAWindow;
  place.client = client;
  place.topLevel = topLevel;
  place.outer = outer;
  return WindowLookup::Found;
}

Window topLevelOf(Display* display, Window root, Window client) {
  Window window = client;
  while (true) {
    Window windowRoot = 0;
    Window parent = 0;
    if (!getWindowParent(display, window, parent, windowRoot)) return 0;
    if (windowRoot != root || window == root || parent == 0) return 0;
    if (parent == root) return window;
    window = parent;
  }
}

bool readOuterRect(Display* display, Window topLevel, MonitorInfo& outer) {
  Window root = 0;
  int x = 0;
  int y = 0;
  unsigned int width = 0;
  unsigned int height = 0;
  unsigned int border = 0;
  unsigned int depth = 0;
  if (!XGetGeometry(display, topLevel, &root, &x, &y, &width, &height, &border, &depth)) {
    return false;
  }
  outer = fitFrameRect(x, y, width + 2 * int64_t{border}, height + 2 * int64_t{border});
  return true;
}

MonitorInfo fitFrameRect(int64_t x, int64_t y, int64_t width, int64_t height) {
  const auto fits = [](int64_t start, int64_t length) {
    return start >= -kMost - 1 && length <= kMost && start + length <= kMost;
  };
  if (fits(x, width) && fits(y, height)) {
    return MonitorInfo{static_cast<int32_t>(x), static_cast<int32_t>(y),
                       static_cast<int32_t>(width), static_cast<int32_t>(height), 0};
  }
  const auto cut = [](int64_t start, int64_t length, int64_t& from) {
    from = std::clamp(start, kLow, kHigh - 1);
    return std::max<int64_t>(1, std::min(start + length, kHigh) - from);
  };
  int64_t left = 0;
  int64_t top = 0;
  const int64_t w = cut(x, width, left);
  const int64_t h = cut(y, height, top);
  return MonitorInfo{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(w),
                     static_cast<int32_t>(h), 0};
}

bool isViewable(Display* display, Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

size_t monitorHolding(const std::vector<MonitorInfo>& monitors, const MonitorInfo& rect) {
  const int64_t cx = rect.x + rect.width / 2;
  const int64_t cy = rect.y + rect.height / 2;
  for (size_t i = 0; i < monitors.size(); ++i) {
    const MonitorInfo& m = monitors[i];
    if (cx >= m.x && cx < m.x + m.width && cy >= m.y && cy < m.y + m.height) return i;
  }
  size_t best = 0;
  for (size_t i = 1; i < monitors.size(); ++i) {
    if (overlap(monitors[i], rect) > overlap(monitors[best], rect)) best = i;
  }
  return best;
}

std::vector<MonitorInfo> readScreenMonitors(Display* display, Window root) {
  std::vector<MonitorInfo> monitors;
  ScreenResourcesPtr resources(XRRGetScreenResourcesCurrent(display, root));
  if (!resources) return monitors;
  for (int i = 0; i < resources->ncrtc; ++i) {
    CrtcInfoPtr crtc(XRRGetCrtcInfo(display, resources.get(), resources->crtcs[i]));
    MonitorInfo monitor;
    if (crtc && activeCrtcGeometry(*crtc, monitor)) monitors.push_back(monitor);
  }
  return monitors;
}

}  // namespace NativeUI
