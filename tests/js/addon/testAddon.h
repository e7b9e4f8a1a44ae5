// The test-only add-on: the shipped class plus entry points that drive the dispatcher and the
// report path directly. Built from the same sources as the shipped module; never shipped.
#pragma once

#include <napi.h>

namespace testaddon {

// Each adds its functions to exports. JavaScript thread.
void initProbe(Napi::Env env, Napi::Object exports);
void initReports(Napi::Env env, Napi::Object exports);
void initBenchmark(Napi::Env env, Napi::Object exports);
void initMemory(Napi::Env env, Napi::Object exports);

}  // namespace testaddon
