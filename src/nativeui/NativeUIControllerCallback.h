// The report sink of the controller, and the severities of its log lines.
#pragma once

namespace NativeUI {

enum class LogType : int { Log = 0, Warn = 1, Error = 2 };

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
};

}  // namespace NativeUI
