// The way a UI thread's reports reach the controller's callback, and the owner's way to stop
// them when it gives up waiting for that thread (NativeUIController::hideControlBar).
//
// Each report of the UI thread is made through a ReportPass, which holds the gate's lock for the
// length of the call: the owner closes the gate between two reports, never inside one, and learns
// at that moment which of the reports that a host waits for (Shown, Hidden, Ended) have passed,
// so that it can make the ones still owed itself. Once closed, whatever the thread reports is
// dropped. Reports never wait for anything, so the owner waits at most for one in flight.
#pragma once

#include <mutex>

#include "NativeUIControllerCallback.h"

namespace NativeUI {

struct ShowingGate {
  std::mutex mutex;
  // All under the mutex; reset by the owner when a showing starts.
  bool open = true;
  bool shown = false;
  bool hidden = false;
  bool ended = false;
};

// Drops every report: what a closed gate passes on to.
class SilentCallback final : public NativeUIControllerCallback {
 public:
  void onWindowShown() override {}
  void onWindowHidden() override {}
  void onStopScreenShareClicked() override {}
  void onLog(LogType, const char*, ...) override {}
};

// One report, or a few that belong together, through the gate (gate null: straight through, for
// the owner thread's own reports). Lives for the full expression `callback()->...`.
class ReportPass {
 public:
  ReportPass(ShowingGate* gate, NativeUIControllerCallback* target) : _gate(gate), _target(target) {
    if (_gate == nullptr) return;
    _lock = std::unique_lock<std::mutex>(_gate->mutex);
    if (!_gate->open) _target = &silent();
  }
  NativeUIControllerCallback* operator->() const { return _target; }
  // Records that one of the reports the owner would otherwise owe the host is passing now.
  void note(ShowingEvent::Kind kind) {
    if (_gate == nullptr || !_gate->open) return;
    if (kind == ShowingEvent::Kind::Shown) _gate->shown = true;
    if (kind == ShowingEvent::Kind::Hidden) _gate->hidden = true;
    if (kind == ShowingEvent::Kind::Ended) _gate->ended = true;
  }

 private:
  static SilentCallback& silent() {
    static SilentCallback* const sink = new SilentCallback();  // never freed: used at exit
    return *sink;
  }
  ShowingGate* _gate;
  NativeUIControllerCallback* _target;
  std::unique_lock<std::mutex> _lock;
};

}  // namespace NativeUI
