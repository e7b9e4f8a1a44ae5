#include "support/Probe.h"

#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <stdexcept>
#include <thread>

namespace testing_x {

namespace {

// The windows probed may vanish at any moment; Xlib's default handler would end the test.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

Probe::Probe(const std::string& display) : _display(XOpenDisplay(display.c_str())) {
  if (!_display) throw std::runtime_error("cannot open " + display);
}

Probe::~Probe() { XCloseDisplay(_display); }

bool Probe::geometry(Window window, Geometry& out) {
  XErrorHandler previous = XSetErrorHandler(ignoreErrors);
  XWindowAttributes attributes{};
  const bool ok = XGetWindowAttributes(_display, window, &attributes) != 0;
  Window child = 0;
  int x = 0;
  int y = 0;
  if (ok) XTranslateCoordinates(_display, window, root(), 0, 0, &x, &y, &child);
  XSync(_display, False);
  XSetErrorHandler(previous);
  if (!ok) return false;
  out = {x, y, static_cast<unsigned int>(attributes.width),
         static_cast<unsigned int>(attributes.height)};
  return true;
}

bool Probe::exists(Window window) {
  Geometry ignored;
  return geometry(window, ignored);
}

std::vector<Geometry> Probe::boundingShape(Window window) {
  int count = 0;
  int ordering = 0;
  XRectangle* rects = XShapeGetRectangles(_display, window, ShapeBounding, &count, &ordering);
  std::vector<Geometry> out;
  for (int i = 0; i < count; ++i) {
    out.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
  }
  if (rects) XFree(rects);
  return out;
}

unsigned long Probe::screenPixel(int x, int y) { return screenPixels({x, y, 1, 1})[0]; }

std::vector<unsigned long> Probe::screenPixels(const Geometry& area) {
  XImage* image =
      XGetImage(_display, root(), area.x, area.y, area.width, area.height, AllPlanes, ZPixmap);
  if (!image) throw std::runtime_error("XGetImage failed");
  std::vector<unsigned long> pixels;
  for (unsigned int y = 0; y < area.height; ++y) {
    for (unsigned int x = 0; x < area.width; ++x)
      pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
  }
  XDestroyImage(image);
  return pixels;
}

bool Probe::pointerIsFree() {
  const int result = XGrabPointer(_display, root(), False, ButtonPressMask, GrabModeAsync,
                                  GrabModeAsync, None, None, CurrentTime);
  if (result == GrabSuccess) XUngrabPointer(_display, CurrentTime);
  XSync(_display, False);
  return result == GrabSuccess;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace testing_x
