// The bar's child windows on real servers: what they measure, log, select and show, the cursor
// the server displays over them, the pixels they paint, and the resources they give back.
#include <gtest/gtest.h>
// Xlib after gtest: Xlib's macros (None, Bool) break gtest's templates.
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "NativeChildWindows.h"
#include "X11Utils.h"
#include "XHandles.h"
#include "support/CursorThemes.h"
#include "support/RecordingCallback.h"
#include "support/XProbe.h"
#include "support/XServer.h"

using NativeUI::ChildAlignment;
using NativeUI::ChildControlBarWins;
using NativeUI::ChildWinInfo;
using NativeUI::CursorKind;
using NativeUI::DisplayPtr;
using NativeUI::LogType;
using NativeUI::NativeChildWindow;
using NativeUI::PngWindow;
using NativeUI::TextWindow;
using NativeUI::WindowOrder;
using testing_x::RecordingCallback;
using testing_x::ScopedDisplay;
using testing_x::XServer;

namespace {

constexpr int kBarHeight = 25;
constexpr unsigned long kGreen = 0xFF1DB868;
constexpr unsigned long kRed = 0xFFFE3A68;
constexpr unsigned long kHalfWhite = 0x80FFFFFF;  // the grip icon's pixels as the server keeps them
constexpr unsigned long kWhite = 0xFFFFFFFF;

const char* const kWinInfoFormat =
    "Win info text: %s, _extent.x: %d, _extent.y: %d, _extent.xoff: %d, _extent.yOff: %d, "
    "_extent.width: %d, _extent.height: %d";

ChildWinInfo row(WindowOrder order) { return ChildControlBarWins[static_cast<int>(order) - 1]; }

XRectangle rectangle(int x, unsigned long width) {
  return XRectangle{static_cast<short>(x), 0, static_cast<unsigned short>(width), kBarHeight};
}

XGlyphInfo measure(Display* display, XftFont* font, const std::string& text) {
  XGlyphInfo extent{};
  XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text.data()),
                     static_cast<int>(text.size()), &extent);
  return extent;
}

class ChildWindows : public ::testing::Test {
 protected:
  void SetUp() override { startServer("xvfb"); }

  // Replaces the fixture's server, closing what the test held on the previous one first.
  void startServer(const std::string& kind, const std::vector<std::string>& arguments = {}) {
    closeFont();
    display.reset();
    env.reset();
    server = XServer::start(kind, arguments);
    env = std::make_unique<ScopedDisplay>(server->display());
    display.reset(XOpenDisplay(server->display().c_str()));
    ASSERT_TRUE(display);
    // Render's per-display record must be made before Xft's (libXcursor makes it here): closing
    // a display runs the newest close hook first, and Xft's frees its cached fonts through
    // Render. In the other order Render's record is made again during the close, left behind
    // with dangling extension codes, and found by the next connection that gets the same
    // Display address.
    XcursorSupportsARGB(d());
    root = DefaultRootWindow(d());
    parent = XCreateSimpleWindow(d(), root, 10, 10, 600, kBarHeight, 0, 0, 0);
    XMapWindow(d(), parent);
    font = XftFontOpen(d(), DefaultScreen(d()), XFT_FAMILY, XftTypeString, "cantarell", XFT_SIZE,
                       XftTypeDouble, 11.0, nullptr);
    ASSERT_NE(font, nullptr);
    XSync(d(), False);
  }

  void TearDown() override { closeFont(); }

  void closeFont() {
    if (font) XftFontClose(d(), font);
    font = nullptr;
  }

  Display* d() { return display.get(); }

  std::unique_ptr<PngWindow> icon(WindowOrder order) {
    const ChildWinInfo info = row(order);
    unsigned long length = 0;
    unsigned char* bytes = NativeUI::getPngImageFileData(info.imageName, length);
    return std::make_unique<PngWindow>(d(), info, &callback, bytes, length);
  }

  // Creates the child at x in the parent, as wide as its content and as high as the bar.
  bool create(NativeChildWindow& child, int x, unsigned long background) {
    unsigned long width = 0;
    unsigned long height = 0;
    child.getContentSize(width, height);
    return child.createChildWindow(root, parent, rectangle(x, width), BlackPixel(d(), 0),
                                   background);
  }

