#include "NapiStandIn.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace standin {

StandInEnv::StandInEnv() {
  uv_loop_init(&_loop);
  uv_async_init(&_loop, &_tasksHandle, &StandInEnv::runTasks);
  _tasksHandle.data = this;
}

StandInEnv::~StandInEnv() {
  if (_jsThread.joinable()) stop();
  uv_loop_close(&_loop);
}

void StandInEnv::start() {
  _jsThread = std::thread([this] { uv_run(&_loop, UV_RUN_DEFAULT); });
}

void StandInEnv::runOnJsThread(std::function<void()> fn) {
  std::mutex doneMutex;
  std::condition_variable doneCondition;
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _tasks.push_back([&] {
      fn();
      std::lock_guard<std::mutex> doneLock(doneMutex);
      done = true;
      doneCondition.notify_all();
    });
    uv_async_send(&_tasksHandle);
  }
  std::unique_lock<std::mutex> lock(doneMutex);
  doneCondition.wait(lock, [&] { return done; });
}

void StandInEnv::stop() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
    uv_async_send(&_tasksHandle);
  }
  // uv_run returns once the dispatcher's handles are closed too: a handle the code under test
  // forgot to close keeps the loop, and this join, waiting; CTest's timeout reports it.
  _jsThread.join();
}

void StandInEnv::runTasks(uv_async_t* handle) {
  StandInEnv& self = *static_cast<StandInEnv*>(handle->data);
  std::vector<std::function<void()>> tasks;
  bool stopping;
  {
    std::lock_guard<std::mutex> lock(self._mutex);
    tasks.swap(self._tasks);
    stopping = self._stopping;
  }
  for (auto& task : tasks) task();
  if (stopping) uv_close(reinterpret_cast<uv_handle_t*>(handle), nullptr);
}

napi_value StandInEnv::makeString(std::string text) {
  _values.push_back(std::make_unique<std::string>(std::move(text)));
  return reinterpret_cast<napi_value>(_values.back().get());
}

const std::string& StandInEnv::text(napi_value value) const {
  return *reinterpret_cast<const std::string*>(value);
}

void StandInEnv::breach(std::string what) {
  std::lock_guard<std::mutex> lock(_mutex);
  _breaches.push_back(std::move(what));
}

std::vector<std::string> StandInEnv::breaches() const {
  std::lock_guard<std::mutex> lock(_mutex);
  return _breaches;
}

}  // namespace standin

using standin::StandInEnv;

namespace {

// Every entry point starts here: N-API may only be called on the environment's own thread.
StandInEnv& enter(napi_env env, const char* name) {
  StandInEnv& self = StandInEnv::of(env);
  if (!self.onJsThread()) self.breach(std::string(name) + " called off the JavaScript thread");
  return self;
}

// Calls that the dispatcher only makes on paths these tests do not take (a Napi::Error built
// from a pending exception, references of an error object); reaching one is a breach.
napi_status unexpected(napi_env env, const char* name) {
  StandInEnv::of(env).breach(std::string("unexpected call of ") + name);
  return napi_generic_failure;
}

}  // namespace

