// The UI thread's event loop. It sleeps in select() on the X connection and the exit pipe (at
// most one second at a time), drains every queued X event through the handler table, then acts
// once on what the drain found (the shown monitor changed, another window covers the
// indicator), and ends when the border window's DestroyNotify has been handled, whether our
// teardown, a monitor that went away or another client destroyed it.
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>

#include "EventLoopState.h"
#include "NativeUIController.h"
#include "X11Utils.h"

namespace NativeUI {

// Event types without an entry are taken from the queue and ignored.
std::array<NativeUIController::EventHandler, NativeUIController::kEventTypes>
NativeUIController::makeEventHandlers() {
  std::array<EventHandler, kEventTypes> handlers{};
  handlers[ButtonPress] = &NativeUIController::onButtonPress;
  handlers[ButtonRelease] = &NativeUIController::onButtonRelease;
  handlers[MotionNotify] = &NativeUIController::onMotionNotify;
  handlers[Expose] = &NativeUIController::onExpose;
  handlers[DestroyNotify] = &NativeUIController::onDestroyNotify;
  handlers[MapNotify] = &NativeUIController::onMapNotify;
  handlers[ReparentNotify] = &NativeUIController::onReparentNotify;
  handlers[VisibilityNotify] = &NativeUIController::onVisibilityNotify;
  handlers[KeyPress] = &NativeUIController::onKeyPress;
  handlers[FocusOut] = &NativeUIController::onFocusOut;
  return handlers;
}

const std::array<NativeUIController::EventHandler, NativeUIController::kEventTypes>
    NativeUIController::kEventHandlers = NativeUIController::makeEventHandlers();

bool NativeUIController::runNativeUIControllerThread() {
  LoopState state;
  state.connection = ConnectionNumber(_display.get());
  state.pipeRead = _exitPipe[0];
  if (state.pipeRead == -1) {
    callback()->onLog(LogType::Error, "Pipe creation failed, unable to manage thread exit: %s",
                      XDisplayName(nullptr));
  }
  state.bound = std::max(state.connection, state.pipeRead) + 1;
  state.handlers = kEventHandlers;
  watchMonitor(state);
  watchStacking(state);
  watchSharedWindow(state);

  while (!state.exitTriggered) {
    if (waitForEvents(state) && _exitRequested.load() && _frame.primary() != 0) tearDown();
    drainEvents(state);
    if (_connectionLost.load()) {
      endLostConnection(state);
      break;
    }
    if (state.exitTriggered) break;
    // Both looks are round trips. Sent right after the build, they queue behind the frame's map,
    // which the server answers only once it has made and filled the frame's backing store
    // (milliseconds for a full-screen ARGB window), while the MapNotify that reports the showing
    // is already here: they wait for it, and the little they could find waits with them.
    if (!_shownInShowing) continue;
    followMonitor(state);
    followWindow(state);
    keepOnTop(state);
    updateAccessible();
  }

  stopAccessible();
  if (!_connectionLost.load()) {
    releaseShortcut();
    unwatchMonitor();
    unwatchStacking();
    unwatchSharedWindow();
  }
  _errorSuppressor.reset();
  _frame.forget();
  _controlBarWindow = 0;
  _visible.store(false);
  _rootWindow = 0;
  if (_connectionLost.load()) releaseLostConnection();
  callback()->onLog(LogType::Log, "%s: Completed", "runNativeUIControllerThread");
  return true;
}

// Returns whether the exit request is to be checked in this cycle: after a pipe byte or a
// timeout, never while the X connection has work, so that the events already sent are handled
// first.
bool NativeUIController::waitForEvents(LoopState& state) {
  // Flushes our requests and takes in every event that has already arrived: events that Xlib
  // read earlier (during the build's syncs, a handler's round trip, or the flush itself) are no
  // longer visible to select() and would otherwise wait for the whole timeout.
  if (XPending(_display.get()) > 0) return false;

  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(state.connection, &readSet);
  if (state.pipeRead != -1) FD_SET(state.pipeRead, &readSet);
  timeval timeout{1, 0};
  // A covered indicator is looked at again at its retry time, which no event announces.
  if (const auto look = nextLook(state)) {
    const auto wait = std::max(*look - RaisePolicy::Clock::now(), RaisePolicy::Clock::duration{});
    if (wait < std::chrono::seconds(1)) {
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
      timeout = timeval{0, static_cast<suseconds_t>(us)};
    }
  }
  _uiTurn.unlock();  // the owner thread may list monitors while this one sleeps
  const int ready = select(state.bound, &readSet, nullptr, nullptr, &timeout);
  _uiTurn.lock();
  if (ready < 0) return false;
  if (ready == 0) return true;
  if (FD_ISSET(state.connection, &readSet)) return false;
  if (state.pipeRead != -1 && FD_ISSET(state.pipeRead, &readSet)) {
    char byte;
    if (read(state.pipeRead, &byte, 1) != 1) callback()->onLog(LogType::Error, "Pipe read failure");
    return true;
  }
  return false;
}

void NativeUIController::drainEvents(LoopState& state) {
  state.exitTriggered = false;
  Display* display = _display.get();
  while (XPending(display) != 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type < 0 || event.type >= kEventTypes) continue;
    if (state.shownToReport && event.type == DestroyNotify) reportShown(state);  // before hidden
    if (isSharedWindowEvent(event)) {
      onSharedWindowEvent(event, state);
      continue;
    }
    // Reported because we watch the root's children, not because of anything of ours: the
    // table's handlers see exactly the events they always saw.
    if (isTopLevelChange(event)) {
      onTopLevelChange(event, state);
      continue;
    }
    if (const EventHandler handler = state.handlers[event.type]) (this->*handler)(event, state);
  }
  if (state.shownToReport) reportShown(state);
}

