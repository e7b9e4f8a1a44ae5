// NativeUIWrapper: the JavaScript class of the module, and the way the controller's reports
// reach the functions that JavaScript registered.
//
// Threads. Everything JavaScript calls (construction, the methods, the getter, the finalizer)
// runs on the JavaScript thread. Reports arrive on the controller's UI thread and, for log lines
// made inside showControlBar and hideControlBar, on the JavaScript thread; they only test a slot,
// format, and post a closure through the instance's dispatcher, so no JavaScript value is made
// and no JavaScript function called anywhere but on the JavaScript thread.
//
// Lifetime. The one controller is process-wide and outlives every instance, but it keeps a plain
// callback pointer. It is therefore never given an instance: it reports to a forwarding sink that
// is never freed, which hands each report, under its lock, to the newest live instance. An
// instance detaches itself in its destructor under the same lock, so a report in flight on the
// UI thread either finishes with the instance before the destructor goes on or finds nothing to
// report to. When the environment goes away, a clean-up hook detaches its instances and hides the
// bar before any finalizer runs, so nothing reaches a dead environment and no UI thread is left
// behind, but one that the X server keeps from ending: that one is left after about a second,
// and the controller it uses is leaked at exit (ControllerRelease).
//
// Keeping the process alive. The instance's dispatcher holds no reference on the event loop
// while idle. A showing holds it from its Started report (made on the JavaScript thread, inside
// showControlBar, before the UI thread starts) until its Ended report (the UI thread's last) has
// been delivered: every report of the showing travels ahead of Ended in the same queue, so none
// can be left behind when the process ends. uv_ref and uv_unref may only be called on the loop's
// thread, which is why the hold is taken at Started and given up inside the delivered Ended.
// When a newer instance takes the reports over during a showing, it takes the hold over too.
//
// Start reading at the constructor, then onLog.
#pragma once

#include <napi.h>

#include <atomic>
#include <cstdarg>
#include <memory>

#include "JavascriptDispatcher.h"
#include "NativeUIController.h"
#include "NativeUIControllerCallback.h"

class NativeUIWrapper : public Napi::ObjectWrap<NativeUIWrapper>,
                        public NativeUI::NativeUIControllerCallback {
 public:
  // JavaScript thread: defines the class, exports it as "NativeUIWrapper" and returns exports.
  static Napi::Object Init(Napi::Env env, Napi::Object exports);

  explicit NativeUIWrapper(const Napi::CallbackInfo& info);
  ~NativeUIWrapper() override;

  // Reports; any thread. Each returns at once: the registered function is called later, on the
  // JavaScript thread. A report whose function is not registered is dropped (a log line is not
  // even formatted).
  void onWindowShown() override;
  void onWindowHidden() override;
  void onStopScreenShareClicked() override;
  void onLog(NativeUI::LogType type, const char* format, ...) override
      __attribute__((format(printf, 3, 4)));
  void logv(NativeUI::LogType type, const char* format, va_list args)
      __attribute__((format(printf, 3, 0)));
  // Also takes and gives up the showing's hold on the loop (see the top of this file), whether
  // or not a function is registered for the reports.
  void onShowingEvent(const NativeUI::ShowingEvent& event) override;

  // The hold on the loop for a showing. holdLoop: on this instance's JavaScript thread only (a
  // later showing replaces the one held, the hold stays). releaseLoopLater: any thread; gives
  // the hold on that showing up once everything queued before has been delivered.
  void holdLoop(uint64_t showing);
  void releaseLoopLater(uint64_t showing);

  // The sink the controller reports to (never freed). Making a report through it is exactly
  // what the controller's UI thread does; tests use it to make reports without a bar.
  static NativeUI::NativeUIControllerCallback* controllerCallback();

 private:
  // A registered function. The flag says the reference is set; it is what the reporting thread
  // tests, because the reference itself is written on the JavaScript thread at any time.
  struct Slot {
    Napi::FunctionReference function;
    std::atomic<bool> registered{false};
  };

  static void setSafeWrap(const Napi::CallbackInfo& info);
  static Napi::Value listMonitors(const Napi::CallbackInfo& info);
  // The texts and the shortcut are stored for the next showing, the scale is returned.
  static double readShowOptions(const Napi::CallbackInfo& info);
  static Napi::Value isAccelerator(const Napi::CallbackInfo& info);
  void showControlBar(const Napi::CallbackInfo& info);
  void showWindow(const Napi::CallbackInfo& info);
  void hideControlBar(const Napi::CallbackInfo& info);
  void registerShowControlBarCallback(const Napi::CallbackInfo& info);
  void registerHideControlBarCallback(const Napi::CallbackInfo& info);
  void registerStopSharingClickEvent(const Napi::CallbackInfo& info);
  void registerLogCallback(const Napi::CallbackInfo& info);
  void registerShowingEventCallback(const Napi::CallbackInfo& info);
  Napi::Value isVisible(const Napi::CallbackInfo& info);

  void registerFunction(const Napi::CallbackInfo& info, Slot& slot, const char* name);
  void postEvent(Slot NativeUIWrapper::*slot);
  static void onEnvironmentTeardown(void* env);
  void releaseLoop(uint64_t showing);

  std::unique_ptr<JavascriptDispatcher> dispatcher;
  Slot showControlBarCallback;
  Slot hideControlBarCallback;
  Slot stopSharingClickCallback;
  Slot logCallback;
  Slot showingEventCallback;
  // The showing whose hold this instance has, 0 for none; its JavaScript thread only.
  uint64_t _heldShowing = 0;

  static Napi::FunctionReference constructor;
  static Napi::FunctionReference safeWrap;
  // Deletes the controller at process exit unless a UI thread that a hide left running still
  // uses it: that one is leaked, so that nothing the thread uses is freed under it.
  struct ControllerRelease {
    void operator()(NativeUI::NativeUIController* controller) const;
  };
  static std::unique_ptr<NativeUI::NativeUIController, ControllerRelease> sNativeUIController;
};