  // Waits for the child's first exposure, paints it and reads back what the server holds.
  NativeUI::XImagePtr exposeDrawAndRead(NativeChildWindow& child) {
    const Window window = child.window();
    EXPECT_TRUE(testing_x::waitForEvent(d(), [&](const XEvent& event) {
      return event.type == Expose && event.xexpose.window == window;
    }));
    child.draw();
    XSync(d(), False);
    XWindowAttributes attributes{};
    XGetWindowAttributes(d(), window, &attributes);
    return NativeUI::XImagePtr(
        XGetImage(d(), window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap));
  }

  std::vector<Window> childrenOfParent() {
    Window rootReturn = 0;
    Window parentReturn = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    XQueryTree(d(), parent, &rootReturn, &parentReturn, &children, &count);
    std::vector<Window> out(children, children + count);
    if (children) XFree(children);
    return out;
  }

  // The cursor the server shows with the pointer over this window.
  std::string cursorOver(Window window) {
    XWarpPointer(d(), 0, window, 0, 0, 0, 0, 2, 2);
    XSync(d(), False);
    return testing_x::currentCursorName(d());
  }

  std::unique_ptr<XServer> server;
  std::unique_ptr<ScopedDisplay> env;
  DisplayPtr display;
  Window root = 0;
  Window parent = 0;
  XftFont* font = nullptr;
  RecordingCallback callback;
};

// ---- sizes

TEST_F(ChildWindows, TextWindowSizeIsItsTextPlusPaddings) {
  const XGlyphInfo sharing = measure(d(), font, "You are sharing entire screen");
  const XGlyphInfo stop = measure(d(), font, "Stop sharing");
  ASSERT_GT(sharing.width, 100);
  TextWindow sharingText(d(), row(WindowOrder::SharingText), &callback, font);
  TextWindow stopText(d(), row(WindowOrder::StopSharingText), &callback, font);
  unsigned long width = 0;
  unsigned long height = 0;
  sharingText.getContentSize(width, height);
  EXPECT_EQ(width, sharing.width + 13u);
  EXPECT_EQ(height, sharing.height);
  stopText.getContentSize(width, height);
  EXPECT_EQ(width, stop.width);
  EXPECT_EQ(height, stop.height);
}

TEST_F(ChildWindows, TextWindowLogsItsMeasureAtConstructionAndAgainAtCreation) {
  const XGlyphInfo e = measure(d(), font, "Stop sharing");
  char expected[512];
  snprintf(expected, sizeof(expected), kWinInfoFormat, "Stop sharing", e.x, e.y, e.xOff, e.yOff,
           e.width, e.height);
  NativeUI::TextLayoutContext layouts;  // lent, as the controller does: Latin stays with Xft
  TextWindow text(d(), row(WindowOrder::StopSharingText), &callback, font, &layouts);
  EXPECT_FALSE(text.laidOut());
  auto reports = callback.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].format, kWinInfoFormat);
  EXPECT_EQ(reports[0].type, LogType::Log);
  EXPECT_EQ(reports[0].text, expected);

  ASSERT_TRUE(create(text, 40, kRed));
  char created[64];
  snprintf(created, sizeof(created), "Child window created : 0x%08X",
           static_cast<unsigned int>(text.window()));
  const std::vector<std::string> lines = {
      expected,
      "Creating child window at, x: 40, y: 0, width: " + std::to_string(e.width) + ", height: 25",
      created, expected};
  EXPECT_EQ(callback.lines(), lines);
  reports = callback.reports();
  EXPECT_EQ(reports[1].format, "Creating child window at, x: %d, y: %d, width: %d, height: %d");
  EXPECT_EQ(reports[2].format, "Child window created : 0x%08X");
}

TEST_F(ChildWindows, EmptyTextMeasuresAsItsTwoPaddings) {
  ChildWinInfo info = row(WindowOrder::SharingText);
  info.text = "";
  info.paddingLeft = 5;
  TextWindow text(d(), info, &callback, font);
  unsigned long width = 0;
  unsigned long height = 0;
  text.getContentSize(width, height);
  EXPECT_EQ(width, 5u + 13u);
  EXPECT_EQ(height, 0u);
}

TEST_F(ChildWindows, CustomTextIsMeasuredInsteadOfTheDefault) {
  ChildWinInfo info = row(WindowOrder::StopSharingText);
  info.customText = "Stop sharing the whole screen now";
  TextWindow custom(d(), info, &callback, font);
  TextWindow standard(d(), row(WindowOrder::StopSharingText), &callback, font);
  unsigned long customWidth = 0;
  unsigned long standardWidth = 0;
  unsigned long height = 0;
  custom.getContentSize(customWidth, height);
  standard.getContentSize(standardWidth, height);
  EXPECT_EQ(customWidth, measure(d(), font, info.customText).width);
  EXPECT_GT(customWidth, standardWidth);
  EXPECT_EQ(custom.getText(), info.customText);
  // Only the custom text was measured: the first object logged one line, about it.
  const auto lines = callback.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("Win info text: Stop sharing the whole screen now, ", 0), 0u);
}

