// Following the shared window of a window showing. The UI thread asks for the structure events of
// the client and of its top-level (the window manager's frame, or the client itself): the
// top-level's ConfigureNotify carries its new rectangle, so a move costs no round trip; a map or
// unmap of either says the window may have become viewable or stopped being so; a reparenting of
// the client (a window manager that restarts or frames it late) makes another window its
// top-level; the client's DestroyNotify ends the showing. As elsewhere in the loop, a drain only
// notes what happened, and one look after it acts on all of it, so a storm of moves costs one
// move of the frame per drain.
#include <cstdio>

#include "EventLoopState.h"
#include "NativeUIController.h"
#include "SharedWindow.h"
#include "X11Utils.h"

namespace NativeUI {

void NativeUIController::watchSharedWindow(LoopState& state) {
  if (_sharedId == 0 || _connectionLost.load()) return;
  Display* display = _display.get();
  XSelectInput(display, _shared.client, StructureNotifyMask);
  if (_shared.topLevel != _shared.client) {
    XSelectInput(display, _shared.topLevel, StructureNotifyMask);
  }
  // Whatever the window did between the owner's look and the selections sent us nothing.
  state.windowToCheck = true;
}

// The connection outlives the showing; the window may outlive it too and would go on reporting.
void NativeUIController::unwatchSharedWindow() {
  if (_sharedId == 0) return;
  Display* display = _display.get();
  if (_shared.client != 0) XSelectInput(display, _shared.client, NoEventMask);
  if (_shared.topLevel != _shared.client) XSelectInput(display, _shared.topLevel, NoEventMask);
}

// Only the events reported for our selections on the two windows: the copies that the root's
// selection brings (event window the root) go to the stacking look as any top-level's do.
bool NativeUIController::isSharedWindowEvent(const XEvent& event) const {
  const Window window = event.xany.window;
  return _sharedId != 0 && window != 0 && (window == _shared.client || window == _shared.topLevel);
}

void NativeUIController::onSharedWindowEvent(const XEvent& event, LoopState& state) {
  switch (event.type) {
    case ConfigureNotify: {
      const XConfigureEvent& configure = event.xconfigure;
      // The top-level's parent is the root: its position is the screen's. A client inside a
      // frame reports positions inside that frame.
      if (configure.window != _shared.topLevel) return;
      const int64_t edge = 2 * int64_t{configure.border_width};
      state.windowRect =
          fitFrameRect(configure.x, configure.y, configure.width + edge, configure.height + edge);
      state.windowMoved = true;
      return;
    }
    case MapNotify:
    case UnmapNotify:
      state.visibilityToCheck = true;
      return;
    case ReparentNotify:
      state.windowToCheck = true;
      return;
    case DestroyNotify:
      if (event.xdestroywindow.window == _shared.client) {
        sharedWindowClosed();
      } else {
        // The frame went; a window manager gives its client back to the root before that.
        state.windowToCheck = true;
      }
      return;
    default:
      return;
  }
}

void NativeUIController::followWindow(LoopState& state) {
  if (_sharedId == 0 || _frame.primary() == 0 || _barDestroyed) return;
  if (state.windowToCheck) {
    state.windowToCheck = false;
    if (!findTopLevel(state)) return;
  }
  if (state.windowMoved) {
    state.windowMoved = false;
    if (!(state.windowRect == _frameRect)) moveFrame(state.windowRect);
  }
  if (state.visibilityToCheck) {
    state.visibilityToCheck = false;
    // The client's map state says it for the whole chain: a minimised client is unmapped, a
    // frame on another workspace unmaps the client with it. A client that is gone is reported by
    // its DestroyNotify, not as hidden first.
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(_display.get(), _shared.client, &attributes)) return;
    const bool viewable = attributes.map_state == IsViewable;
    if (viewable != _frame.shown()) showFrame(viewable);
  }
}

