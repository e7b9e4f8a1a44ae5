// The five child windows of the control bar: the table that describes them, and the window
// classes that draw them. Everything here runs on the controller's UI thread, except
// setChildControlBarText, which the JavaScript thread calls before a showing starts.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "NativeUIControllerCallback.h"
#include "TextLayout.h"
#include "XHandles.h"

namespace NativeUI {

// Identity of a child and its place in the bar, left to right.
enum class WindowOrder : int32_t {
  LeftDragHandle = 1,
  SharingText = 2,
  StopIcon = 3,
  StopSharingText = 4,
  RightDragHandle = 5,
};

enum class ChildWindowType : int32_t { Text = 0, Image = 1 };

enum class CursorKind : int32_t { Default = 0, Hand = 1, HorizontalResize = 2 };

enum class ChildAlignment : int32_t { Left = 0, Center = 2 };

struct ChildWinInfo {
  WindowOrder order;
  ChildWindowType type;
  std::string text;
  std::string customText;  // shown instead of text when non-empty
  std::string imageName;
  CursorKind cursor;
  int32_t paddingLeft;
  int32_t paddingRight;
  bool clickable;
  ChildAlignment alignment;
  XRenderColor textColor;
  unsigned long backgroundColor;  // 0xAARRGGBB on the 32-bit TrueColor visual
};

constexpr int kChildWindowCount = 5;

// The bar's children in left-to-right order. Only customText ever changes, and only through
// setChildControlBarText.
extern ChildWinInfo ChildControlBarWins[kChildWindowCount];

// Replaces the custom text of the row(s) with this order; an unknown order changes nothing.
// Must not run while a UI thread builds the bar.
void setChildControlBarText(WindowOrder order, const std::string& text);

// The cursor images of the current theme, read from the theme's files once per name, theme and
// size (reading them is the slow part of making a cursor; the cursor itself is made on the
// server at every window as before). A name the theme lacks is remembered as lacking. One
// thread at a time: the UI thread.
class CursorImageCache {
 public:
  // The images of `name` in the display's current theme and size; null when the theme has none.
  // Owned by the cache.
  const XcursorImages* images(Display* display, const char* name);

 private:
  struct Entry {
    std::string theme;
    int size;
    std::string name;
    XcursorImagesPtr images;  // null: the theme has no such cursor
  };
  std::vector<Entry> _entries;
};

// Base of the child windows. Owns its X window and colormap; the display and the log sink are
// borrowed from the controller and must outlive the object. A failed createChildWindow leaves
// the object without a window: draw then does nothing and getContentSize still answers.
class NativeChildWindow {
 public:
  NativeChildWindow(Display* display, const ChildWinInfo& info,
                    NativeUIControllerCallback* callback);
  NativeChildWindow(const NativeChildWindow&) = delete;
  NativeChildWindow& operator=(const NativeChildWindow&) = delete;
  virtual ~NativeChildWindow();

  // Creates the window in `parent` with a 32-bit TrueColor visual, the row's cursor and event
  // mask, and maps it. false (and an error line) when the window cannot be made, among others on
  // a screen without a 32-bit TrueColor visual.
  virtual bool createChildWindow(Window root, Window parent, XRectangle rect,
                                 unsigned long borderPixel, unsigned long backgroundPixel);
  // Releases the window and what belongs to it; always true, and harmless when repeated.
  virtual bool destroyChildWindow();
  virtual void getContentSize(unsigned long& width, unsigned long& height) = 0;
  virtual void draw() = 0;

  Window window() const { return _window; }
  // Where createChildWindow placed the window in the bar; empty before.
  const XRectangle& rect() const { return _rectWin; }
  // Where createChildWindow takes the cursor's images from (borrowed; must outlive the object);
  // without one they are read from the theme's files at every creation.
  void useCursorImages(CursorImageCache* cache) { _cursorImages = cache; }

 protected:
  Display* _display;
  ChildWinInfo _info;
  Window _window = 0;
  XRectangle _rectWin{};
  NativeUIControllerCallback* _callback;
  XVisualInfo _visualInfo{};
  Colormap _colormap = 0;
  CursorImageCache* _cursorImages = nullptr;
};

// One line of UTF-8 text drawn with Xft in the controller's font (borrowed; it must outlive the
// window). The text is measured and its colour allocated once, at construction; the destructor
// releases the drawing surface and the colour when destroyChildWindow was not called.
// A text that the font does not draw alone (TextLayout.h) is laid out by Pango instead, when the
// controller lends a layout context (borrowed, kept as long as the font): its width is then its
// logical width, its extents those of the layout, and its ink is centred in the window. Without a
// context every text goes to Xft.
class TextWindow : public NativeChildWindow {
 public:
  TextWindow(Display* display, const ChildWinInfo& info, NativeUIControllerCallback* callback,
             XftFont* font, TextLayoutContext* layouts = nullptr);
  ~TextWindow() override;

  bool createChildWindow(Window root, Window parent, XRectangle rect, unsigned long borderPixel,
                         unsigned long backgroundPixel) override;
  bool destroyChildWindow() override;
  void getContentSize(unsigned long& width, unsigned long& height) override;
  void draw() override;

  // customText when it is set, else text.
  const std::string& getText() const;
  // Shortens the text to at most `maxWidth` pixels, ending in an ellipsis, and measures it
  // again; a single space when not even the ellipsis fits. Before createChildWindow only.
  void fitToWidth(int maxWidth);
  bool laidOut() const { return _laidOut != nullptr; }

 private:
  void initLocal();
  void measure();
  int contentWidth() const;
  void logExtent();

  XftFont* _xfont;
  TextLayoutContext* _layouts;
  std::shared_ptr<const LaidOutText> _laidOut;  // null: drawn by Xft alone
  XGlyphInfo _extent{};
  XftDrawPtr _xftDraw;
  XftColorHolder _xftColor;
};

// One embedded PNG icon, decoded at construction and copied into the window on every exposure;
// the drag grips paint it twice, 3 pixels apart. The PNG bytes are borrowed (static data); the
// decoded pixels, the image and the GC are owned and go with destroyChildWindow or the
// destructor. After destroyChildWindow the object cannot be created again.
// At a `scale` other than 1 the decoded icon is enlarged to that many times its size, nearest
// neighbour (whole pixels stay sharp; at 2 every pixel becomes 2 x 2), and the grips' two copies
// stand that many times 3 pixels apart. The row's paddings are taken as they are: the caller
// scales them.
class PngWindow : public NativeChildWindow {
 public:
  PngWindow(Display* display, const ChildWinInfo& info, NativeUIControllerCallback* callback,
            unsigned char* pngData, unsigned long pngDataLength, double scale = 1.0);
  ~PngWindow() override;

  bool createChildWindow(Window root, Window parent, XRectangle rect, unsigned long borderPixel,
                         unsigned long backgroundPixel) override;
  bool destroyChildWindow() override;
  void getContentSize(unsigned long& width, unsigned long& height) override;
  void draw() override;

 private:
  void initLocal();
  void enlarge(double scale);
  void releaseImageData();

  MallocPtr<unsigned char> _imageData;
  unsigned int _imageWidth = 0;
  unsigned int _imageHeight = 0;
  int _bytesPerLine = 0;  // 0: Xlib computes it
  // The structure only: its pixels belong to _imageData, so it is released with XFree and never
  // with XDestroyImage.
  XPtr<XImage> _image;
  GcHolder _gc;
  XGCValues _gcValues{};
  unsigned char* _pngData;
  unsigned long _pngDataLength;
  int _gripPitch = 3;  // from one grip copy's left edge to the next's
};

}  // namespace NativeUI
