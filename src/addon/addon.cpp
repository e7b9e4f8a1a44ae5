// Registers the module "addon"; the class it exports lives in nativeUIWrapper.
#include <napi.h>

#include "nativeUIWrapper.h"

static Napi::Object Init(Napi::Env env, Napi::Object exports) {
  return NativeUIWrapper::Init(env, exports);
}

static napi_value initModule(napi_env env, napi_value exports) {
  return Napi::RegisterModule(env, exports, Init);
}

static napi_module sModule = {1, 0, __FILE__, initModule, "addon", nullptr, {nullptr}};

__attribute__((constructor)) static void registerModule() { napi_module_register(&sModule); }
