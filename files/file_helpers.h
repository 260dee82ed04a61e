// Internal pieces of the file helpers that the identity repair and the upload
// share (the CUtility operations themselves are declared in files/utility.h).
// Every file they reach lies in a folder that ordinary users can write: the
// folder is opened without following links (platform::Env::OpenFolder) and the
// file is reached by its name in it, so only a regular file with one name that
// sits in that very folder is read, replaced, renamed or deleted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"

namespace files {

// The largest file the helpers read whole. The product's logs stay far below
// it; a larger file is refused (and left alone) instead of filling memory.
constexpr uint64_t kMaxFileBytes = 64ull * 1024 * 1024;

// Opens the folder of a file path and gives the file's name in it.
platform::Status OpenFileFolder(const std::string& path, std::unique_ptr<platform::Folder>* folder,
                                std::string* name);

// Every byte of the file, NUL bytes included, and the state it was read in.
// kErrorFileNotFound or kErrorPathNotFound when it is missing, kErrorInvalidData
// when it is larger than kMaxFileBytes, a refusal of platform::Folder for
// anything but a regular file with one name.
platform::Status ReadWholeFile(const std::string& path, std::string* data,
                               platform::FileIdentity* identity = nullptr);
platform::Status IdentifyFile(const std::string& path, platform::FileIdentity* identity);
// Replaces the file whole (or creates it), keeping its owner and mode.
platform::Status ReplaceWholeFile(const std::string& path, const std::string& data);
platform::Status DeleteFile(const std::string& path);

// True for the two codes that mean "there is no such file".
bool IsMissingFileStatus(platform::Status status);

// A name for a log line: control characters as \xNN, so a hostile name cannot
// forge a line of its own.
std::string PrintableName(const std::string& name);

}  // namespace files
