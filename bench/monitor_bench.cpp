// How fast the indicator follows its monitor: the time from a RandR mode change of the shown
// CRTC to the ConfigureNotify that gives the border window the new size, as another client sees
// it. Run on an Xorg dummy server whose first output shows 1920x1080 (tests/rig/xserver xorg,
// then `xrandr --output DUMMY0 --mode 1920x1080 --pos 0x0`):
//
//   DISPLAY=:N build-native/monitor_bench [changes] [xrandr]
//
// Each change switches DUMMY0 between 1920x1080 and 1280x1024, with XRRSetCrtcConfig or, given
// "xrandr", by running the xrandr command, timed from just before the request (or the command).
// The same watcher also selects RandR's CRTC notify: the time until any client could have known
// of the change, and from there to the new size, which is the indicator's own share.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "NativeUIController.h"
#include "XHandles.h"

namespace {

using bench::Clock;
using bench::ms;
using bench::Stats;

// Also keeps the border window's id from its log line.
class BorderWaiter : public bench::ShownWaiter {
 public:
  void onLog(NativeUI::LogType, const char* format, ...) override {
    if (std::strcmp(format, "Created border window: 0x%08X") != 0) return;
    va_list args;
    va_start(args, format);
    _border.store(va_arg(args, unsigned int));
    va_end(args);
  }
  Window waitShown() {
    wait();
    return _border.load();
  }

 private:
  std::atomic<unsigned int> _border{0};  // logged before the shown report
};

RRMode modeNamed(XRRScreenResources* resources, const char* name) {
  for (int i = 0; i < resources->nmode; ++i) {
    if (std::strcmp(resources->modes[i].name, name) == 0) return resources->modes[i].id;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int changes = argc > 1 ? std::atoi(argv[1]) : 50;
  const bool viaCommand = argc > 2 && std::string(argv[2]) == "xrandr";
  NativeUI::DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) {
    std::fprintf(stderr, "monitor_bench: no X server\n");
    return 1;
  }
  Display* d = display.get();
  const Window root = DefaultRootWindow(d);
  int eventBase = 0;
  int errorBase = 0;
  if (!XRRQueryExtension(d, &eventBase, &errorBase)) return 1;
  NativeUI::ScreenResourcesPtr resources(XRRGetScreenResources(d, root));
  RRCrtc crtc = 0;
  std::vector<RROutput> outputs;
  for (int i = 0; i < resources->ncrtc && !crtc; ++i) {
    NativeUI::CrtcInfoPtr info(XRRGetCrtcInfo(d, resources.get(), resources->crtcs[i]));
    if (info && info->noutput > 0 && info->x == 0 && info->y == 0) {
      crtc = resources->crtcs[i];
      outputs.assign(info->outputs, info->outputs + info->noutput);
    }
  }
  const RRMode modes[2] = {modeNamed(resources.get(), "1280x1024"),
                           modeNamed(resources.get(), "1920x1080")};
  const unsigned int widths[2] = {1280, 1920};
  if (!crtc || !modes[0] || !modes[1]) {
    std::fprintf(stderr, "monitor_bench: needs a CRTC at 0,0 with modes 1280x1024, 1920x1080\n");
    return 1;
  }

  BorderWaiter waiter;
  Stats follow;
  Stats server;
  Stats ours;
  {
    NativeUI::NativeUIController controller(&waiter);
    controller.showControlBar(0);
    const Window border = waiter.waitShown();
    XSelectInput(d, border, StructureNotifyMask);
    XRRSelectInput(d, root, RRCrtcChangeNotifyMask);
    XSync(d, False);
    for (int i = 0; i < changes; ++i) {
      const int next = i % 2;
      XEvent event;
      while (XPending(d)) XNextEvent(d, &event);
      const auto t0 = Clock::now();
      if (viaCommand) {
        const std::string command = std::string("xrandr --output DUMMY0 --mode ") +
                                    (next == 0 ? "1280x1024" : "1920x1080") + " &";
        if (std::system(command.c_str()) != 0) return 1;
      } else {
        XRRSetCrtcConfig(d, resources.get(), crtc, CurrentTime, 0, 0, modes[next], RR_Rotate_0,
                         outputs.data(), static_cast<int>(outputs.size()));
      }
      Clock::time_point notifiedAt{};
      for (;;) {
        XNextEvent(d, &event);
        if (notifiedAt == Clock::time_point{} && event.type == eventBase + RRNotify) {
          notifiedAt = Clock::now();
          server.add(ms(notifiedAt - t0));
        }
        if (event.type == ConfigureNotify && event.xconfigure.window == border &&
            static_cast<unsigned int>(event.xconfigure.width) == widths[next]) {
          follow.add(ms(Clock::now() - t0));
          ours.add(ms(Clock::now() - notifiedAt));
          break;
        }
      }
    }
    controller.hideControlBar();
  }
  XRRSetCrtcConfig(d, resources.get(), crtc, CurrentTime, 0, 0, modes[1], RR_Rotate_0,
                   outputs.data(), static_cast<int>(outputs.size()));
  server.print("mode change -> RandR notify at another client");
  follow.print("mode change -> border window's new size");
  ours.print("RandR notify -> border window's new size");
  return 0;
}
