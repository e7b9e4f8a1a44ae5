// Entry points of bench/dispatcher.js: the same work carried once by JavascriptDispatcher::async
// and once by Node's own napi_threadsafe_function. An item is a heap std::function in both; the
// JavaScript side runs it and frees it.
#include <napi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "JavascriptDispatcher.h"
#include "testAddon.h"

namespace {

using Clock = std::chrono::steady_clock;
using Closure = std::function<void(Napi::Env)>;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// One way of carrying closures to the JavaScript thread.
class Carrier {
 public:
  virtual ~Carrier() = default;
  virtual void post(Closure closure) = 0;  // any thread
};

class DispatcherCarrier final : public Carrier {
 public:
  explicit DispatcherCarrier(Napi::Env env) : _dispatcher(env) {}
  void post(Closure closure) override { _dispatcher.async(std::move(closure)); }

 private:
  JavascriptDispatcher _dispatcher;
};

class NodeCarrier final : public Carrier {
 public:
  explicit NodeCarrier(Napi::Env env) {
    napi_value name = Napi::String::New(env, "bench");
    if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, nullptr, nullptr,
                                        nullptr, &NodeCarrier::callJs, &_function) != napi_ok) {
      throw Napi::Error::New(env);
    }
  }
  ~NodeCarrier() override { napi_release_threadsafe_function(_function, napi_tsfn_release); }
  void post(Closure closure) override {
    napi_call_threadsafe_function(_function, new Closure(std::move(closure)),
                                  napi_tsfn_nonblocking);
  }

 private:
  static void callJs(napi_env env, napi_value, void*, void* data) {
    std::unique_ptr<Closure> closure(static_cast<Closure*>(data));
    if (env != nullptr) (*closure)(Napi::Env(env));
  }
  napi_threadsafe_function _function = nullptr;
};

std::unique_ptr<Carrier> makeCarrier(Napi::Env env, const std::string& kind) {
  if (kind == "dispatcher") return std::make_unique<DispatcherCarrier>(env);
  if (kind == "node") return std::make_unique<NodeCarrier>(env);
  throw Napi::TypeError::New(env, "carrier must be 'dispatcher' or 'node'");
}

// One run at a time.
struct Run {
  std::unique_ptr<Carrier> carrier;
  std::vector<std::thread> threads;
  Napi::FunctionReference done;
  Napi::FunctionReference work;  // optional JavaScript function each item calls
  long expected = 0;
  long count = 0;  // JavaScript thread only
  int64_t start = 0;
  std::vector<double> latencies;  // JavaScript thread only
  std::atomic<bool> acknowledged{false};
};
std::unique_ptr<Run> sRun;

// throughput(kind, threads, perThread, work|null, done): done(elapsed ns) once every item ran.
void throughput(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (sRun) throw Napi::Error::New(env, "a run is already under way");
  sRun = std::make_unique<Run>();
  Run* run = sRun.get();
  run->carrier = makeCarrier(env, info[0].ToString().Utf8Value());
  const int threads = info[1].ToNumber().Int32Value();
  const long perThread = info[2].ToNumber().Int64Value();
  if (info[3].IsFunction()) run->work = Napi::Persistent(info[3].As<Napi::Function>());
  run->done = Napi::Persistent(info[4].As<Napi::Function>());
  run->expected = threads * perThread;
  run->start = nowNs();
  for (int t = 0; t < threads; ++t) {
    run->threads.emplace_back([run, perThread] {
      for (long i = 0; i < perThread; ++i) {
        run->carrier->post([run](Napi::Env env) {
          if (!run->work.IsEmpty()) run->work.Call({});
          if (++run->count == run->expected) {
            run->done.Call({Napi::Number::New(env, static_cast<double>(nowNs() - run->start))});
          }
        });
      }
    });
  }
}

// latency(kind, samples, done): one producer thread posts one item at a time and waits for it
// to have run before the next; done(array of ns from post to run).
void latency(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  if (sRun) throw Napi::Error::New(env, "a run is already under way");
  sRun = std::make_unique<Run>();
  Run* run = sRun.get();
  run->carrier = makeCarrier(env, info[0].ToString().Utf8Value());
  const long samples = info[1].ToNumber().Int64Value();
  run->done = Napi::Persistent(info[2].As<Napi::Function>());
  run->latencies.reserve(samples);
  run->threads.emplace_back([run, samples] {
    for (long i = 0; i < samples; ++i) {
      run->acknowledged.store(false);
      const int64_t posted = nowNs();
      const bool last = i + 1 == samples;
      run->carrier->post([run, posted, last](Napi::Env env) {
        run->latencies.push_back(static_cast<double>(nowNs() - posted));
        if (last) {
          Napi::Array values = Napi::Array::New(env, run->latencies.size());
          for (size_t k = 0; k < run->latencies.size(); ++k) {
            values.Set(static_cast<uint32_t>(k), run->latencies[k]);
          }
          run->done.Call({values});
        }
        run->acknowledged.store(true);
      });
      // Spins rather than blocks, so that the producer's own wake-up is not measured.
      while (!run->acknowledged.load()) std::this_thread::yield();
    }
  });
}

// finish(): joins the producers and releases the carrier; call after done.
void finish(const Napi::CallbackInfo&) {
  if (!sRun) return;
  for (std::thread& thread : sRun->threads) thread.join();
  sRun.reset();
}

}  // namespace

namespace testaddon {

void initBenchmark(Napi::Env env, Napi::Object exports) {
  Napi::Object bench = Napi::Object::New(env);
  bench.Set("throughput", Napi::Function::New<throughput>(env, "throughput"));
  bench.Set("latency", Napi::Function::New<latency>(env, "latency"));
  bench.Set("finish", Napi::Function::New<finish>(env, "finish"));
  exports.Set("bench", bench);
}

}  // namespace testaddon
