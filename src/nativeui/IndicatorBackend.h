// The seam between the controller and a backend that draws the indicator. The controller owns
// what every showing shares: the UI thread and its exit pipe, the showing numbers, the reports,
// the visibility and the choice of backend (BackendChoice.h). A backend owns only its
// connection, its surfaces and its event loop for the length of one showing.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

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

// The controller's side of one showing: the backend's UI thread reports through it, and only
// that thread calls it.
class ShowingHost {
 public:
  virtual ~ShowingHost() = default;
  virtual void log(LogType type, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
  // The error that ended the build; run() then returns false.
  virtual void buildFailed(const char* line) = 0;
  // After a byte on exitFd: whether the owner asked the showing to end. Clears the request.
  virtual bool takeExitRequest() = 0;
  virtual void shown() = 0;                      // the indicator is on screen now
  virtual void hidden(HiddenReason reason) = 0;  // it is gone; run() returns soon after
  virtual void stopClicked() = 0;
  virtual void monitorChanged(const MonitorInfo& monitor) = 0;
  virtual void endingByItself() = 0;  // before a hidden() that the owner did not ask for
};

class IndicatorBackend {
 public:
  virtual ~IndicatorBackend() = default;
  virtual const char* name() const = 0;
  // Owner thread, while no UI thread of this backend runs: the monitors in the backend's own
  // order; empty when there are none or the backend cannot be reached.
  virtual std::vector<MonitorDetails> monitors() = 0;
  // The UI thread of one showing: builds the indicator for `plan` and runs its loop until it is
  // gone. false when the build failed (after host.buildFailed).
  virtual bool run(const ShowingPlan& plan, ShowingHost& host) = 0;
};

}  // namespace NativeUI