// The server is gone or closed our connection: nothing of the indicator is left on screen, and
// no event will ever come again.
void NativeUIController::endLostConnection(LoopState& state) {
  _endingByItself.store(true);
  if (_shownInShowing) {
    callback()->onLog(LogType::Error, "X connection lost: %s", XDisplayName(nullptr));
  } else {
    // Lost before the bar ever appeared: this is what ended the build.
    logBuildFailure("X connection lost: %s", XDisplayName(nullptr));
    ShowingEvent failed;
    failed.kind = ShowingEvent::Kind::Failed;
    failed.showing = _showing;
    failed.line = _failure.c_str();
    callback()->onShowingEvent(failed);
  }
  // A showing that never reached the screen failed; it has nothing to report as hidden.
  if (!state.exitTriggered && _shownInShowing) {
    _visible.store(false);
    reportHidden(HiddenReason::ConnectionLost);
  }
  _exitRequested.store(false);
}

// The connection died during the build, which then failed before its loop could notice: what
// ended the showing is the loss, not the step that tripped over it. The dead connection is
// released here for the same reason as at the end of a loop.
void NativeUIController::endBuildOnLostConnection() {
  _failure.clear();
  logBuildFailure("X connection lost: %s", XDisplayName(nullptr));
  _errorSuppressor.reset();
  _frame.forget();  // went with the connection
  _controlBarWindow = 0;
  releaseLostConnection();
}

// Only the thread that met the I/O error may still call Xlib on the dead connection: it left the
// connection's lock in a state that makes every other thread wait forever. So everything that
// belongs to the connection is released here; the next showing opens a new one.
void NativeUIController::releaseLostConnection() { releaseConnection(); }

// Everything that lives on the connection, in the order each needs the next, then the connection.
void NativeUIController::releaseConnection() {
  _childWindows.clear();
  _windowOrders.clear();
  _textLayouts.reset();  // its fonts are the connection's: Pango closes them with it
  if (_font) XftFontClose(_display.get(), _font);
  _font = nullptr;
  _display.reset();
  _connectionResources.reset();
}

void NativeUIController::tearDown() {
  callback()->onLog(LogType::Log, "Exit requested");
  destroyBarWindows();
  _exitRequested.store(false);
}

Window NativeUIController::childWindow(WindowOrder order) const {
  auto child = _childWindows.find(order);
  return child != _childWindows.end() && child->second ? child->second->window() : 0;
}

void NativeUIController::onButtonPress(const XEvent& event, LoopState& state) {
  const Window window = event.xbutton.window;
  if (window == 0) return;
  if (window == childWindow(WindowOrder::StopSharingText)) {
    reportStop(StopSource::Pointer);
    return;
  }
  if (window == childWindow(WindowOrder::LeftDragHandle) ||
      window == childWindow(WindowOrder::RightDragHandle)) {
    XGrabPointer(_display.get(), window, False,
                 ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                 GrabModeAsync, _rootWindow, None, CurrentTime);
    state.dragging = true;
  }
}

void NativeUIController::onButtonRelease(const XEvent&, LoopState& state) {
  if (!state.dragging) return;
  XUngrabPointer(_display.get(), CurrentTime);
  state.dragging = false;
}

void NativeUIController::onMotionNotify(const XEvent& event, LoopState& state) {
  if (state.dragging) moveBar(event.xmotion.window);
}

