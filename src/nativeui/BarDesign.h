// What the indicator looks like, whichever backend draws it: the frame's width and colour, the
// bar's height, corner radius and font. The bar's five parts (their texts, paddings, colours and
// cursors) are the rows of ChildControlBarWins (NativeChildWindows.h). Lengths are those of the
// 96-dpi indicator, in pixels; a build scales them with scaledLength (DisplayScale.h).
#pragma once

namespace NativeUI {

constexpr int kFrameWidth = 6;
constexpr unsigned long kFrameColour = 0x991D7A48;  // ARGB, 60 % opaque
constexpr int kBarHeight = 25;
constexpr int kCornerRadius = 4;
constexpr double kFontSize = 11.0;  // points

// The cursor theme's names for the grips, and for the hand over the stop text in the order they
// are tried: the first name the theme has wins.
constexpr const char* kResizeCursorName = "sb_h_double_arrow";
constexpr const char* kHandCursorNames[] = {"pointing_hand",
                                            "hand2",
                                            "hand",
                                            "hand1",
                                            "pointer",
                                            "e29285e634086352946a0e7090d73106",
                                            "9d800788f1b08800ae810202380a0822"};

}  // namespace NativeUI
