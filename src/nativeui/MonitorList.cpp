#include "MonitorList.h"

#include <X11/Xatom.h>

#include "NativeUIController.h"
#include "XConnection.h"

namespace NativeUI {

bool activeCrtcGeometry(const XRRCrtcInfo& crtc, MonitorInfo& monitor) {
  if (crtc.noutput <= 0 || crtc.width == 0 || crtc.height == 0) return false;
  monitor = MonitorInfo{crtc.x, crtc.y, static_cast<int32_t>(crtc.width),
                        static_cast<int32_t>(crtc.height), static_cast<int32_t>(crtc.rotation)};
  return true;
}

void MonitorLayout::onConnectionLost(Display*, void* layout) {
  static_cast<MonitorLayout*>(layout)->_connectionLost = true;
}

void MonitorLayout::init() {
  if (_display && !_connectionLost) return;
  // A connection the server closed never reports a change again: a list kept from it would be
  // kept forever. Only this thread ever used it, so it may close it.
  if (_display) {
    _display.reset();
    _monitors.clear();
  }
  _connectionLost = false;
  // Should the server go away mid-listing, the calls simply fail and the list comes out short
  // or empty, instead of Xlib ending the host process.
  _display.reset(openSurvivableDisplay(&MonitorLayout::onConnectionLost, this));
  if (!_display) return;
  Display* display = _display.get();
  _desktopChanged = true;  // nothing was watched before this connection
  _workAreaAtom = None;
  // Property changes too: the controller keeps the work area and the desktop's dpi its builds
  // read until one of them changes, instead of two round trips at every showing.
  XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask | PropertyChangeMask);
  if (RootWindow(display, 0) != DefaultRootWindow(display)) {
    XSelectInput(display, RootWindow(display, 0), PropertyChangeMask);  // RESOURCE_MANAGER's
  }
  int errorBase = 0;
  _randr = XRRQueryExtension(display, &_randrEventBase, &errorBase);
  if (!_randr) return;
  // A CRTC moved or switched to another mode leaves the screen's size, and with it the root
  // window, unchanged: only RandR tells.
  for (int screen = 0; screen < ScreenCount(display); ++screen) {
    XRRSelectInput(display, RootWindow(display, screen),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  }
}

void MonitorLayout::forget() {
  const QuietConnectionLoss quiet(_display.get());
  // A loss met inside XCloseDisplay's own XSync leaves Xlib unlocking a lock it no longer
  // holds; met by a plain read first, the close is an ordinary close of a dead connection.
  if (_display) XPending(_display.get());
  _display.reset();
  _monitors.clear();
  _connectionLost = false;
  _desktopChanged = true;
}

Display* MonitorLayout::connection() {
  init();
  return _display.get();
}

bool MonitorLayout::takeDesktopChanged() {
  const bool changed = _desktopChanged || !_display;
  _desktopChanged = false;
  return changed;
}

bool MonitorLayout::changesDesktop(const XEvent& event) {
  if (event.type != PropertyNotify) return false;
  if (event.xproperty.atom == XA_RESOURCE_MANAGER) return true;
  // Asked for at the first property change, not at every opening: a one-off listing would pay
  // the round trip for nothing.
  if (_workAreaAtom == None) _workAreaAtom = XInternAtom(_display.get(), "_NET_WORKAREA", False);
  return event.xproperty.atom == _workAreaAtom;
}

void MonitorLayout::noteEvent(const XEvent& event, bool& layoutChanged) {
  if (changesLayout(event)) layoutChanged = true;
  if (changesDesktop(event)) _desktopChanged = true;
}

bool MonitorLayout::changesLayout(const XEvent& event) const {
  if (event.type == ConfigureNotify) return true;
  if (!_randr) return false;
  return event.type == _randrEventBase + RRScreenChangeNotify ||
         event.type == _randrEventBase + RRNotify;
}

void MonitorLayout::refreshList(bool force) {
  if (!_display) {
    _monitors.clear();
    return;
  }
  if (_changedSinceListing) force = true;
  // Exactly the events queued now: later ones belong to the next call.
  for (int pending = XPending(_display.get()); pending > 0; --pending) {
    XEvent event;
    XNextEvent(_display.get(), &event);
    noteEvent(event, force);
  }
  if (!force) return;
  rebuildList();
  // The server's own probe in XRRGetScreenResources may announce a change to every client,
  // this one too; a change it announced before it answered the first query is in the list
  // already, and would otherwise make every call rebuild again.
  for (int queued = XEventsQueued(_display.get(), QueuedAlready); queued > 0; --queued) {
    XEvent event;
    XNextEvent(_display.get(), &event);
    bool changed = false;
    noteEvent(event, changed);
    if (changed && event.xany.serial > _listingSerial) _changedSinceListing = true;
  }
}

void MonitorLayout::rebuildList() {
  _changedSinceListing = false;

  _monitors.clear();
  _crtcs.clear();
  _screens.clear();
  Display* display = _display.get();
  _screenWidth = DisplayWidth(display, DefaultScreen(display));
  _screenHeight = DisplayHeight(display, DefaultScreen(display));

  if (!_randr) return;
  // A CRTC that vanishes between the two queries answers with an X error; Xlib's default
  // handler would end the host process for it.
  XErrorSuppressor suppressor(display);
  _listingSerial = 0;
  for (int screen = 0; screen < ScreenCount(display); ++screen) appendScreenMonitors(screen);
}

void MonitorLayout::appendScreenMonitors(int screen) {
  Display* display = _display.get();
  ScreenResourcesPtr resources(XRRGetScreenResources(display, RootWindow(display, screen)));
  // Changes announced up to this answer are in the CRTC information read after it.
  if (_listingSerial == 0) _listingSerial = LastKnownRequestProcessed(display);
  if (!resources) return;
  for (int i = 0; i < resources->ncrtc; ++i) {
    CrtcInfoPtr crtc(XRRGetCrtcInfo(display, resources.get(), resources->crtcs[i]));
    MonitorInfo monitor;
    if (!crtc || !activeCrtcGeometry(*crtc, monitor)) continue;
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

// The list as it stands now. A connection the server closed is noticed only when it is read;
// the list it kept then says nothing about the server, so a new connection is tried at once.
void MonitorLayout::update() {
  init();
  {
    // Its loss is the controller's connection's to announce; the user has one connection.
    const QuietConnectionLoss quiet(_display.get());
    refreshList(_monitors.empty());
  }
  if (!_connectionLost) return;
  init();
  const QuietConnectionLoss quiet(_display.get());
  refreshList(true);
}

std::vector<MonitorDetails> MonitorLayout::getMonitorDetails(bool withOutputs) {
  update();
  std::vector<MonitorDetails> list(_monitors.size());
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].geometry = _monitors[i];
    list[i].crtc = _crtcs[i];
    list[i].screen = _screens[i];
  }
  if (!withOutputs || list.empty()) return list;
  const QuietConnectionLoss quiet(_display.get());
  XErrorSuppressor suppressor(_display.get());  // a CRTC or output may vanish meanwhile
  for (size_t i = 0; i < list.size(); ++i) addOutputs(_screens[i], list[i]);
  return list;
}

std::vector<MonitorInfo> MonitorLayout::getMonitorList() {
  update();
  return _monitors;
}

std::vector<MonitorDetails> listMonitors(bool withOutputs) {
  const XlibTurn turn(xlibTurns());
  MonitorLayout layout;
  return layout.getMonitorDetails(withOutputs);
}

}  // namespace NativeUI