TEST_F(ChildWindows, IconSizesArePaddingsPlusTheDecodedIcon) {
  struct Case {
    WindowOrder order;
    unsigned long width, height;
  };
  for (const Case& c :
       {Case{WindowOrder::LeftDragHandle, 22, 14}, Case{WindowOrder::StopIcon, 26, 6},
        Case{WindowOrder::RightDragHandle, 26, 14}}) {
    unsigned long width = 0;
    unsigned long height = 0;
    icon(c.order)->getContentSize(width, height);
    EXPECT_EQ(width, c.width) << static_cast<int>(c.order);
    EXPECT_EQ(height, c.height) << static_cast<int>(c.order);
  }
}

TEST_F(ChildWindows, UnknownIconIsOnlyPaddingAndPaintsNothing) {
  ChildWinInfo info = row(WindowOrder::StopIcon);
  info.imageName = "ic_missing.png";
  unsigned long length = 0;
  unsigned char* bytes = NativeUI::getPngImageFileData(info.imageName, length);
  PngWindow window(d(), info, &callback, bytes, length);
  unsigned long width = 0;
  unsigned long height = 0;
  window.getContentSize(width, height);
  EXPECT_EQ(width, 20u);
  EXPECT_EQ(height, 0u);
  ASSERT_TRUE(window.createChildWindow(root, parent, rectangle(0, 20), 0, kRed));
  XSync(d(), False);
  const unsigned long before = XNextRequest(d());
  window.draw();
  EXPECT_EQ(XNextRequest(d()), before);
  EXPECT_EQ(callback.lines().size(), 2u);  // only creation's two lines
}

// ---- creation: masks, visual, cursors

TEST_F(ChildWindows, ClickableChildSelectsButtonsAndOthersOnlyExposure) {
  TextWindow stopText(d(), row(WindowOrder::StopSharingText), &callback, font);
  TextWindow sharingText(d(), row(WindowOrder::SharingText), &callback, font);
  auto grip = icon(WindowOrder::LeftDragHandle);
  auto stop = icon(WindowOrder::StopIcon);
  ASSERT_TRUE(create(stopText, 0, kRed));
  ASSERT_TRUE(create(sharingText, 100, kGreen));
  ASSERT_TRUE(create(*grip, 300, kGreen));
  ASSERT_TRUE(create(*stop, 330, kRed));
  XSync(d(), False);
  const auto mask = [&](Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(d(), window, &attributes);
    return attributes.your_event_mask;
  };
  EXPECT_EQ(mask(stopText.window()), ExposureMask | ButtonPressMask | ButtonReleaseMask);
  EXPECT_EQ(mask(grip->window()), 0x800C);
  EXPECT_EQ(mask(sharingText.window()), ExposureMask);
  EXPECT_EQ(mask(stop->window()), 0x8000);
}

TEST_F(ChildWindows, ChildIsAMappedArgbWindowWithTheGivenGeometryAndBackground) {
  auto stop = icon(WindowOrder::StopIcon);
  ASSERT_TRUE(stop->createChildWindow(root, parent, XRectangle{50, 0, 26, 25}, 0, kRed));
  XSync(d(), False);
  XWindowAttributes attributes{};
  ASSERT_TRUE(XGetWindowAttributes(d(), stop->window(), &attributes));
  EXPECT_EQ(attributes.depth, 32);
  EXPECT_EQ(attributes.x, 50);
  EXPECT_EQ(attributes.width, 26);
  EXPECT_EQ(attributes.height, 25);
  EXPECT_EQ(attributes.border_width, 0);
  EXPECT_EQ(attributes.map_state, IsViewable);
  EXPECT_NE(attributes.colormap, DefaultColormap(d(), 0));
  EXPECT_EQ(childrenOfParent(), std::vector<Window>{stop->window()});
  // A corner that the icon leaves alone shows the background pixel, alpha included.
  const auto image = exposeDrawAndRead(*stop);
  EXPECT_EQ(XGetPixel(image.get(), 0, 0), kRed);
}

