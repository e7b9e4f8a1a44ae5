// The controller's public operations on real servers: what they log, in which order, and how
// they start and join the UI thread.
// gtest before Xlib: Xlib's macros (None, Bool) break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <future>
#include <regex>
#include <set>

#include "NativeUIController.h"
#include "XConnection.h"
#include "support/RecordingCallback.h"
#include "support/XServer.h"

using NativeUI::LogType;
using NativeUI::NativeUIController;
using NativeUI::XErrorSuppressor;
using testing_x::RecordingCallback;
using testing_x::ScopedDisplay;
using testing_x::XServer;

namespace {

using Lines = std::vector<std::string>;

const std::string kMonitor0 =
    "showControlBar: Current monitor details, x:0, y:0, width:1920, height:1080";
const std::string kMonitor1 =
    "showControlBar: Current monitor details, x:1920, y:0, width:1280, height:1024";

// The lines that the public operations themselves write, and the UI thread's closing line; the
// lines of building and tearing down the bar are left out so that the order of the operations
// stands out.
Lines operationLines(const RecordingCallback& callback) {
  static const std::regex operation(
      "(show|hide)ControlBar(: .*)?|runNativeUIControllerThread: Completed");
  Lines out;
  for (const std::string& line : callback.lines()) {
    if (std::regex_match(line, operation)) out.push_back(line);
  }
  return out;
}

class Controller : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xorg");
    server->layoutSideBySide();
    env = std::make_unique<ScopedDisplay>(server->display());
    controller = std::make_unique<NativeUIController>(&callback);
  }
  void TearDown() override { controller.reset(); }

  std::unique_ptr<XServer> server;
  std::unique_ptr<ScopedDisplay> env;
  RecordingCallback callback;
  std::unique_ptr<NativeUIController> controller;
};

TEST_F(Controller, IndexEqualToMonitorCountIsRefusedAfterOneLine) {
  EXPECT_FALSE(controller->showControlBar(2));
  EXPECT_EQ(callback.lines(), Lines{"showControlBar"});
  const auto reports = callback.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].format, "%s");
  EXPECT_EQ(reports[0].type, LogType::Log);
  EXPECT_FALSE(controller->showControlBar(0xFFFFFFFFu));
}

TEST_F(Controller, ShowLogsTheChosenMonitorAndStartsTheThread) {
  ASSERT_TRUE(controller->showControlBar(1));
  const auto reports = callback.reports();
  ASSERT_GE(reports.size(), 3u);
  EXPECT_EQ(reports[0].text, "showControlBar");
  EXPECT_EQ(reports[1].format, "%s: Current monitor details, x:%d, y:%d, width:%d, height:%d");
  EXPECT_EQ(reports[1].text, kMonitor1);
  EXPECT_EQ(operationLines(callback),
            (Lines{"showControlBar", kMonitor1, "showControlBar: Completed"}));
}

TEST_F(Controller, SameIndexTwiceWhileRunningDoesNothing) {
  ASSERT_TRUE(controller->showControlBar(0));
  callback.clear();
  EXPECT_TRUE(controller->showControlBar(0));
  EXPECT_EQ(operationLines(callback), Lines{"showControlBar"});
}

// Listing the monitors on a connection of its own while the UI thread built the bar on another
// corrupted the heap in about one process in a thousand. Neither may touch the X libraries out
// of its turn: with the turn held elsewhere, the build does not start and a second show does not
// list; both go on once the turn is given back.
TEST_F(Controller, ListingAndBuildingTakeTurnsWithTheXLibraries) {
  NativeUI::XlibTurn held(NativeUI::xlibTurns());
  auto first = std::async(std::launch::async, [&] { return controller->showControlBar(0); });
  // The listing of the first show waits, so nothing has been started yet.
  EXPECT_FALSE(callback.waitForLine(kMonitor0, std::chrono::milliseconds(200)));
  held.unlock();
  ASSERT_TRUE(first.get());
  ASSERT_TRUE(callback.waitFor("shown"));

  held.lock();
  auto second = std::async(std::launch::async, [&] { return controller->showControlBar(0); });
  ASSERT_TRUE(callback.waitForLine("showControlBar"));
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  held.unlock();
  EXPECT_TRUE(second.get());
}

TEST_F(Controller, DifferentIndexWhileRunningHidesFirst) {
  ASSERT_TRUE(controller->showControlBar(0));
  callback.clear();
  ASSERT_TRUE(controller->showControlBar(1));
  EXPECT_EQ(operationLines(callback),
            (Lines{"showControlBar", "hideControlBar", "runNativeUIControllerThread: Completed",
                   "hideControlBar: Completed", kMonitor1, "showControlBar: Completed"}));
}

TEST_F(Controller, HideWithoutShowLogsOnlyItsTwoLines) {
  EXPECT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.lines(), (Lines{"hideControlBar", "hideControlBar: Completed"}));
  EXPECT_FALSE(controller->isVisible());
}

