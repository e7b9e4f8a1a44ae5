// Registers the test-only module "dispatcherTest".
#include "testAddon.h"

#include "nativeUIWrapper.h"

static Napi::Object Init(Napi::Env env, Napi::Object exports) {
  NativeUIWrapper::Init(env, exports);
  testaddon::initProbe(env, exports);
  testaddon::initReports(env, exports);
  testaddon::initBenchmark(env, exports);
  testaddon::initMemory(env, exports);
  return exports;
}

NODE_API_MODULE(dispatcherTest, Init)
