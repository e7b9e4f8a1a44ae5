#include "RaisePolicy.h"

namespace NativeUI {

RaisePolicy::Decision RaisePolicy::covered(Clock::time_point now) {
  Decision decision;
  if (_episode) {
    decision.raise = now - _raises.back() >= kWindow;
  } else {
    while (!_raises.empty() && now - _raises.front() >= kWindow) _raises.pop_front();
    decision.raise = static_cast<int>(_raises.size()) < kMaxRaises;
    decision.warn = !decision.raise;
    _episode = decision.warn;
  }
  if (decision.raise) record(now);
  return decision;
}

void RaisePolicy::clear(Clock::time_point now) {
  // The Unobscured that follows each of our own raises says nothing about the other client;
  // only a look a whole retry interval later does.
  if (!_episode || now - _raises.back() < kWindow) return;
  _episode = false;
  _raises.clear();
}

std::optional<RaisePolicy::Clock::time_point> RaisePolicy::nextLook() const {
  if (!_episode) return std::nullopt;
  return _raises.back() + kWindow;
}

void RaisePolicy::record(Clock::time_point now) {
  _raises.push_back(now);
  if (static_cast<int>(_raises.size()) > kMaxRaises) _raises.pop_front();
}

}  // namespace NativeUI
