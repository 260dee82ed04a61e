// The operating-system layer. Every call the updater makes into the system goes
// through one entry point, Env::Default(), which hands out six concerns:
//   registry()  keys and values under HKEY_LOCAL_MACHINE      platform/registry.h
//   http()      HTTP requests, the connection state, URLs     platform/http.h
//   services()  the service manager and host, one instance    platform/services.h
//   files()     files by path, known folders, folder handles  platform/file_system.h
//   clock()     time, local calendar, time zone, sleeping     platform/clock.h
//   system()    version, locale, cryptography, message box    platform/system.h
// Each concern is an interface with one implementation per backend (win32/ and
// posix/, a file each, chosen by CMake), a wrapper beside the interface that
// forwards every call (fast forward, fault injection) and a typed fake in
// platform/testing/. A new call is one declaration in its interface, one
// definition in each backend's file of the concern, and a forwarder in the wrapper.
//
// The shapes follow the Windows calls the updater was designed around: results
// are Windows error codes (platform/status.h) so callers log the same numbers on
// both backends, and handles are objects whose destructor closes them.
#pragma once

#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/http.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system.h"

namespace platform {

// The six concerns, not owned. Copied to replace one of them.
class Env {
 public:
  Env(Registry* registry, Http* http, ServiceManager* services, FileSystem* files, Clock* clock,
      System* system)
      : registry_(registry),
        http_(http),
        services_(services),
        files_(files),
        clock_(clock),
        system_(system) {}
  Env(const Env&) = default;
  Env& operator=(const Env&) = delete;
  virtual ~Env() = default;

  // The process-wide Env: the backend's, unless a test or fast forward has put
  // another in place.
  static Env* Default();
  // Replaces the process-wide Env; returns the previous one. Not owned.
  static Env* SetDefault(Env* env);

  Registry* registry() const { return registry_; }
  Http* http() const { return http_; }
  ServiceManager* services() const { return services_; }
  FileSystem* files() const { return files_; }
  Clock* clock() const { return clock_; }
  System* system() const { return system_; }
  // The same concerns with another clock.
  Env WithClock(Clock* clock) const {
    Env env(*this);
    env.clock_ = clock;
    return env;
  }

 private:
  Registry* registry_;
  Http* http_;
  ServiceManager* services_;
  FileSystem* files_;
  Clock* clock_;
  System* system_;
};

// An Env for tests that keeps their files apart: on POSIX a backend whose hive
// and known folders live under root; on Windows the real backend with the known
// folders mapped under root (the registry is the real one: tests delete their
// keys with DeleteTree).
std::unique_ptr<Env> NewIsolatedEnv(const std::string& root);

// Puts an Env in place for the lifetime of the object (tests).
class ScopedDefaultEnv {
 public:
  explicit ScopedDefaultEnv(Env* env) : previous_(Env::SetDefault(env)) {}
  ~ScopedDefaultEnv() { Env::SetDefault(previous_); }
  ScopedDefaultEnv(const ScopedDefaultEnv&) = delete;
  ScopedDefaultEnv& operator=(const ScopedDefaultEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace platform
