// Registers the module; the class it exports lives in nativeUIWrapper.
#include <napi.h>

static Napi::Object Init(Napi::Env /*env*/, Napi::Object exports) { return exports; }

NODE_API_MODULE(addon, Init)
