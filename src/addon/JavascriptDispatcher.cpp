#include "JavascriptDispatcher.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <utility>

// Lives on the stack of the thread blocked in sync; it outlives the wait because the waiter
// only returns once finished is set, and nobody touches it after setting finished.
struct JavascriptDispatcher::Ticket {
  bool finished = false;
  bool ran = false;
};

struct JavascriptDispatcher::Item {
  Closure closure;
  Ticket* ticket;  // null for async
};

struct JavascriptDispatcher::Waiters {
  std::mutex _mutex;
  std::condition_variable _condition;
  // Keyed by ticket rather than by item, so that an item can be freed before its waiter is
  // released without another item reusing the address while it is still listed.
  std::set<Ticket*> _pending;
  bool _closed = false;

  // With _mutex held.
  void finish(Ticket* ticket, bool ran) {
    if (_pending.erase(ticket) == 0) return;  // already released by the destructor
    ticket->ran = ran;
    ticket->finished = true;
  }
};

JavascriptDispatcher::JavascriptDispatcher(Napi::Env env) : _waiters(std::make_shared<Waiters>()) {
  std::shared_ptr<Waiters> waiters = _waiters;
  _asyncFunction = std::make_unique<NapiThreadsafeFunction>(
      [waiters](Napi::Env env, void* item) { runInJS(*waiters, env, item, false); }, env,
      [waiters](void* item) { drop(*waiters, item); });
  _syncFunction = std::make_unique<NapiThreadsafeFunction>(
      [waiters](Napi::Env env, void* item) { runInJS(*waiters, env, item, true); }, env,
      [waiters](void* item) { drop(*waiters, item); });
}

JavascriptDispatcher::~JavascriptDispatcher() {
  {
    std::lock_guard<std::mutex> lock(_waiters->_mutex);
    _waiters->_closed = true;
    for (Ticket* ticket : _waiters->_pending) ticket->finished = true;  // ran stays false
    _waiters->_pending.clear();
  }
  _waiters->_condition.notify_all();
  // The channels hand their queued items to drop, which frees them.
  _asyncFunction.reset();
  _syncFunction.reset();
}

void JavascriptDispatcher::async(Closure fn) { internalDispatch(std::move(fn), false); }

bool JavascriptDispatcher::sync(Closure fn) { return internalDispatch(std::move(fn), true); }

void JavascriptDispatcher::ref() {
  _asyncFunction->ref();
  _syncFunction->ref();
}

void JavascriptDispatcher::unref() {
  _asyncFunction->unref();
  _syncFunction->unref();
}

bool JavascriptDispatcher::onLoopThread() const { return _asyncFunction->onLoopThread(); }

size_t JavascriptDispatcher::waitingCount() const {
  std::lock_guard<std::mutex> lock(_waiters->_mutex);
  return _waiters->_pending.size();
}

bool JavascriptDispatcher::internalDispatch(Closure fn, bool wait) {
  if (!wait) {
    _asyncFunction->call(new Item{std::move(fn), nullptr});
    return true;
  }
  // Held for the whole wait: the destructor may run while this thread waits, and it releases
  // the waiters through this shared state.
  std::shared_ptr<Waiters> waiters = _waiters;
  Ticket ticket;
  auto item = std::make_unique<Item>(Item{std::move(fn), &ticket});
  std::unique_lock<std::mutex> lock(waiters->_mutex);
  if (waiters->_closed) return false;
  // Listed before it is handed over, so that its completion can never come before the listing.
  waiters->_pending.insert(&ticket);
  _syncFunction->call(item.release());
  waiters->_condition.wait(lock, [&ticket] { return ticket.finished; });
  return ticket.ran;
}

void JavascriptDispatcher::runInJS(Waiters& waiters, Napi::Env env, void* raw, bool isSync) {
  std::unique_ptr<Item> item(static_cast<Item*>(raw));
  Ticket* ticket = item->ticket;
  bool ran = false;
  // Releases the waiter also when the closure throws; the closure (and what it captured) is
  // destroyed first, so that sync returns only when nothing of its call is left on this thread.
  struct Release {
    Waiters& waiters;
    std::unique_ptr<Item>& item;
    Ticket* ticket;
    const bool& ran;
    ~Release() {
      item.reset();
      if (ticket == nullptr) return;
      {
        std::lock_guard<std::mutex> lock(waiters._mutex);
        waiters.finish(ticket, ran);
      }
      // Every waiter re-tests its own ticket, so waking all reaches the one that finished.
      waiters._condition.notify_all();
    }
  } release{waiters, item, isSync ? ticket : nullptr, ran};
  item->closure(env);
  ran = true;
}

void JavascriptDispatcher::drop(Waiters& waiters, void* raw) {
  std::unique_ptr<Item> item(static_cast<Item*>(raw));
  Ticket* ticket = item->ticket;
  item.reset();
  if (ticket == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(waiters._mutex);
    waiters.finish(ticket, false);
  }
  waiters._condition.notify_all();
}
