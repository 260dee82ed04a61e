#include "platform/env.h"

#include <atomic>
#include <utility>

#include "platform/backend.h"

namespace platform {
namespace {

std::atomic<Env*> g_override{nullptr};

// A backend's Env, owning its concerns.
class OwningEnv : public Env {
 public:
  OwningEnv(std::unique_ptr<Registry> registry, std::unique_ptr<Http> http,
            std::unique_ptr<ServiceManager> services, std::unique_ptr<FileSystem> files,
            std::unique_ptr<Clock> clock, std::unique_ptr<System> system)
      : Env(registry.get(), http.get(), services.get(), files.get(), clock.get(), system.get()),
        registry_(std::move(registry)),
        http_(std::move(http)),
        services_(std::move(services)),
        files_(std::move(files)),
        clock_(std::move(clock)),
        system_(std::move(system)) {}

 private:
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Http> http_;
  std::unique_ptr<ServiceManager> services_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<System> system_;
};

}  // namespace

Env* Env::Default() {
  Env* env = g_override.load();
  if (env != nullptr) return env;
  static Env* backend =
      NewIsolatedEnv(BackendRoot()).release();  // never destroyed: threads may log until exit
  return backend;
}

Env* Env::SetDefault(Env* env) {
  return g_override.exchange(env);
}

std::unique_ptr<Env> NewIsolatedEnv(const std::string& root) {
  const std::string normal = NormalizeRoot(root);
  return std::make_unique<OwningEnv>(NewBackendRegistry(normal), NewBackendHttp(normal),
                                     NewBackendServiceManager(normal), NewBackendFileSystem(normal),
                                     NewBackendClock(), NewBackendSystem());
}

}  // namespace platform
