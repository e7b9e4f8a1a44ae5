// Owners for the protocol objects of the Wayland backend: each proxy is destroyed (or released,
// where the interface has a destructor request) exactly once, by the holder that made it. A
// holder must go before the wl_display its proxy belongs to; every struct here declares its
// connection first so that members are torn down in the opposite order.
#pragma once

#include <wayland-client.h>
#include <wayland-cursor.h>

#include <memory>

#include "fractional-scale-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
// The layer shell names an argument "namespace", a C++ keyword, in its generated header.
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

namespace NativeUI {

// The generated destructors are static inline: these overloads give them external linkage, so
// that the holders' types can be used in headers.
inline void destroyProxy(wl_display* p) { wl_display_disconnect(p); }
inline void destroyProxy(wl_registry* p) { wl_registry_destroy(p); }
inline void destroyProxy(wl_compositor* p) { wl_compositor_destroy(p); }
inline void destroyProxy(wl_shm* p) { wl_shm_destroy(p); }
inline void destroyProxy(wl_shm_pool* p) { wl_shm_pool_destroy(p); }
inline void destroyProxy(wl_buffer* p) { wl_buffer_destroy(p); }
inline void destroyProxy(wl_surface* p) { wl_surface_destroy(p); }
inline void destroyProxy(wl_region* p) { wl_region_destroy(p); }
inline void destroyProxy(wl_callback* p) { wl_callback_destroy(p); }
inline void destroyProxy(wl_cursor_theme* p) { wl_cursor_theme_destroy(p); }
inline void destroyProxy(zwlr_layer_shell_v1* p) { zwlr_layer_shell_v1_destroy(p); }
inline void destroyProxy(zwlr_layer_surface_v1* p) { zwlr_layer_surface_v1_destroy(p); }
inline void destroyProxy(zxdg_output_manager_v1* p) { zxdg_output_manager_v1_destroy(p); }
inline void destroyProxy(zxdg_output_v1* p) { zxdg_output_v1_destroy(p); }
inline void destroyProxy(wp_viewporter* p) { wp_viewporter_destroy(p); }
inline void destroyProxy(wp_viewport* p) { wp_viewport_destroy(p); }
inline void destroyProxy(wp_fractional_scale_manager_v1* p) {
  wp_fractional_scale_manager_v1_destroy(p);
}
inline void destroyProxy(wp_fractional_scale_v1* p) { wp_fractional_scale_v1_destroy(p); }
// Versions 3 (output, pointer) and 5 (seat) and later have a release request that tells the
// compositor; before that the proxy can only be forgotten on our side.
inline void destroyProxy(wl_output* p) {
  if (wl_output_get_version(p) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
    wl_output_release(p);
  } else {
    wl_output_destroy(p);
  }
}
inline void destroyProxy(wl_keyboard* p) {
  if (wl_keyboard_get_version(p) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
    wl_keyboard_release(p);
  } else {
    wl_keyboard_destroy(p);
  }
}
inline void destroyProxy(wl_pointer* p) {
  if (wl_pointer_get_version(p) >= WL_POINTER_RELEASE_SINCE_VERSION) {
    wl_pointer_release(p);
  } else {
    wl_pointer_destroy(p);
  }
}
inline void destroyProxy(wl_seat* p) {
  if (wl_seat_get_version(p) >= WL_SEAT_RELEASE_SINCE_VERSION) {
    wl_seat_release(p);
  } else {
    wl_seat_destroy(p);
  }
}

struct WlDeleter {
  template <typename T>
  void operator()(T* object) const {
    if (object) destroyProxy(object);
  }
};
template <typename T>
using WlPtr = std::unique_ptr<T, WlDeleter>;

using WlDisplayPtr = WlPtr<wl_display>;
using WlRegistryPtr = WlPtr<wl_registry>;
using WlCompositorPtr = WlPtr<wl_compositor>;
using WlShmPtr = WlPtr<wl_shm>;
using WlShmPoolPtr = WlPtr<wl_shm_pool>;
using WlBufferPtr = WlPtr<wl_buffer>;
using WlSurfacePtr = WlPtr<wl_surface>;
using WlRegionPtr = WlPtr<wl_region>;
using WlCallbackPtr = WlPtr<wl_callback>;
using WlCursorThemePtr = WlPtr<wl_cursor_theme>;
using LayerShellPtr = WlPtr<zwlr_layer_shell_v1>;
using LayerSurfacePtr = WlPtr<zwlr_layer_surface_v1>;
using XdgOutputManagerPtr = WlPtr<zxdg_output_manager_v1>;
using XdgOutputPtr = WlPtr<zxdg_output_v1>;
using ViewporterPtr = WlPtr<wp_viewporter>;
using ViewportPtr = WlPtr<wp_viewport>;
using FractionalScaleManagerPtr = WlPtr<wp_fractional_scale_manager_v1>;
using FractionalScalePtr = WlPtr<wp_fractional_scale_v1>;
using WlOutputPtr = WlPtr<wl_output>;
using WlPointerPtr = WlPtr<wl_pointer>;
using WlKeyboardPtr = WlPtr<wl_keyboard>;
using WlSeatPtr = WlPtr<wl_seat>;

}  // namespace NativeUI
