#include "TextFit.h"

#include <algorithm>
#include <vector>

namespace NativeUI {

namespace {

const std::string kEllipsis = "\xE2\x80\xA6";  // U+2026

bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

int measure(Display* display, XftFont* font, const std::string& text) {
  XGlyphInfo extent{};
  XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text.data()),
                     static_cast<int>(text.size()), &extent);
  return extent.width;
}

}  // namespace

std::string cutAtCharacter(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  while (end > 0 && isContinuationByte(static_cast<unsigned char>(text[end]))) --end;
  return text.substr(0, end);
}

std::string fitTextToWidth(Display* display, XftFont* font, const std::string& text, int maxWidth) {
  const std::string capped = cutAtCharacter(text, kMaxTextBytes);
  if (capped.size() == text.size() && measure(display, font, text) <= maxWidth) return text;

  std::vector<size_t> boundaries;  // every prefix length that ends on a character boundary
  for (size_t i = 0; i <= capped.size(); ++i) {
    if (i == capped.size() || !isContinuationByte(static_cast<unsigned char>(capped[i]))) {
      boundaries.push_back(i);
    }
  }
  // Widths grow with the prefix, so the longest prefix that fits is found by bisection.
  size_t low = 0;
  size_t high = boundaries.size();
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (measure(display, font, capped.substr(0, boundaries[middle]) + kEllipsis) <= maxWidth) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  if (low == 0) return "";
  return capped.substr(0, boundaries[low - 1]) + kEllipsis;
}

std::vector<std::pair<size_t, int32_t>> shareTextWidths(const std::vector<int32_t>& contents,
                                                        int32_t available) {
  std::vector<size_t> order(contents.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return contents[a] < contents[b]; });
  std::vector<std::pair<size_t, int32_t>> widths;
  for (size_t i = 0; i < order.size(); ++i) {
    const int32_t content = contents[order[i]];
    const int32_t share = std::max(0, available) / static_cast<int32_t>(order.size() - i);
    const int32_t width = std::min(content, share);
    available -= width;
    widths.emplace_back(order[i], width);
  }
  return widths;
}

}  // namespace NativeUI
