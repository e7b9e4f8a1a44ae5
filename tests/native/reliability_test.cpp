// Faults a desktop library meets in the field: the X connection killed or the server gone
// while the bar is shown, and texts far too long for the bar.
// gtest before Xlib: Xlib's macros (None, Bool) break gtest's templates.
#include <gtest/gtest.h>

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>

#include "BarPainter.h"
#include "NativeUIController.h"
#include "TextFit.h"
#include "TextLayout.h"
#include "support/Probe.h"
#include "support/RecordingCallback.h"
#include "support/XServer.h"

using NativeUI::NativeUIController;
using NativeUI::WindowOrder;
using testing_x::Geometry;
using testing_x::Probe;
using testing_x::RecordingCallback;
using testing_x::ScopedDisplay;
using testing_x::XServer;

namespace {

class ConnectionLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xorg");
    server->layoutSingle();
    env = std::make_unique<ScopedDisplay>(server->display());
    controller = std::make_unique<NativeUIController>(&callback);
    ASSERT_TRUE(controller->showControlBar(0));
    ASSERT_TRUE(callback.waitFor("shown"));
  }
  void TearDown() override { controller.reset(); }

  std::unique_ptr<XServer> server;
  std::unique_ptr<ScopedDisplay> env;
  RecordingCallback callback;
  std::unique_ptr<NativeUIController> controller;
};

// Xlib's default I/O error handling would exit() this very test process.
TEST_F(ConnectionLoss, KilledConnectionEndsTheShowingAndTheNextShowReconnects) {
  {
    Probe probe(server->display());
    XKillClient(probe.display(), callback.loggedId("Created control bar window: 0x([0-9A-F]+)"));
    XSync(probe.display(), False);
  }
  ASSERT_TRUE(callback.waitFor("hidden"));
  EXPECT_TRUE(callback.waitForLine("X connection lost: " + server->display()));
  EXPECT_TRUE(callback.waitForLine("runNativeUIControllerThread: Completed"));
  EXPECT_FALSE(controller->isVisible());
  ASSERT_TRUE(callback.waitForEvent(NativeUI::ShowingEvent::Kind::Ended));
  {
    // Lost after it was shown: a hidden bar with its reason, not a failed build.
    using Kind = NativeUI::ShowingEvent::Kind;
    std::vector<Kind> kinds;
    for (const auto& e : callback.events()) kinds.push_back(e.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Started, Kind::Shown, Kind::Hidden, Kind::Ended}));
    EXPECT_EQ(callback.events()[2].reason, NativeUI::HiddenReason::ConnectionLost);
  }

  ASSERT_TRUE(controller->showControlBar(0));
  ASSERT_TRUE(callback.waitFor("shown", 2));
  EXPECT_TRUE(controller->isVisible());
  ASSERT_TRUE(controller->hideControlBar());
  EXPECT_EQ(callback.count("hidden"), 2);
}

// Another client grabs the server while the bar is shown: the teardown's DestroyNotify cannot
// come. The hide returns after about a second with hidden and ended reported for the thread, a
// show meanwhile fails in as long without a second thread, and once the grab ends the thread
// ends by itself, says nothing more, and the next show works.
TEST_F(ConnectionLoss, AServerGrabBoundsHideAndShowAndTheLeftThreadEndsAfterIt) {
  using Kind = NativeUI::ShowingEvent::Kind;
  const auto kinds = [&] {
    std::vector<Kind> found;
    for (const auto& e : callback.events()) found.push_back(e.kind);
    return found;
  };
  Probe grabber(server->display());
  XGrabServer(grabber.display());
  XSync(grabber.display(), False);
  for (int call = 0; call < 2; ++call) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(call == 0 ? controller->hideControlBar() : controller->showControlBar(0));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << call;
  }
  EXPECT_FALSE(controller->isVisible());
  EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::Started, Kind::Shown, Kind::Hidden, Kind::Ended,
                                        Kind::Started, Kind::Failed, Kind::Ended}));
  EXPECT_EQ(callback.events()[6].showing, 2u);
  EXPECT_EQ(callback.count("hidden"), 1);
  XUngrabServer(grabber.display());
  XSync(grabber.display(), False);
  ASSERT_TRUE(controller->showControlBar(0));
  ASSERT_TRUE(callback.waitFor("shown", 2));
  ASSERT_TRUE(controller->hideControlBar());
  const auto events = callback.events();
  ASSERT_EQ(events.size(), 11u);  // the third showing's four, nothing more of the first
  for (size_t i = 7; i < events.size(); ++i) EXPECT_EQ(events[i].showing, 3u) << i;
}

