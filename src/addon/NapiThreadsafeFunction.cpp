#include "NapiThreadsafeFunction.h"

#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

struct NapiThreadsafeFunction::Channel {
  Channel(Callback callback, Napi::Env env, Release release)
      : _callback(std::move(callback)),
        _env(env),
        _release(std::move(release)),
        _loopThread(std::this_thread::get_id()) {}

  // An item and whether it holds the loop (queued on the loop thread).
  struct Entry {
    void* item;
    bool held;
  };

  // Loop thread only, like the handle's reference: referenced while anything holds it.
  void hold() {
    if (_holds++ == 0) uv_ref(reinterpret_cast<uv_handle_t*>(&_asyncHandle));
  }
  void release() {
    if (--_holds == 0) uv_unref(reinterpret_cast<uv_handle_t*>(&_asyncHandle));
  }

  uv_async_t _asyncHandle{};  // data points back to this channel
  Callback _callback;
  Napi::Env _env;
  Release _release;
  napi_async_context _asyncContext = nullptr;
  const std::thread::id _loopThread;
  int _holds = 0;     // loop thread only: the owner's refs plus held items not yet run
  int _refs = 0;      // loop thread only: the owner's refs
  std::mutex _mutex;  // guards _queue and _closed
  std::deque<Entry> _queue;
  bool _closed = false;
  bool _raiseFailed = false;  // JavaScript thread only; says so on standard error once
};

namespace {

// At most this many items run per wake-up. Producers that keep pace with the JavaScript thread
// would otherwise hold it in one drain for ever: timers, I/O and a worker's termination all
// wait for the callback to return. The rest runs at the next wake-up, as Node's own
// thread-safe function does.
constexpr int kMaxItemsPerWakeUp = 1000;

// Hands an error to Node's uncaught-exception machinery. Must not throw: it runs where an
// exception would otherwise unwind into libuv. It fails only while the environment is going
// away (a worker being terminated), when every item fails the same way: said once.
void raiseUncaught(napi_env env, napi_value error, bool& failedBefore) noexcept {
  if (error != nullptr && napi_fatal_exception(env, error) == napi_ok) return;
  if (!failedBefore) {
    fprintf(stderr, "NapiThreadsafeFunction: an error of a dispatched item could not be raised\n");
  }
  failedBefore = true;
}

napi_value errorFromMessage(napi_env env, const char* message) noexcept {
  napi_value text = nullptr;
  napi_value error = nullptr;
  if (napi_create_string_utf8(env, message, NAPI_AUTO_LENGTH, &text) != napi_ok) return nullptr;
  if (napi_create_error(env, nullptr, text, &error) != napi_ok) return nullptr;
  return error;
}

// A failed N-API call inside an item may leave its JavaScript exception pending without any C++
// exception; it must not leak into whatever runs next on this thread.
void raisePending(napi_env env, bool& failedBefore) noexcept {
  bool pending = false;
  if (napi_is_exception_pending(env, &pending) != napi_ok || !pending) return;
  napi_value error = nullptr;
  if (napi_get_and_clear_last_exception(env, &error) == napi_ok) {
    raiseUncaught(env, error, failedBefore);
  }
}

}  // namespace

NapiThreadsafeFunction::NapiThreadsafeFunction(Callback callback, Napi::Env env, Release release)
    : _channel(new Channel(std::move(callback), env, std::move(release))) {
  // The environment's own loop rather than uv_default_loop(): the two are the same on the main
  // thread, and in a worker only the worker's loop runs on the thread that owns env.
  uv_loop_t* loop = nullptr;
  napi_value name = nullptr;
  if (napi_get_uv_event_loop(env, &loop) != napi_ok ||
      napi_create_string_utf8(env, "NapiThreadsafeFunction", NAPI_AUTO_LENGTH, &name) != napi_ok ||
      napi_async_init(env, nullptr, name, &_channel->_asyncContext) != napi_ok) {
    delete _channel;
    throw Napi::Error::New(env);
  }
  if (uv_async_init(loop, &_channel->_asyncHandle, &NapiThreadsafeFunction::doCallback) != 0) {
    napi_async_destroy(env, _channel->_asyncContext);
    delete _channel;
    throw Napi::Error::New(env, "NapiThreadsafeFunction: uv_async_init failed");
  }
  _channel->_asyncHandle.data = _channel;
  uv_unref(reinterpret_cast<uv_handle_t*>(&_channel->_asyncHandle));
}

