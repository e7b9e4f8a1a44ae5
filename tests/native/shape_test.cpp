// Window shapes as the server holds them: the border window's hollow frame and the bar's rounded
// lower corners.
#include <gtest/gtest.h>
// Xlib after gtest: Xlib's macros (None, Bool) break gtest's templates.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "MonitorList.h"
#include "X11Utils.h"
#include "XHandles.h"
#include "support/XServer.h"

using NativeUI::DisplayPtr;
using testing_x::XServer;

namespace {

using Box = std::tuple<int, int, int, int>;  // x, y, width, height

class Shapes : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xvfb");
    display.reset(XOpenDisplay(server->display().c_str()));
    ASSERT_TRUE(display);
  }

  Display* d() { return display.get(); }
  Window window(int width, int height) {
    return XCreateSimpleWindow(d(), DefaultRootWindow(d()), 0, 0, width, height, 0, 0, 0);
  }

  // The region as the server keeps it: y-x banded rectangles.
  std::vector<Box> region(Window window, int kind) {
    XSync(d(), False);
    int count = 0;
    int ordering = 0;
    NativeUI::XPtr<XRectangle> rectangles(
        XShapeGetRectangles(d(), window, kind, &count, &ordering));
    std::vector<Box> out;
    for (int i = 0; i < count; ++i) {
      const XRectangle& r = rectangles.get()[i];
      out.emplace_back(r.x, r.y, r.width, r.height);
    }
    return out;
  }

  static bool contains(const std::vector<Box>& boxes, int x, int y) {
    for (const auto& [bx, by, bw, bh] : boxes) {
      if (x >= bx && x < bx + bw && y >= by && y < by + bh) return true;
    }
    return false;
  }

  std::unique_ptr<XServer> server;
  DisplayPtr display;
};

TEST_F(Shapes, BorderWindowIsASixPixelFrame) {
  const Window border = window(1920, 1080);
  NativeUI::MonitorInfo monitor{};
  monitor.x = 1920;  // only the size counts: the shape is relative to the window
  monitor.width = 1920;
  monitor.height = 1080;
  NativeUI::setWindowShape(d(), border, monitor);
  // The top, right, bottom and left strips, as the server bands them.
  EXPECT_EQ(
      region(border, ShapeBounding),
      (std::vector<Box>{{0, 0, 1920, 6}, {0, 6, 6, 1068}, {1914, 6, 6, 1068}, {0, 1074, 1920, 6}}));
  const auto frame = region(border, ShapeBounding);
  EXPECT_TRUE(contains(frame, 1919, 1079));
  EXPECT_TRUE(contains(frame, 5, 540));
  EXPECT_FALSE(contains(frame, 6, 6));
  EXPECT_FALSE(contains(frame, 1913, 1073));
}

TEST_F(Shapes, BarLosesItsBottomCornersOnly) {
  const int width = 300;
  const Window bar = window(width, 25);
  testing::internal::CaptureStdout();
  NativeUI::setCurvedBorder(d(), bar, width, 25, 4);
  XSync(d(), False);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Shape extension initialised\n");

  const auto shape = region(bar, ShapeBounding);
  EXPECT_EQ(region(bar, ShapeClip), shape);
  struct Point {
    int x, y;
    bool in;
  };
  for (const Point& p :
       {Point{0, 0, true}, Point{width - 1, 0, true}, Point{0, 20, true},
        Point{width - 1, 20, true}, Point{150, 24, true}, Point{4, 24, true},
        Point{width - 5, 24, true}, Point{0, 24, false}, Point{width - 1, 24, false},
        Point{3, 24, false}, Point{width - 4, 24, false},
        // the right circle stands one pixel in from the edge
        Point{width - 1, 21, false}, Point{width - 2, 21, true}}) {
    EXPECT_EQ(contains(shape, p.x, p.y), p.in) << p.x << "," << p.y;
  }
}

TEST_F(Shapes, RadiusZeroKeepsTheWholeRectangle) {
  const Window bar = window(120, 25);
  testing::internal::CaptureStdout();
  NativeUI::setCurvedBorder(d(), bar, 120, 25, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(region(bar, ShapeBounding), (std::vector<Box>{{0, 0, 120, 25}}));
}

}  // namespace