TEST_F(ChildWindows, HandCursorFallsBackThroughTheThemeNames) {
  struct Case {
    std::vector<std::string> theme;
    std::string shown;
  };
  const Case cases[] = {
      {{"hand1"}, "hand1"},
      {{"hand1", "hand", "pointer"}, "hand"},
      {{"9d800788f1b08800ae810202380a0822", "left_ptr"}, "9d800788f1b08800ae810202380a0822"},
      {{"pointing_hand", "hand2"}, "pointing_hand"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string theme = "hands" + std::to_string(n++);
    testing_x::makeCursorTheme(theme, c.theme);
    XcursorSetTheme(d(), theme.c_str());
    TextWindow stopText(d(), row(WindowOrder::StopSharingText), &callback, font);
    ASSERT_TRUE(create(stopText, 0, kRed));
    EXPECT_EQ(cursorOver(stopText.window()), c.shown) << theme;
  }
}

TEST_F(ChildWindows, ThemeWithoutTheNamesLeavesTheParentsCursor) {
  testing_x::makeCursorTheme("plain", {"left_ptr"});
  XcursorSetTheme(d(), "plain");
  const Cursor arrow = XcursorLibraryLoadCursor(d(), "left_ptr");
  ASSERT_NE(arrow, 0u);
  XDefineCursor(d(), parent, arrow);
  TextWindow stopText(d(), row(WindowOrder::StopSharingText), &callback, font);
  auto grip = icon(WindowOrder::RightDragHandle);
  ASSERT_TRUE(create(stopText, 0, kRed));
  ASSERT_TRUE(create(*grip, 200, kRed));
  EXPECT_EQ(cursorOver(stopText.window()), "left_ptr");
  EXPECT_EQ(cursorOver(grip->window()), "left_ptr");
}

TEST_F(ChildWindows, GripsShowTheResizeCursorAndOthersTheParents) {
  testing_x::makeCursorTheme("full", {"left_ptr", "sb_h_double_arrow", "pointing_hand"});
  XcursorSetTheme(d(), "full");
  XDefineCursor(d(), parent, XcursorLibraryLoadCursor(d(), "left_ptr"));
  auto grip = icon(WindowOrder::LeftDragHandle);
  auto stop = icon(WindowOrder::StopIcon);
  TextWindow sharingText(d(), row(WindowOrder::SharingText), &callback, font);
  ASSERT_TRUE(create(*grip, 0, kGreen));
  ASSERT_TRUE(create(*stop, 100, kRed));
  ASSERT_TRUE(create(sharingText, 200, kGreen));
  EXPECT_EQ(cursorOver(grip->window()), "sb_h_double_arrow");
  EXPECT_EQ(cursorOver(stop->window()), "left_ptr");
  EXPECT_EQ(cursorOver(sharingText.window()), "left_ptr");
}

// The cursor's id is handed back at once: the window keeps the cursor alive on the server.
TEST_F(ChildWindows, ChildKeepsNoCursorIdOfItsOwn) {
  testing_x::makeCursorTheme("ids", {"hand2", "sb_h_double_arrow"});
  XcursorSetTheme(d(), "ids");
  const auto before = testing_x::clientResources(d(), parent);
  TextWindow stopText(d(), row(WindowOrder::StopSharingText), &callback, font);
  auto grip = icon(WindowOrder::LeftDragHandle);
  ASSERT_TRUE(create(stopText, 0, kRed));
  ASSERT_TRUE(create(*grip, 100, kGreen));
  EXPECT_EQ(cursorOver(stopText.window()), "hand2");
  auto after = testing_x::clientResources(d(), parent);
  EXPECT_EQ(after["CURSOR"], before.count("CURSOR") ? before.at("CURSOR") : 0);
}

// ---- drawing

TEST_F(ChildWindows, TextIsPaintedInTheMiddleOfItsWindowAndNotInItsPadding) {
  TextWindow text(d(), row(WindowOrder::SharingText), &callback, font);
  ASSERT_TRUE(create(text, 0, kGreen));
  const XGlyphInfo e = measure(d(), font, "You are sharing entire screen");
  callback.clear();
  const auto image = exposeDrawAndRead(text);
  ASSERT_TRUE(image);

  const int baseline = e.y + std::abs(e.height - kBarHeight) / 2;
  char line[512];
  snprintf(line, sizeof(line),
           "Winid: %d, xfont->ascent: %d, xfont->descent: %d, xfont->height: %d, y center: %d, "
           "xPos: %d, _rectWin.width: %d, _rectWin.height: %d, _extent.width: %d, "
           "_extent.height: %d",
           static_cast<int>(text.window()), font->ascent, font->descent, font->height, baseline, 0,
           e.width + 13, kBarHeight, e.width, e.height);
  EXPECT_EQ(callback.lines(), std::vector<std::string>{line});

  const int top = baseline - e.y;  // the ink box
  int inked = 0;
  int whitish = 0;
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const unsigned long pixel = XGetPixel(image.get(), x, y);
      if (pixel == kGreen) continue;
      ++inked;
      whitish += (pixel & 0xFFFFFF) == 0xFFFFFF;
      EXPECT_TRUE(y >= top && y < top + e.height)
          << "ink outside the text rows at " << x << "," << y;
      EXPECT_LT(x, image->width - 13 + 1) << "ink in the right padding at " << x << "," << y;
    }
  }
  EXPECT_GT(inked, 100);
  EXPECT_GT(whitish, 10);  // the glyphs' cores are the row's opaque white
}

