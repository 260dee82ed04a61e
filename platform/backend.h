// What each backend (win32/ or posix/, the one CMake builds) defines: its six
// concerns over a root folder, and the root of the process's own Env. On POSIX
// the root holds the hive, the known folders, the "offline" switch and the
// instance lock; on Windows an empty root is the machine itself and any other
// only moves the known folders under it (tests). Private to platform/.
#pragma once

#include <memory>
#include <string>

#include "platform/env.h"

namespace platform {

// The root of the process's own Env.
std::string BackendRoot();
// The root as the factories take it: without a closing separator.
std::string NormalizeRoot(const std::string& root);

std::unique_ptr<Registry> NewBackendRegistry(const std::string& root);
std::unique_ptr<Http> NewBackendHttp(const std::string& root);
std::unique_ptr<ServiceManager> NewBackendServiceManager(const std::string& root);
std::unique_ptr<FileSystem> NewBackendFileSystem(const std::string& root);
std::unique_ptr<Clock> NewBackendClock();
std::unique_ptr<System> NewBackendSystem();

}  // namespace platform
