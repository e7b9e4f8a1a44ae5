// A report sink that records every report in order, for tests, and lets a test wait for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "NativeUIControllerCallback.h"

namespace testing_x {

struct Report {
  std::string kind;  // "shown", "hidden", "stop" or "log"
  NativeUI::LogType type = NativeUI::LogType::Log;
  std::string format;  // the format as given, for log reports
  std::string text;    // the formatted line, for log reports
};

// A ShowingEvent as recorded: its kind, showing number, reason (Hidden) and line (Failed).
struct RecordedEvent {
  NativeUI::ShowingEvent::Kind kind;
  uint64_t showing;
  NativeUI::HiddenReason reason;
  std::string line;

  bool operator==(const RecordedEvent& other) const {
    return kind == other.kind && showing == other.showing && reason == other.reason &&
           line == other.line;
  }
};

inline std::ostream& operator<<(std::ostream& out, const RecordedEvent& e) {
  return out << "{kind " << static_cast<int>(e.kind) << ", showing " << e.showing << ", reason "
             << static_cast<int>(e.reason) << ", line '" << e.line << "'}";
}

// The geometry a MonitorChanged event carried.
struct ChangedTo {
  int32_t x, y, width, height;
  bool operator==(const ChangedTo& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};

inline std::ostream& operator<<(std::ostream& out, const ChangedTo& c) {
  return out << c.x << "," << c.y << " " << c.width << "x" << c.height;
}

class RecordingCallback : public NativeUI::NativeUIControllerCallback {
 public:
  // Kept apart from reports(): the tests of the classic reports see them exactly as before.
  void onShowingEvent(const NativeUI::ShowingEvent& event) override {
    {
      std::lock_guard<std::mutex> lock(_mutex);
      _events.push_back({event.kind, event.showing, event.reason, event.line});
      if (event.kind == NativeUI::ShowingEvent::Kind::MonitorChanged) {
        _changes.push_back({event.x, event.y, event.width, event.height});
      }
    }
    _changed.notify_all();
  }
  std::vector<ChangedTo> monitorChanges() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _changes;
  }
  std::vector<RecordedEvent> events() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _events;
  }
  // Waits for an event of that kind; false on timeout.
  bool waitForEvent(NativeUI::ShowingEvent::Kind kind,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] {
      for (const RecordedEvent& e : _events) {
        if (e.kind == kind) return true;
      }
      return false;
    });
  }

  void onWindowShown() override { add({"shown", NativeUI::LogType::Log, "", ""}); }
  void onWindowHidden() override { add({"hidden", NativeUI::LogType::Log, "", ""}); }
  void onStopScreenShareClicked() override { add({"stop", NativeUI::LogType::Log, "", ""}); }
  void onLog(NativeUI::LogType type, const char* format, ...) override
      __attribute__((format(printf, 3, 4))) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    add({"log", type, format, text});
    onLine(text);
  }
  // Each formatted line once it is recorded, on the thread that logged it.
  virtual void onLine(const std::string& /*text*/) {}

  std::vector<Report> reports() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _reports;
  }
  // The formatted log lines, in order.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const Report& r : reports()) {
      if (r.kind == "log") out.push_back(r.text);
    }
    return out;
  }
  // The id in the nth log line that matches `pattern`, whose one group is a hex number; 0 when
  // there is no such line.
  unsigned long loggedId(const std::string& pattern, int nth = 0) const {
    const std::regex re(pattern);
    for (const std::string& line : lines()) {
      std::smatch match;
      if (std::regex_match(line, match, re) && nth-- == 0) {
        return std::stoul(match[1].str(), nullptr, 16);
      }
    }
    return 0;
  }
  int count(const std::string& kind) const {
    int n = 0;
    for (const Report& r : reports()) n += r.kind == kind;
    return n;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(_mutex);
    _reports.clear();
    _events.clear();
    _changes.clear();
  }
  // Waits until `kind` has been reported at least n times; false on timeout.
  bool waitFor(const std::string& kind, int n = 1,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] {
      int seen = 0;
      for (const Report& r : _reports) seen += r.kind == kind;
      return seen >= n;
    });
  }
  // Waits for a log line with exactly this text.
  bool waitForLine(const std::string& text,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] {
      for (const Report& r : _reports) {
        if (r.kind == "log" && r.text == text) return true;
      }
      return false;
    });
  }

 private:
  void add(Report report) {
    {
      std::lock_guard<std::mutex> lock(_mutex);
      _reports.push_back(std::move(report));
    }
    _changed.notify_all();
  }

  mutable std::mutex _mutex;
  std::condition_variable _changed;
  std::vector<Report> _reports;
  std::vector<RecordedEvent> _events;
  std::vector<ChangedTo> _changes;
};

}  // namespace testing_x
