// What the controller benchmarks share: a wall clock, the median and slowest of a set of
// samples, and a controller callback that says when the bar is shown.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "NativeUIControllerCallback.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  std::vector<double> samples;
  void add(double v) { samples.push_back(v); }
  void print(const char* name) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-52s median %8.3f ms   max %8.3f ms   (n=%zu)\n", name,
                samples[samples.size() / 2], samples.back(), samples.size());
  }
};

// Any thread may report shown; wait() returns once it has been, until reset().
class ShownWaiter : public NativeUI::NativeUIControllerCallback {
 public:
  void onWindowShown() override {
    std::lock_guard<std::mutex> lock(_mutex);
    _shown = true;
    _cv.notify_all();
  }
  void onWindowHidden() override {}
  void onStopScreenShareClicked() override {}
  void onLog(NativeUI::LogType, const char*, ...) override {}
  void reset() {
    std::lock_guard<std::mutex> lock(_mutex);
    _shown = false;
  }
  void wait() {
    std::unique_lock<std::mutex> lock(_mutex);
    _cv.wait(lock, [&] { return _shown; });
  }

 private:
  std::mutex _mutex;
  std::condition_variable _cv;
  bool _shown = false;
};

}  // namespace bench
