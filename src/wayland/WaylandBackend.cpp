#include "WaylandBackend.h"

#include "WaylandConnection.h"
#include "WaylandShowing.h"

namespace NativeUI {

WaylandBackend::WaylandBackend() = default;

WaylandBackend::~WaylandBackend() {
  if (_fontMap) g_object_unref(_fontMap);
}

bool WaylandBackend::probe(std::string& reason) {
  WaylandConnection connection;
  if (!connection.open(reason)) return false;
  if (!connection.layerShell()) {
    reason = "the compositor offers no layer shell";
    return false;
  }
  reason.clear();
  return true;
}

std::vector<MonitorDetails> WaylandBackend::monitors() {
  std::vector<MonitorDetails> list;
  WaylandConnection connection;
  std::string error;
  if (!connection.open(error)) return list;
  for (const auto& output : connection.outputs()) {
    if (!output->described || output->logical.width <= 0 || output->logical.height <= 0) continue;
    MonitorDetails entry;
    entry.geometry = output->logical;
    entry.outputs = {output->name};
    list.push_back(std::move(entry));
  }
  return list;
}

bool WaylandBackend::run(const ShowingPlan& plan, ShowingHost& host) {
  if (!_fontMap) _fontMap = pango_cairo_font_map_new();
  WaylandShowing showing(plan, host, _fontMap);
  return showing.run();
}

}  // namespace NativeUI
