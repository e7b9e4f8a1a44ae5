// A showing drawn by a backend behind the IndicatorBackend seam. The backend builds and runs its
// indicator on this UI thread; what it reports goes through the same functions, in the same
// order, as the X11 indicator's reports: the shown, hidden and stop reports with their showing
// events, the build's first error as the Failed event's line, and the visibility flag.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "NativeUIController.h"
#include "WaylandBackend.h"

namespace NativeUI {

class NativeUIController::Host final : public ShowingHost {
 public:
  explicit Host(NativeUIController& controller) : _controller(controller) {}

  void log(LogType type, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    _controller.callback()->onLog(type, "%s", text);
  }
  void buildFailed(const char* line) override { _controller.logBuildFailure("%s", line); }
  bool takeExitRequest() override { return _controller._exitRequested.exchange(false); }
  void shown() override {
    _controller._visible.store(true);
    _controller._shownInShowing = true;
    _controller.callback()->onWindowShown();
    _controller.reportEvent(ShowingEvent::Kind::Shown);
    _controller.startAccessible();
  }
  void hidden(HiddenReason reason) override {
    _controller.stopAccessible();
    _controller._backendBar.reset();
    _controller._visible.store(false);
    _controller.reportHidden(reason);
  }
  void stopClicked(StopSource source) override { _controller.reportStop(source); }
  void barPlaced(const BarPlacement& placement) override {
    _controller._backendBar = placement;
    _controller.updateAccessible();
  }
  void monitorChanged(const MonitorInfo& monitor) override {
    _controller._monitor = monitor;
    _controller._frameRect = monitor;
    _controller.callback()->onLog(LogType::Log, "Monitor changed, x:%d, y:%d, width:%d, height:%d",
                                  monitor.x, monitor.y, monitor.width, monitor.height);
    _controller.reportEvent(ShowingEvent::Kind::MonitorChanged);
  }
  void endingByItself() override { _controller._endingByItself.store(true); }

 private:
  NativeUIController& _controller;
};

bool NativeUIController::runBackend(IndicatorBackend& backend) {
  // No Wayland protocol that a layer-shell client has gives it a shortcut of the whole desktop:
  // only a portal would, with the user's consent.
  static std::atomic<bool> shortcutWarned{false};
  if (_buildShortcut && !shortcutWarned.exchange(true)) {
    callback()->onLog(LogType::Warn,
                      "The shortcut %s is not available under the Wayland backend: a global "
                      "shortcut needs a portal there",
                      _buildShortcutText.c_str());
  }
  ShowingPlan plan;
  plan.showing = _showing;
  plan.monitor = _backendMonitor;
  plan.rows = _rows;
  plan.scaleOverride = _buildScaleOverride;
  plan.exitFd = _exitPipe[0];
  Host host(*this);
  const bool ran = backend.run(plan, host);
  _backendBar.reset();  // a failed build reports no hidden()
  return ran;
}

// Made once and kept: a backend keeps nothing of a showing beyond its end but what it may reuse
// (its cursor theme, say), and it connects anew for every showing.
IndicatorBackend& NativeUIController::waylandBackend() {
  if (!_wayland) _wayland = std::make_unique<WaylandBackend>();
  return *_wayland;
}

}  // namespace NativeUI
