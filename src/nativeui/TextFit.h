// Keeps the bar's texts within what a monitor, Xft and a 16-bit XRectangle can hold.
#pragma once

#include <X11/Xft/Xft.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace NativeUI {

// Texts longer than this are cut (at a character boundary) before anything measures them: Xft
// sends a request per glyph run and aborts inside Xlib on megabyte-long strings, and no monitor
// shows this many characters in one bar anyway.
constexpr size_t kMaxTextBytes = 4096;

// The longest prefix of `text` that ends on a UTF-8 character boundary and has at most
// `maxBytes` bytes.
std::string cutAtCharacter(const std::string& text, size_t maxBytes);

// `text` itself when it measures at most `maxWidth` pixels in `font`; otherwise its longest
// character-boundary prefix that, followed by an ellipsis, does (an empty string when not even
// the ellipsis fits).
std::string fitTextToWidth(Display* display, XftFont* font, const std::string& text, int maxWidth);

// How texts of these content widths share `available` pixels: the narrower keep what they need,
// the wider share the rest in equal parts. One (index into `contents`, width) per text, narrowest
// first, in the order in which the widths are decided; a text whose width is less than its
// content must be shortened to it.
std::vector<std::pair<size_t, int32_t>> shareTextWidths(const std::vector<int32_t>& contents,
                                                        int32_t available);

}  // namespace NativeUI
