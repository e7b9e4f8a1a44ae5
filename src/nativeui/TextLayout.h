// Texts that the bar's one Xft font cannot draw by itself: characters it lacks, scripts that
// need shaping (Arabic, Devanagari, Thai...), marks to place, right-to-left runs. Pango lays
// these out on the same connection and draws them through Xft on the child's own XftDraw; font
// fallback, shaping, bidi and ellipsizing are all Pango's. A text that the font draws alone
// never comes here, so Latin, Greek and Cyrillic bars stay exactly what Xft makes of them.
// Everything here runs on the UI thread, holding the X turn.
#pragma once

#include <X11/Xft/Xft.h>
#include <pango/pango.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace NativeUI {

// Whether Xft alone draws `text` in `font` as a reader expects: valid UTF-8, every character in
// the font, and none that needs a layout engine (a mark to place, a format or control character,
// a right-to-left one, or a script other than Latin, Greek and Cyrillic). Reads the font's
// character set on the client: no round trip.
bool fontDrawsAlone(Display* display, XftFont* font, const std::string& text);

// The rule of fontDrawsAlone without the font: valid UTF-8 and every character one that a font
// draws glyph after glyph. For a backend that lays out every text but measures these as Xft
// would.
bool drawnGlyphByGlyph(const std::string& text);

// `text` with every invalid UTF-8 sequence and every NUL byte replaced by U+FFFD; a valid text
// comes back unchanged.
std::string validUtf8(const std::string& text);

// The longest prefix of `text` (valid UTF-8) of at most `maxBytes` bytes that ends on a
// grapheme-cluster boundary; when even the first cluster is longer, the longest prefix that ends
// on a character boundary instead (a text of nothing but marks is one cluster).
std::string cutAtCluster(const std::string& text, size_t maxBytes);

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
using PangoContextPtr = std::unique_ptr<PangoContext, GObjectUnref>;
using PangoLayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

class LaidOutText;

// Pango's context for one connection, set to the bar's font: its family and the pixel size that
// Xft opened it at, so that fallback fonts come at the bar's size at every scale. Made at its
// first use, so a bar whose texts the font draws alone loads nothing more, and kept until the
// font or the connection changes, with the layouts of the last few texts: a bar shown again with
// the same texts is not laid out again. reset() must run before the connection closes.
class TextLayoutContext {
 public:
  TextLayoutContext();
  ~TextLayoutContext();
  TextLayoutContext(const TextLayoutContext&) = delete;
  TextLayoutContext& operator=(const TextLayoutContext&) = delete;

  // Null only when Pango cannot give a font map for the display.
  PangoContext* get(Display* display, XftFont* font);
  // The layout of `text` in `font`, shared with the showings that show the same text; null as
  // for get().
  std::shared_ptr<const LaidOutText> layout(Display* display, XftFont* font,
                                            const std::string& text);
  void reset();

 private:
  static constexpr size_t kLayoutsKept = 8;
  PangoContextPtr _context;
  XftFont* _font = nullptr;  // the font the context was set to; borrowed
  std::vector<std::pair<std::string, std::shared_ptr<const LaidOutText>>> _layouts;  // oldest first
};

// One line of text as Pango lays it out: never wrapped, newlines and other separators shown as
// glyphs, each run in its script's direction and the paragraph in that of its first strong
// character.
class LaidOutText {
 public:
  LaidOutText(PangoContext* context, const std::string& text);

  // Cuts the text at its logical end, at a grapheme-cluster boundary, and puts an ellipsis there
  // so that it takes at most `maxWidth` pixels. false, and the text as it was, when not even the
  // ellipsis fits.
  bool ellipsize(int maxWidth);

  // The extents as Xft reports a string's: the ink box's size, and the origin (the logical left
  // end, on the baseline) as seen from the ink box's top left corner; xOff is the logical width.
  // Fields that do not fit Xft's 16 bits are clamped.
  const XGlyphInfo& extent() const { return _extent; }
  int logicalWidth() const { return _logical.width; }

  // Draws the text with its logical box starting at `left` and its ink box at `inkTop`.
  void draw(XftDraw* draw, const XftColor* color, int left, int inkTop) const;
  // For a renderer of another backend: the layout, and the boxes that draw() places.
  PangoLayout* pangoLayout() const { return _layout.get(); }
  const PangoRectangle& inkBox() const { return _ink; }
  const PangoRectangle& logicalBox() const { return _logical; }

 private:
  void measure();

  PangoLayoutPtr _layout;
  PangoRectangle _ink{};      // pixels, from the layout's top left corner
  PangoRectangle _logical{};  // pixels, from the layout's top left corner
  XGlyphInfo _extent{};
};

}  // namespace NativeUI
