// The top of the work area where the window manager publishes no _NET_WORKAREA (some tiling
// ones do not): what the docks reserve is then only said by the struts they set on themselves.
// A dock is a top-level of its own or sits in a frame of a reparenting window manager, so the
// root's viewable children are read, and the children of those without a strut. That is a few
// round trips per top-level, paid at a build or a monitor change on such desktops only.
#include <X11/Xatom.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "SharedWindow.h"
#include "X11Utils.h"

namespace NativeUI {

namespace {

struct StrutAtoms {
  Atom partial;
  Atom full;
};

// Rows [0, top) of the root, over the columns [startX, endX].
struct TopStrut {
  long top = 0;
  long startX = 0;
  long endX = LONG_MAX;
};

std::vector<Window> childrenOf(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return {};
  const XPtr<Window> owned(children);
  return std::vector<Window>(children, children + count);
}

// A partial strut replaces the window's plain one, as the window manager reads them.
bool readTopStrut(Display* display, Window window, const StrutAtoms& atoms, TopStrut& strut) {
  unsigned long items = 0;
  XPtr<unsigned char> data =
      readProperty(display, window, atoms.partial, XA_CARDINAL, 32, 12, items);
  if (data && items >= 12) {
    const long* values = reinterpret_cast<const long*>(data.get());
    strut = {values[2], values[8], values[9]};
    return true;
  }
  data = readProperty(display, window, atoms.full, XA_CARDINAL, 32, 4, items);
  if (!data || items < 4) return false;
  strut = {reinterpret_cast<const long*>(data.get())[2], 0, LONG_MAX};
  return true;
}

// -1: the window has no strut; otherwise the rows it reserves at the monitor's top. A strut that
// reaches past the monitor's bottom belongs to a monitor below it.
int rowsReserved(Display* display, Window window, const StrutAtoms& atoms,
                 const MonitorInfo& monitor) {
  TopStrut strut;
  if (!readTopStrut(display, window, atoms, strut)) return -1;
  const bool onMonitor = strut.top > monitor.y && strut.top < monitor.y + monitor.height &&
                         strut.startX < monitor.x + monitor.width && strut.endX >= monitor.x;
  if (!onMonitor || !isViewable(display, window)) return 0;
  return static_cast<int>(strut.top - monitor.y);
}

}  // namespace

int topStrutRows(Display* display, Window root, const MonitorInfo& monitor) {
  const StrutAtoms atoms{XInternAtom(display, "_NET_WM_STRUT_PARTIAL", False),
                         XInternAtom(display, "_NET_WM_STRUT", False)};
  int rows = 0;
  for (const Window topLevel : childrenOf(display, root)) {
    if (!isViewable(display, topLevel)) continue;
    const int own = rowsReserved(display, topLevel, atoms, monitor);
    rows = std::max(rows, own);
    if (own >= 0) continue;
    for (const Window framed : childrenOf(display, topLevel)) {
      rows = std::max(rows, rowsReserved(display, framed, atoms, monitor));
    }
  }
  return rows;
}

}  // namespace NativeUI
