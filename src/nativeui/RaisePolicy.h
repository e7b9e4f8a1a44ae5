// How often the indicator may raise itself over other clients' windows.
//
// A window that covers the indicator is answered by a raise at once, up to kMaxRaises within any
// second. Another always-on-top client that keeps covering us would otherwise start a raise
// war that floods the server; past the limit the indicator warns once and tries once a second,
// until a look a second after its last raise finds nothing over it. A later episode warns again.
#pragma once

#include <chrono>
#include <deque>
#include <optional>

namespace NativeUI {

class RaisePolicy {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kMaxRaises = 10;
  static constexpr Clock::duration kWindow = std::chrono::seconds(1);

  struct Decision {
    bool raise = false;
    bool warn = false;  // this cover started an episode: say so, once
  };

  // Something lies over the indicator now.
  Decision covered(Clock::time_point now);
  // A look found nothing over the indicator.
  void clear(Clock::time_point now);
  // When to look again unasked: set during an episode, where no event may come to say that the
  // other window is still there.
  std::optional<Clock::time_point> nextLook() const;

 private:
  void record(Clock::time_point now);

  std::deque<Clock::time_point> _raises;  // within the last kWindow
  bool _episode = false;
};

}  // namespace NativeUI
