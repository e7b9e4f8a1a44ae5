// The indicator end to end on a real server: what the UI thread builds, what the screen shows,
// what a real pointer (XTEST through xdotool) does with it, and the order of its reports.
// gtest before Xlib: Xlib's macros (None, Bool) break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <lodepng.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <tuple>

#include "NativeUIController.h"
#include "RaisePolicy.h"
#include "support/Probe.h"
#include "support/RecordingCallback.h"
#include "support/XServer.h"

using NativeUI::LogType;
using NativeUI::NativeUIController;
using NativeUI::WindowOrder;
using testing_x::Geometry;
using testing_x::Probe;
using testing_x::RecordingCallback;
using testing_x::Report;
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
  // Whether the border window's bounding shape holds this point (window coordinates).
  bool inFrame(int x, int y) {
    Region shape = XCreateRegion();
    for (const Geometry& r : probe->boundingShape(border)) {
      XRectangle rect{static_cast<short>(r.x), static_cast<short>(r.y),
                      static_cast<unsigned short>(r.width), static_cast<unsigned short>(r.height)};
      XUnionRectWithRegion(&rect, shape, shape);
    }
    const bool in = XPointInRegion(shape, x, y);
    XDestroyRegion(shape);
    return in;
  }
  // Another client's override-redirect window over that rectangle, mapped on top.
  Window cover(const Geometry& g) {
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0x0000FF;
    const Window w = XCreateWindow(probe->display(), probe->root(), g.x, g.y, g.width, g.height, 0,
                                   CopyFromParent, InputOutput, CopyFromParent,
                                   CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(probe->display(), w);
    XSync(probe->display(), False);
    return w;
  }
  // Whether `upper` lies above `lower` in the root's stacking order (bottom to top).
  bool above(Window upper, Window lower) {
    Window root = 0;
    Window parent = 0;
    Window* windows = nullptr;
    unsigned int n = 0;
    XQueryTree(probe->display(), probe->root(), &root, &parent, &windows, &n);
    const std::vector<Window> stack(windows, windows + n);
    XFree(windows);
    const auto at = [&](Window w) { return std::find(stack.begin(), stack.end(), w); };
    return at(upper) != stack.end() && at(lower) != stack.end() && at(upper) > at(lower);
  }
  int warnings(const std::string& text) {
    int n = 0;
    for (const auto& r : callback.reports())
      n += r.type == NativeUI::LogType::Warn && r.text == text;
    return n;
  }
  int linesStartingWith(const std::string& prefix) {
    int n = 0;
    for (const std::string& line : callback.lines()) n += line.rfind(prefix, 0) == 0;
    return n;
  }

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

  // The Shown event follows the shown report; it belongs to the show, not to the hide below.
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
  for (auto [x, y] :
       {std::pair{0, 0}, {5, 500}, {1274, 500}, {1279, 1023}, {640, 1018}, {640, 5}}) {
    EXPECT_TRUE(inFrame(x, y)) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{6, 6}, {640, 512}, {1273, 1017}, {640, 6}}) {
    EXPECT_FALSE(inFrame(x, y)) << x << "," << y;
  }

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

