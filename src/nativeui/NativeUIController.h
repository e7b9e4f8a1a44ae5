// The native core: one controller per process, one UI thread per showing of the bar.
//
// Threads. The owner thread (the JavaScript thread in the add-on) constructs the controller and
// calls every public operation. showControlBar starts a UI thread that builds the border window
// and the control bar on the controller's own X connection and runs the event loop; only that
// thread touches the connection while it runs. hideControlBar sets _exitRequested, writes one
// byte into the exit pipe and joins the thread once it has ended, waiting about a second at
// most: a thread that the server keeps from ending (a grab, a server that does not answer) is
// left running with everything it uses, its reports shut off behind a gate (ShowingGate.h), and
// joined by a later show or hide once it has ended. The owner never takes the X turn while such
// a thread may hold it, and the controller is never destroyed under it (the add-on leaks it).
//
// The exit pipe lives entirely on the owner thread: it is created before the UI thread starts
// and closed only after the join, so the byte can never go to a descriptor that was closed and
// reused. The UI thread only reads from it.
//
// While the bar is shown, the loop also follows its monitor through RandR (MonitorFollow.cpp),
// or, in a showing of one window, that window (WindowFollow.cpp), and keeps the indicator above
// other clients' windows (StayOnTop.cpp). A showing with a shortcut grabs it on the root and
// lets the keyboard operate the bar (KeyboardControl.cpp); once shown, the bar is also put on the
// accessibility bus, whose work runs on a thread of its own (Accessibility.cpp and
// src/accessibility), never on this one or the owner's. The connection is
// (re)opened on the owner thread at the start of a showing whenever none is usable: none could
// be opened yet, or it was lost. Only the thread that met a loss calls Xlib on the dead
// connection again, to release it.
//
// A showing is drawn by one of two backends, chosen at its start (BackendChoice.h): X11, whose
// indicator is this class's own (ControlBarBuild.cpp, EventLoop.cpp and the files beside them),
// or Wayland's layer shell, a backend behind the IndicatorBackend seam that runs on the same UI
// thread and reports through the same functions (BackendShowing.cpp).
//
// Start reading at showControlBar, then createWindows (the UI thread's entry point).
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Accelerator.h"
#include "AccessibleIndicator.h"
#include "BackendChoice.h"
#include "FrameWindows.h"
#include "IndicatorBackend.h"
#include "MonitorList.h"
#include "NativeChildWindows.h"
#include "NativeUIControllerCallback.h"
#include "RaisePolicy.h"
#include "SharedWindow.h"
#include "ShowingGate.h"
#include "TextLayout.h"
#include "X11Utils.h"
#include "XConnection.h"
#include "XHandles.h"

namespace NativeUI {

// Installs a process-wide X error handler that prints each error and ignores it, for the life of
// the object; the previous handler comes back in the destructor. On both ends it waits for the
// server to have taken every request sent so far (a round trip, unless the server has already
// answered or reported past the last of them), so that the errors of the requests made inside
// the scope reach this handler and those made before it do not.
class XErrorSuppressor {
 public:
  explicit XErrorSuppressor(Display* display);
  ~XErrorSuppressor();
  XErrorSuppressor(const XErrorSuppressor&) = delete;
  XErrorSuppressor& operator=(const XErrorSuppressor&) = delete;

  static int ErrorHandler(Display* display, XErrorEvent* event);

 private:
  Display* _display;
  XErrorHandler _previousHandler;
};

class NativeUIController {
 public:
  // callback must not be null; it is borrowed, never deleted.
  explicit NativeUIController(NativeUIControllerCallback* callback);
  ~NativeUIController();
  NativeUIController(const NativeUIController&) = delete;
  NativeUIController& operator=(const NativeUIController&) = delete;

