#include "BarPainter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "BarDesign.h"
#include "DisplayScale.h"
#include "FocusRing.h"
#include "TextFit.h"
#include "X11Utils.h"

namespace NativeUI {

namespace {

constexpr int kGripPitch = 3;  // from one grip copy's left edge to the next's
constexpr double kPointsPerInch = 72.0;

void setSourceArgb(cairo_t* cr, unsigned long argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                        (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
}

// The embedded PNG at its own size, its decoded bytes copied as they are into the 32-bit
// pixels, as the X11 bar puts the icon into its window: no reordering, no premultiplication.
CairoSurfacePtr decodeIcon(const std::string& name) {
  unsigned long length = 0;
  const unsigned char* png = getPngImageFileData(name, length);
  unsigned char* rgba = nullptr;
  unsigned int width = 0;
  unsigned int height = 0;
  if (!png || loadPng(png, length, &rgba, &width, &height) != 0 || !rgba) {
    std::free(rgba);
    return nullptr;
  }
  const MallocPtr<unsigned char> pixels(rgba);
  CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width),
                                                     static_cast<int>(height)));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (unsigned int y = 0; y < height; ++y) {
    std::memcpy(data + y * stride, pixels.get() + size_t{y} * width * 4, size_t{width} * 4);
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

}  // namespace

BarPainter::BarPainter(PangoFontMap* fontMap, const Rows& rows, double scale, int height,
                       int maxWidth)
    : _context(pango_font_map_create_context(fontMap)),
      _scale(scale),
      _height(height),
      _radius(scaledLength(kCornerRadius, scale)),
      _gripPitch(scaledLength(kGripPitch, scale)) {
  const std::string name = getLinuxOSDistribution();
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(
      font, name.find("Ubuntu") != std::string::npos ? "ubuntu" : "cantarell");
  pango_font_description_set_absolute_size(
      font, kFontSize * kBaseDpi / kPointsPerInch * scale * PANGO_SCALE);
  pango_context_set_font_description(_context, font);
  pango_font_description_free(font);
  // Grey antialiasing: the bar is translucent at its corners, where coloured fringes would show.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(_context, options);
  cairo_font_options_destroy(options);

  for (const ChildWinInfo& row : rows) {
    Part part;
    part.row = row;
    part.row.paddingLeft = scaledLength(row.paddingLeft, scale);
    part.row.paddingRight = scaledLength(row.paddingRight, scale);
    if (row.type == ChildWindowType::Text) {
      const std::string& shown = row.customText.empty() ? row.text : row.customText;
      // Native callers may hand over any bytes; Pango needs UTF-8, and megabytes would only
      // cost time: the X11 bar's limits.
      std::string text = validUtf8(shown);
      if (text.size() > kMaxTextBytes) text = cutAtCluster(text, kMaxTextBytes);
      makeText(part, text);
    } else {
      makeIcon(part);
    }
    _width += part.width;
    _parts.push_back(std::move(part));
  }
  if (_width > maxWidth) shortenTextsToFit(maxWidth);
}

BarPainter::~BarPainter() {
  _parts.clear();  // the layouts hold the context
  g_object_unref(_context);
}

void BarPainter::makeText(Part& part, const std::string& text) {
  part.row.customText = text.empty() ? " " : text;  // empty would bring the default text back
  part.text = std::make_shared<LaidOutText>(_context, part.row.customText);
  part.inkWide = drawnGlyphByGlyph(part.row.customText);
  part.width = textWidth(part) + part.row.paddingLeft + part.row.paddingRight;
}

// The X11 bar's measure: the ink's width for a text that its font draws glyph after glyph, the
// logical width for one that Pango lays out, which keeps the marks and bearings of its ends.
int BarPainter::textWidth(const Part& part) const {
  return part.inkWide ? part.text->inkBox().width : part.text->logicalWidth();
}

void BarPainter::makeIcon(Part& part) {
  part.icon = decodeIcon(part.row.imageName);
  if (part.icon) {
    part.iconWidth =
        std::max(1, scaledLength(cairo_image_surface_get_width(part.icon.get()), _scale));
    part.iconHeight =
        std::max(1, scaledLength(cairo_image_surface_get_height(part.icon.get()), _scale));
  }
  part.width = part.row.paddingLeft + part.row.paddingRight + part.iconWidth;
}

// As on X11: the narrower text keeps what it needs, the wider ones share the rest, each cut at a
// cluster boundary and ending in an ellipsis; a single space when not even that fits.
void BarPainter::shortenTextsToFit(int maxWidth) {
  std::vector<Part*> texts;
  std::vector<int32_t> contents;
  int32_t available = maxWidth - _width;
  for (Part& part : _parts) {
    if (!part.text) continue;
    const int32_t content = part.width - part.row.paddingLeft - part.row.paddingRight;
    texts.push_back(&part);
    contents.push_back(content);
    available += content;
  }
  for (const auto& [index, width] : shareTextWidths(contents, available)) {
    if (width >= contents[index]) continue;
    Part& part = *texts[index];
    _width -= part.width;
    if (part.text->ellipsize(width)) {
      part.width = textWidth(part) + part.row.paddingLeft + part.row.paddingRight;
    } else {
      makeText(part, " ");
    }
    _width += part.width;
  }
}

const ChildWinInfo* BarPainter::partAt(int x, int paintedWidth) const {
  if (x < 0 || x >= paintedWidth) return nullptr;
  int left = 0;
  for (const Part& part : _parts) {
    left += part.width;
    if (x < left) return &part.row;
  }
  return _parts.empty() ? nullptr : &_parts.back().row;
}

BarPainter::Span BarPainter::span(WindowOrder order) const {
  int left = 0;
  for (const Part& part : _parts) {
    if (part.row.order == order) return {left, part.width};
    left += part.width;
  }
  return {};
}

void BarPainter::paint(unsigned char* data, int width, int height, int stride,
                       bool focusRing) const {
  const CairoSurfacePtr surface(
      cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, width, height, stride));
  cairo_t* cr = cairo_create(surface.get());
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  clipToShape(cr, width);
  int x = 0;
  for (size_t i = 0; i < _parts.size(); ++i) {
    const int partWidth = i + 1 == _parts.size() ? width - x : _parts[i].width;
    paintPart(cr, _parts[i], x, partWidth);
    x += partWidth;
  }
  if (focusRing) paintFocusRing(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface.get());
}

