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
  _crtcs.clear();
  _screens.clear();
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
    _crtcs.push_back(resources->crtcs[i]);
    _screens.push_back(screen);
  }
}

void MonitorLayout::addOutputs(int screen, MonitorDetails& entry) {
  Display* display = _display.get();
  const Window root = RootWindow(display, screen);
  ScreenResourcesPtr resources(XRRGetScreenResources(display, root));
  if (!resources) return;
  CrtcInfoPtr crtc(XRRGetCrtcInfo(display, resources.get(), entry.crtc));
  if (!crtc) return;
  const RROutput primary = XRRGetOutputPrimary(display, root);
  for (int i = 0; i < crtc->noutput; ++i) {
    OutputInfoPtr output(XRRGetOutputInfo(display, resources.get(), crtc->outputs[i]));
    if (!output) continue;
    entry.outputs.emplace_back(output->name, static_cast<size_t>(output->nameLen));
    if (crtc->outputs[i] == primary) entry.primary = true;
  }
}

std::vector<MonitorDetails> MonitorLayout::getMonitorDetails(bool withOutputs) {
  init();
  refreshList(_monitors.empty());
  std::vector<MonitorDetails> list(_monitors.size());
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].geometry = _monitors[i];
    list[i].crtc = _crtcs[i];
    list[i].screen = _screens[i];
  }
  if (!withOutputs || list.empty()) return list;
  XErrorSuppressor suppressor(_display.get());  // a CRTC or output may vanish meanwhile
  for (size_t i = 0; i < list.size(); ++i) addOutputs(_screens[i], list[i]);
  return list;
}

std::vector<MonitorInfo> MonitorLayout::getMonitorList() {
  init();
  refreshList(_monitors.empty());
  return _monitors;
}

std::vector<MonitorDetails> listMonitors(bool withOutputs) {
  const XlibTurn turn(xlibTurns());
  MonitorLayout layout;
  return layout.getMonitorDetails(withOutputs);
}

}  // namespace NativeUI
