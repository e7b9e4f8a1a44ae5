// The indicator as an application on the session's accessibility bus (AT-SPI2), so that a screen
// reader announces it and finds, reads and presses its stop button. It knows nothing of X or
// Wayland: a backend hands it the texts and the extents of the bar's parts, in screen pixels, and
// hands it new ones when they change.
//
// Threads. Everything on the bus happens on a thread of the object's own, with a GMainContext of
// its own and a D-Bus connection of its own: finding the bus, registering, answering calls and
// emitting events. start, update and the destructor return without waiting for the bus (the
// destructor waits only for the thread to close its connection and end). The press callback
// runs on that thread.
//
// Start reading at start, then run (AccessibleIndicator.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Accessibility {

struct Extents {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const Extents& other) const {
    return x == other.x && y == other.y && width == other.width && height == other.height;
  }
};

// What the bus shows: a notification window named with the notice, holding a label (the notice)
// and a push button (the stop text) with one action, "click".
struct IndicatorState {
  std::string notice;
  std::string stopText;
  Extents window;  // the whole bar
  Extents label;
  Extents button;
  bool buttonFocused = false;
  bool operator==(const IndicatorState& other) const {
    return notice == other.notice && stopText == other.stopText && window == other.window &&
           label == other.label && button == other.button && buttonFocused == other.buttonFocused;
  }
};

class AccessibleIndicator {
 public:
  // Called on the bus thread when a client presses the button.
  using Press = std::function<void()>;
  // Called on the bus thread with a line that says why the bus could not be used; at most once
  // per process, whatever the number of objects.
  using Warn = std::function<void(const std::string&)>;

  // Any thread. The bus is the one that AT_SPI_BUS_ADDRESS names, else `rootBusAddress` (what the
  // display server's root publishes, empty for none), else the one that the session bus's
  // org.a11y.Bus hands out. Null, and nothing started, when the process has no way to any of
  // them (no such variable, no root address, no session bus); otherwise the thread looks for
  // the bus and registers, and a bus that is not there after all is left alone in silence.
  static std::unique_ptr<AccessibleIndicator> start(const IndicatorState& state,
                                                    const std::string& rootBusAddress, Press press,
                                                    Warn warn);
  ~AccessibleIndicator();
  AccessibleIndicator(const AccessibleIndicator&) = delete;
  AccessibleIndicator& operator=(const AccessibleIndicator&) = delete;

  // Any thread. What the bus answers from now on; a change of the focus is announced.
  void update(const IndicatorState& state);

  struct Bus;  // the bus thread's side (AccessibleIndicator.cpp)

 private:
  explicit AccessibleIndicator(std::unique_ptr<Bus> bus);
  std::unique_ptr<Bus> _bus;
};

}  // namespace Accessibility
