#include "XConnection.h"

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <mutex>

namespace NativeUI {

namespace {

// The connection whose loss this thread is not to announce (see QuietConnectionLoss).
thread_local const Display* tQuietDisplay = nullptr;

int printConnectionLost(Display* display) {
  if (display == tQuietDisplay) return 0;
  fprintf(stderr, "X connection to %s broken (explicit kill or server shutdown).\n",
          DisplayString(display));
  return 0;
}

void ignoreConnectionLost(Display*, void*) {}

}  // namespace

Display* openSurvivableDisplay(XIOErrorExitHandler onLost, void* data) {
  static std::once_flag installed;
  std::call_once(installed, [] { XSetIOErrorHandler(&printConnectionLost); });
  Display* display = XOpenDisplay(nullptr);
  if (display) XSetIOErrorExitHandler(display, onLost ? onLost : &ignoreConnectionLost, data);
  return display;
}

std::mutex& xlibTurns() {
  // Never destroyed: a UI thread may still be ending while static destructors run at exit.
  static std::mutex* const turns = new std::mutex();
  return *turns;
}

void blockSigpipeOnThisThread() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

QuietConnectionLoss::QuietConnectionLoss(const Display* display) : _previous(tQuietDisplay) {
  tQuietDisplay = display;
}

QuietConnectionLoss::~QuietConnectionLoss() { tQuietDisplay = _previous; }

}  // namespace NativeUI
