#include "nativeUIWrapper.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Accelerator.h"
#include "BackendChoice.h"
#include "DisplayScale.h"

using NativeUI::HiddenReason;
using NativeUI::LogType;
using NativeUI::ShowingEvent;

namespace {

// What the controller reports to. It forwards to the newest live instance under a lock that
// the instance's destructor also takes, which is what makes a report racing a garbage
// collection safe. Holding the lock while forwarding is cheap: an instance only tests a flag,
// formats into its stack and queues a closure; it never waits for anything.
//
// It also knows whether a showing is under way (between its Started and its Ended), so that an
// instance that takes the reports over mid-showing takes the showing's hold on the loop over as
// well, and the instance it replaces gives its hold up after what was already queued to it.
class ReportSink final : public NativeUI::NativeUIControllerCallback {
 public:
  // On target's JavaScript thread (its constructor).
  void attach(NativeUIWrapper* target) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_showingUnderWay != 0) {
      if (_target != nullptr && _target != target) _target->releaseLoopLater(_showingUnderWay);
      target->holdLoop(_showingUnderWay);
    }
    _target = target;
  }
  void detach(NativeUIWrapper* target) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_target == target) _target = nullptr;
  }
  void detachEnvironment(napi_env env) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_target != nullptr && static_cast<napi_env>(_target->Env()) == env) _target = nullptr;
  }

  void onWindowShown() override {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_target != nullptr) _target->onWindowShown();
  }
  void onWindowHidden() override {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_target != nullptr) _target->onWindowHidden();
  }
  void onStopScreenShareClicked() override {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_target != nullptr) _target->onStopScreenShareClicked();
  }
  void onLog(LogType type, const char* format, ...) override __attribute__((format(printf, 3, 4))) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_target == nullptr) return;
    va_list args;
    va_start(args, format);
    _target->logv(type, format, args);
    va_end(args);
  }
  void onShowingEvent(const ShowingEvent& event) override {
    std::lock_guard<std::mutex> lock(_mutex);
    if (event.kind == ShowingEvent::Kind::Started) {
      _showingUnderWay = event.showing;
    } else if (event.kind == ShowingEvent::Kind::Ended && event.showing == _showingUnderWay) {
      _showingUnderWay = 0;
    }
    if (_target != nullptr) _target->onShowingEvent(event);
  }

 private:
  std::mutex _mutex;
  NativeUIWrapper* _target = nullptr;
  uint64_t _showingUnderWay = 0;
};

// Never freed: the controller, a static destroyed at process exit, still reports while it hides
// the bar in its destructor, and the order of static destruction against it is not ours to rely
// on.
ReportSink* const sSink = new ReportSink();

// The environment that created the controller: the one whose thread owns it and whose
// teardown must hide the bar.
napi_env sControllerEnv = nullptr;

// Environments whose clean-up hook is installed (Init may run more than once per environment
// when the module is loaded again; a second identical hook would abort Node).
std::mutex sHookMutex;
std::set<napi_env> sHookedEnvironments;

constexpr size_t kLogLineSize = 1024;

// The statics hold references of whichever environment set them last. Releasing a reference of
// another environment (a worker's, or the main thread's seen from a worker) would touch that
// environment from the wrong thread, so such a reference is given up without being released.
void forgetUnlessOwn(Napi::FunctionReference& reference, napi_env env) {
  if (reference.IsEmpty() || static_cast<napi_env>(reference.Env()) == env) return;
  Napi::FunctionReference abandoned(std::move(reference));
  abandoned.SuppressDestruct();
}