// A desktop at 200 %, published after the controller had connected: the next build reads it from
// the server and draws the 96-dpi indicator twice as large; an override of 1 brings today's back.
TEST_F(UiThread, HiDpiDesktopGetsTheIndicatorEnlargedAndAnOverrideOfOneUndoesIt) {
  server->run("sh -c \"echo 'Xft.dpi: 192' | xrdb -nocpp -merge\"");
  // Its fallback font is laid out by Pango, at the scale of the bar's own font.
  NativeUI::setChildControlBarText(WindowOrder::SharingText, "画面全体を共有しています");
  // The rows of the texts' children that hold ink: neither cut at the top nor at the bottom.
  auto expectTextsInside = [&](unsigned int minInkHeight) {
    for (auto [order, background] : {std::pair{WindowOrder::SharingText, kBarGreen},
                                     {WindowOrder::StopSharingText, kBarRed}}) {
      const Geometry g = child(order);
      const NativeUI::XImagePtr image(XGetImage(probe->display(), probe->root(), g.x, g.y, g.width,
                                                g.height, AllPlanes, ZPixmap));
      ASSERT_TRUE(image);
      int top = -1;
      int bottom = -1;
      for (unsigned int y = 0; y < g.height; ++y) {
        for (unsigned int x = 0; x < g.width; ++x) {
          if ((XGetPixel(image.get(), x, y) & 0xFFFFFF) == background) continue;
          if (top < 0) top = static_cast<int>(y);
          bottom = static_cast<int>(y);
        }
      }
      EXPECT_GE(top, 1) << static_cast<int>(order);
      EXPECT_LE(bottom, static_cast<int>(g.height) - 2) << static_cast<int>(order);
      EXPECT_GE(bottom - top + 1, static_cast<int>(minInkHeight)) << static_cast<int>(order);
    }
  };
  auto frameContains = [&](int x, int y) {
    for (const Geometry& r : probe->boundingShape(border)) {
      if (x >= r.x && x < r.x + static_cast<int>(r.width) && y >= r.y &&
          y < r.y + static_cast<int>(r.height)) {
        return true;
      }
    }
    return false;
  };

  showAndWait(1);
  const Geometry barGeometry = geometryOf(bar);
  EXPECT_EQ(barGeometry.height, 50u);
  EXPECT_EQ(barGeometry.y, kWorkAreaTop);
  EXPECT_EQ(barGeometry.x, 1280 / 2 + 1920 - static_cast<int>(barGeometry.width) / 2);
  for (Window c : children) EXPECT_EQ(geometryOf(c).height, 50u);
  // Margins and icons twice as wide: 16 + 4 + 24, 20 + 12 + 20, 24 + 4 + 24.
  EXPECT_EQ(child(WindowOrder::LeftDragHandle).width, 44u);
  EXPECT_EQ(child(WindowOrder::StopIcon).width, 52u);
  EXPECT_EQ(child(WindowOrder::RightDragHandle).width, 52u);
  // The frame is 12 pixels wide along each edge.
  for (auto [x, y] : {std::pair{11, 500}, {1268, 500}, {640, 11}, {640, 1012}}) {
    EXPECT_TRUE(frameContains(x, y)) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{12, 500}, {1267, 500}, {640, 12}, {640, 1011}}) {
    EXPECT_FALSE(frameContains(x, y)) << x << "," << y;
  }
  const Geometry left = child(WindowOrder::LeftDragHandle);
  const Geometry stop = child(WindowOrder::StopIcon);
  ASSERT_TRUE(waitUntil([&] { return probe->screenPixel(stop.x + 31, stop.y + 30) == kWhite; }));
  EXPECT_EQ(probe->screenPixel(1920 + 11, 500), kFrameGreen);
  EXPECT_NE(probe->screenPixel(1920 + 12, 500), kFrameGreen);
  // The stop square, columns 20-31 and rows 19-30; the grips, columns 16-19 and 22-25, rows
  // 11-38.
  EXPECT_EQ(probe->screenPixel(stop.x + 20, stop.y + 19), kWhite);
  EXPECT_EQ(probe->screenPixel(stop.x + 19, stop.y + 19), kBarRed);
  EXPECT_EQ(probe->screenPixel(stop.x + 32, stop.y + 30), kBarRed);
  EXPECT_EQ(probe->screenPixel(stop.x + 25, stop.y + 31), kBarRed);
  for (int column : {16, 19, 22, 25}) {
    EXPECT_EQ(probe->screenPixel(left.x + column, left.y + 11), kWhite) << column;
    EXPECT_EQ(probe->screenPixel(left.x + column, left.y + 38), kWhite) << column;
  }
  for (int column : {15, 20, 21, 26}) {
    EXPECT_EQ(probe->screenPixel(left.x + column, left.y + 20), kBarGreen) << column;
  }
  EXPECT_EQ(probe->screenPixel(left.x + 16, left.y + 10), kBarGreen);
  expectTextsInside(20);

  // A real pointer on the scaled bar: a press in the lower half of the stop text, and a drag
  // by either grip, within the monitor.
  const Geometry text = child(WindowOrder::StopSharingText);
  pressAt(text.x + static_cast<int>(text.width) / 2, text.y + 40);
  ASSERT_TRUE(callback.waitFor("stop", 1));
  const int y = kWorkAreaTop + 40;
  const int width = static_cast<int>(barGeometry.width);
  drag(barGeometry.x + 18, 2150, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 2150; })) << barX();
  ASSERT_TRUE(waitUntil([&] { return probe->pointerIsFree(); }));
  drag(barX() + width - 20, 3000, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 3000 - width; })) << barX();
  ASSERT_TRUE(waitUntil([&] { return probe->pointerIsFree(); }));
  drag(barX() + 18, 3150, y);
  EXPECT_TRUE(waitUntil([&] { return barX() == 3200 - width; })) << barX();
  EXPECT_EQ(geometryOf(bar).y, kWorkAreaTop);

  ASSERT_TRUE(controller->hideControlBar());
  controller->setScaleOverride(1);
  showAndWait(1, 1);
  EXPECT_EQ(geometryOf(bar).height, 25u);
  EXPECT_EQ(child(WindowOrder::LeftDragHandle).width, 22u);
  EXPECT_EQ(child(WindowOrder::StopIcon).width, 26u);
  EXPECT_TRUE(frameContains(5, 500));
  EXPECT_FALSE(frameContains(6, 500));
  const Geometry square = child(WindowOrder::StopIcon);
  ASSERT_TRUE(
      waitUntil([&] { return probe->screenPixel(square.x + 15, square.y + 14) == kWhite; }));
  EXPECT_EQ(probe->screenPixel(square.x + 16, square.y + 14), kBarRed);
  expectTextsInside(8);

  // The desktop goes to 150 % and its panel grows while the bar is down: the next build, with
  // no override, follows both, although the two showings before read them already.
  ASSERT_TRUE(controller->hideControlBar());
  controller->setScaleOverride(0);
  server->run("sh -c \"echo 'Xft.dpi: 144' | xrdb -nocpp -merge\"");
  server->run("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA 0," +
              std::to_string(kWorkAreaTop + 10) + ",3200,1043");
  showAndWait(1, 2);
  EXPECT_EQ(geometryOf(bar).height, 38u);
  EXPECT_EQ(geometryOf(bar).y, kWorkAreaTop + 10);

  // No work area: the top, then a new dock's strut on monitor 1 (not 0's); the root is unchanged.
  server->run("xprop -root -remove _NET_WORKAREA");
  for (int showing : {3, 4}) {
    ASSERT_TRUE(controller->hideControlBar());
    showAndWait(1, showing);
    EXPECT_EQ(geometryOf(bar).y, showing == 3 ? 0 : 40);
    for (std::string strut : {"40,0,0,0,0,0,1920,2000", "90,0,0,0,0,0,0,1919"}) {
      server->run("xprop -id " + std::to_string(cover(Geometry{0, 0, 9, 9})) +
                  " -f _NET_WM_STRUT_PARTIAL 32c -set _NET_WM_STRUT_PARTIAL 0,0," + strut + ",0,0");
    }
  }

  // Work areas that would put the 38-row bar off its 1024-row monitor are ignored, with one
  // warning in the showing: the struts' 40 rows hold instead; then struts too deep, the top.
  const auto warnings = [&](size_t from) {
    std::vector<std::string> found;
    const std::vector<Report> reports = callback.reports();
    for (size_t i = from; i < reports.size(); ++i) {
      const bool ignoring = reports[i].text.rfind("Ignoring ", 0) == 0;
      if (reports[i].type == LogType::Warn && ignoring) found.push_back(reports[i].text);
    }
    return found;
  };
  int showing = 5;
  for (const auto& [area, y] :
       std::vector<std::pair<std::string, int>>{{"0,986,3200,38", 986},
                                                {"0,-50,3200,1053", 40},
                                                {"0,1023,3200,1", 40},
                                                {"2147483647,2147483647,2147483647,2147483647", 40},
                                                {"0,27,3200,0", 40},
                                                {"0,5000,3200,1053", 40},
                                                {"", 0}}) {
    if (area.empty()) {
      server->run("xprop -root -remove _NET_WORKAREA");
      server->run("xprop -id " + std::to_string(cover(Geometry{0, 0, 9, 9})) +
                  " -f _NET_WM_STRUT_PARTIAL 32c -set _NET_WM_STRUT_PARTIAL " +
                  "0,0,1000,0,0,0,0,0,1920,2000,0,0");
    } else {
      server->run("xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA " + area);
    }
    ASSERT_TRUE(controller->hideControlBar());
    const size_t from = callback.reports().size();
    showAndWait(1, showing++);
    EXPECT_EQ(geometryOf(bar).y, y) << area;
    EXPECT_EQ(warnings(from).size(), y == 986 ? 0u : 1u) << area;
  }
  EXPECT_EQ(warnings(0).at(4),
            "Ignoring _NET_WORKAREA 0,5000,3200,1053: its top is not on the monitor");
  EXPECT_EQ(warnings(0).at(5),
            "Ignoring the docks' top struts (_NET_WM_STRUT_PARTIAL, "
            "_NET_WM_STRUT) of 1000 rows: the bar does not fit below them");
}

