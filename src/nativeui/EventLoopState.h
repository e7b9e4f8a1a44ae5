// What one run of the UI thread's event loop keeps from cycle to cycle. Private to the files of
// the loop: EventLoop.cpp (waiting, draining, the core events), MonitorFollow.cpp (the shown
// monitor's changes), WindowFollow.cpp (the shared window's) and StayOnTop.cpp (other windows over
// the indicator).
#pragma once

#include <X11/Xlib.h>

#include <array>

#include "NativeUIController.h"
#include "RaisePolicy.h"

namespace NativeUI {

struct NativeUIController::LoopState {
  int connection = -1;
  int pipeRead = -1;
  int bound = 0;
  bool dragging = false;
  bool exitTriggered = false;
  // kEventHandlers, plus the handlers of extension events, whose numbers this connection's
  // server chose.
  std::array<EventHandler, kEventTypes> handlers{};
  // Set by the handlers of a drain, acted on once after it: one xrandr call or one restack
  // brings several events.
  bool monitorToCheck = false;
  bool stackingToCheck = false;
  bool shownToReport = false;  // the frame's MapNotify came in this drain
  // A window showing: the top-level to find again (first look, reparenting), the rectangle its
  // last ConfigureNotify gave, and a map state to read again.
  bool windowToCheck = false;
  bool windowMoved = false;
  MonitorInfo windowRect;
  bool visibilityToCheck = false;
  // The sibling each of our windows was last reported to lie on, to tell our restacks from our
  // moves.
  Window borderAbove = 0;
  Window barAbove = 0;
  RaisePolicy raises;
};

}  // namespace NativeUI