// vsnprintf cuts a long line at a byte count, which may split a UTF-8 character; JavaScript
// would then see a replacement character at the end. Drops the incomplete character instead.
void cutAtCharacterBoundary(char* text, size_t length) {
  size_t start = length;
  while (start > 0 && length - start < 3 &&
         (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
    --start;
  }
  if (start == 0) return;
  const unsigned char lead = static_cast<unsigned char>(text[start - 1]);
  size_t expected = 1;
  if ((lead & 0xE0) == 0xC0) {
    expected = 2;
  } else if ((lead & 0xF0) == 0xE0) {
    expected = 3;
  } else if ((lead & 0xF8) == 0xF0) {
    expected = 4;
  }
  if (expected > length - (start - 1)) text[start - 1] = '\0';
}

// A ShowingEvent as it crosses to the JavaScript thread: the line copied, the rest by value.
struct ShowingReport {
  explicit ShowingReport(const ShowingEvent& event)
      : kind(event.kind),
        showing(event.showing),
        reason(event.reason),
        visible(event.visible),
        backend(event.backend),
        source(event.source),
        line(event.line != nullptr ? event.line : ""),
        x(event.x),
        y(event.y),
        width(event.width),
        height(event.height) {}

  ShowingEvent::Kind kind;
  uint64_t showing;
  HiddenReason reason;
  bool visible;
  const char* backend;  // static
  NativeUI::StopSource source;
  std::string line;
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

const char* kindName(ShowingEvent::Kind kind) {
  switch (kind) {
    case ShowingEvent::Kind::Started:
      return "started";
    case ShowingEvent::Kind::Shown:
      return "shown";
    case ShowingEvent::Kind::Hidden:
      return "hidden";
    case ShowingEvent::Kind::Failed:
      return "failed";
    case ShowingEvent::Kind::MonitorChanged:
      return "monitor-changed";
    case ShowingEvent::Kind::Ended:
      return "ended";
    case ShowingEvent::Kind::WindowChanged:
      return "window-changed";
    case ShowingEvent::Kind::WindowVisibility:
      return "window-visibility";
    case ShowingEvent::Kind::Stop:
      return "stop";
    case ShowingEvent::Kind::ShortcutTaken:
      return "shortcut-taken";
  }
  return "unknown";
}

const char* sourceName(NativeUI::StopSource source) {
  switch (source) {
    case NativeUI::StopSource::Pointer:
      return "pointer";
    case NativeUI::StopSource::Keyboard:
      return "keyboard";
    case NativeUI::StopSource::Accessibility:
      return "accessibility";
  }
  return "pointer";
}

const char* reasonName(HiddenReason reason) {
  switch (reason) {
    case HiddenReason::Hide:
      return "hide";
    case HiddenReason::Destroyed:
      return "destroyed";
    case HiddenReason::ConnectionLost:
      return "connection-lost";
    case HiddenReason::MonitorDisconnected:
      return "monitor-disconnected";
    case HiddenReason::WindowClosed:
      return "window-closed";
  }
  return "unknown";
}

const char* whyNoWindow(NativeUI::WindowLookup lookup) {
  switch (lookup) {
    case NativeUI::WindowLookup::Root:
      return "it is the root window";
    case NativeUI::WindowLookup::NotViewable:
      return "it is not viewable";
    case NativeUI::WindowLookup::OtherScreen:
      return "it is on another X screen";
    case NativeUI::WindowLookup::NoXServer:
      return "no X server is reachable, and windows are shared through X11 (DISPLAY)";
    case NativeUI::WindowLookup::Found:
    case NativeUI::WindowLookup::NotAWindow:
      break;
  }
  return "it is not a window";
}

void setGeometry(Napi::Object& object, int32_t x, int32_t y, int32_t width, int32_t height) {
  object.Set("x", x);
  object.Set("y", y);
  object.Set("width", width);
  object.Set("height", height);
}

// { kind, showing } and what the kind carries: the geometry of the monitor or the shared window
// (started, monitor-changed, window-changed), whether the shared window is viewable
// (window-visibility), the reason (hidden), the line that ended the build (failed), what pressed
// the stop button (stop) or the shortcut that could not be had (shortcut-taken).
Napi::Object reportObject(Napi::Env env, const ShowingReport& report) {
  Napi::Object object = Napi::Object::New(env);
  object.Set("kind", kindName(report.kind));
  object.Set("showing", static_cast<double>(report.showing));
  switch (report.kind) {
    case ShowingEvent::Kind::Started:
      setGeometry(object, report.x, report.y, report.width, report.height);
      object.Set("backend", report.backend);
      break;
    case ShowingEvent::Kind::MonitorChanged:
    case ShowingEvent::Kind::WindowChanged:
      setGeometry(object, report.x, report.y, report.width, report.height);
      break;
    case ShowingEvent::Kind::WindowVisibility:
      object.Set("visible", report.visible);
      break;
    case ShowingEvent::Kind::Hidden:
      object.Set("reason", reasonName(report.reason));
      break;
    case ShowingEvent::Kind::Failed:
      object.Set("line", report.line);
      break;
    case ShowingEvent::Kind::Stop:
      object.Set("source", sourceName(report.source));
      break;
    case ShowingEvent::Kind::ShortcutTaken:
      object.Set("shortcut", report.line);
      break;
    case ShowingEvent::Kind::Shown:
    case ShowingEvent::Kind::Ended:
      break;
  }
  return object;
}

// { index, x, y, width, height, rotation, outputs, primary }, index as the controller uses it.
Napi::Object monitorObject(Napi::Env env, size_t index, const NativeUI::MonitorDetails& monitor) {
  Napi::Object object = Napi::Object::New(env);
  object.Set("index", static_cast<double>(index));
  const NativeUI::MonitorInfo& geometry = monitor.geometry;
  setGeometry(object, geometry.x, geometry.y, geometry.width, geometry.height);
  object.Set("rotation", geometry.rotation);
  Napi::Array outputs = Napi::Array::New(env, monitor.outputs.size());
  for (size_t i = 0; i < monitor.outputs.size(); ++i) {
    outputs.Set(static_cast<uint32_t>(i), monitor.outputs[i]);
  }
  object.Set("outputs", outputs);
  object.Set("primary", monitor.primary);
  return object;
}

const char* levelName(LogType type) {
  static const char* const log = "log";
  static const char* const warn = "warn";
  static const char* const error = "error";
  switch (type) {
    case LogType::Warn:
      return warn;
    case LogType::Error:
      return error;
    case LogType::Log:
      return log;
  }
  // The controller makes only the three; an unknown severity is delivered as an ordinary line
  // rather than a level a JavaScript logger might not have.
  return log;
}

}  // namespace

Napi::FunctionReference NativeUIWrapper::constructor;
Napi::FunctionReference NativeUIWrapper::safeWrap;
std::unique_ptr<NativeUI::NativeUIController, NativeUIWrapper::ControllerRelease>
    NativeUIWrapper::sNativeUIController;

// At process exit (the static's destructor), after the environment's clean-up hook has hidden
// the bar, or instead of it when process.exit() skipped the hooks. The hide waits at most about
// a second; a thread that is still stuck then (in an X call of a grabbed server, say) keeps the
// controller, its connection and the X turn it may hold: the process ends around it.
void NativeUIWrapper::ControllerRelease::operator()(
    NativeUI::NativeUIController* controller) const {
  controller->hideControlBar();
  if (controller->uiThreadAbandoned()) return;  // leaked on purpose, see above
  delete controller;
}

NativeUI::NativeUIControllerCallback* NativeUIWrapper::controllerCallback() { return sSink; }

Napi::Object NativeUIWrapper::Init(Napi::Env env, Napi::Object exports) {
  Napi::HandleScope scope(env);
  Napi::Function function =
      DefineClass(env, "NativeUIWrapper",
                  {
                      StaticMethod<&NativeUIWrapper::setSafeWrap>("_internal_setSafeWrap"),
                      StaticMethod<&NativeUIWrapper::listMonitors>("_internal_listMonitors"),
                      InstanceMethod<&NativeUIWrapper::showControlBar>("showControlBar"),
                      InstanceMethod<&NativeUIWrapper::registerShowControlBarCallback>(
                          "registerShowControlBarCallback"),
                      InstanceMethod<&NativeUIWrapper::registerHideControlBarCallback>(
                          "registerHideControlBarCallback"),
                      InstanceMethod<&NativeUIWrapper::registerStopSharingClickEvent>(
                          "registerStopSharingClickEvent"),
                      InstanceMethod<&NativeUIWrapper::registerLogCallback>("registerLogCallback"),
                      InstanceMethod<&NativeUIWrapper::hideControlBar>("hideControlBar"),
                      InstanceAccessor<&NativeUIWrapper::isVisible>("Visible"),
                      InstanceMethod<&NativeUIWrapper::registerShowingEventCallback>(
                          "_internal_registerShowingEventCallback"),
                      InstanceMethod<&NativeUIWrapper::showWindow>("_internal_showWindow"),
                      StaticMethod<&NativeUIWrapper::isAccelerator>("_internal_isAccelerator"),
                  });
  forgetUnlessOwn(constructor, env);
  constructor = Napi::Persistent(function);
  constructor.SuppressDestruct();

  {
    std::lock_guard<std::mutex> lock(sHookMutex);
    napi_env raw = env;
    if (sHookedEnvironments.insert(raw).second &&
        napi_add_env_cleanup_hook(raw, &NativeUIWrapper::onEnvironmentTeardown, raw) != napi_ok) {
      sHookedEnvironments.erase(raw);
      throw Napi::Error::New(env);
    }
  }

  exports.Set("NativeUIWrapper", function);
  return exports;
}

// Runs before the environment's finalizers (clean-up hooks run last-in first-out, and the
// environment's own teardown was registered when the module was loaded, before this hook).
void NativeUIWrapper::onEnvironmentTeardown(void* arg) {
  napi_env env = static_cast<napi_env>(arg);
  {
    std::lock_guard<std::mutex> lock(sHookMutex);
    sHookedEnvironments.erase(env);
  }
  // First detach, so that the reports of the hiding below go nowhere.
  sSink->detachEnvironment(env);
  if (!safeWrap.IsEmpty() && static_cast<napi_env>(safeWrap.Env()) == env) safeWrap.Reset();
  if (sNativeUIController && sControllerEnv == env) {
    // The bar must not outlive the environment that showed it; the UI thread never waits for
    // JavaScript, and a thread that the server keeps from ending is left after about a second,
    // so this cannot hang the dying environment.
    sNativeUIController->hideControlBar();
    sControllerEnv = nullptr;  // the next environment to construct an instance owns it
  }
}

NativeUIWrapper::NativeUIWrapper(const Napi::CallbackInfo& info)
    : Napi::ObjectWrap<NativeUIWrapper>(info) {
  // The dispatcher comes before the controller is pointed at this instance, so that a failure
  // here (an exception out of the constructor) never leaves the sink holding a half-built
  // instance. Until a function is registered every report is dropped anyway.
  dispatcher = std::make_unique<JavascriptDispatcher>(info.Env());
  if (!sNativeUIController) {
    sNativeUIController.reset(new NativeUI::NativeUIController(sSink));
  } else {
    sNativeUIController->updateCallback(sSink);
  }
  if (sControllerEnv == nullptr) sControllerEnv = info.Env();
  sSink->attach(this);
}

NativeUIWrapper::~NativeUIWrapper() {
  // Waits for a report that is using this instance on another thread; none can start after it.
  sSink->detach(this);
  // Members go in reverse order: the four references, then the dispatcher with its queued
  // closures.
}

void NativeUIWrapper::setSafeWrap(const Napi::CallbackInfo& info) {
  if (!info[0].IsFunction()) {
    throw Napi::TypeError::New(info.Env(), "Wrong argument type for argument 1, expected Function");
  }
  forgetUnlessOwn(safeWrap, info.Env());
  safeWrap = Napi::Persistent(info[0].As<Napi::Function>());
  // Process exit may skip the clean-up hook (process.exit does); a static destructor must not
  // then call into the environment.
  safeWrap.SuppressDestruct();
}

// Read as the controller's showControlBar reads it, so that the indices are those that
// showControlBar takes, and in the process's turn with the X libraries. Without a server the list
// is empty.
Napi::Value NativeUIWrapper::listMonitors(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const std::vector<NativeUI::MonitorDetails> monitors = NativeUI::listChosenMonitors();
  Napi::Array list = Napi::Array::New(env, monitors.size());
  for (size_t i = 0; i < monitors.size(); ++i) {
    list.Set(static_cast<uint32_t>(i), monitorObject(env, i, monitors[i]));
  }
  return list;
}

void NativeUIWrapper::registerFunction(const Napi::CallbackInfo& info, Slot& slot,
                                       const char* name) {
  Napi::Env env = info.Env();
  if (info.Length() < 1) {
    throw Napi::TypeError::New(
        env, std::string("Wrong number of arguments for ") + name + ", expected 1");
  }
  if (!info[0].IsFunction()) {
    throw Napi::TypeError::New(
        env, std::string("Wrong 1st argument type for ") + name + ", expected Function");
  }
  Napi::Value stored = info[0];
  // Before any _internal_setSafeWrap there is nothing to wrap with; the function is kept as
  // it is and called directly. So it is when the safe-wrap function belongs to another
  // environment, which cannot be called from this thread.
  if (!safeWrap.IsEmpty() && static_cast<napi_env>(safeWrap.Env()) == static_cast<napi_env>(env)) {
    stored = safeWrap.Call(env.Undefined(), {info[0]});
  }
  slot.function = Napi::Persistent(stored.As<Napi::Function>());
  slot.registered.store(true, std::memory_order_release);
}

void NativeUIWrapper::registerShowControlBarCallback(const Napi::CallbackInfo& info) {
  registerFunction(info, showControlBarCallback, "registerShowControlBarCallback");
}

void NativeUIWrapper::registerHideControlBarCallback(const Napi::CallbackInfo& info) {
  registerFunction(info, hideControlBarCallback, "registerHideControlBarCallback");
}

void NativeUIWrapper::registerStopSharingClickEvent(const Napi::CallbackInfo& info) {
  registerFunction(info, stopSharingClickCallback, "registerStopSharingClickEvent");
}

void NativeUIWrapper::registerLogCallback(const Napi::CallbackInfo& info) {
  registerFunction(info, logCallback, "regsiterLogCallback");
}

void NativeUIWrapper::registerShowingEventCallback(const Napi::CallbackInfo& info) {
  registerFunction(info, showingEventCallback, "_internal_registerShowingEventCallback");
}

// The options object of both shows: the texts are stored for the next showing, the scale is
// returned (0: the desktop's).
double NativeUIWrapper::readShowOptions(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  double scale = 0;  // the desktop's
  if (info.Length() <= 1) {
    sNativeUIController->setShortcut(std::nullopt, "");
    return scale;
  }
  if (!info[1].IsObject()) {  // functions count as objects here
    throw Napi::TypeError::New(
        env, "Wrong type of argument for options parameters, expected JSON object");
  }
  Napi::Object options = info[1].ToObject();
  // Checked before any text is stored: a refused call leaves everything as it was.
  if (options.Has("scale")) {
    const Napi::Value value = options.Get("scale");
    if (!value.IsUndefined()) {
      if (!value.IsNumber() || std::isnan(value.As<Napi::Number>().DoubleValue())) {
        throw Napi::TypeError::New(env, "Wrong type of option scale, expected Number");
      }
      scale = value.As<Napi::Number>().DoubleValue();
      if (scale == 0) scale = NativeUI::kMinScale;  // 0 would mean the desktop's
    }
  }
  // After the scale, whose refusal came first before there was a shortcut.
  std::optional<NativeUI::Accelerator> shortcut;
  std::string shortcutText;
  if (options.Has("shortcut")) {
    const Napi::Value value = options.Get("shortcut");
    if (!value.IsUndefined()) {
      if (value.IsString()) {
        shortcutText = value.As<Napi::String>().Utf8Value();
        shortcut = NativeUI::parseAccelerator(shortcutText);
      }
      if (!shortcut) {
        throw Napi::TypeError::New(
            env, "Wrong value of option shortcut, expected an accelerator such as 'Control+Alt+S'");
      }
    }
  }
  if (options.Has("sharing_text")) {
    NativeUI::setChildControlBarText(NativeUI::WindowOrder::SharingText,
                                     options.Get("sharing_text").ToString().Utf8Value());
  }
  if (options.Has("stop_sharing")) {
    NativeUI::setChildControlBarText(NativeUI::WindowOrder::StopSharingText,
                                     options.Get("stop_sharing").ToString().Utf8Value());
  }
  sNativeUIController->setShortcut(shortcut, shortcutText);
  return scale;
}

// _internal_isAccelerator(text): whether a show would take text as its shortcut.
Napi::Value NativeUIWrapper::isAccelerator(const Napi::CallbackInfo& info) {
  const bool valid = info.Length() > 0 && info[0].IsString() &&
                     NativeUI::parseAccelerator(info[0].As<Napi::String>().Utf8Value());
  return Napi::Boolean::New(info.Env(), valid);
}

void NativeUIWrapper::showControlBar(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (info.Length() < 1) {
    throw Napi::TypeError::New(env, "Wrong number of arguments for showControlBar, expected 1");
  }
  if (!info[0].IsNumber()) {
    throw Napi::TypeError::New(env, "Wrong 1st argument type for showControlBar, expected Number");
  }
  const double scale = readShowOptions(info);
  const uint32_t monitorIndex = info[0].ToNumber().Uint32Value();
  sNativeUIController->setScaleOverride(scale);
  if (sNativeUIController->showControlBar(monitorIndex)) return;
  const std::string& refusal = sNativeUIController->refusal();
  if (refusal.empty()) throw Napi::TypeError::New(env, "Invalid monitor id passed");
  Napi::Error error = Napi::Error::New(env, "The indicator cannot be shown: " + refusal);
  error.Set("code", "ERR_INDICATOR_BACKEND");
  throw error;
}

// _internal_showWindow(id, options): the bar for one X window, by its id. An id that names no
// window the indicator can frame throws a RangeError with code ERR_INDICATOR_NO_WINDOW, and no
// showing is started or taken down.
void NativeUIWrapper::showWindow(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const double id =
      info.Length() > 0 && info[0].IsNumber() ? info[0].As<Napi::Number>().DoubleValue() : -1;
  // X ids are 29 bits; anything else could only be truncated into some other window's id.
  if (!(id >= 0 && id <= 0x1FFFFFFF && id == std::floor(id))) {
    throw Napi::TypeError::New(
        env, "Wrong 1st argument type for _internal_showWindow, expected an X window id");
  }
  const double scale = readShowOptions(info);
  const auto window = static_cast<unsigned long>(id);
  sNativeUIController->setScaleOverride(scale);
  const NativeUI::WindowLookup found = sNativeUIController->showControlBarOnWindow(window);
  if (found == NativeUI::WindowLookup::Found) return;
  char message[96];
  snprintf(message, sizeof(message), "No window 0x%lx to share: %s", window, whyNoWindow(found));
  Napi::Error error = Napi::RangeError::New(env, message);
  error.Set("code", "ERR_INDICATOR_NO_WINDOW");
  error.Set("window", static_cast<double>(window));
  throw error;
}

void NativeUIWrapper::hideControlBar(const Napi::CallbackInfo& /*info*/) {
  sNativeUIController->hideControlBar();
}

Napi::Value NativeUIWrapper::isVisible(const Napi::CallbackInfo& info) {
  return Napi::Boolean::New(info.Env(), sNativeUIController->isVisible());
}

void NativeUIWrapper::postEvent(Slot NativeUIWrapper::*slot) {
  if (!(this->*slot).registered.load(std::memory_order_acquire)) return;
  // The function is read when the closure runs, so a registration made in between decides
  // who receives the report.
  dispatcher->async(
      [this, slot](Napi::Env env) { (this->*slot).function.Call(env.Global(), 0, nullptr); });
}

void NativeUIWrapper::onWindowShown() { postEvent(&NativeUIWrapper::showControlBarCallback); }

void NativeUIWrapper::onWindowHidden() { postEvent(&NativeUIWrapper::hideControlBarCallback); }

void NativeUIWrapper::onStopScreenShareClicked() {
  postEvent(&NativeUIWrapper::stopSharingClickCallback);
}

void NativeUIWrapper::onLog(LogType type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logv(type, format, args);
  va_end(args);
}

void NativeUIWrapper::logv(LogType type, const char* format, va_list args) {
  if (!logCallback.registered.load(std::memory_order_acquire)) return;
  std::array<char, kLogLineSize> text;
  const int length = vsnprintf(text.data(), text.size(), format, args);
  if (length < 0) {
    text[0] = '\0';
  } else if (static_cast<size_t>(length) >= text.size()) {
    cutAtCharacterBoundary(text.data(), text.size() - 1);
  }
  dispatcher->async([this, text, type](Napi::Env env) {
    const Napi::String level = Napi::String::New(env, levelName(type));
    const Napi::String line = Napi::String::New(env, text.data());
    logCallback.function.Call(env.Global(), {level, line});
  });
}

void NativeUIWrapper::onShowingEvent(const ShowingEvent& event) {
  // A show made on another environment's thread cannot take this loop's reference; its reports
  // still arrive while this loop runs for other reasons.
  if (event.kind == ShowingEvent::Kind::Started && dispatcher->onLoopThread()) {
    holdLoop(event.showing);
  }
  const bool deliver = showingEventCallback.registered.load(std::memory_order_acquire);
  if (!deliver && event.kind != ShowingEvent::Kind::Ended) return;
  dispatcher->async([this, report = ShowingReport(event), deliver](Napi::Env env) {
    // Everything of this showing has been delivered ahead of its Ended; the hold goes first,
    // so that a throwing function cannot keep it.
    if (report.kind == ShowingEvent::Kind::Ended) releaseLoop(report.showing);
    if (deliver) showingEventCallback.function.Call(env.Global(), {reportObject(env, report)});
  });
}

void NativeUIWrapper::holdLoop(uint64_t showing) {
  if (_heldShowing == 0) dispatcher->ref();
  _heldShowing = showing;
}

void NativeUIWrapper::releaseLoopLater(uint64_t showing) {
  dispatcher->async([this, showing](Napi::Env) { releaseLoop(showing); });
}

void NativeUIWrapper::releaseLoop(uint64_t showing) {
  // A later showing may have replaced the one this release was meant for: its hold stays.
  if (_heldShowing == 0 || _heldShowing != showing) return;
  _heldShowing = 0;
  dispatcher->unref();
}
