// The ring that marks the stop button while the bar has the keyboard focus.
#pragma once

#include <algorithm>

#include "DisplayScale.h"

namespace NativeUI {

// ARGB on the bar's 32-bit visual. Dark, because the ring lies against the green notice half
// and the red stop half, and a light colour cannot reach 3:1 against the green one: this
// charcoal contrasts at about 6:1 with the green and 4.7:1 with the red.
constexpr unsigned long kFocusRingColour = 0xFF202020;
constexpr int kFocusRingWidth = 2;  // at scale 1, in pixels
// How far Left and Right move a focused bar, at scale 1.
constexpr int kKeyboardStep = 10;

// Both never shrink below their size at scale 1. The ring goes around the stop square and the
// stop text together: its left line in the square's padding, its right one the first columns of
// the right grip, so that no line crosses the text; top and bottom lines span the bar's height.
inline int focusRingWidth(double scale) {
  return std::max(kFocusRingWidth, scaledLength(kFocusRingWidth, scale));
}
inline int keyboardStep(double scale) {
  return std::max(kKeyboardStep, scaledLength(kKeyboardStep, scale));
}

}  // namespace NativeUI
