// Makes the controller's reports without a bar: through the very sink the controller reports
// to, from the JavaScript thread or from threads of our own, and reads the child-window table.
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "NativeChildWindows.h"
#include "nativeUIWrapper.h"
#include "testAddon.h"

namespace {

using NativeUI::LogType;

struct Report {
  std::string kind;
  int type = 0;
  std::string text;
};

std::vector<Report> readReports(const Napi::Array& list) {
  std::vector<Report> reports;
  for (uint32_t i = 0; i < list.Length(); ++i) {
    Napi::Array entry = list.Get(i).As<Napi::Array>();
    Report report;
    report.kind = entry.Get(0u).ToString().Utf8Value();
    if (entry.Length() > 1) report.type = entry.Get(1u).ToNumber().Int32Value();
    if (entry.Length() > 2) report.text = entry.Get(2u).ToString().Utf8Value();
    reports.push_back(std::move(report));
  }
  return reports;
}

void make(const Report& report) {
  NativeUI::NativeUIControllerCallback* sink = NativeUIWrapper::controllerCallback();
  if (report.kind == "shown") {
    sink->onWindowShown();
  } else if (report.kind == "hidden") {
    sink->onWindowHidden();
  } else if (report.kind == "stop") {
    sink->onStopScreenShareClicked();
  } else {
    sink->onLog(static_cast<LogType>(report.type), "%s", report.text.c_str());
  }
}

// report([[kind, type?, text?], ...]): made on the JavaScript thread, in order.
void reportHere(const Napi::CallbackInfo& info) {
  for (const Report& report : readReports(info[0].As<Napi::Array>())) make(report);
}

// reportFromThread([[kind, type?, text?], ...]): made in order on a thread of its own, which
// has ended when the call returns.
void reportFromThread(const Napi::CallbackInfo& info) {
  std::vector<Report> reports = readReports(info[0].As<Napi::Array>());
  std::thread thread([&reports] {
    for (const Report& report : reports) make(report);
  });
  thread.join();
}

NativeUI::ShowingEvent::Kind kindNamed(const std::string& name) {
  using Kind = NativeUI::ShowingEvent::Kind;
  static const std::pair<const char*, Kind> kinds[] = {{"started", Kind::Started},
                                                       {"shown", Kind::Shown},
                                                       {"hidden", Kind::Hidden},
                                                       {"failed", Kind::Failed},
                                                       {"monitor-changed", Kind::MonitorChanged},
                                                       {"ended", Kind::Ended}};
  for (const auto& [text, kind] : kinds) {
    if (name == text) return kind;
  }
  throw std::invalid_argument("unknown showing event kind " + name);
}

NativeUI::HiddenReason reasonNamed(const std::string& name) {
  using Reason = NativeUI::HiddenReason;
  static const std::pair<const char*, Reason> reasons[] = {
      {"hide", Reason::Hide},
      {"destroyed", Reason::Destroyed},
      {"connection-lost", Reason::ConnectionLost},
      {"monitor-disconnected", Reason::MonitorDisconnected}};
  for (const auto& [text, reason] : reasons) {
    if (name == text) return reason;
  }
  throw std::invalid_argument("unknown hidden reason " + name);
}

// One ShowingEvent as JavaScript describes it, its line kept alongside.
struct EventSpec {
  NativeUI::ShowingEvent event;
  std::string line;
};

std::vector<EventSpec> readEvents(const Napi::Array& list) {
  std::vector<EventSpec> events;
  for (uint32_t i = 0; i < list.Length(); ++i) {
    Napi::Object entry = list.Get(i).As<Napi::Object>();
    EventSpec spec;
    const auto number = [&entry](const char* key) {
      return entry.Has(key) ? entry.Get(key).ToNumber().Int64Value() : 0;
    };
    try {
      spec.event.kind = kindNamed(entry.Get("kind").ToString().Utf8Value());
      if (entry.Has("reason")) spec.event.reason = reasonNamed(entry.Get("reason").ToString());
    } catch (const std::invalid_argument& error) {
      throw Napi::Error::New(list.Env(), error.what());
    }
    spec.event.showing = static_cast<uint64_t>(number("showing"));
    if (entry.Has("line")) spec.line = entry.Get("line").ToString().Utf8Value();
    spec.event.x = static_cast<int32_t>(number("x"));
    spec.event.y = static_cast<int32_t>(number("y"));
    spec.event.width = static_cast<int32_t>(number("width"));
    spec.event.height = static_cast<int32_t>(number("height"));
    events.push_back(std::move(spec));
  }
  return events;
}

void makeEvents(std::vector<EventSpec>& events) {
  for (EventSpec& spec : events) {
    spec.event.line = spec.line.c_str();
    NativeUIWrapper::controllerCallback()->onShowingEvent(spec.event);
    // The line is valid only during the call, as the controller's is: a sink that kept the
    // pointer would deliver this instead.
    spec.line.assign(spec.line.size(), '#');
  }
}

// showingEvents([{ kind, showing, reason?, line?, x?, y?, width?, height? }], fromThread?): the
// controller's ShowingEvents, made in order on the JavaScript thread, or on a thread of its own
// that has ended when the call returns.
void showingEvents(const Napi::CallbackInfo& info) {
  std::vector<EventSpec> events = readEvents(info[0].As<Napi::Array>());
  if (!info[1].ToBoolean()) {
    makeEvents(events);
    return;
  }
  std::thread thread([&events] { makeEvents(events); });
  thread.join();
}

// A background load of reports ("seq N" log lines between shown, hidden and stop) for the
// lifetime tests. Its state is never freed: the thread may still run while the process exits.
struct Reporter {
  std::atomic<bool> stop{false};
  std::atomic<long> made{0};
  std::thread thread;
};
Reporter* sReporter = nullptr;

void startReporter(const Napi::CallbackInfo& info) {
  if (sReporter != nullptr) throw Napi::Error::New(info.Env(), "reporter already running");
  sReporter = new Reporter();
  Reporter* reporter = sReporter;
  reporter->thread = std::thread([reporter] {
    NativeUI::NativeUIControllerCallback* sink = NativeUIWrapper::controllerCallback();
    for (long n = 0; !reporter->stop.load(); ++n) {
      sink->onWindowShown();
      sink->onLog(LogType::Log, "seq %ld", n);
      sink->onStopScreenShareClicked();
      sink->onWindowHidden();
      reporter->made.store(n + 1);
      // Paces the load so that the JavaScript thread keeps up and memory stays flat.
      if (n % 16 == 15) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
}

// Stops the reporter and returns how many rounds it made.
Napi::Value stopReporter(const Napi::CallbackInfo& info) {
  if (sReporter == nullptr) throw Napi::Error::New(info.Env(), "reporter not running");
  sReporter->stop.store(true);
  sReporter->thread.join();
  const long made = sReporter->made.load();
  delete sReporter;
  sReporter = nullptr;
  return Napi::Number::New(info.Env(), static_cast<double>(made));
}

// logUnformattable(): a log line whose argument would crash vsnprintf; it is safe only because a
// line is not formatted while no log function is registered.
void logUnformattable(const Napi::CallbackInfo&) {
  NativeUIWrapper::controllerCallback()->onLog(LogType::Error, "%s",
                                               reinterpret_cast<const char*>(uintptr_t{8}));
}

// childText(order): the custom text stored for that row of the child-window table.
Napi::Value childText(const Napi::CallbackInfo& info) {
  const int order = info[0].ToNumber().Int32Value();
  for (const NativeUI::ChildWinInfo& row : NativeUI::ChildControlBarWins) {
    if (static_cast<int>(row.order) == order) return Napi::String::New(info.Env(), row.customText);
  }
  return info.Env().Undefined();
}

}  // namespace

namespace testaddon {

void initReports(Napi::Env env, Napi::Object exports) {
  exports.Set("report", Napi::Function::New<reportHere>(env, "report"));
  exports.Set("reportFromThread", Napi::Function::New<reportFromThread>(env, "reportFromThread"));
  exports.Set("startReporter", Napi::Function::New<startReporter>(env, "startReporter"));
  exports.Set("stopReporter", Napi::Function::New<stopReporter>(env, "stopReporter"));
  exports.Set("showingEvents", Napi::Function::New<showingEvents>(env, "showingEvents"));
  exports.Set("childText", Napi::Function::New<childText>(env, "childText"));
  exports.Set("logUnformattable", Napi::Function::New<logUnformattable>(env, "logUnformattable"));
}

}  // namespace testaddon
