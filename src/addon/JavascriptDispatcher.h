// Runs native closures on the JavaScript thread on behalf of other threads: async hands a closure
// over and returns at once, sync waits until it has run.
//
// Built from two NapiThreadsafeFunction channels, one per mode; the closures of one mode run in
// the order in which they were queued, no order holds between the two modes. Each closure runs
// with the dispatcher's Napi::Env inside a handle scope of its own, so it needs no outer scope.
//
// Threads waiting in sync share a lock, a condition variable and the set of tickets not yet
// finished with the JavaScript thread. That state is reference-counted and also held by the
// channels' functions and by every waiter, so that neither a waiter woken by the destructor nor
// an item that destroys its own dispatcher touches freed memory. Lock order: the waiters' lock
// before a channel's queue lock, never the other way round, and no lock while a closure runs.
//
// Neither channel keeps the loop alive while idle; a closure queued on the JavaScript thread
// holds it until it has run, and the owner holds it with ref() while it expects closures from
// other threads (see NapiThreadsafeFunction.h).
//
// A closure that throws is contained by the channel (it becomes an uncaught exception of the
// process); its item is freed and a thread waiting for it is released all the same.
#pragma once

#include <napi.h>

#include <functional>
#include <memory>

#include "NapiThreadsafeFunction.h"

class JavascriptDispatcher {
 public:
  using Closure = std::function<void(Napi::Env)>;

  // JavaScript thread only; env is the environment every closure receives.
  explicit JavascriptDispatcher(Napi::Env env);
  // JavaScript thread only, also from inside one of its own closures. No thread may be inside
  // async or enter async or sync from here on (the owner stops its producers first). Closures
  // still queued are freed without running; threads blocked in sync return false.
  ~JavascriptDispatcher();
  JavascriptDispatcher(const JavascriptDispatcher&) = delete;
  JavascriptDispatcher& operator=(const JavascriptDispatcher&) = delete;

  // Any thread. Takes a copy of fn and returns before it runs; on the JavaScript thread fn runs
  // in a later turn of the loop, never inline.
  void async(Closure fn);
  // Any thread but the JavaScript thread (which would wait for itself forever). Takes a copy of
  // fn and returns once it has run: true when it returned normally, false when it threw or was
  // dropped because the dispatcher was destroyed first.
  bool sync(Closure fn);

  // JavaScript thread only. While held, the loop stays alive to run what other threads queue;
  // holds are counted, an unref() without a hold does nothing.
  void ref();
  void unref();
  // Any thread: whether the caller is the JavaScript thread that the closures run on.
  bool onLoopThread() const;

  // Threads blocked in sync right now; for diagnostics.
  size_t waitingCount() const;

 private:
  struct Item;
  struct Ticket;
  struct Waiters;

  bool internalDispatch(Closure fn, bool wait);
  static void runInJS(Waiters& waiters, Napi::Env env, void* item, bool isSync);
  static void drop(Waiters& waiters, void* item);

  std::unique_ptr<NapiThreadsafeFunction> _asyncFunction;
  std::unique_ptr<NapiThreadsafeFunction> _syncFunction;
  std::shared_ptr<Waiters> _waiters;  // the lock, condition and pending set of sync
};
