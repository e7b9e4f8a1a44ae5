// Drives the Wayland backend without the add-on: lists the compositor's monitors, shows the
// indicator on one for a while, or times show -> shown and hide over many showings.
//   wayland_show list
//   wayland_show show OUTPUT [SECONDS] [SCALE]     (SECONDS 0: until stop is clicked)
//   wayland_show cycles OUTPUT N                   (medians of show->shown and hide, in ms)
// WAYLAND_DISPLAY names the compositor (an absolute socket path works); INDICATOR_NOTICE and
// INDICATOR_STOP replace the two texts.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WaylandBackend.h"

using namespace NativeUI;
using Clock = std::chrono::steady_clock;

namespace {

class PrintingHost : public ShowingHost {
 public:
  explicit PrintingHost(bool quiet) : _quiet(quiet) {}
  void log(LogType type, const char* format, ...) override {
    if (_quiet && type == LogType::Log) return;
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "log[%d] ", static_cast<int>(type));
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
  }
  void buildFailed(const char* line) override { std::fprintf(stderr, "build failed: %s\n", line); }
  bool takeExitRequest() override { return _exit.exchange(false); }
  void shown() override {
    say("shown");
    std::lock_guard<std::mutex> lock(_mutex);
    _shownAt = Clock::now();
    _shown = true;
    _changed.notify_all();
  }
  void hidden(HiddenReason reason) override {
    if (!_quiet) std::printf("hidden %d\n", static_cast<int>(reason));
    std::fflush(stdout);
  }
  void stopClicked(StopSource source) override {
    say(source == StopSource::Pointer ? "stop clicked" : "stop pressed");
    std::lock_guard<std::mutex> lock(_mutex);
    _stopped = true;
    _changed.notify_all();
  }
  void monitorChanged(const MonitorInfo& m) override {
    if (!_quiet) std::printf("monitor changed %d,%d %dx%d\n", m.x, m.y, m.width, m.height);
    std::fflush(stdout);
  }
  void barPlaced(const BarPlacement&) override {}
  void endingByItself() override { say("ending by itself"); }

  void requestExit(int fd) {
    _exit = true;
    const char byte = 1;
    if (write(fd, &byte, 1) != 1) std::perror("write");
  }
  // Waits until shown (or the run ended) and returns when.
  bool waitShown(const std::atomic<bool>& ended, Clock::time_point& at) {
    std::unique_lock<std::mutex> lock(_mutex);
    while (!_shown && !ended) _changed.wait_for(lock, std::chrono::milliseconds(5));
    at = _shownAt;
    const bool shown = _shown;
    _shown = false;
    return shown;
  }
  void waitStopOr(int seconds) {
    std::unique_lock<std::mutex> lock(_mutex);
    if (seconds > 0) {
      _changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return _stopped; });
    } else {
      _changed.wait(lock, [&] { return _stopped; });
    }
  }

 private:
  void say(const char* what) {
    if (_quiet) return;
    std::printf("%s\n", what);
    std::fflush(stdout);
  }
  bool _quiet;
  std::atomic<bool> _exit{false};
  std::mutex _mutex;
  std::condition_variable _changed;
  bool _shown = false;
  bool _stopped = false;
  Clock::time_point _shownAt;
};

bool planFor(WaylandBackend& backend, const std::string& output, ShowingPlan& plan) {
  for (const MonitorDetails& monitor : backend.monitors()) {
    if (monitor.outputs.front() == output) plan.monitor = monitor;
  }
  if (plan.monitor.outputs.empty()) {
    std::fprintf(stderr, "no output %s\n", output.c_str());
    return false;
  }
  // Texts of one's own, to look at other scripts and at shortening.
  if (const char* text = std::getenv("INDICATOR_NOTICE")) {
    setChildControlBarText(WindowOrder::SharingText, text);
  }
  if (const char* text = std::getenv("INDICATOR_STOP")) {
    setChildControlBarText(WindowOrder::StopSharingText, text);
  }
  std::copy(std::begin(ChildControlBarWins), std::end(ChildControlBarWins), plan.rows.begin());
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Open descriptors and resident memory of this process, for the leak check over many showings.
std::string resources() {
  int fds = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++fds;
  }
  std::string rss = "?";
  if (FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
      if (std::strncmp(line, "VmRSS:", 6) == 0)
        rss = std::string(line + 6, std::strcspn(line + 6, "\n"));
    }
    std::fclose(status);
  }
  return "fds " + std::to_string(fds) + ", rss" + rss;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "list";
  std::string reason;
  if (!WaylandBackend::probe(reason)) {
    std::fprintf(stderr, "probe: %s\n", reason.c_str());
    return 2;
  }
  WaylandBackend backend;
  if (command == "list") {
    for (const MonitorDetails& m : backend.monitors()) {
      std::printf("%s %d,%d %dx%d\n", m.outputs.front().c_str(), m.geometry.x, m.geometry.y,
                  m.geometry.width, m.geometry.height);
    }
    return 0;
  }
  if (argc < 3) return 2;
  ShowingPlan plan;
  if (!planFor(backend, argv[2], plan)) return 1;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return 1;
  plan.exitFd = pipeFds[0];
  const bool cycles = command == "cycles";
  const int rounds = cycles ? (argc > 3 ? std::atoi(argv[3]) : 200) : 1;
  if (!cycles && argc > 4) plan.scaleOverride = std::atof(argv[4]);
  PrintingHost host(cycles);
  std::vector<double> showTimes;
  std::vector<double> hideTimes;
  for (int i = 0; i < rounds; ++i) {
    plan.showing = static_cast<uint64_t>(i) + 1;
    std::atomic<bool> ended{false};
    bool built = false;
    const Clock::time_point start = Clock::now();
    std::thread ui([&] {
      built = backend.run(plan, host);
      ended = true;
    });
    Clock::time_point shownAt;
    const bool shown = host.waitShown(ended, shownAt);
    if (shown) showTimes.push_back(ms(shownAt - start));
    if (!cycles) host.waitStopOr(argc > 3 ? std::atoi(argv[3]) : 5);
    const Clock::time_point hideAt = Clock::now();
    host.requestExit(pipeFds[1]);
    ui.join();
    hideTimes.push_back(ms(Clock::now() - hideAt));
    if (!built) return 1;
    if (cycles && (i == 0 || i + 1 == rounds)) {
      std::printf("after showing %d: %s\n", i + 1, resources().c_str());
    }
  }
  if (cycles) {
    std::printf("%d showings: show->shown median %.2f ms (first %.2f), hide median %.2f ms\n",
                rounds, median(showTimes), showTimes.empty() ? 0 : showTimes.front(),
                median(hideTimes));
  }
  close(pipeFds[0]);
  close(pipeFds[1]);
  return 0;
}