  // Owner thread only, for all four.
  void updateCallback(NativeUIControllerCallback* callback);
  // false: monitorIndex is not below the number of monitors, or no backend can show anything
  // (refusal() then says why). true: a UI thread for that monitor was started or already runs;
  // visibility is reported later through onWindowShown.
  bool showControlBar(unsigned int monitorIndex);
  // Why the last showControlBar that returned false could not show anything at all; empty when
  // it only refused the index.
  const std::string& refusal() const { return _refusal; }
  // The same for one window of the default screen, framed where it lies and followed. Found: a
  // UI thread for that window was started or already runs; anything else: nothing was started
  // and the showing in place, if any, is left as it is.
  WindowLookup showControlBarOnWindow(unsigned long window);
  // Always true. On any thread but the UI thread it returns once the UI thread has ended, or
  // after about a second (kThreadEndWait) when it has not and sleeps: a thread inside an X call
  // that does not return (another client grabbed the server) or waiting for events that do not come
  // is then left to end on its own. The owner reports for it what the host still waits for (hidden
  // if it was shown, then ended) and drops whatever it reports later, so that nothing it does
  // reaches a later showing. Until it has ended, a show waits for it as long again and then reports
  // a showing that failed (started, failed, ended) without starting a thread.
  bool hideControlBar();
  // Whether a UI thread left running by hideControlBar still uses the controller. While it does
  // the controller must not be destroyed (its destructor would free what the thread uses): a
  // process at its end leaks it instead.
  bool uiThreadAbandoned() const;
  // How long hide, a show and the destructor wait for a UI thread to end: kThreadEndWait for one
  // that sleeps (on a server that does not answer), longer, up to kThreadWorkWait, for one that
  // keeps working (at least kWorkingCpu of processor time in each kThreadEndWait).
  static constexpr std::chrono::milliseconds kThreadEndWait{1000};
  static constexpr std::chrono::milliseconds kThreadWorkWait{5000};
  static constexpr std::chrono::milliseconds kWorkingCpu{20};
  bool isVisible() const;
  // The scale of the indicator built by the next showings: 0 (or a NaN) for the desktop's,
  // Xft.dpi / 96 as the server publishes it when the bar is built; any other number is clamped
  // to [1, 4]. Kept until the next call; a bar already shown keeps the scale it was built with.
  void setScaleOverride(double scale);
  // The shortcut that gives the next showings' bar the keyboard focus, and its text as the
  // caller wrote it (for the log and the reports); nullopt: none, and no keyboard work at all.
  // Kept until the next call; a bar already shown keeps the shortcut it was built with.
  void setShortcut(std::optional<Accelerator> shortcut, const std::string& text);

 private:
  // Where reports go: on the UI thread through its showing's gate (ShowingGate.h), elsewhere
  // straight to the callback.
  ReportPass callback() const;
  // A ShowingEvent of the current showing.
  ShowingEvent makeEvent(ShowingEvent::Kind kind, HiddenReason reason = HiddenReason::Hide) const;
  void reportEvent(ShowingEvent::Kind kind, HiddenReason reason = HiddenReason::Hide);
  // An error line that ends the build; the first one of a showing is what its Failed event
  // carries.
  template <typename... Args>
  void logBuildFailure(const char* format, Args... args) {
    _endingByItself.store(true);
    callback()->onLog(LogType::Error, format, args...);
    if (!_failure.empty()) return;
    char text[1024];
    snprintf(text, sizeof(text), format, args...);
    _failure = text;
  }
  void reportHidden(HiddenReason reason);
  std::vector<MonitorDetails> readLayout();
  bool keepsRunningThread(bool sameTarget);
  void connect();
  void ensureConnection();
  void dropStaleEvents();
  static void onConnectionLost(Display* display, void* controller);
  void startUIThread();
  bool buildAndRun();
  // The UI thread of a showing drawn by a backend behind the seam (BackendShowing.cpp).
  class Host;
  bool runBackend(IndicatorBackend& backend);
  IndicatorBackend& waylandBackend();
  void joinUIThread();
  void endUIThread();
  bool waitForThreadEnd(std::chrono::milliseconds wait);
  void abandonUIThread();
  bool reapAbandonedThread(std::chrono::milliseconds wait);
  void failWithoutThread();
  void closeExitPipe();

