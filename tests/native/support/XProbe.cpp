#include "support/XProbe.h"

#include <X11/Xatom.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xfixes.h>
#include <dlfcn.h>
#include <poll.h>

#include <stdexcept>

namespace testing_x {

namespace {

// A function of a shared library that the test binary does not link.
template <class F>
F* librarySymbol(const char* library, const char* name) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_GLOBAL);
  if (!handle) throw std::runtime_error(std::string("cannot load ") + library);
  void* symbol = dlsym(handle, name);
  if (!symbol) throw std::runtime_error(std::string("no ") + name + " in " + library);
  return reinterpret_cast<F*>(symbol);
}

std::vector<int>* trappedErrors = nullptr;

int recordError(Display*, XErrorEvent* event) {
  if (trappedErrors) trappedErrors->push_back(event->error_code);
  return 0;
}

}  // namespace

Property readProperty(Display* display, Window window, const char* name) {
  Property property;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                         AnyPropertyType, &property.type, &property.format, &count, &remaining,
                         &data) != Success) {
    return property;
  }
  if (data && property.format == 32) {
    const long* items = reinterpret_cast<const long*>(data);
    property.items.assign(items, items + count);
  } else if (data && property.format == 8) {
    property.items.assign(data, data + count);
  }
  if (data) XFree(data);
  return property;
}

bool waitForEvent(Display* display, const std::function<bool(const XEvent&)>& match,
                  XEvent* matched, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (match(event)) {
        if (matched) *matched = event;
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
  }
}

bool waitForPropertyCondition(Display* display, Window window,
                              const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
  if (condition()) return true;
  return waitForEvent(
      display,
      [&](const XEvent& event) {
        return event.type == PropertyNotify && event.xproperty.window == window && condition();
      },
      nullptr, timeout);
}

std::string currentCursorName(Display* display) {
  static auto* getCursorImage =
      librarySymbol<XFixesCursorImage*(Display*)>("libXfixes.so.3", "XFixesGetCursorImage");
  XFixesCursorImage* image = getCursorImage(display);
  if (!image) throw std::runtime_error("XFixesGetCursorImage failed");
  const std::string name = image->name ? image->name : "";
  XFree(image);
  return name;
}

std::map<std::string, int> clientResources(Display* display, XID anyResource) {
  static auto* queryResources = librarySymbol<Status(Display*, XID, int*, XResType**)>(
      "libXRes.so.1", "XResQueryClientResources");
  int count = 0;
  XResType* types = nullptr;
  if (!queryResources(display, anyResource, &count, &types)) {
    throw std::runtime_error("XResQueryClientResources failed");
  }
  std::map<std::string, int> out;
  for (int i = 0; i < count; ++i) {
    char* name = XGetAtomName(display, types[i].resource_type);
    out[name] = static_cast<int>(types[i].count);
    XFree(name);
  }
  XFree(types);
  return out;
}

ErrorTrap::ErrorTrap(Display* display) : _display(display) {
  XSync(_display, False);
  trappedErrors = new std::vector<int>();
  _previous = XSetErrorHandler(recordError);
}

ErrorTrap::~ErrorTrap() {
  XSync(_display, False);
  XSetErrorHandler(_previous);
  delete trappedErrors;
  trappedErrors = nullptr;
}

std::vector<int> ErrorTrap::errors() {
  XSync(_display, False);
  return *trappedErrors;
}

}  // namespace testing_x