// The second server then goes away while nothing is shown: its dead connection is only found by
// the next show, which must still bring the bar up on a third server at the first attempt.
TEST_F(ConnectionLoss, ServerDeathEndsTheShowingAndANewServerWorksAlsoAfterAnIdleDeath) {
  server->stop();
  ASSERT_TRUE(callback.waitFor("hidden"));
  EXPECT_TRUE(callback.waitForLine("runNativeUIControllerThread: Completed"));
  EXPECT_FALSE(controller->isVisible());
  EXPECT_TRUE(controller->hideControlBar());

  for (int shown = 2; shown <= 3; ++shown) {
    auto next = XServer::start("xorg");
    next->layoutSingle();
    ScopedDisplay nextEnv(next->display());
    const size_t before = callback.reports().size();
    ASSERT_TRUE(controller->showControlBar(0));
    ASSERT_TRUE(callback.waitFor("shown", shown));
    ASSERT_TRUE(controller->hideControlBar());
    const auto reports = callback.reports();
    for (size_t i = before; i < reports.size(); ++i) {
      EXPECT_NE(reports[i].type, NativeUI::LogType::Error) << reports[i].text;
    }
  }
  controller.reset();
}

// Kills the controller's connection from inside the build, at the line that names the border
// window, so that the rest of the build runs on a dead connection.
class KillDuringBuild : public RecordingCallback {
 public:
  explicit KillDuringBuild(std::string display) : _display(std::move(display)) {}
  void onLine(const std::string& text) override {
    unsigned int border = 0;
    if (_armed.load() && sscanf(text.c_str(), "Created border window: 0x%X", &border) == 1) {
      _armed.store(false);
      Display* killer = XOpenDisplay(_display.c_str());
      XKillClient(killer, border);
      XSync(killer, False);
      XCloseDisplay(killer);
      // Now a write like Xlib's own when the server closes the socket between libxcb's poll
      // and its write: it must fail with EPIPE, not raise SIGPIPE (this process leaves SIGPIPE
      // at its default, which ends it).
      int ends[2];
      if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
        close(ends[1]);
        _brokenWriteError.store(write(ends[0], "x", 1) < 0 ? errno : 0);
        close(ends[0]);
      }
    }
  }
  int brokenWriteError() const { return _brokenWriteError.load(); }

 private:
  std::string _display;
  std::atomic<int> _brokenWriteError{-1};
  std::atomic<bool> _armed{true};  // lines come from the UI thread and the caller's
};

// While it lives, fontconfig knows no font at all: a build then fails at its font, before its
// loop.
class NoFonts {
 public:
  NoFonts() : _saved(FcConfigReference(nullptr)) {
    FcConfig* empty = FcConfigCreate();
    FcConfigSetCurrent(empty);
    FcConfigDestroy(empty);
  }
  ~NoFonts() {
    FcConfigSetCurrent(_saved);
    FcConfigDestroy(_saved);
  }
  NoFonts(const NoFonts&) = delete;
  NoFonts& operator=(const NoFonts&) = delete;

 private:
  FcConfig* _saved;
};

// The connection dies in the middle of a build. Whether the build then reaches its loop (the
// font opens) or fails before it (it does not), the showing fails with the loss as its reason,
// reports neither shown nor hidden, and the next show reconnects. On the path that fails before
// the loop, only the UI thread, which met the loss, can release the dead connection: on the
// owner thread (next show, destructor) Xlib would have to take a lock that thread left held.
TEST(ConnectionLossDuringBuild, TheShowingFailsWithTheLossAndTheNextShowReconnects) {
  using Kind = NativeUI::ShowingEvent::Kind;
  for (const bool fonts : {true, false}) {
    SCOPED_TRACE(fonts ? "build reaches its loop" : "build fails at the font");
    auto server = XServer::start("xorg");
    server->layoutSingle();
    ScopedDisplay env(server->display());
    KillDuringBuild callback(server->display());
    auto controller = std::make_unique<NativeUIController>(&callback);
    {
      std::unique_ptr<NoFonts> noFonts(fonts ? nullptr : new NoFonts);
      ASSERT_TRUE(controller->showControlBar(0));
      ASSERT_TRUE(callback.waitForEvent(Kind::Ended));
    }
    const std::string lost = "X connection lost: " + server->display();
    const auto events = callback.events();
    EXPECT_EQ(events[events.size() - 2],
              (testing_x::RecordedEvent{Kind::Failed, 1, NativeUI::HiddenReason::Hide, lost}));
    EXPECT_EQ(callback.count("shown") + callback.count("hidden"), 0);
    EXPECT_EQ(callback.brokenWriteError(), EPIPE);

    ASSERT_TRUE(controller->showControlBar(0));
    ASSERT_TRUE(callback.waitFor("shown"));
    ASSERT_TRUE(controller->hideControlBar());
    EXPECT_EQ(callback.count("hidden"), 1);
    controller.reset();
  }
}