struct IconPixels {
  WindowOrder order;
  std::vector<int> columns;  // painted columns
  int top, bottom;           // painted rows, inclusive
  unsigned long painted, background;
};

void PrintTo(const IconPixels& pixels, std::ostream* out) {
  *out << "row " << static_cast<int>(pixels.order);
}

class IconDrawing : public ChildWindows, public ::testing::WithParamInterface<IconPixels> {};

TEST_P(IconDrawing, IconIsPaintedExactlyWhereTheLayoutPutsIt) {
  const IconPixels& expected = GetParam();
  auto window = icon(expected.order);
  ASSERT_TRUE(create(*window, 120, expected.background));
  const auto image = exposeDrawAndRead(*window);
  ASSERT_TRUE(image);
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const bool inIcon =
          y >= expected.top && y <= expected.bottom &&
          std::find(expected.columns.begin(), expected.columns.end(), x) != expected.columns.end();
      ASSERT_EQ(XGetPixel(image.get(), x, y), inIcon ? expected.painted : expected.background)
          << "pixel " << x << "," << y;
    }
  }
  EXPECT_TRUE(callback.lines().size() == 2u);  // create's two lines; draw logs nothing
}

INSTANTIATE_TEST_SUITE_P(
    BarIcons, IconDrawing,
    ::testing::Values(
        IconPixels{WindowOrder::LeftDragHandle, {8, 9, 11, 12}, 5, 18, kHalfWhite, kGreen},
        IconPixels{WindowOrder::StopIcon, {10, 11, 12, 13, 14, 15}, 9, 14, kWhite, kRed},
        IconPixels{WindowOrder::RightDragHandle, {12, 13, 15, 16}, 5, 18, kHalfWhite, kRed}),
    [](const ::testing::TestParamInfo<IconPixels>& info) {
      return std::to_string(static_cast<int>(info.param.order));
    });

TEST_F(ChildWindows, DrawBeforeCreateAndAfterDestroyMakesNoRequestAndNoLine) {
  TextWindow text(d(), row(WindowOrder::SharingText), &callback, font);
  auto grip = icon(WindowOrder::LeftDragHandle);
  callback.clear();
  XSync(d(), False);
  unsigned long before = XNextRequest(d());
  text.draw();
  grip->draw();
  EXPECT_EQ(XNextRequest(d()), before);

  ASSERT_TRUE(create(text, 0, kGreen));
  ASSERT_TRUE(create(*grip, 300, kGreen));
  EXPECT_TRUE(text.destroyChildWindow());
  EXPECT_TRUE(grip->destroyChildWindow());
  callback.clear();
  XSync(d(), False);
  before = XNextRequest(d());
  text.draw();
  grip->draw();
  EXPECT_EQ(XNextRequest(d()), before);
  EXPECT_TRUE(callback.lines().empty());
}

TEST_F(ChildWindows, DestroyTwiceDoesNothingTheSecondTime) {
  TextWindow text(d(), row(WindowOrder::StopSharingText), &callback, font);
  auto stop = icon(WindowOrder::StopIcon);
  ASSERT_TRUE(create(text, 0, kRed));
  ASSERT_TRUE(create(*stop, 200, kRed));
  ASSERT_EQ(childrenOfParent().size(), 2u);
  EXPECT_TRUE(text.destroyChildWindow());
  EXPECT_TRUE(stop->destroyChildWindow());
  EXPECT_EQ(text.window(), 0u);
  EXPECT_TRUE(childrenOfParent().empty());
  XSync(d(), False);
  const unsigned long before = XNextRequest(d());
  EXPECT_TRUE(text.destroyChildWindow());
  EXPECT_TRUE(stop->destroyChildWindow());
  EXPECT_EQ(XNextRequest(d()), before);
}

