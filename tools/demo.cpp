// Shows what the controller does on the current DISPLAY: the monitors it finds, and a showing
// on monitor 0 started and hidden again, with every report printed as it comes.
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "MonitorList.h"
#include "NativeUIController.h"

namespace {

class PrintingCallback : public NativeUI::NativeUIControllerCallback {
 public:
  void onWindowShown() override { std::puts("report: shown"); }
  void onWindowHidden() override { std::puts("report: hidden"); }
  void onStopScreenShareClicked() override { std::puts("report: stop clicked"); }
  void onLog(NativeUI::LogType type, const char* format, ...) override {
    static const char* const kLevels[] = {"log", "warn", "error"};
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::printf("%s: %s\n", kLevels[static_cast<int>(type) % 3], text);
    std::fflush(stdout);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 2;
  NativeUI::MonitorLayout layout;
  const auto monitors = layout.getMonitorList();
  std::printf("%zu monitor(s)\n", monitors.size());
  for (size_t i = 0; i < monitors.size(); ++i) {
    const auto& m = monitors[i];
    std::printf("  %zu: %dx%d at %d,%d\n", i, m.width, m.height, m.x, m.y);
  }
  PrintingCallback callback;
  NativeUI::NativeUIController controller(&callback);
  if (!controller.showControlBar(0)) {
    std::puts("no monitor to show the bar on");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  controller.hideControlBar();
  return 0;
}
