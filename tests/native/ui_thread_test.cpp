// The indicator end to end on a real server: what the UI thread builds, what the screen shows,
// what a real pointer (XTEST through xdotool) does with it, and the order of its reports.
// gtest before Xlib: Xlib's macros (None, Bool) break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "NativeUIController.h"
#include "support/Probe.h"
#include "support/RecordingCallback.h"
#include "support/XServer.h"

using NativeUI::NativeUIController;
using NativeUI::WindowOrder;
using testing_x::Geometry;
using testing_x::Probe;
using testing_x::RecordingCallback;
using testing_x::ScopedDisplay;
using testing_x::waitUntil;
using testing_x::XServer;

namespace {

constexpr int kWorkAreaTop = 27;
constexpr unsigned long kFrameGreen = 0x1D7A48;
constexpr unsigned long kBarGreen = 0x1DB868;
constexpr unsigned long kBarRed = 0xFE3A68;
constexpr unsigned long kWhite = 0xFFFFFF;

// The first id logged by a line that matches `pattern` (one hex group).

class UiThread : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xorg");
    server->layoutSideBySide();
    server->run("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA 0," +
                std::to_string(kWorkAreaTop) + ",3200,1053");
    env = std::make_unique<ScopedDisplay>(server->display());
    probe = std::make_unique<Probe>(server->display());
    controller = std::make_unique<NativeUIController>(&callback);
  }
  void TearDown() override {
    controller.reset();
    NativeUI::setChildControlBarText(WindowOrder::SharingText, "");
    NativeUI::setChildControlBarText(WindowOrder::StopSharingText, "");
  }

  // Shows the bar and waits until it is up and its children are drawn.
  void showAndWait(unsigned int monitor, int shownBefore = 0) {
    ASSERT_TRUE(controller->showControlBar(monitor));
    ASSERT_TRUE(callback.waitFor("shown", shownBefore + 1));
    border = callback.loggedId("Created border window: 0x([0-9A-F]+)", shownBefore);
    bar = callback.loggedId("Created control bar window: 0x([0-9A-F]+)", shownBefore);
    ASSERT_NE(border, 0u);
    ASSERT_NE(bar, 0u);
    for (int i = 0; i < 5; ++i) {
      children[i] = callback.loggedId("Child window created : 0x([0-9A-F]+)", shownBefore * 5 + i);
      ASSERT_NE(children[i], 0u);
    }
  }
  Geometry geometryOf(Window window) {
    Geometry g;
    EXPECT_TRUE(probe->geometry(window, g));
    return g;
  }
  Geometry child(WindowOrder order) { return geometryOf(children[static_cast<int>(order) - 1]); }
  void xdotool(const std::string& arguments) { server->run("xdotool " + arguments); }
  // Presses on a grip, drags to x (in two steps, as a hand would) and releases. Motion before
  // the loop has taken the press and grabbed the pointer is not reported to the grip at all
  // (the implicit grab of a press selects no motion), so the drag starts after a short pause.
  void drag(int fromX, int toX, int y) {
    xdotool("mousemove " + std::to_string(fromX) + " " + std::to_string(y) +
            " mousedown 1 sleep 0.1 mousemove " + std::to_string((fromX + toX) / 2) + " " +
            std::to_string(y) + " mousemove " + std::to_string(toX) + " " + std::to_string(y) +
            " mouseup 1");
  }
  void pressAt(int x, int y, int button = 1) {
    xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
            std::to_string(button));
  }
  int barX() { return geometryOf(bar).x; }

  std::unique_ptr<XServer> server;
  std::unique_ptr<ScopedDisplay> env;
  std::unique_ptr<Probe> probe;
  RecordingCallback callback;
  std::unique_ptr<NativeUIController> controller;
  Window border = 0;
  Window bar = 0;
  Window children[5] = {};
};