  // The UI thread: building (ControlBarBuild.cpp).
  bool createWindows();
  bool initControlBar();
  bool initFont();
  void readDesktop();
  void readWorkArea();
  void placeBelowWorkArea();
  bool workAreaFits(const RootWorkArea& a);
  int32_t strutRowsThatFit();
  template <typename... Args>
  void warnOncePerShowing(const char* format, Args... args) {
    if (_placementWarned) return;
    _placementWarned = true;
    callback()->onLog(LogType::Warn, format, args...);
  }
  void readScale();
  void scaleRows();
  bool matchArgbVisual(XVisualInfo& visualInfo);
  int32_t centredBarX() const;
  int32_t barY() const;
  void createChildObjects(int32_t& totalWidth);
  std::unique_ptr<NativeChildWindow> makeChild(const ChildWinInfo& row);
  int32_t childWidth(WindowOrder order);
  void shortenTextsToFit(int32_t& totalWidth);
  void createChildWindows();
  void destroyBarWindows();

  // The UI thread: the event loop (EventLoop.cpp). One handler per event type, see
  // kEventHandlers. X event codes have 7 bits: the core events below LASTEvent, extension events
  // above it.
  static constexpr int kEventTypes = 128;
  struct LoopState;
  using EventHandler = void (NativeUIController::*)(const XEvent&, LoopState&);
  bool runNativeUIControllerThread();
  bool waitForEvents(LoopState& state);
  void drainEvents(LoopState& state);
  void tearDown();
  void endLostConnection(LoopState& state);
  void endBuildOnLostConnection();
  void releaseLostConnection();
  void releaseConnection();
  void onButtonPress(const XEvent& event, LoopState& state);
  void onButtonRelease(const XEvent& event, LoopState& state);
  void onMotionNotify(const XEvent& event, LoopState& state);
  void onExpose(const XEvent& event, LoopState& state);
  void onDestroyNotify(const XEvent& event, LoopState& state);
  void onMapNotify(const XEvent& event, LoopState& state);
  void reportShown(LoopState& state);
  void onReparentNotify(const XEvent& event, LoopState& state);
  void moveBar(Window handle);
  int32_t clampBarX(int32_t x) const;
  int32_t currentBarX() const;
  void markTopLevelFrame(Window window, Window parent);
  Window childWindow(WindowOrder order) const;
  static const std::array<EventHandler, kEventTypes> kEventHandlers;
  static std::array<EventHandler, kEventTypes> makeEventHandlers();

  // The UI thread: the shortcut, the keyboard focus and the keys of a focused bar
  // (KeyboardControl.cpp). Nothing of it runs in a showing without a shortcut.
  void grabShortcut();
  bool grabShortcutKey(KeyCode key, unsigned int modifiers);
  void releaseShortcut();
  void onKeyPress(const XEvent& event, LoopState& state);
  void onFocusOut(const XEvent& event, LoopState& state);
  void takeFocus();
  void giveFocusBack();
  void nudgeBar(int direction);
  void drawFocusRing(Window window);
  void clearFocusRing();
  void reportStop(StopSource source);

  // The UI thread: the bar on the accessibility bus (Accessibility.cpp).
  void startAccessible();
  Accessibility::IndicatorState accessibleState() const;
  void updateAccessible();
  void stopAccessible();

  // The UI thread: following the shown monitor through RandR (MonitorFollow.cpp).
  enum class CrtcState { Driving, Gone, Unknown };
  void watchMonitor(LoopState& state);
  void unwatchMonitor();
  Window monitorRoot() const;
  void onScreenChange(const XEvent& event, LoopState& state);
  void onRandrNotify(const XEvent& event, LoopState& state);
  void followMonitor(LoopState& state);
  CrtcState readShownCrtc(MonitorInfo& geometry);
  void moveToMonitor(const MonitorInfo& geometry);
  void monitorDisconnected();

  // The UI thread: following the shared window of a window showing (WindowFollow.cpp).
  void watchSharedWindow(LoopState& state);
  void unwatchSharedWindow();
  bool isSharedWindowEvent(const XEvent& event) const;
  void onSharedWindowEvent(const XEvent& event, LoopState& state);
  void followWindow(LoopState& state);
  bool findTopLevel(LoopState& state);
  void moveFrame(const MonitorInfo& outer);
  void placeBarOnWindowMonitor();
  void showFrame(bool viewable);
  void sharedWindowClosed();
  void refreshScreenMonitors();

