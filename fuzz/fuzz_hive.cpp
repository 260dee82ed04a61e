// The Linux backend's hive loader on any file text: a text it accepts must
// write back to a text it reads as the same hive; one it refuses must say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/posix_env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  platform::Hive hive;
  std::string error;
  if (!platform::ParseHive(text, &hive, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  const std::string written = platform::SerializeHive(hive);
  platform::Hive again;
  if (!platform::ParseHive(written, &again, &error)) std::abort();
  if (platform::SerializeHive(again) != written) std::abort();
  return 0;
}
