// The first steps of every UI thread: the border window around the monitor, the control bar
// with its five children, the font. Everything here runs on the UI thread with the controller's
// own connection; the event loop (EventLoop.cpp) takes over once both windows are mapped.
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <iostream>
#include <vector>

#include "BarDesign.h"
#include "DisplayScale.h"
#include "NativeUIController.h"
#include "TextFit.h"
#include "TextLayout.h"
#include "X11Utils.h"

namespace NativeUI {

namespace {

constexpr long kBorderEventMask =
    VisibilityChangeMask | StructureNotifyMask | SubstructureNotifyMask;
constexpr unsigned long kBarValueMask =
    CWBackPixel | CWBorderPixel | CWOverrideRedirect | CWColormap;
constexpr long kBarEventMask = ExposureMask | VisibilityChangeMask | StructureNotifyMask;
constexpr int kProvisionalBarX = 1970;
constexpr int kProvisionalBarWidth = 400;
constexpr int kProvisionalBarHeight = 100;

}  // namespace

bool NativeUIController::createWindows() {
  Display* display = _display.get();
  if (!display) {
    logBuildFailure("XOpenDisplay(): Can't connect to: %s", XDisplayName(nullptr));
    return false;
  }
  _errorSuppressor.reset();  // restores the handler it saved before a new one saves it again
  _errorSuppressor = std::make_unique<XErrorSuppressor>(display);
  _barDestroyed = false;

  // libXext asks the server once per connection and keeps the answer; XQueryExtension would ask
  // again at every showing.
  int eventBase = 0;
  int errorBase = 0;
  if (!XShapeQueryExtension(display, &eventBase, &errorBase)) {
    // Without a line the showing would fail in silence: no shown report, and no reason.
    logBuildFailure("XQueryExtension(): No Shape extension: %s", XDisplayName(nullptr));
    return false;
  }

  _rootWindow = DefaultRootWindow(display);
  readDesktop();
  readScale();
  placeBelowWorkArea();  // after the scale: the bar's height decides what fits

  XVisualInfo visualInfo{};
  if (!matchArgbVisual(visualInfo)) return false;
  const FrameWindows::Layout layout =
      _onXWayland ? FrameWindows::Layout::Strips : FrameWindows::Layout::Ring;
  if (!_frame.create(display, _rootWindow, visualInfo, layout, _frameRect, _frameWidth,
                     kBorderEventMask)) {
    logBuildFailure("XCreateWindow(): Window creation failed: %s", XDisplayName(nullptr));
    return false;
  }
  callback()->onLog(LogType::Log, "Created border window: 0x%08X",
                    static_cast<unsigned int>(_frame.primary()));
  if (layout == FrameWindows::Layout::Strips) {
    const std::vector<Window>& strips = _frame.windows();
    callback()->onLog(LogType::Log, "XWayland: frame in strips: 0x%08lX 0x%08lX 0x%08lX 0x%08lX",
                      strips[0], strips[1], strips[2], strips[3]);
  }

  if (!initControlBar()) {
    logBuildFailure("Control bar creation failed: %s", XDisplayName(nullptr));
    // Nothing would ever show or destroy these windows again; they would stay on the server
    // until the controller's connection closes.
    destroyBarWindows();
    _controlBarWindow = 0;
    _frame.forget();
    return false;
  }
  // Compositors that keep their own order for override-redirect windows (mutter, kwin_x11) put
  // each one on top of those they know as they hear of its map, and keep that order until a
  // restack makes them look again: mapped in the server's stacking order, frame below bar, the
  // bar is painted over the frame's top band from the first frame on.
  grabShortcut();
  _frame.map();
  XMapWindow(display, _controlBarWindow);
  callback()->onLog(LogType::Log, "All windows mapped");
  return runNativeUIControllerThread();
}

// Both top-level windows and every child need a depth-32 TrueColor visual for their ARGB
// pixels; without one, nothing here can be drawn at all.
bool NativeUIController::matchArgbVisual(XVisualInfo& visualInfo) {
  if (XMatchVisualInfo(_display.get(), DefaultScreen(_display.get()), 32, TrueColor, &visualInfo)) {
    return true;
  }
  logBuildFailure("XMatchVisualInfo(): No 32-bit TrueColor visual: %s", XDisplayName(nullptr));
  return false;
}

bool NativeUIController::initControlBar() {
  Display* display = _display.get();
  _barWidth = kProvisionalBarWidth;
  XVisualInfo visualInfo{};
  if (!matchArgbVisual(visualInfo)) return false;
  // Provisional geometry: the bar is laid out and moved before it is mapped.
  _controlBarWindow = createArgbTopLevel(
      display, _rootWindow, visualInfo,
      MonitorInfo{kProvisionalBarX, _workAreaTop, _barWidth, kProvisionalBarHeight, 0},
      kBarValueMask, 0);
  if (_controlBarWindow == 0) {
    logBuildFailure("XCreateWindow(): Control bar window creation failed: %s",
                    XDisplayName(nullptr));
    return false;
  }
  // No XSync between these: nothing here waits for the server, and an error the server reports
  // for one of them is read with the loop's events and reaches the suppressor all the same.
  callback()->onLog(LogType::Log, "Created control bar window: 0x%08lX", _controlBarWindow);
  setAlwaysOnTop(display, _controlBarWindow, _rootWindow);
  setZELNativeUIWindowType(display, _controlBarWindow);
  setNoShadow(display, _controlBarWindow);
  if (!initFont()) {
    logBuildFailure("initFont(): Font init failed: %s", XDisplayName(nullptr));
    return false;
  }
  XSelectInput(display, _controlBarWindow, kBarEventMask);

  int32_t total = 0;
  createChildObjects(total);
  _barWidth = total;
  _barHeight = scaledLength(kBarHeight, _scale);
  XMoveResizeWindow(display, _controlBarWindow, centredBarX(), barY(),
                    static_cast<unsigned int>(total), static_cast<unsigned int>(_barHeight));
  setWindowFixedSize(display, _controlBarWindow, total, _barHeight);
  setCurvedBorder(display, _controlBarWindow, total, _barHeight, _cornerRadius);
  createChildWindows();
  return true;
}

// Read from the server rather than from the connection's copy of its resources, which is as old
// as the connection; read again only when the layout's connection saw either property change
// since the last read, which spares two round trips at most showings. Docks come and go without
// a property of the root changing: a work area taken from their struts is read at every build.
void NativeUIController::readDesktop() {
  const uint64_t changes = _desktopChanges.load();
  if (_desktopReadAt != changes) _desktopDpi = readDesktopDpi(_display.get());
  if (_desktopReadAt != changes || !_desktopHasWorkArea) {
    _desktopHasWorkArea = getWorkArea(_display.get(), _rootWindow, _desktopWorkArea);
  }
  _desktopReadAt = changes;
}

// The root's _NET_WORKAREA as it is now, for a bar that changes monitor.
void NativeUIController::readWorkArea() {
  _desktopHasWorkArea = getWorkArea(_display.get(), _rootWindow, _desktopWorkArea);
  placeBelowWorkArea();
}

// The top of the root's _NET_WORKAREA where the window manager publishes one that leaves the bar
// on the shown monitor; else the rows that the docks' struts reserve there, if the bar still fits
// below them; else the monitor's top. A work area read while an earlier window manager ran says
// nothing about this one, and the values are another client's: -50, 5000 or 2^31-1 would put
// the bar off its monitor.
void NativeUIController::placeBelowWorkArea() {
  if (_desktopHasWorkArea && workAreaFits(_desktopWorkArea)) {
    _workAreaTop = static_cast<int32_t>(_desktopWorkArea.y);
    return;
  }
  _workAreaTop = strutRowsThatFit();
}

bool NativeUIController::workAreaFits(const RootWorkArea& a) {
  if (a.width <= 0 || a.height <= 0) {
    warnOncePerShowing("Ignoring _NET_WORKAREA %ld,%ld,%ld,%ld: its rectangle is empty", a.x, a.y,
                       a.width, a.height);
    return false;
  }
  if (a.y < 0 || a.y >= _monitor.height) {
    warnOncePerShowing("Ignoring _NET_WORKAREA %ld,%ld,%ld,%ld: its top is not on the monitor", a.x,
                       a.y, a.width, a.height);
    return false;
  }
  if (a.y > _monitor.height - scaledLength(kBarHeight, _scale)) {
    warnOncePerShowing("Ignoring _NET_WORKAREA %ld,%ld,%ld,%ld: the bar does not fit below its top",
                       a.x, a.y, a.width, a.height);
    return false;
  }
  return true;
}

int32_t NativeUIController::strutRowsThatFit() {
  const int rows = topStrutRows(_display.get(), _rootWindow, _monitor);
  if (rows <= _monitor.height - scaledLength(kBarHeight, _scale)) return rows;
  warnOncePerShowing(
      "Ignoring the docks' top struts (_NET_WM_STRUT_PARTIAL, _NET_WM_STRUT) of %d "
      "rows: the bar does not fit below them",
      rows);
  return 0;
}

void NativeUIController::readScale() {
  _scale = effectiveScale(_buildScaleOverride, _desktopDpi);
  _frameWidth = scaledLength(kFrameWidth, _scale);
  _cornerRadius = scaledLength(kCornerRadius, _scale);
  if (_scale != 1) callback()->onLog(LogType::Log, "Control bar scale: %.2f", _scale);
}

// Centred on the monitor with truncating halves, as the bar has always been placed.
int32_t NativeUIController::centredBarX() const {
  return _monitor.width / 2 + _monitor.x - _barWidth / 2;
}

// The work area's top, counted from the monitor's top edge.
int32_t NativeUIController::barY() const { return _workAreaTop + _monitor.y; }

std::unique_ptr<NativeChildWindow> NativeUIController::makeChild(const ChildWinInfo& row) {
  std::unique_ptr<NativeChildWindow> child;
  if (row.type == ChildWindowType::Text) {
    child =
        std::make_unique<TextWindow>(_display.get(), row, _callback.load(), _font, &_textLayouts);
  } else {
    unsigned long length = 0;
    unsigned char* png = getPngImageFileData(row.imageName, length);
    child = std::make_unique<PngWindow>(_display.get(), row, _callback.load(), png, length, _scale);
  }
  child->useCursorImages(&_cursorImages);
  return child;
}

int32_t NativeUIController::childWidth(WindowOrder order) {
  unsigned long width = 0;
  unsigned long height = 0;
  _childWindows[order]->getContentSize(width, height);
  return static_cast<int32_t>(width);
}

// The rows' margins at the build's scale; the rows are this showing's copy, scaled once.
void NativeUIController::scaleRows() {
  if (_scale == 1) return;
  for (ChildWinInfo& row : _rows) {
    row.paddingLeft = scaledLength(row.paddingLeft, _scale);
    row.paddingRight = scaledLength(row.paddingRight, _scale);
  }
}

// First pass: one object per row, replacing the previous showing's, and the bar's total width.
void NativeUIController::createChildObjects(int32_t& totalWidth) {
  scaleRows();
  for (ChildWinInfo& row : _rows) {
    if (row.type != ChildWindowType::Text) continue;
    const std::string& shown = row.customText.empty() ? row.text : row.customText;
    // Native callers may hand over any bytes; every measure and layout below needs UTF-8.
    std::string text = validUtf8(shown);
    if (text.size() > kMaxTextBytes) {
      const std::string capped = cutAtCharacter(text, kMaxTextBytes);
      // Pango would draw a cluster cut in two as a broken one (a dotted circle for its marks).
      text = fontDrawsAlone(_display.get(), _font, capped) ? capped
                                                           : cutAtCluster(text, kMaxTextBytes);
    }
    if (text != shown) row.customText = text;
  }
  totalWidth = 0;
  for (const ChildWinInfo& row : _rows) {
    _childWindows[row.order] = makeChild(row);
    totalWidth += childWidth(row.order);
  }
  if (totalWidth > _monitor.width) shortenTextsToFit(totalWidth);
}

// Texts that would make the bar wider than its monitor would push it, and the 16-bit positions
// of its children, off the screen. The narrower text keeps what it needs, the wider ones share
// the rest; each is cut at a character (for a laid-out text, a cluster) boundary and ends in an
// ellipsis.
void NativeUIController::shortenTextsToFit(int32_t& totalWidth) {
  std::vector<ChildWinInfo*> rows;
  std::vector<int32_t> contents;
  int32_t available = _monitor.width - totalWidth;
  for (ChildWinInfo& row : _rows) {
    if (row.type != ChildWindowType::Text) continue;
    const int32_t content = childWidth(row.order) - row.paddingLeft - row.paddingRight;
    rows.push_back(&row);
    contents.push_back(content);
    available += content;
  }
  for (const auto& [index, width] : shareTextWidths(contents, available)) {
    if (width >= contents[index]) continue;
    const ChildWinInfo& row = *rows[index];
    totalWidth -= childWidth(row.order);
    static_cast<TextWindow&>(*_childWindows[row.order]).fitToWidth(width);
    totalWidth += childWidth(row.order);
  }
}

// Second pass: the children side by side, left to right, each as high as the bar.
void NativeUIController::createChildWindows() {
  Display* display = _display.get();
  // Only this showing's children: the entries of earlier showings would otherwise pile up, five
  // per showing, for as long as the connection lives.
  _windowOrders.clear();
  int16_t x = 0;
  for (const ChildWinInfo& row : _rows) {
    NativeChildWindow& child = *_childWindows[row.order];
    unsigned long width = 0;
    unsigned long height = 0;
    child.getContentSize(width, height);
    XRectangle rect;
    rect.x = x;
    rect.y = 0;
    rect.width = static_cast<unsigned short>(width);
    rect.height = static_cast<unsigned short>(_barHeight);
    x = static_cast<int16_t>(x + static_cast<int>(width));
    child.createChildWindow(_rootWindow, _controlBarWindow, rect,
                            BlackPixel(display, DefaultScreen(display)), row.backgroundColor);
    // A child that failed has no window; recording id 0 would make the loop route events of
    // "no window" to it.
    if (child.window() != 0) _windowOrders[child.window()] = row.order;
  }
}

// The children, the bar and the frame, in that order; used by the teardown and by every
// path on which the windows would otherwise be left on the server.
void NativeUIController::destroyBarWindows() {
  // Each child destroyed inside a mapped bar would expose the bar where it was, and the loop
  // would wake for every one of those Expose events before the DestroyNotify it waits for.
  if (_controlBarWindow != 0) XUnmapWindow(_display.get(), _controlBarWindow);
  for (const ChildWinInfo& row : _rows) {
    auto child = _childWindows.find(row.order);
    if (child != _childWindows.end() && child->second) child->second->destroyChildWindow();
  }
  if (_controlBarWindow != 0) XDestroyWindow(_display.get(), _controlBarWindow);
  _frame.destroy();
  _barDestroyed = true;
}

// One font per connection, kept across showings, and opened again only when a showing needs the
// text at another scale than the font's. The size stays 11 pt; where the dpi that Xft applies
// on this connection would not draw it at the build's scale, the font is given that dpi.
bool NativeUIController::initFont() {
  Display* display = _display.get();
  const double dpi = fontDpiFor(_scale, connectionDpi(display), _buildScaleOverride != 0);
  if (_font && dpi == _fontDpi) return true;
  if (_font) {
    // The previous showing's text children still point at it; their windows went with its
    // teardown.
    _childWindows.clear();
    _windowOrders.clear();
    _textLayouts.reset();  // set to the old font's size
    XftFontClose(display, _font);
    _font = nullptr;
  }
  const std::string name = getLinuxOSDistribution();
  const char* family = name.find("Ubuntu") != std::string::npos ? "ubuntu" : "cantarell";
  if (dpi == 0) {
    _font = XftFontOpen(display, DefaultScreen(display), XFT_FAMILY, XftTypeString, family,
                        XFT_SIZE, XftTypeDouble, kFontSize, nullptr);
  } else {
    _font = XftFontOpen(display, DefaultScreen(display), XFT_FAMILY, XftTypeString, family,
                        XFT_SIZE, XftTypeDouble, kFontSize, XFT_DPI, XftTypeDouble, dpi, nullptr);
  }
  _fontDpi = dpi;
  std::cout << "Current os:" << name << ", font:" << static_cast<const void*>(_font) << std::endl;
  return _font != nullptr;
}

}  // namespace NativeUI
