#include "NativeUIController.h"

#include <X11/extensions/Xrender.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "XConnection.h"

namespace NativeUI {

NativeUIController::NativeUIController(NativeUIControllerCallback* callback) : _callback(callback) {
  connect();  // a failed connection is reported by the UI thread when a showing starts
  printf("%s:%p\n", "NativeUIController", static_cast<void*>(this));
  fflush(stdout);
}

NativeUIController::~NativeUIController() {
  std::cout << "~NativeUIController" << std::endl;
  hideControlBar();
  const XlibTurn turn(xlibTurns());
  _monitorLayout.forget();
  _errorSuppressor.reset();  // left installed by a showing that failed before its event loop
  releaseConnection();
  std::cout << "~NativeUIController"
            << ": Completed" << std::endl;
  printf("%s:%p\n", "~NativeUIController", static_cast<void*>(this));
  fflush(stdout);
}

void NativeUIController::connect() {
  const XlibTurn turn(xlibTurns());
  _connectionLost.store(false);
  _desktopChanges.fetch_add(1);  // perhaps another server: nothing read before holds
  // Xlib's default would exit() the host process when the server goes away or another client
  // kills our connection.
  _display.reset(openSurvivableDisplay(&NativeUIController::onConnectionLost, this));
  if (!_display) return;
  // Registers the Render extension before Xft and Xcursor register theirs. XCloseDisplay runs
  // the close hooks newest first; had Render come later, its hook would run first, and the
  // fonts and cursors that Xft and Xcursor free in theirs would make Render re-register the
  // closing display. That stale entry is then found by the next connection that Xlib happens
  // to allocate at the same address, and its requests go out with another server's opcodes.
  int eventBase = 0;
  int errorBase = 0;
  XRenderQueryExtension(_display.get(), &eventBase, &errorBase);
}

void NativeUIController::onConnectionLost(Display*, void* controller) {
  static_cast<NativeUIController*>(controller)->_connectionLost.store(true);
}

// Owner thread, no UI thread running. A controller without a usable connection gets a new one
// here: none could be opened before (no server yet), or it was lost. A UI thread that met the
// loss has released the dead connection already; a loss met here is released here, since only
// the thread that met it may still call Xlib on that connection.
void NativeUIController::ensureConnection() {
  {
    const XlibTurn turn(xlibTurns());
    if (_display && !_connectionLost.load()) dropStaleEvents();
    if (_display && _connectionLost.load()) releaseLostConnection();
  }
  if (!_display) connect();
}

// A connection that died while no showing used it (the server restarted, another client killed
// us) would otherwise only be found by the next build, which it would then fail. Reading only,
// never writing, so that a socket closed by the server cannot raise SIGPIPE in the host. Events
// still queued here belong to windows of an earlier showing and would mean nothing to the next.
void NativeUIController::dropStaleEvents() {
  Display* display = _display.get();
  while (!_connectionLost.load() && XEventsQueued(display, QueuedAfterReading) > 0) {
    XEvent event;
    XNextEvent(display, &event);
  }
}

void NativeUIController::updateCallback(NativeUIControllerCallback* callback) {
  _callback.store(callback);
}

bool NativeUIController::isVisible() const { return _visible.load(); }

void NativeUIController::setScaleOverride(double scale) {
  _scaleOverride = std::isnan(scale) ? 0 : scale;
}

bool NativeUIController::showControlBar(unsigned int monitorIndex) {
  callback()->onLog(LogType::Log, "%s", "showControlBar");
  std::vector<MonitorDetails> monitors;
  {
    const XlibTurn turn(xlibTurns());
    monitors = readLayout();
  }
  if (monitorIndex >= monitors.size()) return false;
  if (keepsRunningThread(static_cast<int64_t>(monitorIndex) == _monitorIndex && _sharedId == 0)) {
    return true;
  }
  ensureConnection();
  _monitorIndex = static_cast<int32_t>(monitorIndex);
  _sharedId = 0;
  _monitor = monitors[monitorIndex].geometry;
  _frameRect = _monitor;
  _crtc = monitors[monitorIndex].crtc;
  _monitorScreen = monitors[monitorIndex].screen;
  callback()->onLog(LogType::Log, "%s: Current monitor details, x:%d, y:%d, width:%d, height:%d",
                    "showControlBar", _monitor.x, _monitor.y, _monitor.width, _monitor.height);
  startUIThread();
  callback()->onLog(LogType::Log, "%s: Completed", "showControlBar");
  return true;
}

WindowLookup NativeUIController::showControlBarOnWindow(unsigned long window) {
  callback()->onLog(LogType::Log, "%s", "showControlBarOnWindow");
  SharedWindowPlace place;
  std::vector<MonitorInfo> screenMonitors;
  WindowLookup found = WindowLookup::NotAWindow;
  int screen = 0;
  {
    const XlibTurn turn(xlibTurns());
    const std::vector<MonitorDetails> monitors = readLayout();
    // The layout's connection: the UI thread may own the controller's while this looks.
    Display* display = _monitorLayout.connection();
    if (display == nullptr) return WindowLookup::NotAWindow;
    const XErrorSuppressor suppressor(display);  // the window may go at any moment
    screen = DefaultScreen(display);
    found = locateSharedWindow(display, RootWindow(display, screen), window, place);
    for (const MonitorDetails& monitor : monitors) {
      if (monitor.screen == screen) screenMonitors.push_back(monitor.geometry);
    }
    // Without RandR the screen is one monitor.
    if (screenMonitors.empty()) {
      screenMonitors.push_back(
          MonitorInfo{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen), 0});
    }
  }
  if (found != WindowLookup::Found) return found;
  if (keepsRunningThread(window == _sharedId)) return WindowLookup::Found;
  ensureConnection();
  _monitorIndex = -1;
  _sharedId = window;
  _shared = place;
  _frameRect = place.outer;
  _screenMonitors = std::move(screenMonitors);
  _monitor = _screenMonitors[monitorHolding(_screenMonitors, _frameRect)];
  _crtc = 0;
  _monitorScreen = screen;
  callback()->onLog(LogType::Log,
                    "%s: Shared window details, id:0x%lx, x:%d, y:%d, width:%d, height:%d",
                    "showControlBarOnWindow", window, _frameRect.x, _frameRect.y, _frameRect.width,
                    _frameRect.height);
  startUIThread();
  callback()->onLog(LogType::Log, "%s: Completed", "showControlBarOnWindow");
  return WindowLookup::Found;
}

