#include "WaylandConnection.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace NativeUI {

namespace {

// The newest version of each interface that this code knows how to handle.
constexpr uint32_t kCompositorVersion = 4;
constexpr uint32_t kShmVersion = 1;
constexpr uint32_t kLayerShellVersion = 4;
constexpr uint32_t kOutputVersion = 4;
constexpr uint32_t kXdgOutputManagerVersion = 3;
constexpr uint32_t kSeatVersion = 5;

template <typename T>
T* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered,
        uint32_t known) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, known)));
}

}  // namespace

// The listeners of one output: data is its WaylandOutput.
struct OutputEvents {
  static void geometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                       const char*, const char*, int32_t) {
    auto* output = static_cast<WaylandOutput*>(data);
    output->positionX = x;
    output->positionY = y;
  }
  static void mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    auto* output = static_cast<WaylandOutput*>(data);
    output->modeWidth = width;
    output->modeHeight = height;
  }
  static void done(void* data, wl_output*) {
    auto* output = static_cast<WaylandOutput*>(data);
    output->owner->outputDone(*output);
  }
  static void scale(void* data, wl_output*, int32_t factor) {
    static_cast<WaylandOutput*>(data)->scale = std::max(1, factor);
  }
  static void name(void* data, wl_output*, const char* name) {
    static_cast<WaylandOutput*>(data)->name = name;
  }
  static void description(void*, wl_output*, const char*) {}

  static void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* output = static_cast<WaylandOutput*>(data);
    output->positionX = x;
    output->positionY = y;
    output->logicalPosition = true;
  }
  static void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* output = static_cast<WaylandOutput*>(data);
    output->logicalWidth = width;
    output->logicalHeight = height;
  }
  // Before version 3 xdg-output completes its own descriptions; from 3 on wl_output's done does.
  static void xdgDone(void* data, zxdg_output_v1* xdgOutput) {
    if (zxdg_output_v1_get_version(xdgOutput) >= 3) return;
    done(data, nullptr);
  }
  static void xdgName(void* data, zxdg_output_v1*, const char* name) {
    auto* output = static_cast<WaylandOutput*>(data);
    // wl_output's own name wins where it has one.
    if (wl_output_get_version(output->output.get()) < WL_OUTPUT_NAME_SINCE_VERSION) {
      output->name = name;
    }
  }
  static void xdgDescription(void*, zxdg_output_v1*, const char*) {}
};

namespace {

const wl_output_listener kOutputListener = {OutputEvents::geometry, OutputEvents::mode,
                                            OutputEvents::done,     OutputEvents::scale,
                                            OutputEvents::name,     OutputEvents::description};
const zxdg_output_v1_listener kXdgOutputListener = {
    OutputEvents::logicalPosition, OutputEvents::logicalSize, OutputEvents::xdgDone,
    OutputEvents::xdgName, OutputEvents::xdgDescription};

}  // namespace

// The members go in the opposite order of their declaration: the outputs first, the display
// last.
WaylandConnection::~WaylandConnection() = default;

std::string WaylandConnection::displayName() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name && *name ? name : "wayland-0";
}

bool WaylandConnection::open(std::string& error) {
  _display.reset(wl_display_connect(nullptr));
  if (!_display) {
    error = "no Wayland compositor at " + displayName() + ": " + std::strerror(errno);
    return false;
  }
  static const wl_registry_listener listener = {onGlobal, onGlobalRemove};
  _registry.reset(wl_display_get_registry(_display.get()));
  wl_registry_add_listener(_registry.get(), &listener, this);
  // The first round trip brings the globals, the second the outputs' descriptions and the
  // seat's capabilities.
  for (int i = 0; i < 2; ++i) {
    if (wl_display_roundtrip(_display.get()) < 0) {
      error = "the Wayland compositor at " + displayName() +
              " closed the connection: " + std::strerror(wl_display_get_error(_display.get()));
      return false;
    }
  }
  return true;
}

WaylandOutput* WaylandConnection::findOutput(const std::string& name) const {
  for (const auto& output : _outputs) {
    if (output->name == name) return output.get();
  }
  return nullptr;
}

