// The bar's child windows. Each object copies its table row at construction and never reads the
// table again. A child is an ARGB window (32-bit TrueColor visual, its own colormap) inside the
// bar; the server paints the row's background, draw() paints the content on every exposure.
// Lifecycle: constructed (content measured or decoded) -> createChildWindow -> draw ... ->
// destroyChildWindow -> deleted; every resource taken on the way is released by the last two
// steps, whichever of them comes first.
#include "NativeChildWindows.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "BarDesign.h"
#include "DisplayScale.h"
#include "TextFit.h"
#include "X11Utils.h"

namespace NativeUI {

namespace {

// Only the cursor theme is asked. XcursorLibraryLoadCursor would fall back to the core cursor
// font for the classic names (hand2, hand1, sb_h_double_arrow), so every theme would seem to have
// "hand2" and the theme's own "hand", "hand1" or "pointer" would never be reached.
CursorHolder loadThemeCursor(Display* display, const char* name, CursorImageCache* cache) {
  if (cache) {
    const XcursorImages* images = cache->images(display, name);
    return images ? CursorHolder(display, XcursorImagesLoadCursor(display, images))
                  : CursorHolder();
  }
  const XcursorImagesPtr images(
      XcursorLibraryLoadImages(name, XcursorGetTheme(display), XcursorGetDefaultSize(display)));
  if (!images) return {};
  return CursorHolder(display, XcursorImagesLoadCursor(display, images.get()));
}

// The first of the kind's names that the current cursor theme has; none for the default kind.
CursorHolder loadCursor(Display* display, CursorKind kind, CursorImageCache* cache) {
  switch (kind) {
    case CursorKind::HorizontalResize:
      return loadThemeCursor(display, kResizeCursorName, cache);
    case CursorKind::Hand:
      for (const char* name : kHandCursorNames) {
        if (CursorHolder cursor = loadThemeCursor(display, name, cache)) return cursor;
      }
      return {};
    default:
      return {};
  }
}

// Where content of this width starts in a child of that width.
int contentX(const ChildWinInfo& info, int childWidth, int contentWidth) {
  switch (info.alignment) {
    case ChildAlignment::Left:
      return info.paddingLeft;
    case ChildAlignment::Center:
      return std::abs(childWidth - contentWidth) / 2 + info.paddingLeft;
    default:
      return 0;
  }
}

}  // namespace

const XcursorImages* CursorImageCache::images(Display* display, const char* name) {
  const char* themeName = XcursorGetTheme(display);
  const std::string theme = themeName ? themeName : "";
  const int size = XcursorGetDefaultSize(display);
  for (const Entry& entry : _entries) {
    if (entry.size == size && entry.theme == theme && entry.name == name) {
      return entry.images.get();
    }
  }
  _entries.push_back(
      Entry{theme, size, name, XcursorImagesPtr(XcursorLibraryLoadImages(name, themeName, size))});
  return _entries.back().images.get();
}

NativeChildWindow::NativeChildWindow(Display* display, const ChildWinInfo& info,
                                     NativeUIControllerCallback* callback)
    : _display(display), _info(info), _callback(callback) {}

NativeChildWindow::~NativeChildWindow() { NativeChildWindow::destroyChildWindow(); }

bool NativeChildWindow::createChildWindow(Window root, Window parent, XRectangle rect,
                                          unsigned long borderPixel,
                                          unsigned long backgroundPixel) {
  const CursorHolder cursor = loadCursor(_display, _info.cursor, _cursorImages);
  _callback->onLog(LogType::Log, "Creating child window at, x: %d, y: %d, width: %d, height: %d",
                   rect.x, rect.y, rect.width, rect.height);
  if (!XMatchVisualInfo(_display, DefaultScreen(_display), 32, TrueColor, &_visualInfo)) {
    // Without it there is no visual, depth or colormap to create the window with.
    _visualInfo = XVisualInfo{};
    _callback->onLog(LogType::Error, "No 32-bit TrueColor visual for the child window: %s",
                     XDisplayName(nullptr));
    _callback->onLog(LogType::Error, "Child window creation failed: %s", XDisplayName(nullptr));
    return false;
  }
  ColormapHolder colormap(_display, XCreateColormap(_display, root, _visualInfo.visual, AllocNone));
  XSetWindowAttributes attributes{};
  attributes.background_pixel = backgroundPixel;
  attributes.border_pixel = borderPixel;
  attributes.colormap = colormap.get();
  _window = XCreateWindow(_display, parent, rect.x, rect.y, rect.width, rect.height, 0,
                          _visualInfo.depth, InputOutput, _visualInfo.visual,
                          CWBackPixel | CWBorderPixel | CWColormap, &attributes);
  if (_window == 0) {
    _callback->onLog(LogType::Error, "Child window creation failed: %s", XDisplayName(nullptr));
    return false;
  }
  _colormap = colormap.release();
  _callback->onLog(LogType::Log, "Child window created : 0x%08X",
                   static_cast<unsigned int>(_window));
  // The window keeps a defined cursor alive on the server; the holder frees our id right after.
  if (cursor) XDefineCursor(_display, _window, cursor.get());
  XSelectInput(
      _display, _window,
      _info.clickable ? (ExposureMask | ButtonPressMask | ButtonReleaseMask) : ExposureMask);
  _rectWin = rect;
  XMapWindow(_display, _window);
  return true;
}

bool NativeChildWindow::destroyChildWindow() {
  if (_window == 0) return true;
  if (_colormap) XFreeColormap(_display, _colormap);
  _colormap = 0;
  XDestroyWindow(_display, _window);
  _window = 0;
  return true;
}

// ---- TextWindow

TextWindow::TextWindow(Display* display, const ChildWinInfo& info,
                       NativeUIControllerCallback* callback, XftFont* font,
                       TextLayoutContext* layouts)
    : NativeChildWindow(display, info, callback), _xfont(font), _layouts(layouts) {
  initLocal();
}

// Without destroyChildWindow the members would still go before the window, but in an order that
// the declaration decides; this keeps the one order of an ordinary teardown.
TextWindow::~TextWindow() { TextWindow::destroyChildWindow(); }

const std::string& TextWindow::getText() const {
  return _info.customText.empty() ? _info.text : _info.customText;
}

void TextWindow::initLocal() {
  measure();
  // Against screen 0's default visual and colormap, as the colour has always been allocated;
  // the holder frees it against the same pair.
  _xftColor.allocate(_display, DefaultVisual(_display, 0), DefaultColormap(_display, 0),
                     _info.textColor);
  logExtent();
}

// Xft's measure of the text, or Pango's layout of it when the font does not draw it alone.
void TextWindow::measure() {
  const std::string& text = getText();
  _laidOut.reset();
  if (_layouts && !fontDrawsAlone(_display, _xfont, text)) {
    _laidOut = _layouts->layout(_display, _xfont, text);
    if (_laidOut) {
      _extent = _laidOut->extent();
      return;
    }
  }
  XftTextExtentsUtf8(_display, _xfont, reinterpret_cast<const FcChar8*>(text.data()),
                     static_cast<int>(text.size()), &_extent);
}

void TextWindow::fitToWidth(int maxWidth) {
  // The shared layout stays whole for the showings that have room for it.
  std::shared_ptr<LaidOutText> cut;
  PangoContext* context = _laidOut ? _layouts->get(_display, _xfont) : nullptr;
  if (context) cut = std::make_shared<LaidOutText>(context, getText());
  if (cut && cut->ellipsize(maxWidth)) {
    _laidOut = cut;
    _extent = _laidOut->extent();
  } else {
    const std::string fitted =
        _laidOut ? std::string() : fitTextToWidth(_display, _xfont, getText(), maxWidth);
    _info.customText = fitted.empty() ? " " : fitted;  // empty would bring the default back
    measure();
  }
  logExtent();
}

// Xft's text is as wide as its ink, as the bar has always measured it; a laid-out text is as
// wide as its logical box, which keeps the marks and bearings of its first and last clusters.
int TextWindow::contentWidth() const { return _laidOut ? _laidOut->logicalWidth() : _extent.width; }

void TextWindow::logExtent() {
  _callback->onLog(LogType::Log,
                   "Win info text: %s, _extent.x: %d, _extent.y: %d, _extent.xoff: %d, "
                   "_extent.yOff: %d, _extent.width: %d, _extent.height: %d",
                   getText().c_str(), _extent.x, _extent.y, _extent.xOff, _extent.yOff,
                   _extent.width, _extent.height);
}

bool TextWindow::createChildWindow(Window root, Window parent, XRectangle rect,
                                   unsigned long borderPixel, unsigned long backgroundPixel) {
  if (!NativeChildWindow::createChildWindow(root, parent, rect, borderPixel, backgroundPixel)) {
    return false;
  }
  _xftDraw.reset(XftDrawCreate(_display, _window, _visualInfo.visual, _colormap));
  logExtent();
  return true;
}

bool TextWindow::destroyChildWindow() {
  // The surface renders into the window and the colour was drawn with; both go before the
  // window and its colormap.
  if (_xftDraw) {
    _xftDraw.reset();
    _xftColor.reset();
  }
  return NativeChildWindow::destroyChildWindow();
}

void TextWindow::getContentSize(unsigned long& width, unsigned long& height) {
  width = static_cast<int32_t>(contentWidth() + _info.paddingLeft + _info.paddingRight);
  height = _extent.height;
}

void TextWindow::draw() {
  if (_window == 0 || !_xftDraw) return;
  // Puts the ink of the text in the vertical middle of the window. Xft's line keeps the
  // bar's own rule (the difference taken as absolute); a laid-out text's ink taller than the
  // window (stacked marks) loses as much at the top as at the bottom.
  const int height = _rectWin.height;
  const int inkTop =
      _laidOut ? (height - _extent.height) / 2 : std::abs(_extent.height - height) / 2;
  const int y = _extent.y + inkTop;
  const int x = contentX(_info, _rectWin.width, contentWidth());
  _callback->onLog(LogType::Log,
                   "Winid: %d, xfont->ascent: %d, xfont->descent: %d, xfont->height: %d, "
                   "y center: %d, xPos: %d, _rectWin.width: %d, _rectWin.height: %d, "
                   "_extent.width: %d, _extent.height: %d",
                   static_cast<int>(_window), _xfont->ascent, _xfont->descent, _xfont->height, y, x,
                   _rectWin.width, _rectWin.height, _extent.width, _extent.height);
  if (_laidOut) {
    _laidOut->draw(_xftDraw.get(), &_xftColor.get(), x, inkTop);
    return;
  }
  const std::string& text = getText();
  XftDrawStringUtf8(_xftDraw.get(), &_xftColor.get(), _xfont, x, y,
                    reinterpret_cast<const FcChar8*>(text.data()), static_cast<int>(text.size()));
}

// ---- PngWindow

PngWindow::PngWindow(Display* display, const ChildWinInfo& info,
                     NativeUIControllerCallback* callback, unsigned char* pngData,
                     unsigned long pngDataLength, double scale)
    : NativeChildWindow(display, info, callback), _pngData(pngData), _pngDataLength(pngDataLength) {
  initLocal();
  if (scale != 1.0) enlarge(scale);
}

PngWindow::~PngWindow() { PngWindow::destroyChildWindow(); }

void PngWindow::initLocal() {
  // A failed decoding leaves no pixels and a size of 0 x 0: the window then paints nothing.
  unsigned char* pixels = nullptr;
  loadPng(_pngData, _pngDataLength, &pixels, &_imageWidth, &_imageHeight);
  _imageData.reset(pixels);
  if (!_imageData) _imageWidth = _imageHeight = 0;
}

// Nearest neighbour over the decoded RGBA pixels: every target pixel takes the source pixel it
// falls on, so the icons' hard edges stay hard at every scale.
void PngWindow::enlarge(double scale) {
  _gripPitch = scaledLength(_gripPitch, scale);
  if (!_imageData) return;
  const unsigned int width = std::max(1, scaledLength(static_cast<int>(_imageWidth), scale));
  const unsigned int height = std::max(1, scaledLength(static_cast<int>(_imageHeight), scale));
  MallocPtr<unsigned char> enlarged(
      static_cast<unsigned char*>(std::malloc(size_t{width} * height * 4)));
  if (!enlarged) return;  // the icon stays at its own size
  for (unsigned int y = 0; y < height; ++y) {
    const size_t sourceY = uint64_t{y} * _imageHeight / height;
    for (unsigned int x = 0; x < width; ++x) {
      const size_t sourceX = uint64_t{x} * _imageWidth / width;
      std::memcpy(enlarged.get() + (size_t{y} * width + x) * 4,
                  _imageData.get() + (sourceY * _imageWidth + sourceX) * 4, 4);
    }
  }
  _imageData = std::move(enlarged);
  _imageWidth = width;
  _imageHeight = height;
}

void PngWindow::releaseImageData() { _imageData.reset(); }

bool PngWindow::createChildWindow(Window root, Window parent, XRectangle rect,
                                  unsigned long borderPixel, unsigned long backgroundPixel) {
  if (!NativeChildWindow::createChildWindow(root, parent, rect, borderPixel, backgroundPixel)) {
    return false;
  }
  // The decoded bytes are taken as they are, one 32-bit pixel each in the image's byte order:
  // no reordering, no premultiplication.
  _image.reset(XCreateImage(_display, _visualInfo.visual, _visualInfo.depth, ZPixmap, 0,
                            reinterpret_cast<char*>(_imageData.get()), _imageWidth, _imageHeight,
                            32, _bytesPerLine));
  if (!_image) _callback->onLog(LogType::Log, "Png image creation failed:");
  _gc = GcHolder(_display, XCreateGC(_display, _window, 0, &_gcValues));
  return true;
}

bool PngWindow::destroyChildWindow() {
  _gc.reset();
  releaseImageData();
  _image.reset();  // the structure alone; its pixels went with releaseImageData
  return NativeChildWindow::destroyChildWindow();
}

void PngWindow::getContentSize(unsigned long& width, unsigned long& height) {
  width = static_cast<uint32_t>(_info.paddingLeft + _info.paddingRight + _imageWidth);
  height = _imageHeight;
}

void PngWindow::draw() {
  if (_window == 0 || !_image || !_imageData) return;
  const int y = std::abs(static_cast<int>(_imageHeight) - _rectWin.height) / 2;
  const int x = contentX(_info, _rectWin.width, static_cast<int>(_imageWidth));
  XPutImage(_display, _window, _gc.get(), _image.get(), 0, 0, x, y, _imageWidth, _imageHeight);
  // One 2-pixel grip icon painted twice makes two bars with a one-pixel gap.
  if (_info.order == WindowOrder::LeftDragHandle || _info.order == WindowOrder::RightDragHandle) {
    XPutImage(_display, _window, _gc.get(), _image.get(), 0, 0, x + _gripPitch, y, _imageWidth,
              _imageHeight);
  }
}

}  // namespace NativeUI
