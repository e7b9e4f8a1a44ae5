#include "BackendChoice.h"

#include <cstdlib>

#include "WaylandBackend.h"

namespace NativeUI {

namespace {

constexpr const char* kVariable = "SCREEN_SHARE_INDICATOR_BACKEND";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

const char* backendName(BackendKind kind) {
  return kind == BackendKind::Wayland ? "wayland" : "x11";
}

BackendChoice chooseBackend() {
  BackendChoice choice;
  const std::string wanted = environment(kVariable);
  const bool waylandSet = !environment("WAYLAND_DISPLAY").empty();
  if (wanted == "x11") {
    if (waylandSet)
      choice.note = std::string(kVariable) + "=x11: drawing the indicator through X11";
    return choice;
  }
  if (wanted != "wayland" && wanted != "auto" && !wanted.empty()) {
    choice.refusal = std::string(kVariable) + " must be auto, x11 or wayland, not '" + wanted + "'";
    return choice;
  }
  if (wanted.empty() || wanted == "auto") {
    if (!waylandSet) return choice;  // an X11 session: nothing changes, not even a line
  }
  std::string unavailable;
  if (WaylandBackend::probe(unavailable)) {
    choice.kind = BackendKind::Wayland;
  } else if (wanted == "wayland") {
    choice.refusal = std::string(kVariable) + "=wayland, but " + unavailable;
  } else {
    choice.note = unavailable + ": drawing the indicator through X11";
  }
  return choice;
}

std::vector<MonitorDetails> listChosenMonitors() {
  const BackendChoice choice = chooseBackend();
  if (!choice.refusal.empty()) return {};
  if (choice.kind == BackendKind::Wayland) return WaylandBackend().monitors();
  return listMonitors(true);
}

}  // namespace NativeUI