  // The UI thread: staying above other clients' windows (StayOnTop.cpp).
  void watchStacking(LoopState& state);
  void unwatchStacking();
  bool isTopLevelChange(const XEvent& event) const;
  void onTopLevelChange(const XEvent& event, LoopState& state);
  void onVisibilityNotify(const XEvent& event, LoopState& state);
  void keepOnTop(LoopState& state);
  std::optional<RaisePolicy::Clock::time_point> nextLook(const LoopState& state) const;
  bool indicatorCovered();
  bool coversFrame(const std::vector<Window>& framesBelow, const XRectangle& area) const;
  bool coversBar(const XRectangle& area) const;
  void raiseIndicator();

  // Which backend draws the current or last showing; written by the owner before its UI thread
  // starts. A Wayland showing's monitor is the backend's own entry, kept for its plan.
  BackendKind _backend = BackendKind::X11;
  MonitorDetails _backendMonitor;
  std::unique_ptr<IndicatorBackend> _wayland;  // made at the first Wayland showing
  std::string _refusal;
  int32_t _monitorIndex = -1;
  // The frame's windows; its primary is "the border window" of the log lines and the loop.
  FrameWindows _frame;
  // The monitor that holds the bar; in a monitor showing also the rectangle that the border
  // window frames.
  MonitorInfo _monitor;
  // What the border window frames: the shown monitor, or the shared window's outer rectangle.
  MonitorInfo _frameRect;
  // A window showing: the id the caller named (0 in a monitor showing), the client and top-level
  // the owner found for it (the UI thread's own from its start, as they change), and the
  // monitors of the screen, one of which holds the bar.
  unsigned long _sharedId = 0;
  SharedWindowPlace _shared;
  std::vector<MonitorInfo> _screenMonitors;
  // The RandR CRTC that drives _monitor and the X screen it belongs to; written with _monitor,
  // before the UI thread starts.
  unsigned long _crtc = 0;
  int _monitorScreen = 0;
  // The resource database given to _display when the server's was too large to parse
  // (ResourceScan.h); freed after the connection closes, so declared before it.
  XrmDatabasePtr _connectionResources;
  DisplayPtr _display;
  // Whether _display's server is XWayland (isXWayland); read with every new connection, on the
  // owner thread, before any UI thread uses it.
  bool _onXWayland = false;
  std::unique_ptr<std::thread> _thread;
  std::atomic<bool> _exitRequested{false};
  std::atomic<NativeUIControllerCallback*> _callback;
  std::atomic<bool> _visible{false};
  // barY places the bar this many rows below the monitor's top edge: the work area's top, the
  // docks' struts, or 0, whichever first leaves the bar on its monitor (placeBelowWorkArea).
  int32_t _workAreaTop = 0;
  // UI thread: whether this showing has warned already of a work area or strut it ignored.
  bool _placementWarned = false;
  // What a build read of the root's work area and of the desktop's dpi, kept for the next builds
  // until the layout's connection reports a change to either, or a new connection is opened:
  // the owner thread counts those, each UI thread compares the count with the one it read at.
  // A work area that the root does not hold (_desktopHasWorkArea false) is not kept; one that it
  // holds is kept as written and checked against the monitor of each showing.
  std::atomic<uint64_t> _desktopChanges{1};
  uint64_t _desktopReadAt = 0;
  bool _desktopHasWorkArea = false;
  RootWorkArea _desktopWorkArea;
  double _desktopDpi = 0;
  Window _controlBarWindow = 0;
  XftFont* _font = nullptr;
  // Pango's context for the texts that _font does not draw alone; made at the first such text,
  // kept with the font, and released before it and before the connection closes.
  TextLayoutContext _textLayouts;
  std::map<WindowOrder, std::unique_ptr<NativeChildWindow>> _childWindows;
  std::map<Window, WindowOrder> _windowOrders;
  Window _rootWindow = 0;
  int32_t _barWidth = 0;
  int32_t _barHeight = 0;
  int _exitPipe[2] = {-1, -1};
  std::unique_ptr<XErrorSuppressor> _errorSuppressor;
  int32_t _cornerRadius = 4;
  int32_t _frameWidth = kFrameWidth;  // of the border window's frame, in pixels
  // Set by the UI thread as its very last act, so that the owner can tell a thread that ended by
  // itself (a failed build, the border window destroyed by someone else) from one that runs.
  // Set under _endMutex, and _endCv told, so that the owner can wait for it with a deadline.
  std::atomic<bool> _threadEnded{false};
  std::mutex _endMutex;
  std::condition_variable _endCv;
  // Owner thread: the UI thread in _thread was left running by hideControlBar; it is joined once
  // it has ended, and the exit pipe, which it still reads, is closed only then.
  bool _abandoned = false;
  // The current showing's reports from its UI thread (ShowingGate.h).
  mutable ShowingGate _gate;
  // Set by the UI thread before it reports that it ends by itself, so that a show made in
  // answer to that report starts afresh instead of finding a thread that has not quite ended.
  std::atomic<bool> _endingByItself{false};
  // Set by Xlib's I/O error exit handler (on the UI thread) when the server closed the
  // connection; the connection is then unusable and is replaced at the next showing.
  std::atomic<bool> _connectionLost{false};
  // The rows of the child window table as they stood when the showing started: the build reads
  // this copy, so a text set meanwhile on the owner thread can never be read half-written.
  std::array<ChildWinInfo, kChildWindowCount> _rows;
  // Set once the loop has destroyed the bar itself, so that the border window's DestroyNotify
  // can tell a teardown from a destruction by another client.
  bool _barDestroyed = false;
  // The number of the current or last showing; written by the owner thread before the UI thread
  // starts, read by that thread.
  std::atomic<uint64_t> _showing{0};
  // UI thread: whether this showing reached its MapNotify, why its teardown was started, and the
  // first error line that ended its build.
  bool _shownInShowing = false;
  HiddenReason _teardownReason = HiddenReason::Hide;
  std::string _failure;
  // The UI thread's turn with the X libraries (XConnection.h): held from its start to its end
  // but for its sleeps in select().
  XlibTurn _uiTurn;
  // The scale asked for by the owner (setScaleOverride), and the copy that the showing's build
  // reads, taken when its thread starts; 0: the desktop's.
  double _scaleOverride = 0;
  double _buildScaleOverride = 0;
  // UI thread: the scale of the current build, and the dpi that _font was opened with (0: the
  // one Xft applies on this connection).
  double _scale = 1;
  double _fontDpi = 0;
  // UI thread: where a drag left the bar, once it was dragged in this showing; a monitor change
  // keeps that x where it still fits.
  int32_t _barX = 0;
  bool _barDragged = false;

