// Which backend draws the indicator: chosen in this one place, at the start of every showing
// and of every listing of the monitors, so that a list and the show that follows it read the
// same backend's monitors.
//
//   SCREEN_SHARE_INDICATOR_BACKEND  unset, empty or "auto": Wayland's layer shell when
//                                   WAYLAND_DISPLAY names a compositor that offers it, else X11
//                                   "x11": X11 (an X server or XWayland), whatever else is set
//                                   "wayland": the layer shell, or a clear failure
#pragma once

#include <string>
#include <vector>

#include "MonitorList.h"

namespace NativeUI {

enum class BackendKind { X11, Wayland };

struct BackendChoice {
  BackendKind kind = BackendKind::X11;
  // Not empty: no showing can start; the text says why (a bad variable, or a forced backend
  // that cannot start).
  std::string refusal;
  // Not empty: WAYLAND_DISPLAY was set and X11 was taken all the same; the one line that says why.
  std::string note;
};

// Reads the environment and, where Wayland is in question, asks the compositor. Owner thread.
BackendChoice chooseBackend();

const char* backendName(BackendKind kind);

// The monitors of the backend that a showing started now would be drawn by, with their output
// names: what a caller picks an index from. Empty when no backend can show anything. Any thread,
// one at a time.
std::vector<MonitorDetails> listChosenMonitors();

}  // namespace NativeUI
