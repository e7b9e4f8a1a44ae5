// The monitors of the X display as a flat list; a monitor's position in the list is the id that
// callers pass to NativeUIController::showControlBar.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "XHandles.h"

namespace NativeUI {

// One active CRTC in root-window pixels. width and height are never 0 in a listed entry;
// rotation carries the CRTC's XRandR Rotation bits unchanged.
struct MonitorInfo {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t rotation = 0;

  bool operator==(const MonitorInfo& other) const {
    return x == other.x && y == other.y && width == other.width && height == other.height &&
           rotation == other.rotation;
  }
};

// The rectangle of a CRTC that drives at least one output with a mode; false for one that is off.
bool activeCrtcGeometry(const XRRCrtcInfo& crtc, MonitorInfo& monitor);

// One entry of the list with what identifies it on the server: the RandR id of its CRTC (valid
// on every connection to that server) and the X screen whose resources hold it, and, when asked
// for, the names of the outputs it drives and whether one of them is its screen's primary output.
struct MonitorDetails {
  MonitorInfo geometry;
  unsigned long crtc = 0;  // RRCrtc
  int screen = 0;
  std::vector<std::string> outputs;
  bool primary = false;
};

// Reads the CRTCs of every X screen through a connection of its own (never the controller's).
// One thread at a time. The list is screen order, then the server's CRTC order: mirrored CRTCs
// are two equal entries, and nothing is sorted or merged.
class MonitorLayout {
 public:
  MonitorLayout() = default;
  MonitorLayout(const MonitorLayout&) = delete;
  MonitorLayout& operator=(const MonitorLayout&) = delete;

  // Opens the connection on first use (again after the server closed it) and watches the root
  // window for reconfiguration and every screen for RandR changes.
  // Without an X server the connection stays closed and every list is empty.
  void init();
  // Drains the connection's pending events; rebuilds when forced or when one of them was a
  // ConfigureNotify of the root window or a RandR change. A change completed by another client
  // before the call has always been sent to this connection by then, so the list kept between
  // calls is never older than the call.
  void refreshList(bool force);
  // Never blocks beyond the X round trips and never fails: an empty list means no usable
  // monitor (no server, no RandR, no resources, no active CRTC).
  std::vector<MonitorInfo> getMonitorList();
  // The same list in the same order, each entry with its CRTC id; with `withOutputs`, also the
  // output names and the primary flag (one more round trip per output, and one per screen).
  std::vector<MonitorDetails> getMonitorDetails(bool withOutputs);
  // Closes the connection and drops the list: the next call lists on a new connection. For a
  // caller that knows the server went away before this connection could tell.
  void forget();
  // The connection the lists are read on, opened if need be; null without a server. For a look
  // at other clients' windows on the same thread, between lists.
  Display* connection();
  // Whether the root's work area or resources (the desktop's dpi) may have changed since the
  // last call, as the events drained by the lists above tell; true on a new connection. Clears
  // the answer.
  bool takeDesktopChanged();

 private:
  static void onConnectionLost(Display* display, void* layout);
  void update();
  bool changesLayout(const XEvent& event) const;
  bool changesDesktop(const XEvent& event);
  void noteEvent(const XEvent& event, bool& layoutChanged);
  void rebuildList();
  void appendScreenMonitors(int screen);
  void addOutputs(int screen, MonitorDetails& entry);

  DisplayPtr _display;
  bool _connectionLost = false;  // set by Xlib on this thread when the server closed it
  bool _randr = false;
  int _randrEventBase = 0;
  unsigned long _listingSerial = 0;   // serial of the last rebuild's first screen resources
  bool _changedSinceListing = false;  // a change came in while the last rebuild ran
  Atom _workAreaAtom = None;          // _NET_WORKAREA on this connection
  bool _desktopChanged = true;
  int32_t _screenWidth = 0;
  int32_t _screenHeight = 0;
  std::vector<MonitorInfo> _monitors;
  std::vector<unsigned long> _crtcs;  // _monitors[i] is driven by CRTC _crtcs[i]
  std::vector<int> _screens;          // and lies on X screen _screens[i]
};

// The list as a MonitorLayout of its own reads it, from opening its connection to closing it in
// the process's turn with the X libraries (XConnection.h). Any thread.
std::vector<MonitorDetails> listMonitors(bool withOutputs);

}  // namespace NativeUI
