// The monitor list read from real servers: Xorg's dummy driver for several CRTCs on one screen,
// Xvfb for several X screens.
// gtest before Xlib: Xlib's macros (None, Bool) break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <future>
#include <thread>

#include "MonitorList.h"
#include "SharedWindow.h"
#include "support/XServer.h"

using NativeUI::MonitorInfo;
using NativeUI::MonitorLayout;
using testing_x::ScopedDisplay;
using testing_x::XServer;

namespace {

constexpr int32_t kRotate0 = 1;

MonitorInfo monitor(int32_t x, int32_t y, int32_t w, int32_t h) { return {x, y, w, h, kRotate0}; }

// Waits until the layout's list differs from `before`, the way a caller that polls would.
std::vector<MonitorInfo> listAfterChange(MonitorLayout& layout,
                                         const std::vector<MonitorInfo>& before) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::vector<MonitorInfo> list = layout.getMonitorList();
  while (list == before && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    list = layout.getMonitorList();
  }
  return list;
}

// Sends an event to every client that watches the root window's structure, as another client
// would.
void sendToRootWatchers(const std::string& display, int type) {
  Display* dpy = XOpenDisplay(display.c_str());
  ASSERT_NE(dpy, nullptr);
  XEvent event{};
  event.type = type;
  if (type == ClientMessage) {
    event.xclient.window = DefaultRootWindow(dpy);
    event.xclient.format = 32;
    event.xclient.message_type = XInternAtom(dpy, "TEST_PING", False);
  } else {
    event.xconfigure.window = DefaultRootWindow(dpy);
    event.xconfigure.event = DefaultRootWindow(dpy);
  }
  XSendEvent(dpy, DefaultRootWindow(dpy), False, StructureNotifyMask, &event);
  XSync(dpy, False);
  XCloseDisplay(dpy);
}

class DummyMonitors : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xorg");
    env = std::make_unique<ScopedDisplay>(server->display());
  }
  std::unique_ptr<XServer> server;
  std::unique_ptr<ScopedDisplay> env;
};

TEST_F(DummyMonitors, TwoCrtcsSideBySideInCrtcOrder) {
  server->layoutSideBySide();
  MonitorLayout layout;
  EXPECT_EQ(layout.getMonitorList(),
            (std::vector<MonitorInfo>{monitor(0, 0, 1920, 1080), monitor(1920, 0, 1280, 1024)}));
}

TEST_F(DummyMonitors, CrtcOrderIsNotSortedByPosition) {
  server->layoutSingle();
  server->run("xrandr --addmode DUMMY1 1280x1024");
  server->run("xrandr --output DUMMY0 --pos 1280x0 --output DUMMY1 --mode 1280x1024 --pos 0x0");
  MonitorLayout layout;
  EXPECT_EQ(layout.getMonitorList(),
            (std::vector<MonitorInfo>{monitor(1280, 0, 1920, 1080), monitor(0, 0, 1280, 1024)}));
}

TEST_F(DummyMonitors, MirroredPairIsTwoEqualEntries) {
  server->layoutSingle();
  server->run("xrandr --addmode DUMMY1 1920x1080");
  server->run("xrandr --output DUMMY1 --mode 1920x1080 --same-as DUMMY0");
  MonitorLayout layout;
  EXPECT_EQ(layout.getMonitorList(),
            (std::vector<MonitorInfo>{monitor(0, 0, 1920, 1080), monitor(0, 0, 1920, 1080)}));
}

TEST_F(DummyMonitors, DisabledOutputIsNotListed) {
  server->layoutSideBySide();
  server->run("xrandr --output DUMMY1 --off");
  MonitorLayout layout;
  EXPECT_EQ(layout.getMonitorList(), (std::vector<MonitorInfo>{monitor(0, 0, 1920, 1080)}));
}

