// Following the shown monitor while the desktop reconfigures it. The UI thread asks RandR for
// screen and CRTC change events on its own connection; after a drain that brought one, it reads
// the one CRTC the bar was shown on (the owner copied its id with the monitor) and either moves
// the frame and the bar with it, or, when that CRTC no longer drives an output, takes the
// indicator down. Changes of other monitors read back the same geometry and move nothing.
#include <X11/extensions/Xrandr.h>

#include "EventLoopState.h"
#include "NativeUIController.h"
#include "X11Utils.h"
#include "XHandles.h"

namespace NativeUI {

void NativeUIController::watchMonitor(LoopState& state) {
  // On a dead connection Xlib's extension query reads a reply that never came: its answer,
  // event base included, is whatever the memory held.
  if (_connectionLost.load()) return;
  Display* display = _display.get();
  int eventBase = 0;
  int errorBase = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase)) return;
  if (eventBase < LASTEvent || eventBase + RRNotify >= kEventTypes) return;
  XRRSelectInput(display, monitorRoot(), RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask);
  state.handlers[eventBase + RRScreenChangeNotify] = &NativeUIController::onScreenChange;
  state.handlers[eventBase + RRNotify] = &NativeUIController::onRandrNotify;
  // The layout may have changed between the owner's reading of the list and the selection above;
  // the first look after the first drain covers that gap.
  state.monitorToCheck = true;
}

// The connection outlives the showing: without this, RandR events would pile up on it, unread,
// until the next showing.
void NativeUIController::unwatchMonitor() {
  Display* display = _display.get();
  int eventBase = 0;
  int errorBase = 0;
  if (XRRQueryExtension(display, &eventBase, &errorBase)) {
    XRRSelectInput(display, monitorRoot(), 0);
  }
}

// The root of the X screen whose resources hold our CRTC. The list was read on a connection of
// its own; should this one see fewer screens, the default screen is the only safe guess.
Window NativeUIController::monitorRoot() const {
  Display* display = _display.get();
  const int screen =
      _monitorScreen < ScreenCount(display) ? _monitorScreen : DefaultScreen(display);
  return RootWindow(display, screen);
}

void NativeUIController::onScreenChange(const XEvent& event, LoopState& state) {
  XEvent copy = event;
  XRRUpdateConfiguration(&copy);  // keeps Xlib's idea of the screen's size current
  state.monitorToCheck = true;
}

void NativeUIController::onRandrNotify(const XEvent&, LoopState& state) {
  state.monitorToCheck = true;
}

void NativeUIController::followMonitor(LoopState& state) {
  if (!state.monitorToCheck) return;
  state.monitorToCheck = false;
  if (_frame.primary() == 0 || _barDestroyed) return;
  if (_sharedId != 0) {
    refreshScreenMonitors();  // no monitor of its own: the bar's may have moved or gone
    return;
  }
  MonitorInfo geometry;
  switch (readShownCrtc(geometry)) {
    case CrtcState::Gone:
      monitorDisconnected();
      return;
    case CrtcState::Unknown:
      return;
    case CrtcState::Driving:
      if (!(geometry == _monitor)) moveToMonitor(geometry);
      return;
  }
}

// Read on the UI thread's connection, so the answer is never older than the events just drained.
// GetScreenResourcesCurrent: the plain request makes the server probe every output, which can
// take far longer than the indicator may lag behind.
NativeUIController::CrtcState NativeUIController::readShownCrtc(MonitorInfo& geometry) {
  Display* display = _display.get();
  ScreenResourcesPtr resources(XRRGetScreenResourcesCurrent(display, monitorRoot()));
  if (!resources) return CrtcState::Unknown;
  bool listed = false;
  for (int i = 0; i < resources->ncrtc; ++i) listed = listed || resources->crtcs[i] == _crtc;
  if (!listed) return CrtcState::Gone;  // its GPU went away with it
  CrtcInfoPtr crtc(XRRGetCrtcInfo(display, resources.get(), _crtc));
  if (!crtc) return CrtcState::Unknown;
  if (!activeCrtcGeometry(*crtc, geometry)) return CrtcState::Gone;
  return CrtcState::Driving;
}

// The frame takes the new rectangle (a rotation is just another width and height), the bar goes
// back to the top centre at the work area's new top, or keeps the x a drag gave it.
void NativeUIController::moveToMonitor(const MonitorInfo& geometry) {
  Display* display = _display.get();
  _monitor = geometry;
  _frameRect = geometry;
  _frame.place(_frameRect);
  readWorkArea();
  const int32_t x = _barDragged ? clampBarX(_barX) : centredBarX();
  if (_barDragged) _barX = x;
  XMoveWindow(display, _controlBarWindow, x, barY());
  // Announced only once the server holds the new geometry: a listener that looks at the windows
  // on hearing of the change must find them moved, not the requests still in our buffer.
  XSync(display, False);
  callback()->onLog(LogType::Log, "Monitor changed, x:%d, y:%d, width:%d, height:%d", _monitor.x,
                    _monitor.y, _monitor.width, _monitor.height);
  reportEvent(ShowingEvent::Kind::MonitorChanged);
}

// Taken down as by a hide, but for its own reason: the border window's DestroyNotify reports it.
void NativeUIController::monitorDisconnected() {
  callback()->onLog(LogType::Warn, "Shared monitor disconnected: %s", XDisplayName(nullptr));
  _teardownReason = HiddenReason::MonitorDisconnected;
  // A show in answer to the hidden report must start afresh, not find this thread still running.
  _endingByItself.store(true);
  destroyBarWindows();
}

}  // namespace NativeUI