// Where an image differs clearly from its background: the ink's box, and the number of ink
// pixels in each column, whose profile tells glyphs apart from the same glyphs in another order.
struct Ink {
  int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
  std::vector<double> columns;
  double column(int i) const { return i >= 0 && left + i <= right ? columns[left + i] : 0; }
};
Ink inkOf(const std::vector<unsigned long>& pixels, int width, unsigned long background) {
  Ink ink;
  ink.columns.assign(width, 0);
  const auto channel = [](unsigned long pixel, int shift) { return int(pixel >> shift & 0xFF); };
  for (int i = 0; i < static_cast<int>(pixels.size()); ++i) {
    int difference = 0;
    for (int s : {0, 8, 16}) {
      difference = std::max(difference, std::abs(channel(pixels[i], s) - channel(background, s)));
    }
    if (difference < 96) continue;
    ++ink.columns[i % width];
    ink.left = std::min(ink.left, i % width), ink.right = std::max(ink.right, i % width);
    ink.top = std::min(ink.top, i / width), ink.bottom = i / width;
  }
  return ink;
}
// The correlation of the two column profiles, each from its ink's left edge, at the best of a
// few pixels' shift (Pango's viewer places glyphs at other fractions of a pixel): 1 when alike.
double likeness(const Ink& a, const Ink& b) {
  double best = 0;
  for (int shift = -2; shift <= 2; ++shift) {
    double ab = 0, aa = 0, bb = 0;
    for (int i = -2; i <= std::max(a.right - a.left, b.right - b.left) + 2; ++i) {
      ab += a.column(i) * b.column(i + shift), aa += a.column(i) * a.column(i);
      bb += b.column(i + shift) * b.column(i + shift);
    }
    best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

// Texts the bar's font lacks, or that need shaping or right-to-left order, look as Pango's own
// viewer draws them in the bar's font: each child as wide as the logical text plus its padding,
// the ink as wide and as high, whole inside the child, and its glyphs in the same order.
TEST_F(UiThread, TextsInEveryScriptLookAsTheLayoutLibraryDrawsThem) {
  const std::pair<std::string, std::string> showings[] = {
      {"画面全体を共有しています", "أنت تشارك الشاشة بأكملها"},
      {"אתה משתף את כל המסך", "आप पूरी स्क्रीन साझा कर रहे हैं"},
      {"Sharing 您正在共享整个屏幕", "คุณกำลังแชร์ทั้งหน้าจอ"}};
  int shown = 0;
  for (const auto& [sharing, stop] : showings) {
    NativeUI::setChildControlBarText(WindowOrder::SharingText, sharing);
    NativeUI::setChildControlBarText(WindowOrder::StopSharingText, stop);
    showAndWait(0, shown);
    for (auto [order, text, background, padding] :
         {std::tuple{WindowOrder::SharingText, sharing, kBarGreen, 13},
          {WindowOrder::StopSharingText, stop, kBarRed, 0}}) {
      const std::string file = "/tmp/pango-reference-" + std::to_string(getpid()) + ".png";
      server->run(
          "pango-view --font='Cantarell 11' --dpi=96 -q --margin=0 --background=black "
          "--foreground=white -o " +
          file + " --text='" + text + "'");
      unsigned char* rgba = nullptr;
      unsigned int width = 0, height = 0;
      ASSERT_EQ(lodepng_decode32_file(&rgba, &width, &height, file.c_str()), 0u) << text;
      std::vector<unsigned long> pixels(size_t{width} * height);
      for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = rgba[i * 4 + 1];  // grey: one channel
      free(rgba);
      std::remove(file.c_str());
      const Ink reference = inkOf(pixels, static_cast<int>(width), 0);
      const Geometry g = child(order);
      EXPECT_NEAR(static_cast<int>(g.width) - padding, static_cast<int>(width), 1) << text;
      Ink drawn;
      ASSERT_TRUE(waitUntil([&] {
        drawn = inkOf(probe->screenPixels(g), static_cast<int>(g.width), background);
        return drawn.right >= 0;
      })) << text;
      EXPECT_NEAR(drawn.right - drawn.left, reference.right - reference.left, 2) << text;
      EXPECT_NEAR(drawn.bottom - drawn.top, reference.bottom - reference.top, 2) << text;
      EXPECT_GE(drawn.top, 1) << text;
      EXPECT_LE(drawn.bottom, static_cast<int>(g.height) - 2) << text;
      EXPECT_GT(likeness(drawn, reference), 0.85) << text;  // mirrored: 0.56 to 0.70
    }
    ASSERT_TRUE(controller->hideControlBar());
    ++shown;
  }
}

// Another monitor moves, then ours takes a smaller mode: only our change moves the indicator,
// and it moves all of it, shape and pixels included, without a hidden or shown report.
TEST_F(UiThread, FrameAndBarFollowAModeChangeOfTheShownMonitorOnly) {
  showAndWait(0);
  const int width = static_cast<int>(geometryOf(bar).width);
  server->run("xrandr --output DUMMY1 --pos 1920x100");
  server->run("xrandr --output DUMMY0 --mode 1280x1024");
  ASSERT_TRUE(callback.waitForLine("Monitor changed, x:0, y:0, width:1280, height:1024"));
  // Handled in order: the other monitor's change, made first, moved nothing.
  EXPECT_EQ(linesStartingWith("Monitor changed"), 1);
  // The change's event follows its line.
  ASSERT_TRUE(waitUntil([&] { return !callback.monitorChanges().empty(); }));
  EXPECT_EQ(callback.monitorChanges(), (std::vector<testing_x::ChangedTo>{{0, 0, 1280, 1024}}));

  EXPECT_EQ(geometryOf(border), (Geometry{0, 0, 1280, 1024}));
  for (auto [x, y] : {std::pair{1274, 500}, {1279, 1023}, {640, 1018}}) {
    EXPECT_TRUE(inFrame(x, y)) << x << "," << y;
  }
  EXPECT_FALSE(inFrame(1273, 500));
  EXPECT_EQ(geometryOf(bar),
            (Geometry{640 - width / 2, kWorkAreaTop, static_cast<unsigned>(width), 25u}));
  EXPECT_TRUE(waitUntil([&] { return probe->screenPixel(1277, 500) == kFrameGreen; }));
  EXPECT_EQ(probe->screenPixel(640, 1021), kFrameGreen);
  EXPECT_NE(probe->screenPixel(1917, 500), kFrameGreen);  // where the right edge was
  EXPECT_TRUE(controller->isVisible());
  EXPECT_EQ(callback.count("shown"), 1);
  EXPECT_EQ(callback.count("hidden"), 0);
}

// A portrait mode swaps width and height like a rotation; a dragged bar keeps its x where it
// still fits and is clamped where it does not; a new position moves everything.
TEST_F(UiThread, ADraggedBarKeepsItsXThroughPortraitAndMovesWithItsMonitor) {
  showAndWait(1);
  const int width = static_cast<int>(geometryOf(bar).width);
  drag(barX() + 9, 2020, kWorkAreaTop + 12);
  ASSERT_TRUE(waitUntil([&] { return barX() == 2020; })) << barX();
  ASSERT_TRUE(waitUntil([&] { return probe->pointerIsFree(); }));

  server->run(
      "xrandr --newmode 1024x1280_t 85.00 1024 1072 1176 1328 1280 1283 1293 1320 "
      "-hsync +vsync");
  server->run("xrandr --addmode DUMMY1 1024x1280_t");
  server->run("xrandr --output DUMMY1 --mode 1024x1280_t");
  ASSERT_TRUE(callback.waitForLine("Monitor changed, x:1920, y:0, width:1024, height:1280"));
  EXPECT_EQ(geometryOf(border), (Geometry{1920, 0, 1024, 1280}));
  EXPECT_EQ(geometryOf(bar).x, 2020);
  EXPECT_TRUE(inFrame(1021, 1277));
  EXPECT_FALSE(inFrame(1017, 1273));
  EXPECT_TRUE(waitUntil([&] { return probe->screenPixel(1920 + 1021, 1200) == kFrameGreen; }));

  server->run("xrandr --output DUMMY1 --pos 2300x200");
  ASSERT_TRUE(callback.waitForLine("Monitor changed, x:2300, y:200, width:1024, height:1280"));
  EXPECT_EQ(geometryOf(border), (Geometry{2300, 200, 1024, 1280}));
  EXPECT_EQ(geometryOf(bar),
            (Geometry{2300, 200 + kWorkAreaTop, static_cast<unsigned>(width), 25u}));
  EXPECT_TRUE(waitUntil([&] { return probe->screenPixel(2302, 1000) == kFrameGreen; }));
  ASSERT_TRUE(waitUntil([&] { return callback.monitorChanges().size() >= 2; }));
  EXPECT_EQ(callback.monitorChanges(),
            (std::vector<testing_x::ChangedTo>{{1920, 0, 1024, 1280}, {2300, 200, 1024, 1280}}));
  EXPECT_EQ(callback.count("shown"), 1);
  EXPECT_EQ(callback.count("hidden"), 0);
}

// Switched off while shown: a warning first, then the indicator goes as after a hide, with its
// own reason, and the next show works on the list as it is now.
TEST_F(UiThread, SwitchingTheShownOutputOffTakesTheIndicatorDown) {
  showAndWait(1);
  server->run("xrandr --output DUMMY1 --off");
  ASSERT_TRUE(callback.waitForEvent(NativeUI::ShowingEvent::Kind::Ended));
  const std::string warning = "Shared monitor disconnected: " + server->display();
  std::vector<std::string> seen;
  for (const auto& r : callback.reports()) {
    if (r.kind != "log") seen.push_back(r.kind);
    if (r.kind == "log" && r.type == NativeUI::LogType::Warn) seen.push_back(r.text);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"shown", warning, "hidden"}));
  const auto events = callback.events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2].kind, NativeUI::ShowingEvent::Kind::Hidden);
  EXPECT_EQ(events[events.size() - 2].reason, NativeUI::HiddenReason::MonitorDisconnected);
  EXPECT_FALSE(controller->isVisible());
  EXPECT_FALSE(probe->exists(border));
  EXPECT_FALSE(probe->exists(bar));
  for (Window c : children) EXPECT_FALSE(probe->exists(c));
  EXPECT_EQ(linesStartingWith("Monitor changed"), 0);

  EXPECT_FALSE(controller->showControlBar(1));  // the list has one monitor now
  showAndWait(0, 1);
  EXPECT_TRUE(controller->isVisible());
  EXPECT_EQ(geometryOf(border), (Geometry{0, 0, 1920, 1080}));
}

