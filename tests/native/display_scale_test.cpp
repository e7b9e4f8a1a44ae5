// The desktop's scale as the server publishes it, and the rules that turn it into the
// indicator's scale and the font's dpi.
#include <gtest/gtest.h>
// Xlib after gtest: Xlib's macros (None, Bool) break gtest's templates.
#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <cmath>
#include <memory>
#include <string>

#include "DisplayScale.h"
#include "ResourceScan.h"
#include "XHandles.h"
#include "support/XServer.h"

using NativeUI::DisplayPtr;
using testing_x::XServer;

namespace {

TEST(DisplayScale, DesktopDpiIsReadFromTheServerAsItIsNowAndClampedIntoAScale) {
  auto server = XServer::start("xvfb");
  const DisplayPtr early(XOpenDisplay(server->display().c_str()));
  ASSERT_TRUE(early);
  EXPECT_EQ(NativeUI::readDesktopDpi(early.get()), 0);  // nothing published
  EXPECT_EQ(NativeUI::scaleFromDpi(0), 1);

  struct Case {
    const char* resources;
    double dpi;
    double scale;
  };
  for (const Case& c :
       {Case{"Xft.dpi: 192", 192, 2}, Case{"Xft.dpi: 144.0", 144, 1.5},
        Case{"Xft.antialias: 1\\nXft.dpi: 120 pt", 120, 1.25}, Case{"*dpi: 288", 288, 3},
        Case{"Xft.dpi: 48", 48, 1}, Case{"Xft.dpi: 960", 960, 4}, Case{"Xft.dpi: big", 0, 1},
        Case{"Xft.dpi: -96", 0, 1}, Case{"Xft.dpi: inf", 0, 1}, Case{"Other.dpi: 192", 0, 1}}) {
    server->run(std::string("sh -c \"printf '") + c.resources + "\\n' | xrdb -nocpp -load\"");
    // The connection opened before sees the change: the property is read anew.
    const double dpi = NativeUI::readDesktopDpi(early.get());
    EXPECT_EQ(dpi, c.dpi) << c.resources;
    EXPECT_EQ(NativeUI::scaleFromDpi(dpi), c.scale) << c.resources;
  }

  // What Xft applies is what each connection saw when it was opened.
  server->run("sh -c \"echo 'Xft.dpi: 192' | xrdb -nocpp -load\"");
  const DisplayPtr late(XOpenDisplay(server->display().c_str()));
  ASSERT_TRUE(late);
  EXPECT_EQ(NativeUI::connectionDpi(late.get()), 192);
  EXPECT_EQ(NativeUI::connectionDpi(early.get()), 0);
}

// Xlib's own answer, from a database built of the whole text: what the one-pass scan must match.
double xrmDpi(const char* text) {
  XrmInitialize();
  XrmDatabase database = XrmGetStringDatabase(text);
  char* type = nullptr;
  XrmValue value{};
  const bool found = XrmGetResource(database, "Xft.dpi", "Program.Name", &type, &value);
  const double dpi = found && value.addr ? NativeUI::dpiFromValue(value.addr) : 0;
  XrmDestroyDatabase(database);
  return dpi;
}

TEST(DisplayScale, DpiIsTheEntryThatXlibWouldPickFromTheText) {
  struct Case {
    const char* resources;
    double dpi;
  };
  for (const Case& c :
       {Case{"Xft.dpi: 96\nXft.dpi: 192", 192}, Case{"Xft.dpi: 192\n*dpi: 96", 192},
        Case{"Xft*dpi: 144\n*dpi: 96", 144}, Case{"*.dpi: 144", 144},
        Case{"?.dpi: 120\n*dpi: 96", 120}, Case{"Program.dpi: 144\n?.dpi: 120", 144},
        Case{"Xft.Name: 144\nProgram.dpi: 120", 144}, Case{"Xft*Name: 144\n*dpi: 192", 144},
        Case{"Xft.dpi: 192\n*Xft.dpi: 144", 192}, Case{"! Xft.dpi: 192", 0},
        Case{" \t Xft.dpi :\t 192", 192}, Case{"Xft.dpi.x: 192\nxft.dpi: 144", 0},
        Case{"Xcursor.dpi: 192\nXft.?: 144", 0}, Case{"no colon\nXft.dpi: 192", 192},
        Case{"Other.value: 1\\\nXft.dpi: 300", 0}, Case{"Xft.dpi: 1\\\n92", 192},
        Case{"Xft.dpi: \\061\\071\\062", 192}, Case{"Xft.dpi: 144\nXft.dpi:", 0}}) {
    EXPECT_EQ(NativeUI::dpiFromResources(c.resources), c.dpi) << c.resources;
    EXPECT_EQ(xrmDpi(c.resources), c.dpi) << "Xlib: " << c.resources;
    // What the connection of a huge database gets instead of it answers as the whole text.
    EXPECT_EQ(xrmDpi(NativeUI::libraryResourceLines(c.resources).c_str()), c.dpi) << c.resources;
  }
  EXPECT_EQ(NativeUI::libraryResourceLines(
                "no colon\nXTerm*bg: red\n*dpi: 96\n! c\nXcursor.theme: a\\\n b\nfg: 1\n"),
            "*dpi: 96\nXcursor.theme: a\\\n b\n");
}

TEST(DisplayScale, OverrideWinsAndFontDpiIsSetOnlyWhereXftWouldDrawAtAnotherScale) {
  EXPECT_EQ(NativeUI::effectiveScale(0, 192), 2);
  EXPECT_EQ(NativeUI::effectiveScale(1.5, 192), 1.5);
  EXPECT_EQ(NativeUI::effectiveScale(0.25, 192), 1);
  EXPECT_EQ(NativeUI::effectiveScale(7, 0), 4);
  EXPECT_EQ(NativeUI::effectiveScale(-3, 0), 1);
  EXPECT_EQ(NativeUI::effectiveScale(std::nan(""), 144), 1.5);
  EXPECT_EQ(NativeUI::clampScale(std::nan("")), 1);
  EXPECT_EQ(NativeUI::clampScale(2.5), 2.5);

  EXPECT_EQ(NativeUI::scaledLength(25, 1.5), 38);  // halves round away from zero
  EXPECT_EQ(NativeUI::scaledLength(6, 1.5), 9);
  EXPECT_EQ(NativeUI::scaledLength(13, 2), 26);

  // Nothing published, nothing asked: the font is opened as it always was.
  EXPECT_EQ(NativeUI::fontDpiFor(1, 0, false), 0);
  // Xft already applies the desktop's dpi.
  EXPECT_EQ(NativeUI::fontDpiFor(2, 192, false), 0);
  EXPECT_EQ(NativeUI::fontDpiFor(2, 192, true), 0);
  // Published after the connection was opened, asked for by the caller, or clamped.
  EXPECT_EQ(NativeUI::fontDpiFor(2, 0, false), 192);
  EXPECT_EQ(NativeUI::fontDpiFor(1, 0, true), 96);
  EXPECT_EQ(NativeUI::fontDpiFor(1, 192, true), 96);
  EXPECT_EQ(NativeUI::fontDpiFor(1, 48, false), 96);
  EXPECT_EQ(NativeUI::fontDpiFor(4, 960, false), 384);
}

}  // namespace