// The rounded lower corners, aliased as the X11 bar's shape mask is: both circles one pixel
// higher, and the right one one pixel further left, than circles touching the edges would be.
void BarPainter::clipToShape(cairo_t* cr, int width) const {
  const int r = _radius;
  const int h = _height;
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(cr, 0, 0, width, h - r);
  cairo_rectangle(cr, r, h - r, width - 2 * r, r);
  cairo_new_sub_path(cr);
  cairo_arc(cr, r, h - r - 1, r, 0, 2 * M_PI);
  cairo_new_sub_path(cr);
  cairo_arc(cr, width - r - 1, h - r - 1, r, 0, 2 * M_PI);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_clip(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
}

// From the stop square's left edge to the ring's width into the right grip, as the X11 bar's
// lines in those three windows make it.
void BarPainter::paintFocusRing(cairo_t* cr) const {
  const Span square = span(WindowOrder::StopIcon);
  const Span grip = span(WindowOrder::RightDragHandle);
  if (square.width == 0 || grip.width == 0) return;
  const int line = focusRingWidth(_scale);
  const int right = grip.left + line;
  setSourceArgb(cr, kFocusRingColour);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(cr, square.left, 0, right - square.left, line);
  cairo_rectangle(cr, square.left, _height - line, right - square.left, line);
  cairo_rectangle(cr, square.left, 0, line, _height);
  cairo_rectangle(cr, grip.left, 0, line, _height);
  cairo_fill(cr);
}

void BarPainter::paintPart(cairo_t* cr, const Part& part, int x, int width) const {
  setSourceArgb(cr, part.row.backgroundColor);
  cairo_rectangle(cr, x, 0, width, _height);
  cairo_fill(cr);
  const int left = x + part.row.paddingLeft;
  if (part.text) {
    // The ink in the vertical middle, as the X11 bar centres a laid-out text.
    const PangoRectangle& ink = part.text->inkBox();
    const PangoRectangle& logical = part.text->logicalBox();
    const int inkTop = (_height - ink.height) / 2;
    const XRenderColor& colour = part.row.textColor;
    cairo_set_source_rgba(cr, colour.red / 65535.0, colour.green / 65535.0, colour.blue / 65535.0,
                          colour.alpha / 65535.0);
    cairo_move_to(cr, left - logical.x, inkTop - ink.y);
    pango_cairo_show_layout(cr, part.text->pangoLayout());
    return;
  }
  if (!part.icon) return;
  const int top = std::abs(part.iconHeight - _height) / 2;
  const bool grip = part.row.order == WindowOrder::LeftDragHandle ||
                    part.row.order == WindowOrder::RightDragHandle;
  // One 2-pixel grip icon painted twice makes two bars with a one-pixel gap.
  for (int copy = 0; copy < (grip ? 2 : 1); ++copy) {
    cairo_save(cr);
    cairo_translate(cr, left + copy * _gripPitch, top);
    cairo_scale(
        cr, static_cast<double>(part.iconWidth) / cairo_image_surface_get_width(part.icon.get()),
        static_cast<double>(part.iconHeight) / cairo_image_surface_get_height(part.icon.get()));
    cairo_set_source_surface(cr, part.icon.get(), 0, 0);
    // Whole pixels stay sharp at every scale: at 2 every pixel becomes 2 x 2. The icon's pixels
    // replace the bar's, as XPutImage replaces a window's.
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr, 0, 0, cairo_image_surface_get_width(part.icon.get()),
                    cairo_image_surface_get_height(part.icon.get()));
    cairo_fill(cr);
    cairo_restore(cr);
  }
}

}  // namespace NativeUI