TEST_F(UiThread, ReportsOfAnOrdinaryShowAndHideComeInOrder) {
  showAndWait(0);
  EXPECT_TRUE(controller->isVisible());
  const auto lines = callback.lines();
  auto at = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) - lines.begin();
  };
  char borderHex[32];
  snprintf(borderHex, sizeof(borderHex), "0x%08X", static_cast<unsigned>(border));
  EXPECT_LT(at("showControlBar: Completed"), static_cast<long>(lines.size()));
  EXPECT_LT(at(std::string("Created border window: ") + borderHex), at("All windows mapped"));
  EXPECT_LT(at("All windows mapped"),
            at("Window created and visible: " + std::to_string(static_cast<int>(border))));
  const auto reports = callback.reports();
  EXPECT_EQ(reports.back().kind, "shown");
  EXPECT_EQ(reports[reports.size() - 2].text,
            "Window created and visible: " + std::to_string(static_cast<int>(border)));

  // The Shown event follows the shown report; cleared before it came, it would count as the
  // hide's.
  ASSERT_TRUE(callback.waitForEvent(NativeUI::ShowingEvent::Kind::Shown));
  callback.clear();
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_FALSE(controller->isVisible());
  std::vector<std::string> seen;
  for (const auto& r : callback.reports()) seen.push_back(r.kind == "log" ? r.text : r.kind);
  const std::string b = std::to_string(static_cast<int>(border));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "hideControlBar", "Exit requested",
                      "Window destroyed: " + std::to_string(static_cast<int>(bar)),
                      "Window destroyed: " + b, "Window destroyed trigger exit: " + b, "hidden",
                      "runNativeUIControllerThread: Completed", "hideControlBar: Completed"}));
  EXPECT_FALSE(probe->exists(border));
  EXPECT_FALSE(probe->exists(bar));
  for (Window c : children) EXPECT_FALSE(probe->exists(c));
  // The same showing as data, for callers that must not parse the lines above.
  using Kind = NativeUI::ShowingEvent::Kind;
  using NativeUI::HiddenReason;
  EXPECT_EQ(callback.events(),
            (std::vector<testing_x::RecordedEvent>{{Kind::Hidden, 1, HiddenReason::Hide, ""},
                                                   {Kind::Ended, 1, HiddenReason::Hide, ""}}));
}

TEST_F(UiThread, BorderFramesTheChosenMonitorAndTheBarSitsAtItsTopCentre) {
  showAndWait(1);
  EXPECT_EQ(geometryOf(border), (Geometry{1920, 0, 1280, 1024}));
  Region shape = XCreateRegion();
  for (const Geometry& r : probe->boundingShape(border)) {
    XRectangle rect{static_cast<short>(r.x), static_cast<short>(r.y),
                    static_cast<unsigned short>(r.width), static_cast<unsigned short>(r.height)};
    XUnionRectWithRegion(&rect, shape, shape);
  }
  for (auto [x, y] :
       {std::pair{0, 0}, {5, 500}, {1274, 500}, {1279, 1023}, {640, 1018}, {640, 5}}) {
    EXPECT_TRUE(XPointInRegion(shape, x, y)) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{6, 6}, {640, 512}, {1273, 1017}, {640, 6}}) {
    EXPECT_FALSE(XPointInRegion(shape, x, y)) << x << "," << y;
  }
  XDestroyRegion(shape);

  const Geometry barGeometry = geometryOf(bar);
  EXPECT_EQ(barGeometry.height, 25u);
  EXPECT_EQ(barGeometry.y, kWorkAreaTop + 0);
  EXPECT_EQ(barGeometry.x, 1280 / 2 + 1920 - static_cast<int>(barGeometry.width) / 2);
  // The children fill the bar left to right without gaps, each as high as the bar.
  int x = barGeometry.x;
  for (Window c : children) {
    const Geometry g = geometryOf(c);
    EXPECT_EQ(g.x, x);
    EXPECT_EQ(g.y, barGeometry.y);
    EXPECT_EQ(g.height, 25u);
    x += static_cast<int>(g.width);
  }
  EXPECT_EQ(x, barGeometry.x + static_cast<int>(barGeometry.width));
  EXPECT_EQ(child(WindowOrder::LeftDragHandle).width, 22u);
  EXPECT_EQ(child(WindowOrder::StopIcon).width, 26u);
  EXPECT_EQ(child(WindowOrder::RightDragHandle).width, 26u);
}

