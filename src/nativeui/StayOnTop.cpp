// Staying above other clients' windows. Our windows are override-redirect, so a window manager
// never restacks them, but another client's override-redirect window (a menu, a tooltip, another
// always-on-top tool) mapped or raised later lies above them.
//
// What says that this may have happened: a top-level of someone else mapped or configured (the
// UI thread watches the root's children: our ARGB windows are redirected wherever the server has
// Composite, and a redirected window is never reported anything but Unobscured), a restack of one
// of ours, or, where the server still computes it, a VisibilityNotify other than Unobscured.
// After a drain that brought any of them, one look at the root's stacking order decides: a
// viewable window of someone else above ours, over the frame's strips or over the bar, is
// answered by raising both, bar above frame, as often as RaisePolicy allows.
#include <X11/Xlib.h>

#include <algorithm>
#include <vector>

#include "EventLoopState.h"
#include "NativeUIController.h"
#include "XHandles.h"

namespace NativeUI {

namespace {

bool intersects(const XRectangle& a, int x, int y, int width, int height) {
  return a.x < x + width && x < a.x + a.width && a.y < y + height && y < a.y + a.height;
}

}  // namespace

void NativeUIController::watchStacking(LoopState& state) {
  XSelectInput(_display.get(), _rootWindow, SubstructureNotifyMask);
  // Whatever was mapped over us before the selection above has sent us nothing.
  state.stackingToCheck = true;
}

// The connection outlives the showing; nothing should be reported to it meanwhile.
void NativeUIController::unwatchStacking() {
  XSelectInput(_display.get(), _rootWindow, NoEventMask);
}

// The structure events of the root's children reach us only through that selection, with the
// root as their event window.
bool NativeUIController::isTopLevelChange(const XEvent& event) const {
  if (event.xany.window != _rootWindow || _rootWindow == 0) return false;
  switch (event.type) {
    case CreateNotify:
    case DestroyNotify:
    case UnmapNotify:
    case MapNotify:
    case ReparentNotify:
    case ConfigureNotify:
    case GravityNotify:
    case CirculateNotify:
      return true;
    default:
      return false;
  }
}

void NativeUIController::onTopLevelChange(const XEvent& event, LoopState& state) {
  if (event.type == MapNotify || event.type == CirculateNotify) {
    state.stackingToCheck = true;
    return;
  }
  if (event.type != ConfigureNotify) return;
  const XConfigureEvent& configure = event.xconfigure;
  Window* sibling = configure.window == _frame.primary()    ? &state.borderAbove
                    : configure.window == _controlBarWindow ? &state.barAbove
                                                            : nullptr;
  if (sibling) {
    // Our own move or resize (a drag, a monitor change) keeps the sibling; a restack changes it.
    if (*sibling == configure.above) return;
    *sibling = configure.above;
  }
  state.stackingToCheck = true;
}

void NativeUIController::onVisibilityNotify(const XEvent& event, LoopState& state) {
  const XVisibilityEvent& visibility = event.xvisibility;
  if (visibility.state == VisibilityUnobscured || visibility.window == 0) return;
  if (_frame.holds(visibility.window) || visibility.window == _controlBarWindow) {
    state.stackingToCheck = true;
  }
}

void NativeUIController::keepOnTop(LoopState& state) {
  const auto now = RaisePolicy::Clock::now();
  const auto look = nextLook(state);
  // While another client keeps covering us, only the once-a-second look counts: that client's
  // every raise reports to us, and a look at each would cost as much as a raise.
  const bool due = look ? now >= *look : state.stackingToCheck;
  state.stackingToCheck = false;
  if (!due) return;
  if (_frame.primary() == 0 || _barDestroyed) return;
  if (!indicatorCovered()) {
    state.raises.clear(now);
    return;
  }
  const RaisePolicy::Decision decision = state.raises.covered(now);
  if (decision.warn) {
    callback()->onLog(LogType::Warn, "Another window keeps covering the indicator");
  }
  if (decision.raise) raiseIndicator();
}

std::optional<RaisePolicy::Clock::time_point> NativeUIController::nextLook(
    const LoopState& state) const {
  if (_frame.primary() == 0 || _barDestroyed) return std::nullopt;
  return state.raises.nextLook();
}

bool NativeUIController::indicatorCovered() {
  Display* display = _display.get();
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, _rootWindow, &root, &parent, &children, &count)) return false;
  const XPtr<Window> owned(children);
  // Bottom to top. A bar reparented into someone's frame is not a top-level of ours any more.
  int lowestFrame = -1;
  int bar = -1;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    if (lowestFrame < 0 && _frame.holds(children[i])) lowestFrame = i;
    if (children[i] == _controlBarWindow) bar = i;
  }
  if (lowestFrame < 0) return false;
  const int lowest = bar < 0 ? lowestFrame : std::min(lowestFrame, bar);
  std::vector<Window> framesBelow;
  for (int i = lowest; i < static_cast<int>(count); ++i) {
    const Window window = children[i];
    if (_frame.holds(window)) framesBelow.push_back(window);
    if (_frame.holds(window) || window == _controlBarWindow) continue;
    XWindowAttributes attributes;
    // A window that went away meanwhile covers nothing (the suppressor prints its BadWindow).
    if (!XGetWindowAttributes(display, window, &attributes)) continue;
    if (attributes.map_state != IsViewable || attributes.c_class == InputOnly) continue;
    const int edge = 2 * attributes.border_width;
    const XRectangle area{static_cast<short>(attributes.x), static_cast<short>(attributes.y),
                          static_cast<unsigned short>(attributes.width + edge),
                          static_cast<unsigned short>(attributes.height + edge)};
    if (_frame.shown() && coversFrame(framesBelow, area)) return true;
    if (bar >= 0 && i > bar && coversBar(area)) return true;
  }
  return false;
}

bool NativeUIController::coversFrame(const std::vector<Window>& framesBelow,
                                     const XRectangle& area) const {
  for (const Window window : framesBelow) {
    if (_frame.overlaps(window, area)) return true;
  }
  return false;
}

bool NativeUIController::coversBar(const XRectangle& area) const {
  return intersects(area, currentBarX(), barY(), _barWidth, _barHeight);
}

void NativeUIController::raiseIndicator() {
  Display* display = _display.get();
  _frame.raise();
  XRaiseWindow(display, _controlBarWindow);
}

}  // namespace NativeUI
