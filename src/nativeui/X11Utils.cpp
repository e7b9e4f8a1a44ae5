// Window-manager hints and window properties. Every property here is format 32: Xlib takes its
// items as C longs whatever the width of long. None of these functions flushes; the errors that
// the server may report for their requests reach whatever error handler is installed then.
#include "X11Utils.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>

#include "XHandles.h"

namespace NativeUI {

namespace {

Atom intern(Display* display, const char* name) { return XInternAtom(display, name, False); }
Atom lookUp(Display* display, const char* name) { return XInternAtom(display, name, True); }

void replaceLongs(Display* display, Window window, Atom property, Atom type, const long* items,
                  int count) {
  XChangeProperty(display, window, property, type, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(items), count);
}

void replaceOneAtom(Display* display, Window window, Atom property, long item) {
  replaceLongs(display, window, property, XA_ATOM, &item, 1);
}

void printAtom(const char* name, Atom atom) {
  if (atom) {
    printf("%s has atom of %ld\n", name, static_cast<long>(atom));
  } else {
    printf("ERROR: cannot find atom for %s !\n", name);
  }
}

}  // namespace

Window createArgbTopLevel(Display* display, Window root, const XVisualInfo& visual,
                          const MonitorInfo& rect, unsigned long valueMask, long eventMask) {
  XSetWindowAttributes attributes{};
  attributes.background_pixel = kFrameColour;
  attributes.border_pixel = 0;
  attributes.event_mask = eventMask;
  attributes.override_redirect = True;
  attributes.colormap = XCreateColormap(display, root, visual.visual, AllocNone);
  const Window window =
      XCreateWindow(display, root, rect.x, rect.y, static_cast<unsigned int>(rect.width),
                    static_cast<unsigned int>(rect.height), 0, visual.depth, InputOutput,
                    visual.visual, valueMask, &attributes);
  XFreeColormap(display, attributes.colormap);
  return window;
}

// No X server driver names its outputs so; XWayland 22 (Debian 12's) has no extension to ask.
bool isXWayland(Display* display) {
  int opcode = 0;
  int eventBase = 0;
  int errorBase = 0;
  if (XQueryExtension(display, "XWAYLAND", &opcode, &eventBase, &errorBase)) return true;
  if (!XRRQueryExtension(display, &eventBase, &errorBase)) return false;
  const ScreenResourcesPtr resources(
      XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display)));
  if (!resources || resources->noutput == 0) return false;
  for (int i = 0; i < resources->noutput; ++i) {
    const OutputInfoPtr output(XRRGetOutputInfo(display, resources.get(), resources->outputs[i]));
    if (!output || std::strncmp(output->name, "XWAYLAND", 8) != 0) return false;
  }
  return true;
}