TEST_F(UiThread, ScreenShowsFrameGripsStopSquareAndText) {
  showAndWait(1);
  const Geometry left = child(WindowOrder::LeftDragHandle);
  const Geometry stop = child(WindowOrder::StopIcon);
  const Geometry right = child(WindowOrder::RightDragHandle);
  // Wait until the exposures have been painted.
  ASSERT_TRUE(waitUntil([&] { return probe->screenPixel(right.x + 16, right.y + 18) == kWhite; }));

  EXPECT_EQ(probe->screenPixel(1920 + 2, 500), kFrameGreen);
  EXPECT_EQ(probe->screenPixel(1920 + 1277, 500), kFrameGreen);
  EXPECT_EQ(probe->screenPixel(1920 + 640, 1021), kFrameGreen);
  EXPECT_NE(probe->screenPixel(1920 + 640, 600), kFrameGreen);  // the monitor's own content

  // Grips: two bars, columns 8-9 and 11-12 (left) or 12-13 and 15-16 (right), rows 5-18.
  for (int column : {8, 9, 11, 12}) {
    EXPECT_EQ(probe->screenPixel(left.x + column, left.y + 5), kWhite) << column;
    EXPECT_EQ(probe->screenPixel(left.x + column, left.y + 18), kWhite) << column;
  }
  EXPECT_EQ(probe->screenPixel(left.x + 10, left.y + 10), kBarGreen);
  EXPECT_EQ(probe->screenPixel(left.x + 8, left.y + 4), kBarGreen);
  EXPECT_EQ(probe->screenPixel(left.x + 8, left.y + 19), kBarGreen);
  for (int column : {12, 13, 15, 16}) {
    EXPECT_EQ(probe->screenPixel(right.x + column, right.y + 10), kWhite) << column;
  }
  EXPECT_EQ(probe->screenPixel(right.x + 14, right.y + 10), kBarRed);
  // The stop square: columns 10-15, rows 9-14, on red.
  EXPECT_EQ(probe->screenPixel(stop.x + 10, stop.y + 9), kWhite);
  EXPECT_EQ(probe->screenPixel(stop.x + 15, stop.y + 14), kWhite);
  EXPECT_EQ(probe->screenPixel(stop.x + 9, stop.y + 9), kBarRed);
  EXPECT_EQ(probe->screenPixel(stop.x + 16, stop.y + 14), kBarRed);
  EXPECT_EQ(probe->screenPixel(stop.x + 10, stop.y + 15), kBarRed);

  // Both texts leave ink inside their children.
  for (auto [order, background] :
       {std::pair{WindowOrder::SharingText, kBarGreen}, {WindowOrder::StopSharingText, kBarRed}}) {
    const Geometry g = child(order);
    int ink = 0;
    for (unsigned int x = 0; x < g.width; x += 2) {
      for (int y = 6; y < 20; ++y) ink += probe->screenPixel(g.x + x, g.y + y) != background;
    }
    EXPECT_GT(ink, 20) << static_cast<int>(order);
  }
}

TEST_F(UiThread, OnlyAPressOnTheStopTextIsAStopClick) {
  showAndWait(0);
  const Geometry notice = child(WindowOrder::SharingText);
  const Geometry square = child(WindowOrder::StopIcon);
  const Geometry text = child(WindowOrder::StopSharingText);
  pressAt(notice.x + 20, notice.y + 12);
  pressAt(square.x + 12, square.y + 12);
  pressAt(text.x + 3, text.y + 3);
  ASSERT_TRUE(callback.waitFor("stop", 1));
  // The presses are handled in order, so the earlier two are done by now.
  EXPECT_EQ(callback.count("stop"), 1);
  pressAt(text.x + static_cast<int>(text.width) / 2, text.y + 12, 4);  // a wheel step
  ASSERT_TRUE(callback.waitFor("stop", 2));
  EXPECT_EQ(callback.count("shown"), 1);
  EXPECT_TRUE(controller->isVisible());
}