// Another client's window shown, moved to the other monitor and destroyed, while the owner
// thread waits: the frame follows it, the bar goes with its centre, and its end takes all down.
TEST_F(UiThread, AWindowShowingFollowsItsWindowUntilItIsDestroyed) {
  const Window shared = cover(Geometry{2000, 300, 400, 200});
  ASSERT_EQ(controller->showControlBarOnWindow(shared), NativeUI::WindowLookup::Found);
  ASSERT_TRUE(callback.waitFor("shown"));
  border = callback.loggedId("Created border window: 0x([0-9A-F]+)", 0);
  bar = callback.loggedId("Created control bar window: 0x([0-9A-F]+)", 0);
  EXPECT_EQ(geometryOf(border), (Geometry{2000, 300, 400, 200}));
  EXPECT_EQ(geometryOf(bar).x, 1920 + 640 - static_cast<int>(geometryOf(bar).width) / 2);
  XMoveResizeWindow(probe->display(), shared, 100, 200, 300, 150);
  XSync(probe->display(), False);
  ASSERT_TRUE(callback.waitForLine("Shared window changed, x:100, y:200, width:300, height:150"));
  EXPECT_EQ(geometryOf(border), (Geometry{100, 200, 300, 150}));
  EXPECT_EQ(geometryOf(bar).x, 960 - static_cast<int>(geometryOf(bar).width) / 2);
  // Wider than 16-bit X geometry holds: the frame is cut to it rather than wrapped.
  XMoveResizeWindow(probe->display(), shared, -100, 200, 60000, 150);
  XSync(probe->display(), False);
  ASSERT_TRUE(callback.waitForLine("Shared window changed, x:-64, y:200, width:32767, height:150"));
  EXPECT_EQ(geometryOf(border), (Geometry{-64, 200, 32767, 150}));
  XDestroyWindow(probe->display(), shared);
  XSync(probe->display(), False);
  ASSERT_TRUE(callback.waitForEvent(NativeUI::ShowingEvent::Kind::Ended));
  const auto events = callback.events();
  EXPECT_EQ(events[events.size() - 2].reason, NativeUI::HiddenReason::WindowClosed);
  EXPECT_FALSE(probe->exists(border));
  EXPECT_FALSE(controller->isVisible());
}

