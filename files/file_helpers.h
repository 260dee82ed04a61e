// Internal pieces of the file helpers that the identity repair and the upload
// share (the CUtility operations themselves are declared in transport/utility.h).
#pragma once

#include <cstdint>
#include <string>

#include "platform/env.h"

namespace files {

// The largest file the helpers read whole. The product's logs stay far below
// it; a larger file is refused (and left alone) instead of filling memory.
constexpr uint64_t kMaxFileBytes = 64ull * 1024 * 1024;

// Every byte of the file, NUL bytes included. kErrorFileNotFound or
// kErrorPathNotFound when it is missing, kErrorInvalidData when it is larger
// than kMaxFileBytes.
platform::Status ReadWholeFile(const std::string& path, std::string* data);

// True for the two codes that mean "there is no such file".
bool IsMissingFileStatus(platform::Status status);

}  // namespace files
