// One connection to the compositor and the globals this backend uses, found by one walk of the
// registry. Everything here runs on the thread that opened the connection; the compositor's
// later changes (outputs added, changed, removed; the seat's devices) arrive while that thread
// dispatches, and reach the owner through the hooks below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MonitorList.h"
#include "WaylandHandles.h"

namespace NativeUI {

// One wl_output as the compositor describes it. The logical rectangle is xdg-output's (the
// compositor's own coordinates, scale and transform applied); without xdg-output it is taken
// from the output's position and current mode divided by its scale.
class WaylandConnection;
struct WaylandOutput {
  WaylandConnection* owner = nullptr;
  uint32_t globalName = 0;
  WlOutputPtr output;
  XdgOutputPtr xdgOutput;
  std::string name;  // wl_output's (version 4), else xdg-output's, else "WL-<global>"
  MonitorInfo logical;
  int32_t scale = 1;           // wl_output's integer scale
  bool described = false;      // a first done arrived
  int32_t describedScale = 1;  // the scale as of the last done

  // As the events come in, before the done that completes them.
  int32_t positionX = 0;
  int32_t positionY = 0;
  int32_t modeWidth = 0;
  int32_t modeHeight = 0;
  int32_t logicalWidth = 0;  // 0: xdg-output said nothing yet
  int32_t logicalHeight = 0;
  bool logicalPosition = false;
};

class WaylandConnection {
 public:
  WaylandConnection() = default;
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;
  ~WaylandConnection();

  // Connects to the compositor that WAYLAND_DISPLAY names (wayland-0 without it), binds the
  // globals and waits until every output has described itself. false, with `error` set to a
  // line that says why, when no compositor answers.
  bool open(std::string& error);
  wl_display* display() const { return _display.get(); }
  // The display's name as it was asked for, for log lines.
  static std::string displayName();

  // Null when the compositor does not offer them.
  wl_compositor* compositor() const { return _compositor.get(); }
  wl_shm* shm() const { return _shm.get(); }
  zwlr_layer_shell_v1* layerShell() const { return _layerShell.get(); }
  wp_viewporter* viewporter() const { return _viewporter.get(); }
  wp_fractional_scale_manager_v1* fractionalScale() const { return _fractionalScale.get(); }
  wl_seat* seat() const { return _seat.get(); }
  uint32_t seatCapabilities() const { return _seatCapabilities; }

  // The outputs in the order the compositor announced them.
  const std::vector<std::unique_ptr<WaylandOutput>>& outputs() const { return _outputs; }
  WaylandOutput* findOutput(const std::string& name) const;

  // Called while dispatching: an output described itself again with another rectangle or
  // integer scale;
  // an output is about to go (its object is still valid during the call); the seat's
  // capabilities changed.
  std::function<void(WaylandOutput&)> outputChanged;
  std::function<void(WaylandOutput&)> outputRemoved;
  std::function<void()> seatChanged;

 private:
  static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
  static void onGlobalRemove(void* data, wl_registry* registry, uint32_t name);
  static void onSeatCapabilities(void* data, wl_seat* seat, uint32_t capabilities);
  void addOutput(uint32_t name, uint32_t version);
  void describeOutput(WaylandOutput& output);
  void outputDone(WaylandOutput& output);

  WlDisplayPtr _display;  // first: goes last
  WlRegistryPtr _registry;
  WlCompositorPtr _compositor;
  WlShmPtr _shm;
  LayerShellPtr _layerShell;
  XdgOutputManagerPtr _xdgOutputManager;
  ViewporterPtr _viewporter;
  FractionalScaleManagerPtr _fractionalScale;
  WlSeatPtr _seat;
  uint32_t _seatCapabilities = 0;
  std::vector<std::unique_ptr<WaylandOutput>> _outputs;

  friend struct OutputEvents;
};

}  // namespace NativeUI
