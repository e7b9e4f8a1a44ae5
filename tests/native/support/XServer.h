// A private X server for one test: started on a free display number by tests/rig/xserver,
// stopped by pid in the destructor, and killed by the kernel if the test process dies first.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace testing_x {

class XServer {
 public:
  // kind: "xvfb", "xvfb-nocomposite" (arguments: one WxHxD per X screen) or "xorg" (dummy
  // driver, 16 CRTCs; lay them out with xrandr through run()). Throws when the server does not
  // come up within 20 s.
  static std::unique_ptr<XServer> start(const std::string& kind,
                                        const std::vector<std::string>& arguments = {});
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  const std::string& display() const { return _display; }
  pid_t pid() const { return _pid; }
  bool running() const;
  // Stops the server now (SIGTERM, then SIGKILL after 5 s) and reaps it.
  void stop();

  // Runs a shell command with DISPLAY set to this server; returns its exit status and throws
  // when it is not 0. output() returns what it printed on standard output.
  void run(const std::string& command) const;
  std::string output(const std::string& command) const;

  // Xorg dummy layouts, in the order the outputs are numbered.
  void layoutSingle(const std::string& mode = "1920x1080") const;
  void layoutSideBySide() const;  // DUMMY0 1920x1080 at 0,0; DUMMY1 1280x1024 at 1920,0

 private:
  XServer(pid_t pid, std::string display) : _pid(pid), _display(std::move(display)) {}
  pid_t _pid;
  std::string _display;
};

// Points DISPLAY at a server for the life of the object (XOpenDisplay(NULL) reads it).
class ScopedDisplay {
 public:
  explicit ScopedDisplay(const std::string& display);
  ~ScopedDisplay();
  ScopedDisplay(const ScopedDisplay&) = delete;
  ScopedDisplay& operator=(const ScopedDisplay&) = delete;

 private:
  bool _had;
  std::string _previous;
};

}  // namespace testing_x
