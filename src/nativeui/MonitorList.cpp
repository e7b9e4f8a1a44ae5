#include "MonitorList.h"

#include "NativeUIController.h"
#include "XConnection.h"

namespace NativeUI {

void MonitorLayout::init() {
  if (_display) return;
  // Should the server go away mid-listing, the calls simply fail and the list comes out short
  // or empty, instead of Xlib ending the host process.
  _display.reset(openSurvivableDisplay(nullptr, nullptr));
  if (!_display) return;
  XSelectInput(_display.get(), DefaultRootWindow(_display.get()), StructureNotifyMask);
}

void MonitorLayout::refreshList(bool force) {
  if (!_display) {
    _monitors.clear();
    return;
  }
  // Exactly the events queued now: later ones belong to the next call.
  for (int pending = XPending(_display.get()); pending > 0; --pending) {
    XEvent event;
    XNextEvent(_display.get(), &event);
    if (event.type == ConfigureNotify) force = true;
  }
  if (!force) return;

  _monitors.clear();
  Display* display = _display.get();
  _screenWidth = DisplayWidth(display, DefaultScreen(display));
  _screenHeight = DisplayHeight(display, DefaultScreen(display));

  int eventBase = 0;
  int errorBase = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase)) return;
  // A CRTC that vanishes between the two queries answers with an X error; Xlib's default
  // handler would end the host process for it.
  XErrorSuppressor suppressor(display);
  for (int screen = 0; screen < ScreenCount(display); ++screen) appendScreenMonitors(screen);
}

void MonitorLayout::appendScreenMonitors(int screen) {
  Display* display = _display.get();
  ScreenResourcesPtr resources(XRRGetScreenResources(display, RootWindow(display, screen)));
  if (!resources) return;
  for (int i = 0; i < resources->ncrtc; ++i) {
    CrtcInfoPtr crtc(XRRGetCrtcInfo(display, resources.get(), resources->crtcs[i]));
    if (!crtc || crtc->noutput <= 0 || crtc->width == 0 || crtc->height == 0) continue;
    MonitorInfo monitor;
    monitor.x = crtc->x;
    monitor.y = crtc->y;
    monitor.width = static_cast<int32_t>(crtc->width);
    monitor.height = static_cast<int32_t>(crtc->height);
    monitor.rotation = static_cast<int32_t>(crtc->rotation);
    _monitors.push_back(monitor);
  }
}

std::vector<MonitorInfo> MonitorLayout::getMonitorList() {
  init();
  refreshList(_monitors.empty());
  return _monitors;
}

}  // namespace NativeUI
