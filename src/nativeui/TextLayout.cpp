#include "TextLayout.h"

#include <fribidi.h>
#include <pango/pangoxft.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "TextFit.h"

namespace NativeUI {

namespace {

// Characters that Xft draws right on its own: one glyph each, left to right, nothing to join,
// reorder or place over another glyph.
bool drawnAlone(gunichar c) {
  switch (g_unichar_get_script(c)) {
    case G_UNICODE_SCRIPT_COMMON:
    case G_UNICODE_SCRIPT_LATIN:
    case G_UNICODE_SCRIPT_GREEK:
    case G_UNICODE_SCRIPT_CYRILLIC:
      break;
    default:
      return false;
  }
  switch (g_unichar_type(c)) {
    case G_UNICODE_NON_SPACING_MARK:
    case G_UNICODE_SPACING_MARK:
    case G_UNICODE_ENCLOSING_MARK:
    case G_UNICODE_FORMAT:   // bidi controls, joiners, soft hyphen
    case G_UNICODE_CONTROL:  // a newline must not start a second line, nor a tab jump
      return false;
    default:
      break;
  }
  // A few characters of the Common script are right-to-left (the Arabic semicolon and question
  // mark) or Arabic numbers: their order is the bidi algorithm's.
  const FriBidiCharType bidi = fribidi_get_bidi_type(c);
  return !FRIBIDI_IS_RTL(bidi) && bidi != FRIBIDI_TYPE_AN;
}

short clampShort(int value) { return static_cast<short>(std::clamp(value, SHRT_MIN, SHRT_MAX)); }

unsigned short clampUnsignedShort(int value) {
  return static_cast<unsigned short>(std::clamp(value, 0, USHRT_MAX));
}

}  // namespace

bool fontDrawsAlone(Display* display, XftFont* font, const std::string& text) {
  const char* end = nullptr;
  if (!g_utf8_validate_len(text.data(), text.size(), &end)) return false;
  for (const char* p = text.data(); p < end; p = g_utf8_next_char(p)) {
    const gunichar c = g_utf8_get_char(p);
    if (!drawnAlone(c) || !XftCharExists(display, font, c)) return false;
  }
  return true;
}

bool drawnGlyphByGlyph(const std::string& text) {
  const char* end = nullptr;
  if (!g_utf8_validate_len(text.data(), text.size(), &end)) return false;
  for (const char* p = text.data(); p < end; p = g_utf8_next_char(p)) {
    if (!drawnAlone(g_utf8_get_char(p))) return false;
  }
  return true;
}

std::string validUtf8(const std::string& text) {
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) return text;
  const std::unique_ptr<gchar, decltype(&g_free)> valid(
      g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())), &g_free);
  return valid.get();
}

std::string cutAtCluster(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  // Whether a cluster ends at an offset depends on the character after it: one more is enough.
  const std::string head = cutAtCharacter(text, maxBytes + 8);
  const int characters =
      static_cast<int>(g_utf8_strlen(head.data(), static_cast<gssize>(head.size())));
  std::vector<PangoLogAttr> attrs(characters + 1);
  pango_get_log_attrs(head.data(), static_cast<int>(head.size()), -1, pango_language_get_default(),
                      attrs.data(), characters + 1);
  size_t cut = 0;
  const char* p = head.data();
  for (int i = 0; i < characters; ++i, p = g_utf8_next_char(p)) {
    const size_t offset = static_cast<size_t>(p - head.data());
    if (offset > maxBytes) break;
    if (attrs[i].is_cursor_position) cut = offset;
  }
  if (cut == 0) return cutAtCharacter(text, maxBytes);
  return text.substr(0, cut);
}

PangoContext* TextLayoutContext::get(Display* display, XftFont* font) {
  if (_context && _font == font) return _context.get();
  reset();
  PangoFontMap* fontMap = pango_xft_get_font_map(display, DefaultScreen(display));  // Pango's
  if (!fontMap) return nullptr;
  _context.reset(pango_font_map_create_context(fontMap));
  FcChar8* family = nullptr;
  double pixelSize = 0;
  FcPatternGetString(font->pattern, FC_FAMILY, 0, &family);
  FcPatternGetDouble(font->pattern, FC_PIXEL_SIZE, 0, &pixelSize);
  const std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> description(
      pango_font_description_new(), &pango_font_description_free);
  if (family) pango_font_description_set_family(description.get(), reinterpret_cast<char*>(family));
  // In pixels, as Xft opened the bar's font: its size already holds the scale and the dpi.
  if (pixelSize > 0) {
    pango_font_description_set_absolute_size(description.get(), pixelSize * PANGO_SCALE);
  }
  pango_context_set_font_description(_context.get(), description.get());  // copies it
  _font = font;
  return _context.get();
}

TextLayoutContext::TextLayoutContext() = default;
TextLayoutContext::~TextLayoutContext() = default;

std::shared_ptr<const LaidOutText> TextLayoutContext::layout(Display* display, XftFont* font,
                                                             const std::string& text) {
  PangoContext* context = get(display, font);
  if (!context) return nullptr;
  for (const auto& kept : _layouts) {
    if (kept.first == text) return kept.second;
  }
  if (_layouts.size() == kLayoutsKept) _layouts.erase(_layouts.begin());
  _layouts.emplace_back(text, std::make_shared<const LaidOutText>(context, text));
  return _layouts.back().second;
}

void TextLayoutContext::reset() {
  _layouts.clear();  // before the context they were made in
  _context.reset();
  _font = nullptr;
}

LaidOutText::LaidOutText(PangoContext* context, const std::string& text)
    : _layout(pango_layout_new(context)) {
  pango_layout_set_single_paragraph_mode(_layout.get(), TRUE);
  const std::string valid = validUtf8(text);
  pango_layout_set_text(_layout.get(), valid.data(), static_cast<int>(valid.size()));
  measure();
}

bool LaidOutText::ellipsize(int maxWidth) {
  pango_layout_set_width(_layout.get(),
                         std::clamp(maxWidth, 0, INT_MAX / PANGO_SCALE) * PANGO_SCALE);
  pango_layout_set_ellipsize(_layout.get(), PANGO_ELLIPSIZE_END);
  measure();
  if (_logical.width <= maxWidth) return true;
  pango_layout_set_ellipsize(_layout.get(), PANGO_ELLIPSIZE_NONE);
  pango_layout_set_width(_layout.get(), -1);
  measure();
  return false;
}

void LaidOutText::measure() {
  pango_layout_get_pixel_extents(_layout.get(), &_ink, &_logical);
  const int baseline = PANGO_PIXELS(pango_layout_get_baseline(_layout.get()));
  _extent.width = clampUnsignedShort(_ink.width);
  _extent.height = clampUnsignedShort(_ink.height);
  _extent.x = clampShort(_logical.x - _ink.x);
  _extent.y = clampShort(baseline - _ink.y);
  _extent.xOff = clampShort(_logical.width);
  _extent.yOff = 0;
}

void LaidOutText::draw(XftDraw* draw, const XftColor* color, int left, int inkTop) const {
  // Pango's renderer takes the colour as not const, but only reads it.
  pango_xft_render_layout(draw, const_cast<XftColor*>(color), _layout.get(),
                          (left - _logical.x) * PANGO_SCALE, (inkTop - _ink.y) * PANGO_SCALE);
}

}  // namespace NativeUI
