// Times the controller's show and hide against bare Xlib doing the irreducible work of each,
// side by side in one run on the current DISPLAY (use an Xorg dummy server: Xvfb answers each new
// connection only after ~25 ms, which hides everything else).
//
//   build-native/controller_bench [cycles]
//
// show:     showControlBar() returns (thread started)  |  ... -> shown report
// baseline: XOpenDisplay + XRRGetScreenResources/XRRGetCrtcInfo + create and map a 32-bit
//           override-redirect window + wait for its MapNotify
// hide:     hideControlBar() returns (thread joined)
// baseline: wake a thread blocked in select() on a pipe, destroy the window, wait for its
//           DestroyNotify, join the thread
// Also: a bare XOpenDisplay + XCloseDisplay pair.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <sys/select.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "NativeUIController.h"

namespace {

using bench::Clock;
using bench::ms;
using bench::ShownWaiter;
using bench::Stats;

void waitForEvent(Display* d, Window w, int type) {
  XEvent e;
  do {
    XWindowEvent(d, w, StructureNotifyMask, &e);
  } while (e.type != type);
}

// The least a show must do: connect, read the CRTCs, create and map one ARGB window.
Window baselineShow(Display*& d) {
  d = XOpenDisplay(nullptr);
  XRRScreenResources* res = XRRGetScreenResources(d, DefaultRootWindow(d));
  for (int i = 0; i < res->ncrtc; ++i) XRRFreeCrtcInfo(XRRGetCrtcInfo(d, res, res->crtcs[i]));
  XRRFreeScreenResources(res);
  XVisualInfo vi;
  XMatchVisualInfo(d, DefaultScreen(d), 32, TrueColor, &vi);
  XSetWindowAttributes a{};
  a.override_redirect = True;
  a.colormap = XCreateColormap(d, DefaultRootWindow(d), vi.visual, AllocNone);
  a.event_mask = StructureNotifyMask;
  Window w =
      XCreateWindow(d, DefaultRootWindow(d), 0, 0, 100, 25, 0, vi.depth, InputOutput, vi.visual,
                    CWOverrideRedirect | CWColormap | CWEventMask | CWBorderPixel, &a);
  XFreeColormap(d, a.colormap);
  XMapWindow(d, w);
  waitForEvent(d, w, MapNotify);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 200;
  // "thread-only": time start and join alone, for a build whose UI thread shows nothing.
  const bool threadOnly = argc > 2 && std::string(argv[2]) == "thread-only";
  Stats openClose, showReturn, showShown, hide, baseShow, baseHide;

  for (int i = 0; i < cycles; ++i) {
    const auto t0 = Clock::now();
    Display* d = XOpenDisplay(nullptr);
    XCloseDisplay(d);
    openClose.add(ms(Clock::now() - t0));
  }

  ShownWaiter waiter;
  {
    NativeUI::NativeUIController controller(&waiter);
    controller.showControlBar(0);  // warm: font, first build
    if (!threadOnly) waiter.wait();
    controller.hideControlBar();
    for (int i = 0; i < cycles; ++i) {
      waiter.reset();
      const auto t0 = Clock::now();
      controller.showControlBar(0);
      showReturn.add(ms(Clock::now() - t0));
      if (!threadOnly) waiter.wait();
      showShown.add(ms(Clock::now() - t0));
      const auto t1 = Clock::now();
      controller.hideControlBar();
      hide.add(ms(Clock::now() - t1));
    }
  }

  for (int i = 0; i < cycles; ++i) {
    int fds[2];
    if (pipe(fds) != 0) return 1;
    Display* d = nullptr;
    const auto t0 = Clock::now();
    Window w = baselineShow(d);
    baseShow.add(ms(Clock::now() - t0));
    std::thread loop([&] {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(fds[0], &set);
      select(fds[0] + 1, &set, nullptr, nullptr, nullptr);
      char c;
      if (read(fds[0], &c, 1) != 1) return;
      XDestroyWindow(d, w);
      waitForEvent(d, w, DestroyNotify);
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200));  // let it block in select
    const auto t1 = Clock::now();
    if (write(fds[1], "1", 1) != 1) return 1;
    loop.join();
    baseHide.add(ms(Clock::now() - t1));
    XCloseDisplay(d);
    close(fds[0]);
    close(fds[1]);
  }

  openClose.print("XOpenDisplay + XCloseDisplay");
  showReturn.print("showControlBar returns (thread started)");
  showShown.print("showControlBar -> shown report");
  baseShow.print("baseline show (connect, CRTCs, map, MapNotify)");
  hide.print("hideControlBar returns (thread joined)");
  baseHide.print("baseline hide (wake, destroy, DestroyNotify, join)");
  return 0;
}
