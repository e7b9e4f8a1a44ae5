// The control bar laid out and painted with cairo and Pango, by the rules of the X11 bar: the
// same five parts from the showing's rows, the same paddings, icons, colours, texts, ellipsizing
// and rounded lower corners, at any scale. Everything here runs on the showing's UI thread; the
// font map is borrowed and must outlive the painter.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <array>
#include <memory>
#include <vector>

#include "NativeChildWindows.h"
#include "TextLayout.h"

namespace NativeUI {

struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

class BarPainter {
 public:
  using Rows = std::array<ChildWinInfo, kChildWindowCount>;

  // Lays the rows out at `scale` (physical pixels per pixel of the 96-dpi bar) and `height`
  // physical pixels high, so that the bar is at most `maxWidth` physical pixels wide where its
  // texts can be shortened that far. Texts are made valid UTF-8 and cut to kMaxTextBytes first,
  // as on X11.
  BarPainter(PangoFontMap* fontMap, const Rows& rows, double scale, int height, int maxWidth);
  BarPainter(const BarPainter&) = delete;
  BarPainter& operator=(const BarPainter&) = delete;
  ~BarPainter();

  // The bar's own size in physical pixels.
  int width() const { return _width; }
  int height() const { return _height; }
  // The row of the part under physical column `x` of a bar painted `paintedWidth` wide; null
  // outside the bar.
  const ChildWinInfo* partAt(int x, int paintedWidth) const;
  // The physical columns of the part of `order` as laid out: its left edge and its width; zero
  // width when the rows have no such part.
  struct Span {
    int left = 0;
    int width = 0;
  };
  Span span(WindowOrder order) const;
  // Paints the bar into premultiplied ARGB32 pixels of `width` x `height` (width >= width():
  // the last part takes the columns beyond the bar's own width; nothing is drawn outside them,
  // whatever size the compositor made the surface).
  // With focusRing, the ring that says the bar has the keyboard, as the X11 bar draws it.
  void paint(unsigned char* data, int width, int height, int stride, bool focusRing) const;

 private:
  struct Part {
    ChildWinInfo row;
    int width = 0;
    std::shared_ptr<LaidOutText> text;  // text parts
    bool inkWide = false;  // as wide as its ink, as the X11 bar measures what Xft draws alone
    CairoSurfacePtr icon;  // image parts: the decoded icon at its own size
    int iconWidth = 0;     // and at the bar's scale
    int iconHeight = 0;
  };

  void makeText(Part& part, const std::string& text);
  int textWidth(const Part& part) const;
  void makeIcon(Part& part);
  void shortenTextsToFit(int maxWidth);
  void paintPart(cairo_t* cr, const Part& part, int x, int width) const;
  void clipToShape(cairo_t* cr, int width) const;
  void paintFocusRing(cairo_t* cr) const;

  PangoContext* _context = nullptr;  // owned
  double _scale;
  int _height;
  int _radius;
  int _gripPitch;
  int _width = 0;
  std::vector<Part> _parts;
};

}  // namespace NativeUI