class TextFit : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xvfb", {"640x480x24"});
    display = XOpenDisplay(server->display().c_str());
    ASSERT_NE(display, nullptr);
    font = XftFontOpen(display, DefaultScreen(display), XFT_FAMILY, XftTypeString, "cantarell",
                       XFT_SIZE, XftTypeDouble, 11.0, nullptr);
    ASSERT_NE(font, nullptr);
  }
  void TearDown() override {
    XftFontClose(display, font);
    XCloseDisplay(display);
  }
  int width(const std::string& text) {
    XGlyphInfo extent{};
    XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text.data()),
                       static_cast<int>(text.size()), &extent);
    return extent.width;
  }

  std::unique_ptr<XServer> server;
  Display* display = nullptr;
  XftFont* font = nullptr;
};

TEST_F(TextFit, CutsAtCharacterOrClusterBoundariesAndKnowsWhatXftDrawsAlone) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC";  // a, e-acute (2 bytes), euro sign (3 bytes)
  EXPECT_EQ(NativeUI::cutAtCharacter(text, 10), text);
  EXPECT_EQ(NativeUI::cutAtCharacter(text, 6), text);
  EXPECT_EQ(NativeUI::cutAtCharacter(text, 5), "a\xC3\xA9");
  EXPECT_EQ(NativeUI::cutAtCharacter(text, 4), "a\xC3\xA9");
  EXPECT_EQ(NativeUI::cutAtCharacter(text, 2), "a");
  EXPECT_EQ(NativeUI::cutAtCharacter(text, 0), "");
  // Texts that Pango lays out are cut between clusters (e with its combining acute stays whole);
  // marks alone are one cluster, cut at a character.
  EXPECT_EQ(NativeUI::cutAtCluster("ae\xCC\x81", 3), "a");
  EXPECT_EQ(NativeUI::cutAtCluster("\xCC\x81\xCC\x81\xCC\x81", 5), "\xCC\x81\xCC\x81");
  // Xft keeps Latin, Cyrillic and Greek; a mark, a bidi override, a newline or NUL go to Pango.
  EXPECT_TRUE(NativeUI::fontDrawsAlone(display, font, "Stop\xE2\x80\xA6 \xD0\x92\xCE\xB5"));
  const std::string laidOut[] = {"e\xCC\x81", "\xE2\x80\xAE!", "a\nb", "\xC3!", {"a\0b", 3}};
  for (const std::string& text : laidOut) {
    EXPECT_FALSE(NativeUI::fontDrawsAlone(display, font, text)) << text;
  }
}

TEST_F(TextFit, TextsThatFitAreKeptAndOthersEndInAnEllipsis) {
  const std::string text = "You are sharing entire screen";
  EXPECT_EQ(NativeUI::fitTextToWidth(display, font, text, width(text)), text);

  const std::string fitted = NativeUI::fitTextToWidth(display, font, text, width(text) / 2);
  ASSERT_GE(fitted.size(), 3u);
  EXPECT_EQ(fitted.substr(fitted.size() - 3), "\xE2\x80\xA6");
  EXPECT_EQ(text.compare(0, fitted.size() - 3, fitted, 0, fitted.size() - 3), 0);
  EXPECT_LE(width(fitted), width(text) / 2);
  // One more character would not have fitted.
  const std::string longer = text.substr(0, fitted.size() - 3 + 1) + "\xE2\x80\xA6";
  EXPECT_GT(width(longer), width(text) / 2);

  EXPECT_EQ(NativeUI::fitTextToWidth(display, font, text, 0), "");
  // Multi-byte characters are never split.
  std::string many;
  for (int i = 0; i < 100; ++i) many += "\xE2\x82\xAC";
  const std::string cut = NativeUI::fitTextToWidth(display, font, many, 50);
  EXPECT_EQ(cut.size() % 3, 0u);
}

class LongTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    server = XServer::start("xorg");
    server->layoutSingle("1024x768");
    env = std::make_unique<ScopedDisplay>(server->display());
    probe = std::make_unique<Probe>(server->display());
    controller = std::make_unique<NativeUIController>(&callback);
  }
  void TearDown() override {
    controller.reset();
    NativeUI::setChildControlBarText(WindowOrder::SharingText, "");
    NativeUI::setChildControlBarText(WindowOrder::StopSharingText, "");
  }
  // The width of the bar that the Wayland backend lays out from the same table on this monitor.
  static int waylandBarWidth(int monitorWidth) {
    PangoFontMap* fonts = pango_cairo_font_map_new();
    NativeUI::BarPainter::Rows rows;
    std::copy(std::begin(NativeUI::ChildControlBarWins), std::end(NativeUI::ChildControlBarWins),
              rows.begin());
    const int width = NativeUI::BarPainter(fonts, rows, 1, 25, monitorWidth).width();
    g_object_unref(fonts);
    return width;
  }
  Geometry showAndMeasureBar() {
    EXPECT_TRUE(controller->showControlBar(0));
    EXPECT_TRUE(callback.waitFor("shown"));
    Geometry bar;
    EXPECT_TRUE(
        probe->geometry(callback.loggedId("Created control bar window: 0x([0-9A-F]+)"), bar));
    return bar;
  }

  std::unique_ptr<XServer> server;
  std::unique_ptr<ScopedDisplay> env;
  std::unique_ptr<Probe> probe;
  RecordingCallback callback;
  std::unique_ptr<NativeUIController> controller;
};

// The second text, for Pango, is invalid UTF-8 before a megabyte of Devanagari conjuncts.
TEST_F(LongTexts, AMegabyteTextShowsABarThatFitsItsMonitor) {
  NativeUI::setChildControlBarText(WindowOrder::SharingText, std::string(1 << 20, 'W'));
  std::string conjuncts = "\xFF\xC3";
  while (conjuncts.size() < (1 << 20)) conjuncts += "\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xB7";
  NativeUI::setChildControlBarText(WindowOrder::StopSharingText, conjuncts);
  const Geometry bar = showAndMeasureBar();
  EXPECT_LE(bar.width, 1024u);
  EXPECT_GE(bar.x, 0);
  EXPECT_LE(bar.x + static_cast<int>(bar.width), 1024);
  EXPECT_TRUE(controller->isVisible());
}

TEST_F(LongTexts, TwoTextsWiderThanTheMonitorShareIt) {
  std::string words;
  std::string hebrew;  // cut by Pango, the Latin one by Xft
  for (int i = 0; i < 60; ++i) words += "sharing ", hebrew += "\xD7\xA9\xD7\x99\xD7\xAA\xD7\xA3 ";
  NativeUI::setChildControlBarText(WindowOrder::SharingText, words);
  NativeUI::setChildControlBarText(WindowOrder::StopSharingText, "Stop " + hebrew);
  const Geometry bar = showAndMeasureBar();
  EXPECT_LE(bar.width, 1024u);
  EXPECT_GT(bar.width, 900u);  // shortened to fit, not to nothing
  EXPECT_GE(bar.x, 0);
}

// Both backends read one table and one set of layout rules: the same bar, the same width.
TEST_F(LongTexts, TheWaylandBarIsAsWideAsTheX11Bar) {
  EXPECT_EQ(waylandBarWidth(1024), static_cast<int>(showAndMeasureBar().width));
  controller->hideControlBar();
  ASSERT_TRUE(callback.waitFor("hidden"));
  callback.clear();
  std::string words;
  for (int i = 0; i < 60; ++i) words += "sharing ";
  NativeUI::setChildControlBarText(WindowOrder::SharingText, words);
  EXPECT_EQ(waylandBarWidth(1024), static_cast<int>(showAndMeasureBar().width));
}

}  // namespace
