// A second X client that looks at what the server holds: geometry, shapes, pixels, pointer
// grabs; and a deadline-bound wait for conditions that another thread brings about.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testing_x {

struct Geometry {
  int x = 0;
  int y = 0;
  unsigned int width = 0;
  unsigned int height = 0;
  bool operator==(const Geometry& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};

class Probe {
 public:
  explicit Probe(const std::string& display);
  ~Probe();
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  Display* display() const { return _display; }
  Window root() const { return DefaultRootWindow(_display); }
  // Position in root coordinates and size; false when the window does not exist.
  bool geometry(Window window, Geometry& out);
  bool exists(Window window);
  // The window's bounding shape as rectangles (x, y, width, height).
  std::vector<Geometry> boundingShape(Window window);
  // 0xRRGGBB of the root window's pixel: what the screen shows there.
  unsigned long screenPixel(int x, int y);
  // The same for every pixel of the area, row by row.
  std::vector<unsigned long> screenPixels(const Geometry& area);
  // Whether this client could grab the pointer now (nobody else holds it); releases it again.
  bool pointerIsFree();

 private:
  Display* _display;
};

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testing_x
