// The seam between the controller and whatever draws the indicator. The controller owns what
// every showing shares: its thread and that thread's exit, the showing numbers, the reports and
// the table of the bar's parts. A backend owns only its connection, its surfaces and its event
// loop. One backend object serves every showing of a controller, one showing at a time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "AccessibleIndicator.h"
#include "MonitorList.h"
#include "NativeChildWindows.h"
#include "NativeUIControllerCallback.h"

namespace NativeUI {

// What one showing asks for, fixed on the owner thread before its UI thread starts.
struct ShowingPlan {
  uint64_t showing = 0;
  MonitorDetails monitor;  // the backend's own entry, as its monitors() listed it
  std::array<ChildWinInfo, kChildWindowCount> rows;  // the table as it stood, custom texts included
  double scaleOverride = 0;  // 0: the output's own scale; otherwise multiplies it (clamped [1,4])
  int exitFd = -1;           // becomes readable once the owner asks the showing to end
};

// Where the bar's parts are, in the compositor's logical coordinates (the output's logical
// position plus the bar's place on it), and whether the bar has the keyboard.
struct BarPlacement {
  using Box = Accessibility::Extents;  // what the accessibility bus is told, as it is
  Box bar;
  Box notice;  // the notice text
  Box stop;    // the stop text
  bool focused = false;
};

// The controller's side of one showing: the backend's UI thread reports through it, and only
// that thread calls it, from the start of run() to its return.
class ShowingHost {
 public:
  virtual ~ShowingHost() = default;
  virtual void log(LogType type, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
  // The error that ended the build; run() then returns false.
  virtual void buildFailed(const char* line) = 0;
  // After a byte on exitFd: whether the owner asked to end (clears it).
  virtual bool takeExitRequest() = 0;
  virtual void shown() = 0;                      // the indicator is on screen now
  virtual void hidden(HiddenReason reason) = 0;  // it is gone; run() returns soon after
  virtual void stopClicked(StopSource source) = 0;
  // After shown(), whenever the bar moved, changed size or gained or lost the keyboard.
  virtual void barPlaced(const BarPlacement& placement) = 0;
  virtual void monitorChanged(const MonitorInfo& monitor) = 0;
  virtual void endingByItself() = 0;  // before a hidden() the owner did not ask for
};

class IndicatorBackend {
 public:
  virtual ~IndicatorBackend() = default;
  virtual const char* name() const = 0;  // "wayland"
  // Owner thread, while no UI thread runs: the monitors in the backend's own order; [] when none.
  virtual std::vector<MonitorDetails> monitors() = 0;
  // The UI thread of one showing: builds the indicator for plan, runs its loop until it is gone;
  // false when the build failed (after host.buildFailed, and with no other report). After a true
  // return, hidden() has been reported exactly once, and shown() at most once before it.
  virtual bool run(const ShowingPlan& plan, ShowingHost& host) = 0;
};

}  // namespace NativeUI
