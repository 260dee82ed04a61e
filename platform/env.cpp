#include "platform/env.h"

#include <atomic>

namespace platform {

Env* NewBackendEnv();  // defined by the backend

namespace {
std::atomic<Env*> g_override{nullptr};
}

Env* Env::Default() {
  Env* env = g_override.load();
  if (env != nullptr) return env;
  static Env* backend = NewBackendEnv();  // never destroyed: threads may log until exit
  return backend;
}

Env* Env::SetDefault(Env* env) {
  return g_override.exchange(env);
}

}  // namespace platform