// ---- what the objects give back

// Resources that Xft keeps per display (solid colour pictures, the font's glyphs) are warmed up
// by a first text window, so that the counts compare only what a window itself holds.
TEST_F(ChildWindows, DeletingCreatedWindowsWithoutDestroyReleasesEverything) {
  {
    TextWindow warmUp(d(), row(WindowOrder::SharingText), &callback, font);
    ASSERT_TRUE(create(warmUp, 0, kGreen));
    exposeDrawAndRead(warmUp);
  }
  XSync(d(), False);
  const auto before = testing_x::clientResources(d(), parent);
  {
    TextWindow text(d(), row(WindowOrder::SharingText), &callback, font);
    auto grip = icon(WindowOrder::LeftDragHandle);
    ASSERT_TRUE(create(text, 0, kGreen));
    ASSERT_TRUE(create(*grip, 300, kGreen));
    exposeDrawAndRead(text);
    exposeDrawAndRead(*grip);
    const auto during = testing_x::clientResources(d(), parent);
    EXPECT_EQ(during.at("WINDOW"), before.at("WINDOW") + 2);
    EXPECT_GT(during.at("GC"), before.count("GC") ? before.at("GC") : 0);
  }
  XSync(d(), False);
  EXPECT_EQ(testing_x::clientResources(d(), parent), before);
}

// On a screen whose default visual is not TrueColor the text colour is a colour cell that the
// window holds until it goes, created or not.
TEST_F(ChildWindows, TextColourCellIsFreedWhenTheWindowGoesUncreated) {
  startServer("xvfb", {"640x480x8"});
  ASSERT_EQ(DefaultVisual(d(), 0)->c_class, PseudoColor);
  const Colormap colormap = DefaultColormap(d(), 0);
  XColor grey{};
  grey.red = grey.green = grey.blue = 0xF2F2;
  ASSERT_TRUE(XAllocColor(d(), colormap, &grey));  // this client's own hold on the cell
  { TextWindow text(d(), row(WindowOrder::StopSharingText), &callback, font); }
  testing_x::ErrorTrap trap(d());
  unsigned long pixel = grey.pixel;
  XFreeColors(d(), colormap, &pixel, 1, 0);  // our hold
  EXPECT_TRUE(trap.errors().empty());
  XFreeColors(d(), colormap, &pixel, 1, 0);  // the window's hold, if it had kept it
  EXPECT_EQ(trap.errors(), std::vector<int>{BadAccess});
}

// ---- a screen without a 32-bit TrueColor visual

TEST_F(ChildWindows, WithoutArgbVisualCreationFailsWithAnErrorAndLeavesNothing) {
  startServer("xvfb-nocomposite");
  XVisualInfo visual{};
  ASSERT_FALSE(XMatchVisualInfo(d(), DefaultScreen(d()), 32, TrueColor, &visual));
  testing_x::makeCursorTheme("novisual", {"hand2", "sb_h_double_arrow"});
  XcursorSetTheme(d(), "novisual");
  TextWindow text(d(), row(WindowOrder::StopSharingText), &callback, font);
  auto grip = icon(WindowOrder::LeftDragHandle);
  const auto before = testing_x::clientResources(d(), parent);  // with the measured glyphs
  callback.clear();
  EXPECT_FALSE(create(text, 0, kRed));
  EXPECT_FALSE(create(*grip, 100, kGreen));
  EXPECT_EQ(text.window(), 0u);
  EXPECT_EQ(grip->window(), 0u);

  std::vector<std::string> errors;
  for (const auto& report : callback.reports()) {
    if (report.type == LogType::Error) errors.push_back(report.text);
  }
  const std::string failed = "Child window creation failed: " + server->display();
  const std::string why = "No 32-bit TrueColor visual for the child window: " + server->display();
  EXPECT_EQ(errors, (std::vector<std::string>{why, failed, why, failed}));

  const unsigned long request = XNextRequest(d());
  text.draw();
  grip->draw();
  EXPECT_EQ(XNextRequest(d()), request);
  XSync(d(), False);
  EXPECT_TRUE(childrenOfParent().empty());
  EXPECT_EQ(testing_x::clientResources(d(), parent), before);  // no colormap, cursor or GC kept
}

}  // namespace