// While another client holds the server grabbed, every request of the layout's connection
// would wait; a call that returns during the grab therefore made no XRandR query.
std::vector<MonitorInfo> listDuringGrab(const std::string& display, MonitorLayout& layout,
                                        bool& answeredDuringGrab) {
  Display* grabber = XOpenDisplay(display.c_str());
  XGrabServer(grabber);
  XSync(grabber, False);
  auto call = std::async(std::launch::async, [&] { return layout.getMonitorList(); });
  answeredDuringGrab = call.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  XUngrabServer(grabber);
  XCloseDisplay(grabber);
  return call.get();
}

TEST_F(DummyMonitors, CachedListIsReusedUntilTheRootWindowIsReconfigured) {
  server->layoutSideBySide();
  MonitorLayout layout;
  const auto both = layout.getMonitorList();
  ASSERT_EQ(both.size(), 2u);

  bool cached = false;
  EXPECT_EQ(listDuringGrab(server->display(), layout, cached), both);
  EXPECT_TRUE(cached) << "a second call with nothing pending queried the server";

  // Pending events other than ConfigureNotify are consumed and force nothing.
  sendToRootWatchers(server->display(), ClientMessage);
  EXPECT_EQ(listDuringGrab(server->display(), layout, cached), both);
  EXPECT_TRUE(cached) << "a pending ClientMessage forced a rebuild";

  // A pending ConfigureNotify forces the rebuild, which has to wait for the grab to end.
  sendToRootWatchers(server->display(), ConfigureNotify);
  EXPECT_EQ(listDuringGrab(server->display(), layout, cached), both);
  EXPECT_FALSE(cached) << "a pending ConfigureNotify did not force a rebuild";
}

TEST_F(DummyMonitors, ListIsRebuiltAfterTheScreenWasResized) {
  server->layoutSideBySide();
  MonitorLayout layout;
  const auto both = layout.getMonitorList();
  ASSERT_EQ(both.size(), 2u);
  server->run("xrandr --output DUMMY1 --off");
  EXPECT_EQ(listAfterChange(layout, both), (std::vector<MonitorInfo>{monitor(0, 0, 1920, 1080)}));
}

TEST(XvfbMonitors, ScreenZeroMonitorsComeFirst) {
  auto server = XServer::start("xvfb", {"1280x1024x24", "800x600x24"});
  ScopedDisplay env(server->display());
  MonitorLayout layout;
  const auto list = layout.getMonitorList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].width, 1280);
  EXPECT_EQ(list[0].height, 1024);
  EXPECT_EQ(list[1].width, 800);
  EXPECT_EQ(list[1].height, 600);
}

TEST(XvfbMonitors, ServerWithoutRandrGivesAnEmptyList) {
  auto server = XServer::start("xvfb", {"1280x1024x24", "-extension", "RANDR"});
  ScopedDisplay env(server->display());
  MonitorLayout layout;
  EXPECT_TRUE(layout.getMonitorList().empty());
}

// A shared window's bar goes to the monitor of its centre; a window between or beyond the
// monitors still gets the one it overlaps most, never an index past the list.
TEST(MonitorHolding, CentreThenLargestOverlapThenFirst) {
  const std::vector<MonitorInfo> two = {monitor(0, 0, 1920, 1080), monitor(1920, 0, 1280, 1024)};
  EXPECT_EQ(NativeUI::monitorHolding(two, monitor(1800, 100, 400, 300)), 1U);    // centre 2000
  EXPECT_EQ(NativeUI::monitorHolding(two, monitor(1000, 1000, 1000, 200)), 0U);  // centre below
  EXPECT_EQ(NativeUI::monitorHolding(two, monitor(3000, 900, 600, 400)), 1U);
  EXPECT_EQ(NativeUI::monitorHolding(two, monitor(-5000, -5000, 10, 10)), 0U);
}

TEST(NoServer, EmptyListWithoutBlocking) {
  ScopedDisplay env(":4093");  // nobody listens there
  MonitorLayout layout;
  EXPECT_TRUE(layout.getMonitorList().empty());
  EXPECT_TRUE(layout.getMonitorList().empty());
}

}  // namespace