void NativeUIController::moveBar(Window handle) {
  Window root = 0;
  Window child = 0;
  int px = 0;
  int py = 0;
  int wx = 0;
  int wy = 0;
  unsigned int mask = 0;
  // The pointer's position now, not the event's: motion events are not compressed, so the
  // event may be stale by the time it is handled.
  if (!XQueryPointer(_display.get(), _rootWindow, &root, &child, &px, &py, &wx, &wy, &mask)) {
    return;  // the pointer is on another screen
  }
  const int x =
      clampBarX(handle == childWindow(WindowOrder::RightDragHandle) ? px - _barWidth : px);
  XMoveWindow(_display.get(), _controlBarWindow, x, barY());
  _barX = x;
  _barDragged = true;
}

// Within the monitor; a bar wider than the monitor keeps its left edge on the monitor's.
int32_t NativeUIController::clampBarX(int32_t x) const {
  const int32_t right = _monitor.x + _monitor.width;
  if (x + _barWidth > right) x = right - _barWidth;
  if (x < _monitor.x) x = _monitor.x;
  return x;
}

int32_t NativeUIController::currentBarX() const { return _barDragged ? _barX : centredBarX(); }

void NativeUIController::onExpose(const XEvent& event, LoopState&) {
  auto order = _windowOrders.find(event.xexpose.window);
  if (order == _windowOrders.end() || static_cast<int32_t>(order->second) == 0) return;
  auto child = _childWindows.find(order->second);
  // Only the current showing's children are drawn; a stale window id of an earlier showing
  // maps to an order whose object now owns another window.
  if (child != _childWindows.end() && child->second &&
      child->second->window() == event.xexpose.window) {
    child->second->draw();
    drawFocusRing(event.xexpose.window);
  }
}

void NativeUIController::onDestroyNotify(const XEvent& event, LoopState& state) {
  const Window window = event.xdestroywindow.window;
  callback()->onLog(LogType::Log, "Window destroyed: %d", static_cast<int>(window));
  if (window != _frame.primary() || window == 0 || state.exitTriggered) return;
  callback()->onLog(LogType::Log, "Window destroyed trigger exit: %d", static_cast<int>(window));
  // Another client destroyed the border window: the bar would stay on screen, unserved, with a
  // stop button that does nothing.
  const HiddenReason reason = _barDestroyed ? _teardownReason : HiddenReason::Destroyed;
  if (!_barDestroyed) {
    _endingByItself.store(true);
    _frame.forgetPrimary();  // already gone
    destroyBarWindows();
  }
  _visible.store(false);
  reportHidden(reason);
  state.exitTriggered = true;
}

// The bar is mapped right after the frame (ControlBarBuild.cpp): one round trip brings its
// children's first exposures, and reported once the drain has drawn them, a shown indicator is a
// drawn one, as when the bar was mapped first.
void NativeUIController::onMapNotify(const XEvent& event, LoopState& state) {
  const Window window = event.xmap.window;
  if (window != _frame.primary() || window == 0) return;
  XSync(_display.get(), False);
  state.shownToReport = true;
}

void NativeUIController::reportShown(LoopState& state) {
  state.shownToReport = false;
  callback()->onLog(LogType::Log, "Window created and visible: %d",
                    static_cast<int>(_frame.primary()));
  _visible.store(true);
  _shownInShowing = true;
  ReportPass pass = callback();  // both or neither, see reportHidden
  pass.note(ShowingEvent::Kind::Shown);
  pass->onWindowShown();
  pass->onShowingEvent(makeEvent(ShowingEvent::Kind::Shown));
  startAccessible();
}

void NativeUIController::onReparentNotify(const XEvent& event, LoopState&) {
  if (event.xreparent.window != _controlBarWindow || _controlBarWindow == 0) return;
  markTopLevelFrame(event.xreparent.window, event.xreparent.parent);
}

// Marks the ancestor that is a direct child of the root window (the frame that now holds the
// bar) with the window-type property.
void NativeUIController::markTopLevelFrame(Window window, Window parent) {
  std::cout << "Received reparent event, id: 0x" << std::hex << window << ", parent: 0x" << parent
            << std::dec << std::endl;
  Window w = parent;
  while (w != _rootWindow) {
    Window p = 0;
    Window root = 0;
    // A window that went away meanwhile ends the walk; there is no frame left to mark.
    if (!getWindowParent(_display.get(), w, p, root) || p == 0) return;
    if (p == _rootWindow) break;
    w = p;
  }
  setZELNativeUIWindowType(_display.get(), w);
}

}  // namespace NativeUI
