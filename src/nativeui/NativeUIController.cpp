#include "NativeUIController.h"

#include <X11/extensions/Xrender.h>
#include <fcntl.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "ResourceScan.h"
#include "XConnection.h"

namespace NativeUI {

namespace {

// The controller whose UI thread this is, on that thread only: its reports go through the gate.
thread_local const NativeUIController* tUiThreadOf = nullptr;

}  // namespace

NativeUIController::NativeUIController(NativeUIControllerCallback* callback) : _callback(callback) {
  connect();  // a failed connection is reported by the UI thread when a showing starts
  printf("%s:%p\n", "NativeUIController", static_cast<void*>(this));
  fflush(stdout);
}

NativeUIController::~NativeUIController() {
  std::cout << "~NativeUIController" << std::endl;
  hideControlBar();
  if (_abandoned && !reapAbandonedThread(kThreadEndWait)) {
    // Breaks the contract (uiThreadAbandoned): the thread may hold the X turn, so none is taken
    // here, and the connection it uses is left open. The members still go with this object.
    _thread->detach();
    (void)_display.release();
    (void)_connectionResources.release();
    return;
  }
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
  _connectionResources = bindLibraryResources(_display.get());
  // Xlib's default handler would exit() the host over an output that went away between the
  // requests.
  const XErrorSuppressor suppressor(_display.get());
  _onXWayland = isXWayland(_display.get());
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

// A thread left running may still set it; its bar is no longer the host's.
bool NativeUIController::isVisible() const { return _visible.load() && !_abandoned; }

void NativeUIController::setScaleOverride(double scale) {
  _scaleOverride = std::isnan(scale) ? 0 : scale;
}

bool NativeUIController::showControlBar(unsigned int monitorIndex) {
  callback()->onLog(LogType::Log, "%s", "showControlBar");
  // Before the turn with the X libraries: the thread left running may be holding it.
  if (!reapAbandonedThread(kThreadEndWait)) {
    failWithoutThread();
    return true;
  }
  _refusal.clear();
  const BackendChoice choice = chooseBackend();
  if (!choice.refusal.empty()) {
    _refusal = choice.refusal;
    callback()->onLog(LogType::Error, "%s", _refusal.c_str());
    return false;
  }
  if (!choice.note.empty()) callback()->onLog(LogType::Log, "%s", choice.note.c_str());
  std::vector<MonitorDetails> monitors;
  if (choice.kind == BackendKind::Wayland) {
    monitors = waylandBackend().monitors();
  } else {
    const XlibTurn turn(xlibTurns());
    monitors = readLayout();
  }
  if (monitorIndex >= monitors.size()) return false;
  if (keepsRunningThread(static_cast<int64_t>(monitorIndex) == _monitorIndex && _sharedId == 0 &&
                         choice.kind == _backend)) {
    return true;
  }
  if (_abandoned) {  // the showing it hid is stuck: no turn, no second thread
    failWithoutThread();
    return true;
  }
  if (choice.kind == BackendKind::X11) ensureConnection();
  _backend = choice.kind;
  _backendMonitor = monitors[monitorIndex];
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
  if (!reapAbandonedThread(kThreadEndWait)) {
    failWithoutThread();
    return WindowLookup::Found;
  }
  SharedWindowPlace place;
  std::vector<MonitorInfo> screenMonitors;
  WindowLookup found = WindowLookup::NotAWindow;
  int screen = 0;
  {
    const XlibTurn turn(xlibTurns());
    const std::vector<MonitorDetails> monitors = readLayout();
    // The layout's connection: the UI thread may own the controller's while this looks.
    Display* display = _monitorLayout.connection();
    if (display == nullptr) return WindowLookup::NoXServer;
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
  if (_abandoned) {
    failWithoutThread();
    return WindowLookup::Found;
  }
  ensureConnection();
  _backend = BackendKind::X11;  // a window is an X11 notion, whoever draws monitors
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
  {
    const std::lock_guard<std::mutex> lock(_gate.mutex);
    _gate.open = true;
    _gate.shown = _gate.hidden = _gate.ended = false;
  }
  reportEvent(ShowingEvent::Kind::Started);
  _thread = std::make_unique<std::thread>([this] {
    tUiThreadOf = this;
    pthread_setname_np(pthread_self(), "nativeui");
    blockSigpipeOnThisThread();
    _failure.clear();
    _placementWarned = false;
    _shownInShowing = false;
    _teardownReason = HiddenReason::Hide;
    _barDragged = false;
    if (!buildAndRun()) {
      if (_connectionLost.load()) endBuildOnLostConnection();
      ShowingEvent failed;
      failed.kind = ShowingEvent::Kind::Failed;
      failed.showing = _showing;
      failed.line = _failure.c_str();
      callback()->onShowingEvent(failed);
    }
    _visible.store(false);
    endUIThread();
  });
}

// The showing's backend on this UI thread. Only X11 holds the process's turn with the X
// libraries: a Wayland showing never calls them.
bool NativeUIController::buildAndRun() {
  if (_backend == BackendKind::Wayland) return runBackend(*_wayland);
  _uiTurn = XlibTurn(xlibTurns());  // let go only while the loop sleeps, see waitForEvents
  return createWindows();
}

// The UI thread's last acts.
void NativeUIController::endUIThread() {
  // Before the report: a caller that shows again on hearing Ended must find the thread ended,
  // not running (its join still waits for this report to return).
  {
    const std::lock_guard<std::mutex> lock(_endMutex);
    _threadEnded.store(true);
  }
  _endCv.notify_all();
  reportEvent(ShowingEvent::Kind::Ended);
  if (_uiTurn.owns_lock()) _uiTurn.unlock();
}

ReportPass NativeUIController::callback() const {
  return ReportPass(tUiThreadOf == this ? &_gate : nullptr, _callback.load());
}

ShowingEvent NativeUIController::makeEvent(ShowingEvent::Kind kind, HiddenReason reason) const {
  ShowingEvent event;
  event.kind = kind;
  event.showing = _showing;
  event.reason = reason;
  event.x = _frameRect.x;  // the monitor itself in a monitor showing
  event.y = _frameRect.y;
  event.width = _frameRect.width;
  event.height = _frameRect.height;
  event.backend = backendName(_backend);
  return event;
}

void NativeUIController::reportEvent(ShowingEvent::Kind kind, HiddenReason reason) {
  ReportPass pass = callback();
  pass.note(kind);
  pass->onShowingEvent(makeEvent(kind, reason));
}

// Both reports in one pass, so that an owner giving up on the thread finds both made or neither.
void NativeUIController::reportHidden(HiddenReason reason) {
  ReportPass pass = callback();
  pass.note(ShowingEvent::Kind::Hidden);
  pass->onWindowHidden();
  pass->onShowingEvent(makeEvent(ShowingEvent::Kind::Hidden, reason));
}

void NativeUIController::joinUIThread() {
  _thread->join();
  closeExitPipe();
  _threadEnded.store(false);
}

// A thread that the server keeps waiting sleeps; one that builds a bar on a loaded machine (fonts
// read for the first time, a sanitizer's slowness) works. Only the first is given up on after
// `wait`: the second is waited for while it keeps using the processor, up to kThreadWorkWait.
bool NativeUIController::waitForThreadEnd(std::chrono::milliseconds wait) {
  clockid_t clock = 0;
  const bool measurable = pthread_getcpuclockid(_thread->native_handle(), &clock) == 0;
  const auto cpuTime = [clock] {
    timespec time{};
    clock_gettime(clock, &time);
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
  };
  const auto giveUp = std::chrono::steady_clock::now() + kThreadWorkWait;
  std::unique_lock<std::mutex> lock(_endMutex);
  for (;;) {
    const auto before = measurable ? cpuTime() : std::chrono::nanoseconds{};
    if (_endCv.wait_for(lock, wait, [this] { return _threadEnded.load(); })) return true;
    if (!measurable || std::chrono::steady_clock::now() >= giveUp) return false;
    if (cpuTime() - before < kWorkingCpu) return false;
  }
}

// Owner thread, the UI thread still running after kThreadEndWait. Nothing of the controller is
// freed or reset under it: it keeps its connection, its windows, its exit pipe and the X turn it
// may hold, and ends by itself once the server answers (its exit request stays set). What it owes
// the host is reported here, so that a host that waits for the bar to go (or for the showing's
// hold on its event loop to be given up) is not left waiting.
void NativeUIController::abandonUIThread() {
  bool shown = false;
  bool hidden = false;
  bool ended = false;
  {
    const std::lock_guard<std::mutex> lock(_gate.mutex);  // waits for one report at most
    ended = _gate.ended;
    _gate.open = ended;
    shown = _gate.shown;
    hidden = _gate.hidden;
  }
  if (ended) {
    // Its last report is made: only the return from it is left.
    joinUIThread();
    return;
  }
  _abandoned = true;
  _visible.store(false);
  callback()->onLog(LogType::Warn,
                    "hideControlBar: the UI thread did not end within %lld ms (the X server does "
                    "not answer it); it is left to end on its own",
                    static_cast<long long>(kThreadEndWait.count()));
  ShowingEvent event;
  event.showing = _showing;
  if (shown && !hidden) {
    callback()->onWindowHidden();
    event.kind = ShowingEvent::Kind::Hidden;
    callback()->onShowingEvent(event);
  }
  event.kind = ShowingEvent::Kind::Ended;
  callback()->onShowingEvent(event);
}

// Owner thread. True when no thread left running by a hide remains (it ended, within `wait`,
// and has been joined).
bool NativeUIController::reapAbandonedThread(std::chrono::milliseconds wait) {
  if (!_abandoned) return true;
  if (!waitForThreadEnd(wait)) return false;
  joinUIThread();
  _abandoned = false;
  _exitRequested.store(false);
  _monitorIndex = -1;  // read by that thread until now
  _sharedId = 0;
  return true;
}

// A show while a thread left running still uses the connection: a second thread on it is out of
// the question. Reported as a showing that failed, in the order a host knows.
void NativeUIController::failWithoutThread() {
  ++_showing;
  ShowingEvent event;
  event.showing = _showing;
  event.kind = ShowingEvent::Kind::Started;
  callback()->onShowingEvent(event);
  char line[160];
  snprintf(line, sizeof(line),
           "The previous showing has not ended within %lld ms (the X server does not answer "
           "it): nothing is shown until it has",
           static_cast<long long>(kThreadEndWait.count()));
  callback()->onLog(LogType::Error, "%s", line);
  event.kind = ShowingEvent::Kind::Failed;
  event.line = line;
  callback()->onShowingEvent(event);
  event.kind = ShowingEvent::Kind::Ended;
  callback()->onShowingEvent(event);
}

bool NativeUIController::uiThreadAbandoned() const { return _abandoned; }

void NativeUIController::closeExitPipe() {
  for (int& end : _exitPipe) {
    if (end != -1) close(end);
    end = -1;
  }
}

bool NativeUIController::hideControlBar() {
  callback()->onLog(LogType::Log, "%s", "hideControlBar");
  if (_abandoned) {
    reapAbandonedThread(std::chrono::milliseconds(0));  // its showing is over for the host
  } else {
    _exitRequested.store(true);
  }
  if (_abandoned) {
    // Nothing more to ask of it.
  } else if (_thread && _thread->joinable()) {
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
      if (waitForThreadEnd(kThreadEndWait)) {
        joinUIThread();
        _exitRequested.store(false);
      } else {
        abandonUIThread();  // its exit request stays: it tears down once the server answers
        if (!_abandoned) _exitRequested.store(false);
      }
    }
    // On the UI thread itself the request stays set; its loop acts on it at the next check.
  } else {
    _exitRequested.store(false);
  }
  if (!_abandoned) {  // else that thread still reads them; reset when it is joined
    _monitorIndex = -1;
    _sharedId = 0;
  }
  callback()->onLog(LogType::Log, "%s: Completed", "hideControlBar");
  return true;
}

}  // namespace NativeUI