TEST_F(UiThread, DraggingAGripSlidesTheBarWithinItsMonitor) {
  showAndWait(1);
  const int y = kWorkAreaTop + 12;
  const int width = static_cast<int>(geometryOf(bar).width);
  const int start = barX();

  // A press and release without motion grabs and releases the pointer and moves nothing.
  xdotool("mousemove " + std::to_string(start + 9) + " " + std::to_string(y) +
          " mousedown 1 mouseup 1");
  ASSERT_TRUE(waitUntil([&] { return probe->pointerIsFree(); }));
  EXPECT_EQ(barX(), start);

  // The left grip puts the bar's left edge under the pointer.
  drag(start + 9, 2150, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 2150; })) << barX();
  ASSERT_TRUE(waitUntil([&] { return probe->pointerIsFree(); }));

  // The right grip puts its right edge under the pointer.
  drag(barX() + width - 10, 3000, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 3000 - width; })) << barX();

  // Past the monitor's edges the bar stops at them.
  drag(barX() + 9, 3150, y);  // the left edge can't go where the bar would leave the monitor
  EXPECT_TRUE(waitUntil([&] { return barX() == 3200 - width; })) << barX();
  drag(barX() + width - 10, 1930, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 1920; })) << barX();
  drag(barX() + width - 10, 2600, y);
  ASSERT_TRUE(waitUntil([&] { return barX() == 2600 - width; })) << barX();
  drag(barX() + 9, 100, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 1920; })) << barX();
  EXPECT_EQ(geometryOf(bar).y, kWorkAreaTop);
}

TEST_F(UiThread, HideWhileDraggingEndsNormallyAndFreesThePointer) {
  showAndWait(0);
  const int y = kWorkAreaTop + 12;
  xdotool("mousemove " + std::to_string(barX() + 9) + " " + std::to_string(y) +
          " mousedown 1 sleep 0.1 mousemove 650 " + std::to_string(y) + " mousemove 700 " +
          std::to_string(y));
  ASSERT_TRUE(waitUntil([&] { return barX() == 700; }));
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.count("hidden"), 1);
  EXPECT_TRUE(waitUntil([&] { return probe->pointerIsFree(); }));
  xdotool("mouseup 1");
}

TEST_F(UiThread, HideRightAfterShowStillReportsShownThenHidden) {
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(controller->showControlBar(0));
    ASSERT_TRUE(controller->hideControlBar());
  }
  std::vector<std::string> kinds;
  for (const auto& r : callback.reports()) {
    if (r.kind != "log") kinds.push_back(r.kind);
  }
  EXPECT_EQ(kinds,
            (std::vector<std::string>{"shown", "hidden", "shown", "hidden", "shown", "hidden"}));
  EXPECT_FALSE(controller->isVisible());
}

TEST_F(UiThread, SameMonitorChangesNothingAnotherMonitorHidesFirst) {
  showAndWait(0);
  const Geometry before = geometryOf(bar);
  callback.clear();
  ASSERT_TRUE(controller->showControlBar(0));
  EXPECT_EQ(callback.lines(), std::vector<std::string>{"showControlBar"});
  EXPECT_EQ(geometryOf(bar), before);

  ASSERT_TRUE(controller->showControlBar(1));
  ASSERT_TRUE(callback.waitFor("shown"));
  std::vector<std::string> kinds;
  for (const auto& r : callback.reports()) {
    if (r.kind != "log") kinds.push_back(r.kind);
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"hidden", "shown"}));
  EXPECT_FALSE(probe->exists(bar));
  EXPECT_FALSE(probe->exists(border));
}

TEST_F(UiThread, CustomTextsWidenTheBarAtTheNextBuild) {
  showAndWait(0);
  const unsigned int plain = geometryOf(bar).width;
  NativeUI::setChildControlBarText(WindowOrder::SharingText,
                                   "You are sharing your entire screen with everybody");
  ASSERT_TRUE(controller->showControlBar(0));  // already shown: no rebuild
  EXPECT_EQ(geometryOf(bar).width, plain);
  ASSERT_TRUE(controller->hideControlBar());
  showAndWait(0, 1);
  EXPECT_GT(geometryOf(bar).width, plain + 50);
}

