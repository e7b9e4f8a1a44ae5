// Owners for the Xlib and C resources that the native code holds; every one frees exactly what
// it owns, on every path.
#pragma once

#include <X11/Xcursor/Xcursor.h>
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace NativeUI {

// A resource database; a connection's own (XrmSetDatabase) must outlive the connection.
struct XrmDatabaseDestroyer {
  void operator()(XrmDatabase database) const { XrmDestroyDatabase(database); }
};
using XrmDatabasePtr = std::unique_ptr<_XrmHashBucketRec, XrmDatabaseDestroyer>;

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

struct OutputInfoDeleter {
  void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};
using OutputInfoPtr = std::unique_ptr<XRROutputInfo, OutputInfoDeleter>;

// An image whose pixels Xlib allocated too (XGetImage); XDestroyImage frees both. An image over
// pixels owned elsewhere needs XPtr<XImage> instead, which frees the structure alone.
struct XImageDestroyer {
  void operator()(XImage* image) const { XDestroyImage(image); }
};
using XImagePtr = std::unique_ptr<XImage, XImageDestroyer>;

// Buffers that C libraries hand over with malloc.
struct FreeDeleter {
  void operator()(void* data) const { std::free(data); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A stream from popen; closing it waits for the command.
struct PipeCloser {
  void operator()(FILE* pipe) const { pclose(pipe); }
};
using PipePtr = std::unique_ptr<FILE, PipeCloser>;

// A server-side resource named by an XID that needs its Display* to be freed. Move-only; the
// display is borrowed and must outlive the holder.
template <int (*Free)(Display*, XID)>
class XIdHolder {
 public:
  XIdHolder() = default;
  XIdHolder(Display* display, XID id) : _display(display), _id(id) {}
  XIdHolder(XIdHolder&& other) noexcept
      : _display(other._display), _id(std::exchange(other._id, 0)) {}
  XIdHolder& operator=(XIdHolder&& other) noexcept {
    if (this != &other) {
      reset();
      _display = other._display;
      _id = std::exchange(other._id, 0);
    }
    return *this;
  }
  XIdHolder(const XIdHolder&) = delete;
  XIdHolder& operator=(const XIdHolder&) = delete;
  ~XIdHolder() { reset(); }

  XID get() const { return _id; }
  explicit operator bool() const { return _id != 0; }
  // Hands the id over to a caller that frees it itself.
  XID release() { return std::exchange(_id, 0); }
  void reset() {
    if (_id != 0) Free(_display, std::exchange(_id, 0));
  }

 private:
  Display* _display = nullptr;
  XID _id = 0;
};

using CursorHolder = XIdHolder<XFreeCursor>;
using ColormapHolder = XIdHolder<XFreeColormap>;
using PixmapHolder = XIdHolder<XFreePixmap>;

// A GC is a client-side structure around a server id; XFreeGC releases both.
class GcHolder {
 public:
  GcHolder() = default;
  GcHolder(Display* display, GC gc) : _display(display), _gc(gc) {}
  GcHolder(GcHolder&& other) noexcept
      : _display(other._display), _gc(std::exchange(other._gc, nullptr)) {}
  GcHolder& operator=(GcHolder&& other) noexcept {
    if (this != &other) {
      reset();
      _display = other._display;
      _gc = std::exchange(other._gc, nullptr);
    }
    return *this;
  }
  GcHolder(const GcHolder&) = delete;
  GcHolder& operator=(const GcHolder&) = delete;
  ~GcHolder() { reset(); }

  GC get() const { return _gc; }
  explicit operator bool() const { return _gc != nullptr; }
  void reset() {
    if (_gc) XFreeGC(_display, std::exchange(_gc, nullptr));
  }

 private:
  Display* _display = nullptr;
  GC _gc = nullptr;
};

struct XcursorImagesDeleter {
  void operator()(XcursorImages* images) const { XcursorImagesDestroy(images); }
};
using XcursorImagesPtr = std::unique_ptr<XcursorImages, XcursorImagesDeleter>;

struct XftDrawDeleter {
  void operator()(XftDraw* draw) const { XftDrawDestroy(draw); }
};
using XftDrawPtr = std::unique_ptr<XftDraw, XftDrawDeleter>;

// An Xft colour, freed against the same visual and colormap that it was allocated from (on a
// colormap that is not TrueColor the allocation holds a colour cell on the server).
class XftColorHolder {
 public:
  XftColorHolder() = default;
  XftColorHolder(const XftColorHolder&) = delete;
  XftColorHolder& operator=(const XftColorHolder&) = delete;
  ~XftColorHolder() { reset(); }

  // false when the colour could not be allocated; the holder then holds nothing.
  bool allocate(Display* display, Visual* visual, Colormap colormap, const XRenderColor& value) {
    reset();
    if (!XftColorAllocValue(display, visual, colormap, &value, &_color)) return false;
    _display = display;
    _visual = visual;
    _colormap = colormap;
    return true;
  }
  const XftColor& get() const { return _color; }
  bool allocated() const { return _display != nullptr; }
  void reset() {
    if (!_display) return;
    XftColorFree(_display, _visual, _colormap, &_color);
    _display = nullptr;
  }

 private:
  Display* _display = nullptr;
  Visual* _visual = nullptr;
  Colormap _colormap = 0;
  XftColor _color{};
};

}  // namespace NativeUI
