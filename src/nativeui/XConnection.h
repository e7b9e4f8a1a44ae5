// Opening X connections that cannot take the host process down with them.
#pragma once

#include <X11/Xlib.h>

namespace NativeUI {

// XOpenDisplay(NULL), with `onLost` (may be null) called instead of exit() when the server
// closes the connection or goes away; the connection is unusable from then on and every later
// call on it fails at once. Null when no connection could be made.
//
// Installs, once per process, an I/O error handler that only prints Xlib's usual line and
// returns: Xlib's default one exit()s before any per-connection handler runs. Connections that
// have no handler of their own still exit as before.
Display* openSurvivableDisplay(XIOErrorExitHandler onLost, void* data);

// While it lives, the loss of `display` met on this thread is not announced on standard error:
// for a helper connection whose loss the connection that the user sees announces already.
class QuietConnectionLoss {
 public:
  explicit QuietConnectionLoss(const Display* display);
  ~QuietConnectionLoss();
  QuietConnectionLoss(const QuietConnectionLoss&) = delete;
  QuietConnectionLoss& operator=(const QuietConnectionLoss&) = delete;

 private:
  const Display* _previous;
};

}  // namespace NativeUI