// A window of another client mapped and raised over the bar, then one over the frame's left
// edge: the indicator comes back on top of each, bar above frame, and the screen shows it again.
TEST_F(UiThread, WindowsRaisedOverTheBarOrTheFrameAreCoveredAgain) {
  showAndWait(0);
  const Window overBar = cover(geometryOf(bar));
  XRaiseWindow(probe->display(), overBar);
  XSync(probe->display(), False);
  EXPECT_TRUE(waitUntil([&] { return above(bar, border) && above(border, overBar); }));
  const Geometry stop = child(WindowOrder::StopIcon);
  EXPECT_TRUE(waitUntil([&] { return probe->screenPixel(stop.x + 12, stop.y + 12) == kWhite; }));

  const Window overFrame = cover(Geometry{0, 400, 200, 100});
  EXPECT_TRUE(waitUntil([&] { return above(bar, border) && above(border, overFrame); }));
  EXPECT_TRUE(waitUntil([&] { return probe->screenPixel(2, 450) == kFrameGreen; }));
  EXPECT_EQ(warnings("Another window keeps covering the indicator"), 0);
  EXPECT_TRUE(controller->isVisible());
}

// Another always-on-top client raising its window over the bar for two seconds: the indicator
// answers at most ten times within a second, then once a second, and says so once.
TEST_F(UiThread, AClientRaisingOverTheBarInALoopMeetsTheRaiseLimitAndOneWarning) {
  showAndWait(0);
  const Window overBar = cover(geometryOf(bar));
  Display* d = probe->display();
  XSelectInput(d, bar, StructureNotifyMask);  // each raise of the bar is a ConfigureNotify
  XSync(d, False);
  const auto start = std::chrono::steady_clock::now();
  std::thread raiser([&] {
    Display* r = XOpenDisplay(server->display().c_str());
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
      XRaiseWindow(r, overBar);
      XSync(r, False);
    }
    XCloseDisplay(r);
  });
  raiser.join();
  ASSERT_TRUE(waitUntil([&] { return above(bar, overBar); }));  // the once-a-second retry
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  XSync(d, False);
  int raises = 0;
  XEvent event;
  while (XCheckTypedWindowEvent(d, bar, ConfigureNotify, &event)) ++raises;
  EXPECT_GE(raises, 10);
  EXPECT_LE(raises, 10 + static_cast<int>(std::ceil(seconds)) + 1) << seconds << " s";
  EXPECT_EQ(warnings("Another window keeps covering the indicator"), 1);
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.count("hidden"), 1);
}

