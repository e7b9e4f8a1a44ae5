// The native heap as the allocator sees it, for the load tests. RSS moves by whole pages and
// with the JavaScript heap; bytes in use by malloc move only when native objects are kept, so a
// few hundred bytes held per showing show up here long before they do in RSS.
#include <malloc.h>

#include "testAddon.h"

namespace {

// mallocInUse(): bytes handed out by malloc and not yet freed, over all arenas, including
// chunks served by mmap.
Napi::Value mallocInUse(const Napi::CallbackInfo& info) {
  const struct mallinfo2 stats = mallinfo2();
  return Napi::Number::New(info.Env(), static_cast<double>(stats.uordblks + stats.hblkhd));
}

}  // namespace

namespace testaddon {

void initMemory(Napi::Env env, Napi::Object exports) {
  exports.Set("mallocInUse", Napi::Function::New<mallocInUse>(env, "mallocInUse"));
}

}  // namespace testaddon