  // The shortcut asked for by the owner (setShortcut), and the copy that the showing reads,
  // taken when its thread starts.
  std::optional<Accelerator> _shortcut;
  std::string _shortcutText;
  std::optional<Accelerator> _buildShortcut;
  std::string _buildShortcutText;
  // UI thread: the key and modifiers grabbed on the root (0: none), the modifier that holds
  // Num_Lock, whether the bar has the focus, and the window that had it before.
  KeyCode _grabbedKey = 0;
  unsigned int _grabbedModifiers = 0;
  unsigned int _numLockMask = 0;
  bool _barFocused = false;
  Window _focusReturn = 0;
  // UI thread: the bar's objects on the accessibility bus, from the showing's report on; null
  // without an accessibility bus.
  std::unique_ptr<Accessibility::AccessibleIndicator> _accessible;
  // UI thread: where a backend's showing last placed its bar; empty outside such a showing.
  std::optional<BarPlacement> _backendBar;

  // Owner thread only. Kept for the life of the controller: its connection and its RandR
  // events keep the list valid between showings, so a show needs no new connection and no
  // CRTC queries unless the layout changed.
  MonitorLayout _monitorLayout;
  // UI thread. The theme's cursor images, read from disk once instead of at every showing.
  CursorImageCache _cursorImages;
};

}  // namespace NativeUI