void WaylandConnection::onGlobal(void* data, wl_registry* registry, uint32_t name,
                                 const char* interface, uint32_t version) {
  auto* self = static_cast<WaylandConnection*>(data);
  const std::string kind = interface;
  if (kind == wl_compositor_interface.name) {
    self->_compositor.reset(
        bind<wl_compositor>(registry, name, &wl_compositor_interface, version, kCompositorVersion));
  } else if (kind == wl_shm_interface.name) {
    self->_shm.reset(bind<wl_shm>(registry, name, &wl_shm_interface, version, kShmVersion));
  } else if (kind == zwlr_layer_shell_v1_interface.name) {
    self->_layerShell.reset(bind<zwlr_layer_shell_v1>(
        registry, name, &zwlr_layer_shell_v1_interface, version, kLayerShellVersion));
  } else if (kind == zxdg_output_manager_v1_interface.name) {
    self->_xdgOutputManager.reset(bind<zxdg_output_manager_v1>(
        registry, name, &zxdg_output_manager_v1_interface, version, kXdgOutputManagerVersion));
    for (const auto& output : self->_outputs) self->describeOutput(*output);
  } else if (kind == wp_viewporter_interface.name) {
    self->_viewporter.reset(
        bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1));
  } else if (kind == wp_fractional_scale_manager_v1_interface.name) {
    self->_fractionalScale.reset(bind<wp_fractional_scale_manager_v1>(
        registry, name, &wp_fractional_scale_manager_v1_interface, version, 1));
  } else if (kind == wl_seat_interface.name && !self->_seat) {
    static const wl_seat_listener seatListener = {onSeatCapabilities,
                                                  [](void*, wl_seat*, const char*) {}};
    self->_seat.reset(bind<wl_seat>(registry, name, &wl_seat_interface, version, kSeatVersion));
    wl_seat_add_listener(self->_seat.get(), &seatListener, self);
  } else if (kind == wl_output_interface.name) {
    self->addOutput(name, version);
  }
}

void WaylandConnection::addOutput(uint32_t name, uint32_t version) {
  auto output = std::make_unique<WaylandOutput>();
  output->owner = this;
  output->globalName = name;
  output->name = "WL-" + std::to_string(name);
  output->output.reset(
      bind<wl_output>(_registry.get(), name, &wl_output_interface, version, kOutputVersion));
  wl_output_add_listener(output->output.get(), &kOutputListener, output.get());
  describeOutput(*output);
  _outputs.push_back(std::move(output));
}

void WaylandConnection::describeOutput(WaylandOutput& output) {
  if (!_xdgOutputManager || output.xdgOutput) return;
  output.xdgOutput.reset(
      zxdg_output_manager_v1_get_xdg_output(_xdgOutputManager.get(), output.output.get()));
  zxdg_output_v1_add_listener(output.xdgOutput.get(), &kXdgOutputListener, &output);
}

// The description is complete: the rectangle the compositor uses, and a report when it is not
// the first and something moved.
void WaylandConnection::outputDone(WaylandOutput& output) {
  MonitorInfo logical;
  // The logical rectangle is the output as the user sees it, turned or not: normal, in the
  // RandR bits that the X11 monitors carry.
  logical.rotation = 1;
  logical.x = output.positionX;
  logical.y = output.positionY;
  if (output.logicalWidth > 0 && output.logicalHeight > 0) {
    logical.width = output.logicalWidth;
    logical.height = output.logicalHeight;
  } else {
    logical.width = output.modeWidth / output.scale;
    logical.height = output.modeHeight / output.scale;
  }
  const bool changed =
      output.described && (!(logical == output.logical) || output.scale != output.describedScale);
  output.logical = logical;
  output.describedScale = output.scale;
  output.described = true;
  if (changed && outputChanged) outputChanged(output);
}

void WaylandConnection::onGlobalRemove(void* data, wl_registry*, uint32_t name) {
  auto* self = static_cast<WaylandConnection*>(data);
  auto gone = std::find_if(self->_outputs.begin(), self->_outputs.end(),
                           [name](const auto& output) { return output->globalName == name; });
  if (gone == self->_outputs.end()) return;
  if (self->outputRemoved) self->outputRemoved(**gone);
  self->_outputs.erase(gone);
}

void WaylandConnection::onSeatCapabilities(void* data, wl_seat*, uint32_t capabilities) {
  auto* self = static_cast<WaylandConnection*>(data);
  self->_seatCapabilities = capabilities;
  if (self->seatChanged) self->seatChanged();
}

}  // namespace NativeUI