NapiThreadsafeFunction::~NapiThreadsafeFunction() {
  std::deque<Channel::Entry> dropped;
  {
    std::lock_guard<std::mutex> lock(_channel->_mutex);
    _channel->_closed = true;
    dropped.swap(_channel->_queue);
  }
  // The holds go with the handle: a closing handle keeps the loop only until it is closed.
  if (_channel->_release) {
    for (const Channel::Entry& entry : dropped) _channel->_release(entry.item);
  }
  napi_async_destroy(_channel->_env, _channel->_asyncContext);
  _channel->_asyncContext = nullptr;
  uv_close(reinterpret_cast<uv_handle_t*>(&_channel->_asyncHandle),
           [](uv_handle_t* handle) { delete static_cast<Channel*>(handle->data); });
}

void NapiThreadsafeFunction::call(void* data) {
  const bool held = onLoopThread();
  std::lock_guard<std::mutex> lock(_channel->_mutex);
  if (held) _channel->hold();
  _channel->_queue.push_back({data, held});
  // Under the lock, so that the destructor (which takes it to close the channel) can never
  // close the handle between the push and the signal.
  uv_async_send(&_channel->_asyncHandle);
}

void NapiThreadsafeFunction::ref() {
  ++_channel->_refs;
  _channel->hold();
}

void NapiThreadsafeFunction::unref() {
  if (_channel->_refs == 0) return;  // an item's hold is not the owner's to give up
  --_channel->_refs;
  _channel->release();
}

bool NapiThreadsafeFunction::onLoopThread() const {
  return std::this_thread::get_id() == _channel->_loopThread;
}

void NapiThreadsafeFunction::doCallback(uv_async_t* handle) {
  Channel& channel = *static_cast<Channel*>(handle->data);
  napi_env env = channel._env;
  napi_handle_scope outerScope = nullptr;
  if (napi_open_handle_scope(env, &outerScope) != napi_ok) return;
  napi_callback_scope callbackScope = nullptr;
  if (napi_open_callback_scope(env, nullptr, channel._asyncContext, &callbackScope) != napi_ok) {
    callbackScope = nullptr;  // the items still run; only the microtask checkpoint is lost
  }
  for (int ran = 0;; ++ran) {
    Channel::Entry entry;
    {
      std::lock_guard<std::mutex> lock(channel._mutex);
      // Closed: the owner was destroyed by an earlier item of this drain; the rest were
      // already handed to release.
      if (channel._closed || channel._queue.empty()) break;
      if (ran == kMaxItemsPerWakeUp) {
        uv_async_send(handle);  // the rest at the next wake-up
        break;
      }
      entry = channel._queue.front();
      channel._queue.pop_front();
    }
    runItem(channel, entry.item);
    // After the item: the loop must not be let go while the work it stands for is unfinished.
    if (entry.held) channel.release();
  }
  // Closing the callback scope runs the tick queue and microtasks, which may destroy the owner;
  // the channel itself lives until the close callback, so it is not read after this point.
  if (callbackScope != nullptr) napi_close_callback_scope(env, callbackScope);
  napi_close_handle_scope(env, outerScope);
}

void NapiThreadsafeFunction::runItem(Channel& channel, void* item) {
  napi_env env = channel._env;
  napi_handle_scope scope = nullptr;
  if (napi_open_handle_scope(env, &scope) != napi_ok) {
    // Cannot run without a scope; the item is given back so that it is not leaked and a thread
    // waiting for it is not left waiting.
    if (channel._release) channel._release(item);
    raisePending(env, channel._raiseFailed);
    return;
  }
  try {
    channel._callback(Napi::Env(env), item);
  } catch (const Napi::Error& error) {
    napi_value value = nullptr;
    try {
      value = error.Value();
    } catch (...) {
    }
    raiseUncaught(env, value != nullptr ? value : errorFromMessage(env, error.what()),
                  channel._raiseFailed);
  } catch (const std::exception& error) {
    raiseUncaught(env, errorFromMessage(env, error.what()), channel._raiseFailed);
  } catch (...) {
    raiseUncaught(env, errorFromMessage(env, "unknown C++ exception in a dispatched item"),
                  channel._raiseFailed);
  }
  raisePending(env, channel._raiseFailed);
  napi_close_handle_scope(env, scope);
}