void setAlwaysOnTop(Display* display, Window window, Window root) {
  const Atom above = intern(display, "_NET_WM_STATE_ABOVE");
  printAtom("_NET_WM_STATE_ABOVE", above);
  const Atom state = intern(display, "_NET_WM_STATE");
  printAtom("_NET_WM_STATE", state);
  if (!above) return;

  XClientMessageEvent message{};
  message.type = ClientMessage;
  message.send_event = True;
  message.display = display;
  message.window = window;
  message.message_type = state;
  message.format = 32;
  message.data.l[0] = 1;  // _NET_WM_STATE_ADD
  message.data.l[1] = static_cast<long>(above);
  XEvent event{};
  event.xclient = message;
  XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void keepWindowAlwaysTop(Display* display, Window window, Window /*unused*/) {
  if (window == 0) return;
  const Atom above = intern(display, "_NET_WM_STATE_ABOVE");
  replaceOneAtom(display, window, intern(display, "_NET_WM_STATE"), static_cast<long>(above));
}

void removeTitleBar(Display* display, Window window, Window /*unused*/) {
  const Atom type = intern(display, "_NET_WM_WINDOW_TYPE");
  const Atom dock = intern(display, "_NET_WM_WINDOW_TYPE_DOCK");
  replaceOneAtom(display, window, type, static_cast<long>(dock));
}

void setFullScreen(Display* display, Window window) {
  const Atom fullScreen = intern(display, "_NET_WM_STATE_FULLSCREEN");
  replaceOneAtom(display, window, intern(display, "_NET_WM_STATE"), static_cast<long>(fullScreen));
}

void setWindowFixedSize(Display* display, Window window, int width, int height) {
  XPtr<XSizeHints> hints(XAllocSizeHints());
  if (!hints) return;
  hints->flags = PMinSize | PMaxSize;
  hints->min_width = hints->max_width = width;
  hints->min_height = hints->max_height = height;
  XSetWMNormalHints(display, window, hints.get());
}

XPtr<unsigned char> readProperty(Display* display, Window window, Atom property, Atom type,
                                 int format, long length, unsigned long& items) {
  Atom actualType = 0;
  int actualFormat = 0;
  unsigned long remaining = 0;
  unsigned char* raw = nullptr;
  items = 0;
  const int status = XGetWindowProperty(display, window, property, 0, length, False, type,
                                        &actualType, &actualFormat, &items, &remaining, &raw);
  XPtr<unsigned char> data(raw);
  // A property of another type comes back without data; one of another format would not hold
  // what the caller reads.
  if (status != Success || actualType != type || actualFormat != format) return nullptr;
  return data;
}

bool getWorkArea(Display* display, Window root, RootWorkArea& area) {
  unsigned long count = 0;
  const XPtr<unsigned char> data =
      readProperty(display, root, intern(display, "_NET_WORKAREA"), XA_CARDINAL, 32, 4, count);
  if (!data || count < 4) return false;
  const long* values = reinterpret_cast<const long*>(data.get());
  area = RootWorkArea{values[0], values[1], values[2], values[3]};
  return true;
}

void getWindowPosition(Display* display, Window window, Window reference, int& x, int& y) {
  int translatedX = 0;
  int translatedY = 0;
  Window child = 0;
  XWindowAttributes attributes{};
  // Both queries fail on a window that is gone; its position is then reported as the origin
  // rather than as whatever the failed replies left behind.
  if (!XTranslateCoordinates(display, window, reference, 0, 0, &translatedX, &translatedY,
                             &child) ||
      !XGetWindowAttributes(display, window, &attributes)) {
    x = 0;
    y = 0;
    return;
  }
  x = translatedX - attributes.x;
  y = translatedY - attributes.y;
}

bool getWindowParent(Display* display, Window window, Window& parent, Window& root) {
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
  XPtr<Window> owned(children);
  return true;
}

void wmNoDecorations(Display* display, Window /*unused*/, Window transientFor, Window window) {
  if (const Atom motif = lookUp(display, "_MOTIF_WM_HINTS")) {
    const long hints[5] = {2, 0, 0, 0, 0};  // decorations valid; none
    replaceLongs(display, window, motif, motif, hints, 5);
  }
  if (const Atom kwm = lookUp(display, "KWM_WIN_DECORATION")) {
    const long hints[2] = {2, 0};
    replaceLongs(display, window, kwm, kwm, hints, 2);
  }
  if (const Atom win = lookUp(display, "_WIN_HINTS")) {
    const long hints[2] = {0, 0};
    replaceLongs(display, window, win, win, hints, 2);
  }
  if (const Atom type = lookUp(display, "_NET_WM_WINDOW_TYPE")) {
    const long types[2] = {static_cast<long>(lookUp(display, "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE")),
                           static_cast<long>(lookUp(display, "_NET_WM_WINDOW_TYPE_NORMAL"))};
    replaceLongs(display, window, type, XA_ATOM, types, 2);
  }
  XSetTransientForHint(display, window, transientFor);
  XUnmapWindow(display, window);
  XMapWindow(display, window);
}

// The value 1 is a marker for other clients, not an atom, although the type says ATOM.
void setZELNativeUIWindowType(Display* display, Window window) {
  replaceOneAtom(display, window, intern(display, "_ZEL_NATIVE_UI_TYPE"), 1);
}

void setZELNativeUIWindowTypeIgnore(Display* display, Window window) {
  replaceOneAtom(display, window, intern(display, "_ZEL_NATIVE_UI_TYPE_IGNORE"), 1);
}

// picom shadows every window type but the desktop's once shadows are on, and cuts a window's
// Shape out of its shadow only where the window itself is: a monitor-sized frame would darken the
// whole monitor inside its ring. It always honours this property (compton did with
// --respect-prop-shadow). mutter draws none for ARGB windows, and kwin none for an unmanaged
// window without _KDE_NET_WM_SHADOW, which we never set.
void setNoShadow(Display* display, Window window) {
  const long none = 0;
  replaceLongs(display, window, intern(display, "_COMPTON_SHADOW"), XA_CARDINAL, &none, 1);
}

}  // namespace NativeUI
