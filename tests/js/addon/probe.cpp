// Probe: a JavaScript object owning one JavascriptDispatcher, with entry points that post
// closures from the JavaScript thread and from threads of its own. JavaScript functions handed
// in are kept by the probe and called by index, so that no reference is ever released off the
// JavaScript thread.
#include <napi.h>

#include <atomic>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "JavascriptDispatcher.h"
#include "testAddon.h"

namespace {

// Counts the live copies of every closure that captures one: zero means every closure and every
// copy the dispatcher made was freed.
std::atomic<long> sLive{0};
struct Tracked {
  Tracked() { ++sLive; }
  Tracked(const Tracked&) { ++sLive; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --sLive; }
};

class Probe : public Napi::ObjectWrap<Probe> {
 public:
  static void Init(Napi::Env env, Napi::Object exports) {
    exports.Set(
        "Probe",
        DefineClass(env, "Probe",
                    {
                        InstanceMethod<&Probe::post>("post"),
                        InstanceMethod<&Probe::postReposting>("postReposting"),
                        InstanceMethod<&Probe::asyncFromThreads>("asyncFromThreads"),
                        InstanceMethod<&Probe::syncFromThreads>("syncFromThreads"),
                        InstanceMethod<&Probe::syncThrowing>("syncThrowing"),
                        InstanceMethod<&Probe::postThrowingCpp>("postThrowingCpp"),
                        InstanceMethod<&Probe::postPendingException>("postPendingException"),
                        InstanceMethod<&Probe::queueAndClose>("queueAndClose"),
                        InstanceMethod<&Probe::closeFromInside>("closeFromInside"),
                        InstanceMethod<&Probe::join>("join"),
                        InstanceMethod<&Probe::postWhile>("postWhile"),
                    }));
    exports.Set("live", Napi::Function::New(env, [](const Napi::CallbackInfo& info) {
                  return Napi::Number::New(info.Env(), static_cast<double>(sLive.load()));
                }));
  }

  explicit Probe(const Napi::CallbackInfo& info)
      : Napi::ObjectWrap<Probe>(info),
        _dispatcher(std::make_unique<JavascriptDispatcher>(info.Env())) {}