// The client's top-level as it stands now, watched from here on, and its rectangle. False when
// the showing ended because the client is gone.
bool NativeUIController::findTopLevel(LoopState& state) {
  Display* display = _display.get();
  const Window topLevel = topLevelOf(display, _rootWindow, _shared.client);
  if (topLevel == 0) {
    XWindowAttributes attributes{};
    // Between two top-levels (the frame just went): the next reparenting tells where it is.
    if (XGetWindowAttributes(display, _shared.client, &attributes)) return true;
    sharedWindowClosed();
    return false;
  }
  if (topLevel != _shared.topLevel) {
    if (_shared.topLevel != _shared.client) XSelectInput(display, _shared.topLevel, NoEventMask);
    if (topLevel != _shared.client) XSelectInput(display, topLevel, StructureNotifyMask);
    _shared.topLevel = topLevel;
  }
  // Read after the selection, so that no move falls between the two.
  MonitorInfo outer;
  if (!readOuterRect(display, topLevel, outer)) return true;  // its DestroyNotify will follow
  state.windowRect = outer;
  state.windowMoved = true;
  state.visibilityToCheck = true;
  return true;
}

// The frame takes the window's rectangle (FrameWindows::place), the bar the monitor that now
// holds most of it.
void NativeUIController::moveFrame(const MonitorInfo& outer) {
  Display* display = _display.get();
  _frameRect = outer;
  _frame.place(_frameRect);
  placeBarOnWindowMonitor();
  // Announced only once the server holds the new geometry, as a monitor change is.
  XSync(display, False);
  callback()->onLog(LogType::Log, "Shared window changed, x:%d, y:%d, width:%d, height:%d", outer.x,
                    outer.y, outer.width, outer.height);
  reportEvent(ShowingEvent::Kind::WindowChanged);
}

// The bar goes to the top centre of the monitor that now holds the window's centre; on the same
// monitor it stays where it is, dragged or not.
void NativeUIController::placeBarOnWindowMonitor() {
  const MonitorInfo& monitor = _screenMonitors[monitorHolding(_screenMonitors, _frameRect)];
  if (monitor == _monitor) return;
  _monitor = monitor;
  _barDragged = false;
  readWorkArea();  // where it comes from the docks' struts, it is the new monitor's
  XMoveWindow(_display.get(), _controlBarWindow, centredBarX(), barY());
}

void NativeUIController::refreshScreenMonitors() {
  std::vector<MonitorInfo> monitors = readScreenMonitors(_display.get(), _rootWindow);
  if (monitors.empty()) return;  // nothing usable read: the bar stays where it is
  _screenMonitors = std::move(monitors);
  placeBarOnWindowMonitor();
}

// The frame is withdrawn while the window cannot be seen; the bar stays, so that the user can
// still stop sharing. By its shape, not by an unmap: compositors that paint override-redirect
// windows in the order they were mapped would paint a frame mapped again over the bar.
void NativeUIController::showFrame(bool viewable) {
  Display* display = _display.get();
  _frame.show(viewable);
  XSync(display, False);
  callback()->onLog(LogType::Log, "Shared window viewable: %s", viewable ? "true" : "false");
  ShowingEvent event;
  event.kind = ShowingEvent::Kind::WindowVisibility;
  event.showing = _showing;
  event.visible = viewable;
  callback()->onShowingEvent(event);
}

// Taken down as by a hide, but for its own reason: the border window's DestroyNotify reports it.
void NativeUIController::sharedWindowClosed() {
  char id[24];
  snprintf(id, sizeof(id), "0x%lx", _sharedId);
  callback()->onLog(LogType::Warn, "Shared window closed: %s", id);
  _teardownReason = HiddenReason::WindowClosed;
  // Nothing to unwatch on a window that is gone; a frame that held it may still be there.
  if (_shared.topLevel == _shared.client) _shared.topLevel = 0;
  _shared.client = 0;
  // A show in answer to the hidden report (of a new window that got the same id, say) must start
  // afresh, not find this thread still running.
  _endingByItself.store(true);
  destroyBarWindows();
}

}  // namespace NativeUI
