// The report sink of the controller, and the severities of its log lines.
#pragma once

#include <cstdint>

namespace NativeUI {

enum class LogType : int { Log = 0, Warn = 1, Error = 2 };

// Why a bar went away.
enum class HiddenReason : int {
  Hide = 0,                 // hideControlBar, or a show on another monitor that moved it
  Destroyed = 1,            // another X client destroyed the border window
  ConnectionLost = 2,       // the X connection was closed or the server went away
  MonitorDisconnected = 3,  // the shown CRTC no longer drives an output
  WindowClosed = 4,         // the shared window was destroyed
};

// What pressed the stop button.
enum class StopSource : int {
  Pointer = 0,        // a click on the stop text
  Keyboard = 1,       // Return or space while the bar has the keyboard focus
  Accessibility = 2,  // the button's action, called over the accessibility bus
};

// What happened to one showing, as data, for callers that must not parse log lines. Showings
// are numbered from 1 per controller, one number per UI thread started; every event of a
// showing carries its number, so a late event of an earlier showing can always be told apart.
struct ShowingEvent {
  enum class Kind : int {
    Started = 0,           // owner thread, before the UI thread starts; the monitor or window
    Shown = 1,             // the border window was mapped (with onWindowShown)
    Hidden = 2,            // the bar has gone (with onWindowHidden); reason says why
    Failed = 3,            // the showing ended before it was shown; line is the error that ended it
    MonitorChanged = 4,    // the shown monitor took a new geometry; the bar followed
    Ended = 5,             // the UI thread's last act: nothing of this showing will report again
    WindowChanged = 6,     // the shared window took a new rectangle; the frame followed
    WindowVisibility = 7,  // the shared window became viewable or stopped being viewable
    // The stop button was pressed; source says how. Made right before onStopScreenShareClicked,
    // from the UI thread or, for Accessibility, from the accessibility bus's thread.
    Stop = 8,
    // The showing's shortcut could not be grabbed: another client holds it, or no key of the
    // keyboard makes it. line is the accelerator. The showing goes on without it.
    ShortcutTaken = 9,
  };
  Kind kind = Kind::Started;
  uint64_t showing = 0;
  HiddenReason reason = HiddenReason::Hide;  // Hidden only
  const char* line = "";  // Failed and ShortcutTaken only; valid for the duration of the call
  StopSource source = StopSource::Pointer;  // Stop only
  bool visible = false;                     // WindowVisibility only
  const char* backend = "x11";              // Started only: "x11" or "wayland"; static
  // Started: the monitor or the shared window; MonitorChanged: the monitor; WindowChanged: the
  // window.
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// Reports are made on the UI thread and on the thread that calls the controller's public
// operations. An implementation must therefore be callable from any thread, must copy what it
// keeps of a log line before returning, and must never wait for the controller's owner thread
// (that thread may be blocked joining the UI thread).
class NativeUIControllerCallback {
 public:
  virtual ~NativeUIControllerCallback() = default;
  virtual void onWindowShown() = 0;
  virtual void onWindowHidden() = 0;
  virtual void onStopScreenShareClicked() = 0;
  virtual void onLog(LogType type, const char* format, ...)
      __attribute__((format(printf, 3, 4))) = 0;
  // Same threads and rules as the reports above. Shown and Hidden come right after
  // onWindowShown and onWindowHidden; the log lines stay exactly as they are without it.
  virtual void onShowingEvent(const ShowingEvent& /*event*/) {}
};

}  // namespace NativeUI
