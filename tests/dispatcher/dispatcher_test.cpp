// The JavaScript dispatcher's threads, natively: closures handed over from several threads, sync
// waiters, destruction with threads blocked and items queued, throwing closures and the drain
// cap, over the N-API stand-in. Their worth is in the sanitized builds: ThreadSanitizer checks
// that what a closure touches on the JavaScript thread is ordered with the threads that posted
// it or wait for it, ASan that nothing queued is freed early or leaked.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "JavascriptDispatcher.h"
#include "NapiStandIn.h"

namespace {

class Dispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    _env.start();
    onJs([&] { _dispatcher = std::make_unique<JavascriptDispatcher>(Napi::Env(_env.env())); });
  }

  void TearDown() override {
    onJs([&] { _dispatcher.reset(); });
    _env.stop();
    EXPECT_EQ(_env.breaches(), std::vector<std::string>{});
    EXPECT_EQ(_env.openHandleScopes, 0);
    EXPECT_EQ(_env.openCallbackScopes, 0);
    EXPECT_EQ(_env.asyncContexts, 0);
  }

  void onJs(std::function<void()> fn) { _env.runOnJsThread(std::move(fn)); }

  standin::StandInEnv _env;
  std::unique_ptr<JavascriptDispatcher> _dispatcher;
};

// Counts arrivals; waitFor returns once there have been n.
class Countdown {
 public:
  void arrive() {
    std::lock_guard<std::mutex> lock(_mutex);
    ++_arrived;
    _condition.notify_all();
  }
  void waitFor(int n) {
    std::unique_lock<std::mutex> lock(_mutex);
    _condition.wait(lock, [&] { return _arrived >= n; });
  }

 private:
  std::mutex _mutex;
  std::condition_variable _condition;
  int _arrived = 0;
};

// Holds the JavaScript thread inside a closure until opened, so that items pile up.
class Gate {
 public:
  void wait() {
    std::unique_lock<std::mutex> lock(_mutex);
    _condition.wait(lock, [&] { return _open; });
  }
  void open() {
    std::lock_guard<std::mutex> lock(_mutex);
    _open = true;
    _condition.notify_all();
  }

 private:
  std::mutex _mutex;
  std::condition_variable _condition;
  bool _open = false;
};

TEST_F(Dispatcher, ClosuresFromSeveralThreadsAllRunOnTheJsThreadEachThreadsInOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 3000;
  // Touched by the closures only, without a lock: they all run on the JavaScript thread, and each
  // thread's last closure (run after its others: one mode keeps its order) orders them before
  // the checks below.
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> offThread{0};
  Countdown finished;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        _dispatcher->async([&, t, i](Napi::Env) {
          if (!_env.onJsThread()) ++offThread;
          seen[t].push_back(i);
        });
      }
      _dispatcher->async([&](Napi::Env) { finished.arrive(); });
      // The other mode meanwhile: no order with the closures above, but it must not lose them.
      EXPECT_TRUE(_dispatcher->sync([](Napi::Env) {}));
    });
  }
  for (auto& thread : threads) thread.join();
  finished.waitFor(kThreads);
  EXPECT_EQ(offThread.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread)) << "thread " << t;
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST_F(Dispatcher, SyncReturnsAfterItsClosureRanAndSeesWhatItWrote) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        // Written on the JavaScript thread, read here without a lock of our own: only the
        // dispatcher's hand-back makes this ordered.
        int written = -1;
        std::string text;
        EXPECT_TRUE(_dispatcher->sync([&](Napi::Env) {
          written = i;
          text.assign(64, 'x');
        }));
        EXPECT_EQ(written, i);
        EXPECT_EQ(text.size(), 64u);
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