extern "C" {

napi_status napi_get_uv_event_loop(node_api_basic_env env, uv_loop_t** loop) {
  StandInEnv& self = enter(const_cast<napi_env>(env), "napi_get_uv_event_loop");
  *loop = self.loop();
  return napi_ok;
}

napi_status napi_create_string_utf8(napi_env env, const char* str, size_t length,
                                    napi_value* result) {
  StandInEnv& self = enter(env, "napi_create_string_utf8");
  *result =
      self.makeString(length == NAPI_AUTO_LENGTH ? std::string(str) : std::string(str, length));
  return napi_ok;
}

napi_status napi_create_error(napi_env env, napi_value, napi_value msg, napi_value* result) {
  StandInEnv& self = enter(env, "napi_create_error");
  *result = self.makeString(self.text(msg));
  return napi_ok;
}

napi_status napi_fatal_exception(napi_env env, napi_value err) {
  StandInEnv& self = enter(env, "napi_fatal_exception");
  self.uncaught.push_back(self.text(err));
  return napi_ok;
}

napi_status napi_is_exception_pending(napi_env env, bool* result) {
  enter(env, "napi_is_exception_pending");
  *result = false;
  return napi_ok;
}

napi_status napi_get_and_clear_last_exception(napi_env env, napi_value*) {
  return unexpected(env, "napi_get_and_clear_last_exception");
}

napi_status napi_async_init(napi_env env, napi_value, napi_value, napi_async_context* result) {
  StandInEnv& self = enter(env, "napi_async_init");
  ++self.asyncContexts;
  *result = reinterpret_cast<napi_async_context>(&self);
  return napi_ok;
}

napi_status napi_async_destroy(napi_env env, napi_async_context) {
  StandInEnv& self = enter(env, "napi_async_destroy");
  --self.asyncContexts;
  return napi_ok;
}

napi_status napi_open_handle_scope(napi_env env, napi_handle_scope* result) {
  StandInEnv& self = enter(env, "napi_open_handle_scope");
  if (self.failHandleScopes) return napi_generic_failure;
  ++self.openHandleScopes;
  if (self.openCallbackScopes > 0 && self.openHandleScopes == 2) ++self.itemsPerWakeUp.back();
  *result = reinterpret_cast<napi_handle_scope>(static_cast<intptr_t>(self.openHandleScopes));
  return napi_ok;
}

napi_status napi_close_handle_scope(napi_env env, napi_handle_scope scope) {
  StandInEnv& self = enter(env, "napi_close_handle_scope");
  if (reinterpret_cast<intptr_t>(scope) != self.openHandleScopes) {
    self.breach("napi_close_handle_scope out of order");
  }
  --self.openHandleScopes;
  return napi_ok;
}

napi_status napi_open_callback_scope(napi_env env, napi_value, napi_async_context,
                                     napi_callback_scope* result) {
  StandInEnv& self = enter(env, "napi_open_callback_scope");
  ++self.openCallbackScopes;
  self.itemsPerWakeUp.push_back(0);
  *result = reinterpret_cast<napi_callback_scope>(static_cast<intptr_t>(self.openCallbackScopes));
  return napi_ok;
}

napi_status napi_close_callback_scope(napi_env env, napi_callback_scope scope) {
  StandInEnv& self = enter(env, "napi_close_callback_scope");
  if (reinterpret_cast<intptr_t>(scope) != self.openCallbackScopes) {
    self.breach("napi_close_callback_scope out of order");
  }
  --self.openCallbackScopes;
  return napi_ok;
}

// The rest only links node-addon-api's error and reference helpers; none is reached.
napi_status napi_get_last_error_info(node_api_basic_env env, const napi_extended_error_info**) {
  return unexpected(const_cast<napi_env>(env), "napi_get_last_error_info");
}
napi_status napi_throw(napi_env env, napi_value) { return unexpected(env, "napi_throw"); }
napi_status napi_create_type_error(napi_env env, napi_value, napi_value, napi_value*) {
  return unexpected(env, "napi_create_type_error");
}
napi_status napi_create_object(napi_env env, napi_value*) {
  return unexpected(env, "napi_create_object");
}
napi_status napi_define_properties(napi_env env, napi_value, size_t,
                                   const napi_property_descriptor*) {
  return unexpected(env, "napi_define_properties");
}
napi_status napi_create_reference(napi_env env, napi_value, uint32_t, napi_ref*) {
  return unexpected(env, "napi_create_reference");
}
napi_status napi_delete_reference(napi_env env, napi_ref) {
  return unexpected(env, "napi_delete_reference");
}
napi_status napi_get_reference_value(napi_env env, napi_ref, napi_value*) {
  return unexpected(env, "napi_get_reference_value");
}
napi_status napi_typeof(napi_env env, napi_value, napi_valuetype*) {
  return unexpected(env, "napi_typeof");
}
napi_status napi_has_property(napi_env env, napi_value, napi_value, bool*) {
  return unexpected(env, "napi_has_property");
}
napi_status napi_get_property(napi_env env, napi_value, napi_value, napi_value*) {
  return unexpected(env, "napi_get_property");
}
napi_status napi_get_named_property(napi_env env, napi_value, const char*, napi_value*) {
  return unexpected(env, "napi_get_named_property");
}
napi_status napi_get_value_string_utf8(napi_env env, napi_value, char*, size_t, size_t*) {
  return unexpected(env, "napi_get_value_string_utf8");
}
napi_status napi_call_function(napi_env env, napi_value, napi_value, size_t, const napi_value*,
                               napi_value*) {
  return unexpected(env, "napi_call_function");
}
napi_status napi_open_escapable_handle_scope(napi_env env, napi_escapable_handle_scope*) {
  return unexpected(env, "napi_open_escapable_handle_scope");
}
napi_status napi_close_escapable_handle_scope(napi_env env, napi_escapable_handle_scope) {
  return unexpected(env, "napi_close_escapable_handle_scope");
}
napi_status napi_escape_handle(napi_env env, napi_escapable_handle_scope, napi_value, napi_value*) {
  return unexpected(env, "napi_escape_handle");
}
void napi_fatal_error(const char* location, size_t, const char* message, size_t) {
  fprintf(stderr, "napi_fatal_error: %s: %s\n", location ? location : "", message ? message : "");
  abort();
}

}  // extern "C"
