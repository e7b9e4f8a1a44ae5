// The five child windows of the control bar: the table that describes them, and the window
// classes that draw them. Everything here runs on the controller's UI thread, except
// setChildControlBarText, which the JavaScript thread calls before a showing starts.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xft/Xft.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <string>

#include "NativeUIControllerCallback.h"

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

// Base of the child windows. Owns its X window and colormap; the display and the log sink are
// borrowed from the controller.
class NativeChildWindow {
 public:
  NativeChildWindow(Display* display, const ChildWinInfo& info,
                    NativeUIControllerCallback* callback);
  NativeChildWindow(const NativeChildWindow&) = delete;
  NativeChildWindow& operator=(const NativeChildWindow&) = delete;
  virtual ~NativeChildWindow();

  virtual bool createChildWindow(Window root, Window parent, XRectangle rect,
                                 unsigned long borderPixel, unsigned long backgroundPixel);
  virtual bool destroyChildWindow();
  virtual void getContentSize(unsigned long& width, unsigned long& height) = 0;
  virtual void draw() = 0;

  Window window() const { return _window; }

 protected:
  Display* _display;
  ChildWinInfo _info;
  Window _window = 0;
  XRectangle _rectWin{};
  NativeUIControllerCallback* _callback;
  XVisualInfo _visualInfo{};
  Colormap _colormap = 0;
};

// One line of UTF-8 text drawn with Xft in the controller's font (borrowed; it must outlive the
// window). The text is measured once, at construction.
class TextWindow : public NativeChildWindow {
 public:
  TextWindow(Display* display, const ChildWinInfo& info, NativeUIControllerCallback* callback,
             XftFont* font);
  ~TextWindow() override;

  bool createChildWindow(Window root, Window parent, XRectangle rect, unsigned long borderPixel,
                         unsigned long backgroundPixel) override;
  bool destroyChildWindow() override;
  void getContentSize(unsigned long& width, unsigned long& height) override;
  void draw() override;

  // customText when it is set, else text.
  const std::string& getText() const;

 private:
  void initLocal();

  XftFont* _xfont;
  XGlyphInfo _extent{};
  XftDraw* _xftDraw = nullptr;
  XftColor _xftColor{};
};

// One embedded PNG icon, decoded at construction and copied into the window on every exposure;
// the drag grips paint it twice, 3 pixels apart.
class PngWindow : public NativeChildWindow {
 public:
  PngWindow(Display* display, const ChildWinInfo& info, NativeUIControllerCallback* callback,
            unsigned char* pngData, unsigned long pngDataLength);
  ~PngWindow() override;

  bool createChildWindow(Window root, Window parent, XRectangle rect, unsigned long borderPixel,
                         unsigned long backgroundPixel) override;
  bool destroyChildWindow() override;
  void getContentSize(unsigned long& width, unsigned long& height) override;
  void draw() override;

 private:
  void initLocal();
  void releaseImageData();

  unsigned char* _imageData = nullptr;
  unsigned int _imageWidth = 0;
  unsigned int _imageHeight = 0;
  int _bytesPerLine = 0;
  XImage* _image = nullptr;
  GC _gc = 0;
  XGCValues _gcValues{};
  unsigned char* _pngData;
  unsigned long _pngDataLength;
};

}  // namespace NativeUI