TEST(RaisePolicy, TenRaisesInASecondThenOneWarningAndOneRaiseASecondUntilALookFindsNothing) {
  using std::chrono::milliseconds;
  const NativeUI::RaisePolicy::Clock::time_point t{};
  NativeUI::RaisePolicy policy;
  // Spread over a second, the first raise has expired by the eleventh.
  for (int i = 0; i <= 10; ++i) EXPECT_TRUE(policy.covered(t + milliseconds(100 * i)).raise) << i;
  EXPECT_FALSE(policy.nextLook());
  const auto u = t + milliseconds(5000);
  for (int i = 0; i < 10; ++i) policy.covered(u + milliseconds(i));
  const auto eleventh = policy.covered(u + milliseconds(10));
  EXPECT_TRUE(!eleventh.raise && eleventh.warn);
  EXPECT_EQ(policy.nextLook(), u + milliseconds(1009));
  // Covered before the retry: nothing, not even a second warning; the Unobscured after our own
  // raise does not end the episode, and the retry raises.
  const auto early = policy.covered(u + milliseconds(500));
  EXPECT_FALSE(early.raise || early.warn);
  policy.clear(u + milliseconds(600));
  EXPECT_TRUE(policy.nextLook());
  const auto retry = policy.covered(u + milliseconds(1009));
  EXPECT_TRUE(retry.raise && !retry.warn);
  // A look a second after the last raise finds nothing: the episode is over; a later one warns.
  policy.clear(u + milliseconds(2009));
  EXPECT_FALSE(policy.nextLook());
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(policy.covered(u + milliseconds(3000 + i)).raise);
  EXPECT_TRUE(policy.covered(u + milliseconds(3010)).warn);
}