TEST_F(Controller, HideTwiceLogsOnlyTwoLinesTheSecondTime) {
  ASSERT_TRUE(controller->showControlBar(0));
  EXPECT_TRUE(controller->hideControlBar());
  EXPECT_EQ(operationLines(callback),
            (Lines{"showControlBar", kMonitor0, "showControlBar: Completed", "hideControlBar",
                   "runNativeUIControllerThread: Completed", "hideControlBar: Completed"}));
  callback.clear();
  EXPECT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.lines(), (Lines{"hideControlBar", "hideControlBar: Completed"}));
}

TEST_F(Controller, ShowAfterHideStartsAFreshThread) {
  ASSERT_TRUE(controller->showControlBar(0));
  ASSERT_TRUE(controller->hideControlBar());
  callback.clear();
  ASSERT_TRUE(controller->showControlBar(0));
  EXPECT_EQ(operationLines(callback),
            (Lines{"showControlBar", kMonitor0, "showControlBar: Completed"}));
}

TEST_F(Controller, UpdateCallbackRedirectsEveryLaterReport) {
  RecordingCallback second;
  controller->updateCallback(&second);
  ASSERT_TRUE(controller->showControlBar(0));
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_TRUE(callback.lines().empty());
  EXPECT_EQ(operationLines(second).front(), "showControlBar");
  EXPECT_EQ(operationLines(second).back(), "hideControlBar: Completed");
  controller->updateCallback(&callback);  // `second` dies before the controller does
}

TEST_F(Controller, DestructorHidesAndPrintsItsLines) {
  ASSERT_TRUE(controller->showControlBar(0));
  ASSERT_TRUE(callback.waitFor("shown"));  // the build's own lines are printed by then
  const std::string address = [&] {
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%p", static_cast<void*>(controller.get()));
    return std::string(buffer);
  }();
  testing::internal::CaptureStdout();
  controller.reset();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "~NativeUIController\n~NativeUIController: Completed\n~NativeUIController:" +
                     address + "\n");
  const Lines lines = operationLines(callback);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "runNativeUIControllerThread: Completed");
  EXPECT_EQ(lines.back(), "hideControlBar: Completed");
}

TEST(ControllerConstruction, PrintsItsAddress) {
  RecordingCallback callback;
  ScopedDisplay env(":4093");
  testing::internal::CaptureStdout();
  auto controller = std::make_unique<NativeUIController>(&callback);
  const std::string out = testing::internal::GetCapturedStdout();
  char expected[64];
  snprintf(expected, sizeof(expected), "NativeUIController:%p\n",
           static_cast<void*>(controller.get()));
  EXPECT_EQ(out, expected);
}

TEST(ControllerWithoutServer, ShowIsRefusedAndNothingCrashes) {
  RecordingCallback callback;
  ScopedDisplay env(":4093");
  NativeUIController controller(&callback);
  EXPECT_FALSE(controller.showControlBar(0));
  EXPECT_TRUE(controller.hideControlBar());
  EXPECT_FALSE(controller.isVisible());
  EXPECT_EQ(callback.lines(),
            (Lines{"showControlBar", "hideControlBar", "hideControlBar: Completed"}));
}

// A host that made its controller before DISPLAY named a live server (an app started at login):
// the next show opens the connection that construction could not, and the bar comes up.
TEST(ControllerWithoutServer, AServerThatComesLaterShowsTheBar) {
  auto server = XServer::start("xorg");
  server->layoutSingle();
  RecordingCallback callback;
  std::unique_ptr<NativeUIController> controller;
  {
    ScopedDisplay broken(":4093");
    controller = std::make_unique<NativeUIController>(&callback);
    EXPECT_FALSE(controller->showControlBar(0));
  }
  ScopedDisplay env(server->display());
  ASSERT_TRUE(controller->showControlBar(0));
  ASSERT_TRUE(callback.waitFor("shown"));
  EXPECT_TRUE(controller->isVisible());
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.count("hidden"), 1);
  for (const auto& report : callback.reports())
    EXPECT_NE(report.type, LogType::Error) << report.text;
  controller.reset();
}

TEST(ErrorSuppressor, PrintsAndIgnoresErrorsThenRestoresTheHandler) {
  auto server = XServer::start("xvfb", {"640x480x24"});
  Display* display = XOpenDisplay(server->display().c_str());
  ASSERT_NE(display, nullptr);
  static int previousCalls = 0;
  XErrorHandler previous = [](Display*, XErrorEvent*) -> int { return ++previousCalls, 0; };
  XSetErrorHandler(previous);
  {
    XErrorSuppressor suppressor(display);
    testing::internal::CaptureStdout();
    XDestroyWindow(display, 0x1234567);
    XSync(display, False);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Received X11 error \"BadWindow (invalid Window parameter)\" for request code 4, "
              "error code 3, resource id: 0x01234567\n");
    EXPECT_EQ(previousCalls, 0);
  }
  EXPECT_EQ(XSetErrorHandler(nullptr), previous);
  XCloseDisplay(display);
}

}  // namespace
