// Accelerators as applications write them, and the cases a parser gets wrong; the focus ring's
// contrast against both halves of the bar.
#include <gtest/gtest.h>
// Xlib after gtest: Xlib's macros (None, Bool) break gtest's templates.
#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <cmath>

#include "Accelerator.h"
#include "FocusRing.h"
#include "NativeChildWindows.h"

using NativeUI::parseAccelerator;

namespace {

TEST(Accelerator, ModifiersAndKeysBecomeAKeysymAndAModifierMask) {
  struct Case {
    const char* text;
    KeySym keysym;
    unsigned int modifiers;
  };
  for (const Case& c : {
           Case{"Control+Alt+Shift+S", XK_s, ControlMask | Mod1Mask | ShiftMask},
           Case{"CommandOrControl+Shift+F12", XK_F12, ControlMask | ShiftMask},
           Case{"cmdorctrl+f24", XK_F24, ControlMask},
           Case{"Super+Space", XK_space, Mod4Mask},
           Case{"Cmd+Return", XK_Return, Mod4Mask},
           Case{"AltGr+Enter", XK_Return, Mod5Mask},
           Case{"Ctrl+Plus", XK_plus, ControlMask},
           Case{"Alt+/", XK_slash, Mod1Mask},
           Case{"Shift+!", XK_exclam, ShiftMask},
           Case{"Control+9", XK_9, ControlMask},
           Case{"Ctrl+num7", XK_KP_7, ControlMask},
           Case{"Esc", XK_Escape, 0},
           Case{"MediaPlayPause", XF86XK_AudioPlay, 0},
       }) {
    const auto parsed = parseAccelerator(c.text);
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(parsed->keysym, c.keysym) << c.text;
    EXPECT_EQ(parsed->modifiers, c.modifiers) << c.text;
  }
}

TEST(Accelerator, MalformedTextsAreRefused) {
  // A table, read across.
  // clang-format off
  const char* const malformed[] = {
      "", "+", "Control", "Control+Shift", "Control++", "Control+", "+S", "Control + S",
      "Control+S+T", "S+Control", "Ctrl+Control+S", "Control+F0", "Control+F25", "Control+F01",
      "Control+FF", "Control+Foo", "Control+num", "Control+num10", "Control+é", "Hyper+S"};
  // clang-format on
  for (const char* text : malformed) {
    EXPECT_FALSE(parseAccelerator(text)) << "'" << text << "'";
  }
}

double channel(unsigned long pixel, int shift) {
  const double c = static_cast<double>((pixel >> shift) & 0xFF) / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// WCAG 2's relative luminance and contrast ratio.
double contrast(unsigned long a, unsigned long b) {
  const auto luminance = [](unsigned long p) {
    return 0.2126 * channel(p, 16) + 0.7152 * channel(p, 8) + 0.0722 * channel(p, 0);
  };
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(FocusRing, ContrastsAtThreeToOneWithTheGreenAndTheRedHalf) {
  for (const auto& row : NativeUI::ChildControlBarWins) {
    EXPECT_GE(contrast(NativeUI::kFocusRingColour, row.backgroundColor), 3.0)
        << std::hex << row.backgroundColor;
  }
  EXPECT_LT(contrast(0xFFFFFFFF, NativeUI::ChildControlBarWins[0].backgroundColor), 3.0);
}

}  // namespace