// In the caller's turn with the X libraries.
std::vector<MonitorDetails> NativeUIController::readLayout() {
  // The server that closed our connection may not have closed the layout's yet: its list is no
  // sign that the server is still there.
  if (_connectionLost.load()) _monitorLayout.forget();
  std::vector<MonitorDetails> monitors = _monitorLayout.getMonitorDetails(false);
  if (_monitorLayout.takeDesktopChanged()) _desktopChanges.fetch_add(1);
  return monitors;
}

// Whether a UI thread showing the same target still runs, so that nothing is to be done. A
// thread for another target is hidden first; one for the same target that ended, or reported
// that it ends, by itself (a failed build, a lost connection, its border window or its window
// destroyed) is joined: saying "already shown" would report success for a bar that is not there.
bool NativeUIController::keepsRunningThread(bool sameTarget) {
  if (!_thread || !_thread->joinable()) return false;
  if (!sameTarget) {
    hideControlBar();
    return false;
  }
  if (!_threadEnded.load() && !_endingByItself.load()) return true;
  joinUIThread();
  return false;
}

void NativeUIController::startUIThread() {
  // Owned by this thread from here until after the join; the UI thread only reads from it.
  // A failure leaves both ends -1 and the UI thread reports it when its loop starts.
  if (pipe2(_exitPipe, O_CLOEXEC) != 0) {
    _exitPipe[0] = -1;
    _exitPipe[1] = -1;
  }
  std::copy(std::begin(ChildControlBarWins), std::end(ChildControlBarWins), _rows.begin());
  _buildScaleOverride = _scaleOverride;
  _buildShortcut = _shortcut;
  _buildShortcutText = _shortcutText;
  _threadEnded.store(false);
  _endingByItself.store(false);
  ++_showing;
  reportEvent(ShowingEvent::Kind::Started);
  _thread = std::make_unique<std::thread>([this] {
    pthread_setname_np(pthread_self(), "nativeui");
    blockSigpipeOnThisThread();
    _uiTurn = XlibTurn(xlibTurns());  // let go only while the loop sleeps, see waitForEvents
    _failure.clear();
    _shownInShowing = false;
    _teardownReason = HiddenReason::Hide;
    _barDragged = false;
    if (!createWindows()) {
      if (_connectionLost.load()) endBuildOnLostConnection();
      ShowingEvent failed;
      failed.kind = ShowingEvent::Kind::Failed;
      failed.showing = _showing;
      failed.line = _failure.c_str();
      callback()->onShowingEvent(failed);
    }
    _visible.store(false);
    // Before the report: a caller that shows again on hearing Ended must find the thread ended,
    // not running (its join still waits for this report to return).
    _threadEnded.store(true);
    reportEvent(ShowingEvent::Kind::Ended);
    _uiTurn.unlock();
  });
}

void NativeUIController::reportEvent(ShowingEvent::Kind kind, HiddenReason reason) {
  ShowingEvent event;
  event.kind = kind;
  event.showing = _showing;
  event.reason = reason;
  event.x = _frameRect.x;  // the monitor itself in a monitor showing
  event.y = _frameRect.y;
  event.width = _frameRect.width;
  event.height = _frameRect.height;
  callback()->onShowingEvent(event);
}

void NativeUIController::reportHidden(HiddenReason reason) {
  callback()->onWindowHidden();
  reportEvent(ShowingEvent::Kind::Hidden, reason);
}

void NativeUIController::joinUIThread() {
  _thread->join();
  closeExitPipe();
  _threadEnded.store(false);
}

void NativeUIController::closeExitPipe() {
  for (int& end : _exitPipe) {
    if (end != -1) close(end);
    end = -1;
  }
}

bool NativeUIController::hideControlBar() {
  callback()->onLog(LogType::Log, "%s", "hideControlBar");
  _exitRequested.store(true);
  if (_thread && _thread->joinable()) {
    if (_thread->get_id() != std::this_thread::get_id()) {
      if (_exitPipe[1] != -1) {
        ssize_t written;
        do {
          written = write(_exitPipe[1], "1", 1);
        } while (written < 0 && errno == EINTR);
        if (written != 1) {
          callback()->onLog(LogType::Error,
                            "%s: write to pipe failed, possible dangling window thread!",
                            "hideControlBar");
        }
      }
      joinUIThread();
      _exitRequested.store(false);
    }
    // On the UI thread itself the request stays set; its loop acts on it at the next check.
  } else {
    _exitRequested.store(false);
  }
  _monitorIndex = -1;
  _sharedId = 0;
  callback()->onLog(LogType::Log, "%s: Completed", "hideControlBar");
  return true;
}

}  // namespace NativeUI