TEST(UiThreadWithoutArgbVisual, BuildFailsWithAClearLineAndNothingCrashes) {
  auto server = XServer::start("xvfb-nocomposite", {"1280x1024x24"});
  ScopedDisplay env(server->display());
  RecordingCallback callback;
  NativeUIController controller(&callback);
  ASSERT_TRUE(controller.showControlBar(0));
  ASSERT_TRUE(callback.waitForEvent(NativeUI::ShowingEvent::Kind::Ended));
  // The thread ended by itself: the same monitor again starts a fresh one rather than report
  // success for a bar that is not there.
  ASSERT_TRUE(controller.showControlBar(0));
  EXPECT_TRUE(controller.hideControlBar());
  EXPECT_EQ(callback.count("shown"), 0);
  EXPECT_FALSE(controller.isVisible());
  using Kind = NativeUI::ShowingEvent::Kind;
  using NativeUI::HiddenReason;
  const std::string line = "XMatchVisualInfo(): No 32-bit TrueColor visual: " + server->display();
  EXPECT_EQ(callback.events(),
            (std::vector<testing_x::RecordedEvent>{{Kind::Started, 1, HiddenReason::Hide, ""},
                                                   {Kind::Failed, 1, HiddenReason::Hide, line},
                                                   {Kind::Ended, 1, HiddenReason::Hide, ""},
                                                   {Kind::Started, 2, HiddenReason::Hide, ""},
                                                   {Kind::Failed, 2, HiddenReason::Hide, line},
                                                   {Kind::Ended, 2, HiddenReason::Hide, ""}}));
  int failures = 0;
  for (const auto& report : callback.reports()) {
    failures += report.text == line && report.type == NativeUI::LogType::Error;
  }
  EXPECT_EQ(failures, 2);
}

}  // namespace
