#include "NativeChildWindows.h"

#include <X11/Xcursor/Xcursor.h>
#include <X11/Xutil.h>

namespace NativeUI {

namespace {

// The first of the names that the current cursor theme has, or 0.
Cursor loadCursor(Display* display, CursorKind kind) {
  static const char* const kHandNames[] = {
      "pointing_hand", "hand2", "hand", "hand1", "pointer", "e29285e634086352946a0e7090d73106",
      "9d800788f1b08800ae810202380a0822"};
  switch (kind) {
    case CursorKind::HorizontalResize:
      return XcursorLibraryLoadCursor(display, "sb_h_double_arrow");
    case CursorKind::Hand:
      for (const char* name : kHandNames) {
        if (Cursor cursor = XcursorLibraryLoadCursor(display, name)) return cursor;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

NativeChildWindow::NativeChildWindow(Display* display, const ChildWinInfo& info,
                                     NativeUIControllerCallback* callback)
    : _display(display), _info(info), _callback(callback) {}

NativeChildWindow::~NativeChildWindow() { NativeChildWindow::destroyChildWindow(); }

bool NativeChildWindow::createChildWindow(Window root, Window parent, XRectangle rect,
                                          unsigned long borderPixel,
                                          unsigned long backgroundPixel) {
  const Cursor cursor = loadCursor(_display, _info.cursor);
  _callback->onLog(LogType::Log, "Creating child window at, x: %d, y: %d, width: %d, height: %d",
                   rect.x, rect.y, rect.width, rect.height);
  XMatchVisualInfo(_display, DefaultScreen(_display), 32, TrueColor, &_visualInfo);
  _colormap = XCreateColormap(_display, root, _visualInfo.visual, AllocNone);
  XSetWindowAttributes attributes{};
  attributes.background_pixel = backgroundPixel;
  attributes.border_pixel = borderPixel;
  attributes.colormap = _colormap;
  _window = XCreateWindow(_display, parent, rect.x, rect.y, rect.width, rect.height, 0,
                          _visualInfo.depth, InputOutput, _visualInfo.visual,
                          CWBackPixel | CWBorderPixel | CWColormap, &attributes);
  if (_window == 0) {
    if (cursor) XFreeCursor(_display, cursor);
    _callback->onLog(LogType::Error, "Child window creation failed: %s", XDisplayName(nullptr));
    return false;
  }
  _callback->onLog(LogType::Log, "Child window created : 0x%08X",
                   static_cast<unsigned int>(_window));
  if (cursor) {
    XDefineCursor(_display, _window, cursor);
    // The window keeps the cursor alive on the server; our id is no longer needed.
    XFreeCursor(_display, cursor);
  }
  const long mask = _info.clickable ? (ExposureMask | ButtonPressMask | ButtonReleaseMask)
                                    : ExposureMask;
  XSelectInput(_display, _window, mask);
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

}  // namespace NativeUI