TEST_F(Dispatcher, DestroyedFromItsOwnClosureItReleasesBlockedThreadsAndFreesQueuedItemsUnrun) {
  constexpr int kWaiters = 3;
  auto captured = std::make_shared<int>(0);
  std::atomic<int> ran{0};
  Gate started;
  Gate queued;
  // The JavaScript thread sits in this closure until every waiter is listed and the async items
  // are queued behind it; then it destroys the dispatcher from inside its own closure.
  _dispatcher->async([&](Napi::Env) {
    started.open();
    queued.wait();
    _dispatcher.reset();
  });
  started.wait();
  for (int i = 0; i < 100; ++i) {
    _dispatcher->async([&ran, captured](Napi::Env) { ++ran; });
  }
  std::vector<std::thread> waiters;
  std::atomic<int> released{0};
  std::atomic<int> releasedTrue{0};
  JavascriptDispatcher* dispatcher = _dispatcher.get();
  for (int t = 0; t < kWaiters; ++t) {
    waiters.emplace_back([&, dispatcher, captured] {
      const bool result = dispatcher->sync([&ran, captured](Napi::Env) { ++ran; });
      if (result) ++releasedTrue;
      ++released;
    });
  }
  while (dispatcher->waitingCount() < kWaiters) std::this_thread::yield();
  queued.open();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), kWaiters);
  EXPECT_EQ(releasedTrue.load(), 0);
  // Every queued closure was destroyed without running: only this test still holds captured.
  onJs([] {});
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(captured.use_count(), 1);
}

TEST_F(Dispatcher, AThrowingClosureBecomesUncaughtAndItsWaiterGetsFalse) {
  bool syncResult = true;
  std::thread waiter([&] {
    syncResult = _dispatcher->sync([](Napi::Env) { throw std::runtime_error("closure failed"); });
  });
  waiter.join();
  EXPECT_FALSE(syncResult);
  _dispatcher->async([](Napi::Env) { throw 42; });
  // The async channel goes on after its throwing item.
  Countdown after;
  _dispatcher->async([&](Napi::Env) { after.arrive(); });
  after.waitFor(1);
  std::vector<std::string> uncaught;
  onJs([&] { uncaught = _env.uncaught; });
  EXPECT_EQ(uncaught, (std::vector<std::string>{"closure failed",
                                                "unknown C++ exception in a dispatched item"}));
}

TEST_F(Dispatcher, AQueueLongerThanTheCapDrainsOverSeveralWakeUps) {
  constexpr int kItems = 4500;
  Gate held;
  _dispatcher->async([&](Napi::Env) { held.wait(); });
  std::atomic<int> ran{0};
  std::thread producer([&] {
    for (int i = 0; i < kItems; ++i) _dispatcher->async([&](Napi::Env) { ++ran; });
  });
  producer.join();
  held.open();
  Countdown finished;
  _dispatcher->async([&](Napi::Env) { finished.arrive(); });
  finished.waitFor(1);
  EXPECT_EQ(ran.load(), kItems);
  std::vector<int> perWakeUp;
  onJs([&] { perWakeUp = _env.itemsPerWakeUp; });
  int total = 0;
  for (int items : perWakeUp) {
    EXPECT_LE(items, 1000);
    total += items;
  }
  EXPECT_EQ(total, kItems + 2);  // and the holding closure, and the last one
}

TEST_F(Dispatcher, AnItemThatCannotGetAHandleScopeIsFreedAndItsWaiterReleased) {
  auto captured = std::make_shared<int>(0);
  Gate held;
  // Both through sync, so that both items are in the same channel and the second one is taken
  // in the same drain as the first, after the first has made scopes fail.
  std::thread holder([&] {
    EXPECT_TRUE(_dispatcher->sync([&](Napi::Env) {
      held.wait();
      _env.failHandleScopes = true;
    }));
  });
  while (_dispatcher->waitingCount() < 1) std::this_thread::yield();
  bool result = true;
  std::thread waiter([&, captured] { result = _dispatcher->sync([captured](Napi::Env) {}); });
  // A waiter is counted only once its item is queued (the count and the queueing share a lock).
  while (_dispatcher->waitingCount() < 2) std::this_thread::yield();
  held.open();
  holder.join();
  waiter.join();
  EXPECT_FALSE(result);
  onJs([&] { _env.failHandleScopes = false; });
  EXPECT_EQ(captured.use_count(), 1);
}

}  // namespace
