// Reading back what an X server holds, for tests: properties, events awaited with a deadline,
// the cursor on screen (XFixes) and the resources a client holds (X-Resource). The two
// extension libraries are loaded at run time, so the test binary links no more than the module.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_x {

struct Property {
  Atom type = 0;  // 0 (None) when the window has no such property
  int format = 0;
  std::vector<long> items;  // format 32: one long per item
};
Property readProperty(Display* display, Window window, const char* name);

// Waits until an event for which `match` is true arrives on `display`; the other events are
// dropped. false when none came before the deadline.
bool waitForEvent(Display* display, const std::function<bool(const XEvent&)>& match,
                  XEvent* matched = nullptr,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Waits until `condition` holds, re-checking it after each PropertyNotify on `window` (which
// the caller's connection must select with PropertyChangeMask).
bool waitForPropertyCondition(Display* display, Window window,
                              const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The name of the cursor that the server shows now (XFixes); "" for an unnamed cursor.
std::string currentCursorName(Display* display);

// The number of resources of each type ("WINDOW", "GC", "COLORMAP", "CURSOR", "PICTURE",
// "PIXMAP", ...) that the client owning `anyResource` holds (X-Resource).
std::map<std::string, int> clientResources(Display* display, XID anyResource);

// Records the X errors of the requests made during its life instead of exiting (Xlib's default).
// Syncs on both ends so that the errors of its scope, and only those, are recorded.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // The error codes recorded so far, after a round trip.
  std::vector<int> errors();

 private:
  Display* _display;
  XErrorHandler _previous;
};

}  // namespace testing_x
