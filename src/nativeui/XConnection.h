// Opening X connections that cannot take the host process down with them.
#pragma once

#include <X11/Xlib.h>

#include <mutex>

namespace NativeUI {

// XOpenDisplay(NULL), with `onLost` (may be null) called instead of exit() when the server
// closes the connection or goes away; the connection is unusable from then on and every later
// call on it fails at once. Null when no connection could be made.
//
// Installs, once per process, an I/O error handler that only prints Xlib's usual line and
// returns: Xlib's default one exit()s before any per-connection handler runs. Connections that
// have no handler of their own still exit as before.
Display* openSurvivableDisplay(XIOErrorExitHandler onLost, void* data);

// The threads of the process take turns with the X libraries: a thread holds this lock whenever
// it calls into Xlib, Xrandr, Xext, Xft or Xcursor, on any connection, and lets it go only while
// it sleeps waiting for events. Xlib locks each connection (it initialises its threads by
// itself), but that is not enough: listing the monitors on a connection of its own while the UI
// thread builds the bar on another corrupted the heap now and then (8 processes in 6,000), and
// Xft and the error handler are process-wide and unlocked anyway. Never held while waiting for
// another thread; a report made under it must not wait either.
std::mutex& xlibTurns();
using XlibTurn = std::unique_lock<std::mutex>;

// For a thread of our own that talks to X: a write to a connection whose server has just gone
// then fails with EPIPE, which Xlib reports as a lost connection like any other, instead of
// raising SIGPIPE, whose default action ends the process. libxcb reads before it writes when
// the socket has something to read, so this only matters when the server closes it between the
// two. The host's own threads keep their masks (Node ignores SIGPIPE; a host that does not has
// chosen to), and a SIGPIPE left pending on this thread goes with it.
void blockSigpipeOnThisThread();

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
