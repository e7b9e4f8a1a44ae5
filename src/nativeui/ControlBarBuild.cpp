// The UI thread's entry point.
//
// Interim: until the bar and its event loop are built here, the thread does the least that lets
// it be started, woken through the exit pipe and joined. It draws nothing and reports no
// visibility; it only waits for an exit request.
#include <sys/select.h>
#include <unistd.h>

#include "NativeUIController.h"

namespace NativeUI {

bool NativeUIController::createWindows() {
  if (!_display) {
    callback()->onLog(LogType::Error, "XOpenDisplay(): Can't connect to: %s", XDisplayName(nullptr));
    return false;
  }
  return runNativeUIControllerThread();
}

bool NativeUIController::initControlBar() { return false; }

bool NativeUIController::initFont() { return false; }

bool NativeUIController::runNativeUIControllerThread() {
  const int pipeRead = _exitPipe[0];
  if (pipeRead == -1) {
    callback()->onLog(LogType::Error, "Pipe creation failed, unable to manage thread exit: %s",
                      XDisplayName(nullptr));
  }
  while (!_exitRequested.load()) {
    fd_set readSet;
    FD_ZERO(&readSet);
    if (pipeRead != -1) FD_SET(pipeRead, &readSet);
    timeval timeout{1, 0};
    if (select(pipeRead + 1, &readSet, nullptr, nullptr, &timeout) > 0 &&
        FD_ISSET(pipeRead, &readSet)) {
      char byte;
      if (read(pipeRead, &byte, 1) != 1) callback()->onLog(LogType::Error, "Pipe read failure");
    }
  }
  _exitRequested.store(false);
  _visible.store(false);
  callback()->onLog(LogType::Log, "%s: Completed", "runNativeUIControllerThread");
  return true;
}

}  // namespace NativeUI
