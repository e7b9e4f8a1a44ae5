// Window shapes: the hollow frame of the border window and the rounded lower corners of the bar.
#include <X11/extensions/shape.h>

#include <cstdio>

#include "X11Utils.h"
#include "XHandles.h"

namespace NativeUI {

namespace {

XRectangle rectangle(int x, int y, int width, int height) {
  return XRectangle{static_cast<short>(x), static_cast<short>(y),
                    static_cast<unsigned short>(width), static_cast<unsigned short>(height)};
}

constexpr int kFullCircle = 360 * 64;

}  // namespace

void setWindowShape(Display* display, Window window, const MonitorInfo& monitor, int frameWidth) {
  const int w = monitor.width;
  const int h = monitor.height;
  const int f = frameWidth;
  XRectangle frame[] = {
      rectangle(0, 0, w, f),      // top
      rectangle(w - f, 0, f, h),  // right
      rectangle(0, h - f, w, f),  // bottom
      rectangle(0, 0, f, h),      // left
  };
  XShapeCombineRectangles(display, window, ShapeBounding, 0, 0, frame, 4, ShapeSet, Unsorted);
}

void clearShape(Display* display, Window window, int kind) {
  XShapeCombineRectangles(display, window, kind, 0, 0, nullptr, 0, ShapeSet, Unsorted);
}

void setCurvedBorder(Display* display, Window window, int width, int height, int radius) {
  int eventBase = 0;
  int errorBase = 0;
  if (!XShapeQueryExtension(display, &eventBase, &errorBase)) {
    fputs("Bad news: there is no shape extension on your server...\n", stderr);
    return;
  }
  const PixmapHolder mask(display, XCreatePixmap(display, window, width, height, 1));
  const GcHolder gc(display, XCreateGC(display, mask.get(), 0, nullptr));

  XSetForeground(display, gc.get(), 0);
  XFillRectangle(display, mask.get(), gc.get(), 0, 0, width, height);

  XSetForeground(display, gc.get(), 1);
  XFillRectangle(display, mask.get(), gc.get(), 0, 0, width, height - radius);
  XFillRectangle(display, mask.get(), gc.get(), radius, height - radius, width - 2 * radius,
                 radius);
  // Both circles sit one pixel higher, and the right one one pixel further left, than boxes
  // touching the edges would; the bar has always looked like this.
  const int diameter = 2 * radius;
  XFillArc(display, mask.get(), gc.get(), 0, height - diameter - 1, diameter, diameter, 0,
           kFullCircle);
  XFillArc(display, mask.get(), gc.get(), width - diameter - 1, height - diameter - 1, diameter,
           diameter, 0, kFullCircle);

  XShapeCombineMask(display, window, ShapeBounding, 0, 0, mask.get(), ShapeSet);
  XShapeCombineMask(display, window, ShapeClip, 0, 0, mask.get(), ShapeSet);

  puts("Shape extension initialised");
  fflush(stdout);
}

}  // namespace NativeUI