TEST_F(UiThread, BorderDestroyedByAnotherClientTakesTheWholeIndicatorAway) {
  showAndWait(1);
  XDestroyWindow(probe->display(), border);
  XSync(probe->display(), False);
  ASSERT_TRUE(callback.waitFor("hidden"));
  EXPECT_TRUE(callback.waitForLine("runNativeUIControllerThread: Completed"));
  ASSERT_TRUE(callback.waitForEvent(NativeUI::ShowingEvent::Kind::Ended));
  const auto events = callback.events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2].kind, NativeUI::ShowingEvent::Kind::Hidden);
  EXPECT_EQ(events[events.size() - 2].reason, NativeUI::HiddenReason::Destroyed);
  EXPECT_FALSE(controller->isVisible());
  EXPECT_TRUE(waitUntil([&] { return !probe->exists(bar); }));
  for (Window c : children) EXPECT_FALSE(probe->exists(c));

  // The thread ended by itself: showing on the same monitor builds the bar again.
  showAndWait(1, 1);
  EXPECT_TRUE(controller->isVisible());
}

// A frame that vanishes while the loop walks up to it ends the walk; the loop goes on serving.
TEST_F(UiThread, ReparentingMarksTheTopLevelFrameAndSurvivesAVanishingFrame) {
  showAndWait(0);
  Display* d = probe->display();
  const Window frame = XCreateSimpleWindow(d, probe->root(), 0, 0, 500, 100, 0, 0, 0);
  const Window inner = XCreateSimpleWindow(d, frame, 0, 0, 500, 100, 0, 0, 0);
  testing::internal::CaptureStdout();
  XReparentWindow(d, bar, inner, 0, 0);
  XSync(d, False);
  const Atom mark = XInternAtom(d, "_ZEL_NATIVE_UI_TYPE", False);
  auto marked = [&](Window w) {
    Atom type = 0;
    int format = 0;
    unsigned long n = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(d, w, mark, 0, 1, False, AnyPropertyType, &type, &format, &n, &after, &data);
    const bool set =
        n == 1 && format == 32 && type == XA_ATOM && *reinterpret_cast<long*>(data) == 1;
    if (data) XFree(data);
    return set;
  };
  EXPECT_TRUE(waitUntil([&] { return marked(frame); }));
  const std::string out = testing::internal::GetCapturedStdout();
  char expected[128];
  snprintf(expected, sizeof(expected), "Received reparent event, id: 0x%lx, parent: 0x%lx\n", bar,
           inner);
  EXPECT_NE(out.find(expected), std::string::npos) << out;
  EXPECT_FALSE(marked(inner));

  // Move the bar back to the root, then into a frame that is gone before the loop asks.
  XReparentWindow(d, bar, probe->root(), 0, 0);
  XSync(d, False);
  const Window doomed = XCreateSimpleWindow(d, probe->root(), 0, 0, 10, 10, 0, 0, 0);
  const Window doomedInner = XCreateSimpleWindow(d, doomed, 0, 0, 10, 10, 0, 0, 0);
  XGrabServer(d);
  XReparentWindow(d, bar, doomedInner, 0, 0);
  XReparentWindow(d, bar, probe->root(), 0, 0);
  XDestroyWindow(d, doomed);
  XUngrabServer(d);
  XSync(d, False);
  EXPECT_TRUE(controller->isVisible());
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.count("hidden"), 1);
}

TEST(UiThreadWithoutArgbVisual, BuildFailsWithAClearLineAndNothingCrashes) {
  auto server = XServer::start("xvfb-nocomposite", {"1280x1024x24"});
  ScopedDisplay env(server->display());
  RecordingCallback callback;
  NativeUIController controller(&callback);
  ASSERT_TRUE(controller.showControlBar(0));
  ASSERT_TRUE(
      callback.waitForLine("XMatchVisualInfo(): No 32-bit TrueColor visual: " + server->display()));
  EXPECT_TRUE(controller.hideControlBar());
  EXPECT_EQ(callback.count("shown"), 0);
  EXPECT_FALSE(controller.isVisible());
  using Kind = NativeUI::ShowingEvent::Kind;
  const std::string line = "XMatchVisualInfo(): No 32-bit TrueColor visual: " + server->display();
  EXPECT_EQ(callback.events(), (std::vector<testing_x::RecordedEvent>{
                                   {Kind::Started, 1, NativeUI::HiddenReason::Hide, ""},
                                   {Kind::Failed, 1, NativeUI::HiddenReason::Hide, line},
                                   {Kind::Ended, 1, NativeUI::HiddenReason::Hide, ""}}));
}

}  // namespace