  ~Probe() override {
    // The tests let every thread finish before they drop a probe.
    for (std::thread& thread : _threads) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  size_t keep(const Napi::Value& value) {
    if (!value.IsFunction()) throw Napi::TypeError::New(value.Env(), "function expected");
    _functions.push_back(Napi::Persistent(value.As<Napi::Function>()));
    return _functions.size() - 1;
  }
  Napi::FunctionReference& function(size_t index) { return _functions[index]; }
  JavascriptDispatcher& dispatcher(const Napi::Env& env) {
    if (!_dispatcher) throw Napi::Error::New(env, "dispatcher closed");
    return *_dispatcher;
  }

  // post(fn): fn() from an async closure posted on the JavaScript thread.
  void post(const Napi::CallbackInfo& info) {
    const size_t fn = keep(info[0]);
    dispatcher(info.Env()).async([this, fn, t = Tracked()](Napi::Env) { function(fn).Call({}); });
  }

  // postReposting(fn): closure A calls fn('A') and posts closure C, which calls fn('C'); closure
  // B, posted right after A, calls fn('B').
  void postReposting(const Napi::CallbackInfo& info) {
    const size_t fn = keep(info[0]);
    JavascriptDispatcher& d = dispatcher(info.Env());
    d.async([this, fn, t = Tracked()](Napi::Env env) {
      function(fn).Call({Napi::String::New(env, "A")});
      _dispatcher->async([this, fn, t = Tracked()](Napi::Env env) {
        function(fn).Call({Napi::String::New(env, "C")});
      });
    });
    d.async([this, fn, t = Tracked()](Napi::Env env) {
      function(fn).Call({Napi::String::New(env, "B")});
    });
  }

  // asyncFromThreads(threads, perThread, fn): every thread posts perThread closures calling
  // fn(thread, seq); the threads have ended when the call returns, the closures run later.
  void asyncFromThreads(const Napi::CallbackInfo& info) {
    const int threads = info[0].ToNumber().Int32Value();
    const int perThread = info[1].ToNumber().Int32Value();
    const size_t fn = keep(info[2]);
    JavascriptDispatcher* d = &dispatcher(info.Env());
    std::vector<std::thread> producers;
    for (int thread = 0; thread < threads; ++thread) {
      producers.emplace_back([this, d, fn, thread, perThread] {
        for (int seq = 0; seq < perThread; ++seq) {
          d->async([this, fn, thread, seq, t = Tracked()](Napi::Env env) {
            function(fn).Call({Napi::Number::New(env, thread), Napi::Number::New(env, seq)});
          });
        }
      });
    }
    for (std::thread& producer : producers) producer.join();
  }

  // syncFromThreads(threads, perThread, fn, done): every thread makes perThread sync calls whose
  // closure calls fn(thread, seq) and only then marks itself finished; after each sync returns
  // the thread checks that the mark is there and that sync said it ran. Each thread ends by
  // posting done(thread, violations).
  void syncFromThreads(const Napi::CallbackInfo& info) {
    const int threads = info[0].ToNumber().Int32Value();
    const int perThread = info[1].ToNumber().Int32Value();
    const size_t fn = keep(info[2]);
    const size_t done = keep(info[3]);
    JavascriptDispatcher* d = &dispatcher(info.Env());
    for (int thread = 0; thread < threads; ++thread) {
      _threads.emplace_back([this, d, fn, done, thread, perThread] {
        int violations = 0;
        for (int seq = 0; seq < perThread; ++seq) {
          bool finished = false;  // written on the JavaScript thread, read here after sync
          const bool ran =
              d->sync([this, fn, thread, seq, &finished, t = Tracked()](Napi::Env env) {
                function(fn).Call({Napi::Number::New(env, thread), Napi::Number::New(env, seq)});
                finished = true;
              });
          if (!ran || !finished) ++violations;
        }
        d->async([this, done, thread, violations, t = Tracked()](Napi::Env env) {
          function(done).Call({Napi::Number::New(env, thread), Napi::Number::New(env, violations)});
        });
      });
    }
  }

  // syncThrowing(fn, done): a thread syncs a closure that calls fn() (which throws), then posts
  // done(result of sync).
  void syncThrowing(const Napi::CallbackInfo& info) {
    const size_t fn = keep(info[0]);
    const size_t done = keep(info[1]);
    JavascriptDispatcher* d = &dispatcher(info.Env());
    _threads.emplace_back([this, d, fn, done] {
      const bool ran = d->sync([this, fn, t = Tracked()](Napi::Env) { function(fn).Call({}); });
      d->async([this, done, ran, t = Tracked()](Napi::Env env) {
        function(done).Call({Napi::Boolean::New(env, ran)});
      });
    });
  }

  // postThrowingCpp(message): a closure that throws a C++ exception (not a Napi::Error).
  void postThrowingCpp(const Napi::CallbackInfo& info) {
    std::string message = info[0].ToString().Utf8Value();
    dispatcher(info.Env()).async([message, t = Tracked()](Napi::Env) -> void {
      throw std::runtime_error(message);
    });
  }

  // postPendingException(message): a closure that leaves a JavaScript exception pending the way
  // a failed raw N-API call does, and returns normally.
  void postPendingException(const Napi::CallbackInfo& info) {
    std::string message = info[0].ToString().Utf8Value();
    dispatcher(info.Env()).async([message, t = Tracked()](Napi::Env env) {
      napi_throw_error(env, nullptr, message.c_str());
    });
  }

  // queueAndClose(count, fn): queues count async closures calling fn, blocks a thread in sync
  // on a closure calling fn, then destroys the dispatcher while all of them are still queued.
  // Returns { syncResult, waitingBeforeClose }.
  Napi::Value queueAndClose(const Napi::CallbackInfo& info) {
    Napi::Env env = info.Env();
    const int count = info[0].ToNumber().Int32Value();
    const size_t fn = keep(info[1]);
    JavascriptDispatcher* d = &dispatcher(env);
    for (int i = 0; i < count; ++i) {
      d->async([this, fn, t = Tracked()](Napi::Env) { function(fn).Call({}); });
    }
    std::atomic<int> syncResult{-1};
    std::thread waiter([this, d, fn, &syncResult] {
      syncResult = d->sync([this, fn, t = Tracked()](Napi::Env) { function(fn).Call({}); }) ? 1 : 0;
    });
    while (d->waitingCount() == 0) std::this_thread::yield();
    const size_t waiting = d->waitingCount();
    _dispatcher.reset();
    waiter.join();
    Napi::Object result = Napi::Object::New(env);
    result.Set("syncResult", Napi::Number::New(env, syncResult.load()));
    result.Set("waitingBeforeClose", Napi::Number::New(env, static_cast<double>(waiting)));
    return result;
  }

  // closeFromInside(fn, closed): the first closure destroys the dispatcher it runs on and calls
  // closed(); a second closure, queued behind it, would call fn.
  void closeFromInside(const Napi::CallbackInfo& info) {
    const size_t fn = keep(info[0]);
    const size_t closed = keep(info[1]);
    JavascriptDispatcher& d = dispatcher(info.Env());
    d.async([this, closed, t = Tracked()](Napi::Env) {
      _dispatcher.reset();
      function(closed).Call({});
    });
    d.async([this, fn, t = Tracked()](Napi::Env) { function(fn).Call({}); });
  }

  // postWhile(fn): a closure that calls fn() and, as long as fn returns true, posts itself
  // again: a producer that always keeps pace with the JavaScript thread.
  void postWhile(const Napi::CallbackInfo& info) { repost(keep(info[0])); }
  void repost(size_t fn) {
    _dispatcher->async([this, fn, t = Tracked()](Napi::Env) {
      if (function(fn).Call({}).ToBoolean().Value() && _dispatcher) repost(fn);
    });
  }

  // join(): waits for the probe's threads (all of them have posted their last closure).
  void join(const Napi::CallbackInfo&) {
    for (std::thread& thread : _threads) {
      if (thread.joinable()) thread.join();
    }
    _threads.clear();
  }

  std::deque<Napi::FunctionReference> _functions;
  std::vector<std::thread> _threads;
  // Last, so that it goes first: its queued closures name the functions above.
  std::unique_ptr<JavascriptDispatcher> _dispatcher;
};

}  // namespace

namespace testaddon {

void initProbe(Napi::Env env, Napi::Object exports) { Probe::Init(env, exports); }

}  // namespace testaddon
