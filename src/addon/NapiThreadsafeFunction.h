// Carries opaque items from any thread to one native function that runs on the JavaScript
// thread.
//
// A producer pushes an item under the queue lock and signals a libuv async handle on the
// environment's loop; the loop thread wakes, drains the queue and runs the function once per
// item, each in its own handle scope, all of one wake-up inside one callback scope (so promise
// continuations and process.nextTick work queued by the items run when the drain ends, as after
// any other asynchronous callback of Node). One drain runs at most a thousand items and leaves
// the rest to the next wake-up, so that producers keeping pace cannot hold the loop for ever.
//
// Ownership. The queue, its lock, the function and the handle live in one heap block, the
// channel, which belongs to the handle: the destructor closes the handle with uv_close and the
// close callback frees the block. A wake-up already scheduled by libuv, or a drain under way when
// an item destroys this object, therefore never touches freed memory; the drain stops at the next
// item.
//
// Keeping the loop alive. The handle is unreferenced from the start: an idle channel never keeps
// its loop (and so its process or worker) running. It is referenced while the owner holds it with
// ref() (the add-on does so while a bar is shown or being built, so that reports made on other
// threads are sure to arrive) and while an item queued on the loop's own thread waits to run
// (such an item is work the loop thread itself started, like a resolved promise). Items queued
// by other threads hold nothing: uv_ref may only be called on the loop's thread, so whoever
// expects them must hold the channel with ref() before they can be made. The count of holds and
// the handle's reference are touched on the loop thread only.
//
// Errors. An error that leaves the function (a Napi::Error, another C++ exception, or a
// JavaScript exception left pending by a failed N-API call) is caught for that item alone and
// raised as an uncaught exception of the process, as Node does for its own asynchronous
// callbacks: process.on('uncaughtException') sees it, and without a handler the process ends.
// The drain goes on with the next item; nothing unwinds into libuv.
#pragma once

#include <napi.h>
#include <uv.h>

#include <functional>

class NapiThreadsafeFunction {
 public:
  using Callback = std::function<void(Napi::Env, void*)>;
  // Receives each item that will never reach the callback, so that whoever knows the items'
  // type can free them. Called on the JavaScript thread.
  using Release = std::function<void(void*)>;

  // JavaScript thread only. The wake-up handle starts unreferenced (see the top of this file).
  // Throws Napi::Error when the handle cannot be registered.
  NapiThreadsafeFunction(Callback callback, Napi::Env env, Release release = nullptr);
  // JavaScript thread only, also from inside one of this object's own items. No producer may be
  // inside call() or enter it from here on: the owner stops its producers first. Items still
  // queued are handed to release, never run.
  ~NapiThreadsafeFunction();
  NapiThreadsafeFunction(const NapiThreadsafeFunction&) = delete;
  NapiThreadsafeFunction& operator=(const NapiThreadsafeFunction&) = delete;

  // Any thread. Queues data and wakes the JavaScript thread; never waits for the item to run.
  // Items run in the order in which their calls took the queue lock. An item queued on the
  // JavaScript thread never runs inline: when it is queued from inside an item, later in the
  // same drain (unless that drain has reached its cap), otherwise at the loop's next wake-up.
  void call(void* data);

  // JavaScript thread only. ref() keeps the loop alive until the matching unref(); holds are
  // counted, and an unref() without a hold does nothing.
  void ref();
  void unref();
  // Any thread: whether the caller runs on the loop thread that items run on.
  bool onLoopThread() const;

 private:
  struct Channel;
  static void doCallback(uv_async_t* handle);
  static void runItem(Channel& channel, void* item);

  Channel* _channel;
};
