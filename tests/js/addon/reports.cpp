// Makes the controller's reports without a bar: through the very sink the controller reports
// to, from the JavaScript thread or from threads of our own, and reads the child-window table.
#include <atomic>
#include <string>
#include <thread>
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
  exports.Set("childText", Napi::Function::New<childText>(env, "childText"));
  exports.Set("logUnformattable", Napi::Function::New<logUnformattable>(env, "logUnformattable"));
}

}  // namespace testaddon
