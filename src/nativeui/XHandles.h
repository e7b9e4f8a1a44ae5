// Owners for the Xlib and C resources that the native code holds; every one frees exactly what
// it owns, on every path.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>
#include <memory>

namespace NativeUI {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Anything that Xlib allocated for the caller and that XFree releases.
struct XFreeDeleter {
  void operator()(void* data) const { XFree(data); }
};
template <class T>
using XPtr = std::unique_ptr<T, XFreeDeleter>;

struct ScreenResourcesDeleter {
  void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
using ScreenResourcesPtr = std::unique_ptr<XRRScreenResources, ScreenResourcesDeleter>;

struct CrtcInfoDeleter {
  void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};
using CrtcInfoPtr = std::unique_ptr<XRRCrtcInfo, CrtcInfoDeleter>;

// Buffers that C libraries hand over with malloc.
struct FreeDeleter {
  void operator()(void* data) const { std::free(data); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

}  // namespace NativeUI
