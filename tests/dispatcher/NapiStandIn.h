// A stand-in for the few N-API calls that the JavaScript dispatcher (src/addon) makes, so that
// its threads can be tested natively under ASan and TSan, where a sanitized Node.js host is not
// to be had. The "JavaScript thread" is a thread running a private libuv loop; napi_env points
// to a StandInEnv.
//
// The stand-in also checks the dispatcher's side of the contract: every N-API call comes from
// the JavaScript thread, and scopes are closed in the order they were opened. Breaches are
// recorded, not thrown (they happen inside the code under test), and read by the tests.
#pragma once

#include <node_api.h>
#include <uv.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

class StandInEnv {
 public:
  StandInEnv();
  ~StandInEnv();
  StandInEnv(const StandInEnv&) = delete;
  StandInEnv& operator=(const StandInEnv&) = delete;

  napi_env env() { return reinterpret_cast<napi_env>(this); }
  static StandInEnv& of(napi_env env) { return *reinterpret_cast<StandInEnv*>(env); }

  // Starts the JavaScript thread; the loop runs until stop().
  void start();
  // Runs fn on the JavaScript thread and waits for it (never from the JavaScript thread).
  void runOnJsThread(std::function<void()> fn);
  // Ends the loop once every handle of the code under test is closed, and joins the thread.
  void stop();

  bool onJsThread() const { return std::this_thread::get_id() == _jsThread.get_id(); }
  uv_loop_t* loop() { return &_loop; }

  // JavaScript thread only, as N-API itself.
  napi_value makeString(std::string text);
  const std::string& text(napi_value value) const;
  void breach(std::string what);  // any thread

  // Read after stop(), or on the JavaScript thread.
  std::vector<std::string> breaches() const;
  std::vector<std::string> uncaught;  // messages handed to napi_fatal_exception
  int openHandleScopes = 0;
  int openCallbackScopes = 0;
  int asyncContexts = 0;
  // Items run per callback scope: each item opens one handle scope inside it.
  std::vector<int> itemsPerWakeUp;
  bool failHandleScopes = false;  // napi_open_handle_scope fails while set

 private:
  static void runTasks(uv_async_t* handle);

  uv_loop_t _loop{};
  uv_async_t _tasksHandle{};
  std::thread _jsThread;
  mutable std::mutex _mutex;  // guards _tasks, _stopping and _breaches
  std::vector<std::function<void()>> _tasks;
  bool _stopping = false;
  std::vector<std::string> _breaches;
  std::vector<std::unique_ptr<std::string>> _values;  // JavaScript thread only
};

}  // namespace standin
