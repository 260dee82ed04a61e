// What the POSIX backend's files share. Private to platform/posix/.
#pragma once

#include <memory>
#include <string>

#include "platform/backend.h"
#include "platform/posix/posix_env.h"

namespace platform {

// Writes every byte, going on after a short write or a signal.
Status WriteAll(int fd, const std::string& data);
// Reads to the end a file of size bytes; kErrorInvalidData when it is, or grows
// while read, larger than maxSize. *data is changed only on success.
Status ReadAll(int fd, uint64_t size, uint64_t maxSize, std::string* data);
// renameat that never replaces the destination (kErrorAlreadyExists).
Status RenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to);

// FileSystem::OpenFolder (folder_posix.cpp).
Status OpenPosixFolder(const std::string& path, std::unique_ptr<Folder>* folder);
// System::ImportEcdsaP256Key over libcrypto (signature_posix.cpp).
Status ImportEvpKey(const std::string& xy, std::unique_ptr<SignatureKey>* key);
// ServiceManager::AcquireInstanceLock: "<root>/<name>.lock" (instance_posix.cpp).
Status LockInstanceFile(const std::string& root, const std::string& name,
                        std::unique_ptr<InstanceLock>* lock);

}  // namespace platform
