#include "support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testing_x {

namespace {

std::string readDisplayNumber(int fd, pid_t pid) {
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 100) > 0) {
      char buffer[32];
      const ssize_t n = read(fd, buffer, sizeof(buffer));
      if (n <= 0) break;  // the server died before it was ready
      number.append(buffer, static_cast<size_t>(n));
      if (number.find('\n') != std::string::npos) {
        return number.substr(0, number.find('\n'));
      }
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) break;
  }
  throw std::runtime_error("X server did not come up");
}

}  // namespace

std::unique_ptr<XServer> XServer::start(const std::string& kind,
                                        const std::vector<std::string>& arguments) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string rig = std::string(RIG_DIR) + "/xserver";
  std::vector<std::string> argv = {rig, kind};
  argv.insert(argv.end(), arguments.begin(), arguments.end());

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(fds[1], 3);  // dup2 clears close-on-exec on the copy
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  try {
    number = readDisplayNumber(fds[0], pid);
  } catch (...) {
    close(fds[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    throw;
  }
  close(fds[0]);
  return std::unique_ptr<XServer>(new XServer(pid, ":" + number));
}

XServer::~XServer() { stop(); }

bool XServer::running() const { return _pid > 0 && kill(_pid, 0) == 0; }

void XServer::stop() {
  if (_pid <= 0) return;
  kill(_pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(_pid, nullptr, WNOHANG) == _pid) {
      _pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(_pid, SIGKILL);
  waitpid(_pid, nullptr, 0);
  _pid = -1;
}

std::string XServer::output(const std::string& command) const {
  const std::string full = "DISPLAY=" + _display + " " + command;
  FILE* pipe = popen(full.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed: " + command);
  std::string out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  const int status = pclose(pipe);
  if (status != 0) throw std::runtime_error("command failed: " + command);
  return out;
}

void XServer::run(const std::string& command) const { output(command + " >/dev/null"); }

void XServer::layoutSingle(const std::string& mode) const {
  run("xrandr --output DUMMY0 --mode " + mode + " --pos 0x0");
}

void XServer::layoutSideBySide() const {
  layoutSingle();
  run("xrandr --addmode DUMMY1 1280x1024");
  run("xrandr --output DUMMY1 --mode 1280x1024 --pos 1920x0");
}

ScopedDisplay::ScopedDisplay(const std::string& display) {
  const char* previous = getenv("DISPLAY");
  _had = previous != nullptr;
  if (_had) _previous = previous;
  setenv("DISPLAY", display.c_str(), 1);
}

ScopedDisplay::~ScopedDisplay() {
  if (_had) {
    setenv("DISPLAY", _previous.c_str(), 1);
  } else {
    unsetenv("DISPLAY");
  }
}

}  // namespace testing_x
