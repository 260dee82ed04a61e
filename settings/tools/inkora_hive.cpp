// A small tool for the demo, the end-to-end runs and the idle bench: reads and
// writes values of a Linux hive kept under a root folder, the same hive the
// service sees with INKORA_ROOT set to that folder. Settings keys are in the
// 32-bit view, as the service keeps them.
//
//   inkora_hive ROOT set-sz KEY NAME TEXT
//   inkora_hive ROOT set-dword KEY NAME NUMBER
//   inkora_hive ROOT get KEY NAME        (prints the text or number; exit 1 when absent)
//   inkora_hive ROOT check KEY NAME...   (exit 0 when the key opens and every value reads)
//
// KEY is "service", "product" or a path below HKEY_LOCAL_MACHINE.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/env.h"
#include "settings/registry.h"

namespace {

std::string KeyPath(const std::string& key) {
  if (key == "service") return kServiceKey;
  if (key == "product") return kProductKey;
  return key;
}

int Usage() {
  std::fprintf(stderr, "usage: inkora_hive ROOT set-sz|set-dword|get|check KEY NAME [VALUE]\n");
  return 2;
}

int Get(platform::Env* env, const std::string& key, const std::string& name) {
  std::unique_ptr<platform::RegKey> handle;
  platform::Status status =
      env->registry()->OpenKey(key, platform::kKeyRead | platform::kKeyWow64_32Key, &handle);
  if (status != platform::kSuccess) {
    std::fprintf(stderr, "cannot open %s: error %u\n", key.c_str(), status);
    return 1;
  }
  uint32_t type = 0, size = 0;
  status = handle->QueryValue(name, &type, nullptr, &size);
  if (status != platform::kSuccess) return 1;
  std::string data(size, '\0');
  status = handle->QueryValue(name, &type, size > 0 ? &data[0] : nullptr, &size);
  if (status != platform::kSuccess) return 1;
  data.resize(size);
  if (type == platform::kRegDword && size == 4) {
    uint32_t value = 0;
    std::memcpy(&value, data.data(), 4);
    std::printf("%u\n", value);
  } else {
    if (!data.empty() && data.back() == '\0') data.pop_back();
    std::printf("%s\n", data.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::unique_ptr<platform::Env> env = platform::NewIsolatedEnv(argv[1]);
  const std::string verb = argv[2];
  const std::string key = KeyPath(argv[3]);
  if (verb == "check") {
    std::unique_ptr<platform::RegKey> handle;
    platform::Status status =
        env->registry()->OpenKey(key, platform::kKeyRead | platform::kKeyWow64_32Key, &handle);
    if (status != platform::kSuccess) {
      std::fprintf(stderr, "cannot open %s: error %u\n", key.c_str(), status);
      return 1;
    }
    for (int i = 4; i < argc; ++i) {
      uint32_t type = 0, size = 0;
      status = handle->QueryValue(argv[i], &type, nullptr, &size);
      if (status != platform::kSuccess) {
        std::fprintf(stderr, "cannot read %s: error %u\n", argv[i], status);
        return 1;
      }
    }
    return 0;
  }
  if (argc < 5) return Usage();
  const std::string name = argv[4];
  if (verb == "get") return Get(env.get(), key, name);
  if (argc < 6) return Usage();
  std::unique_ptr<platform::RegKey> handle;
  platform::Status status =
      env->registry()->CreateKey(key, platform::kKeyAllAccess | platform::kKeyWow64_32Key, &handle);
  if (status != platform::kSuccess) {
    std::fprintf(stderr, "cannot create %s: error %u\n", key.c_str(), status);
    return 1;
  }
  if (verb == "set-sz") {
    std::string text = argv[5];
    status = handle->SetValue(name, platform::kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1));
  } else if (verb == "set-dword") {
    uint32_t value = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 0));
    status = handle->SetValue(name, platform::kRegDword, &value, sizeof(value));
  } else {
    return Usage();
  }
  if (status != platform::kSuccess) {
    std::fprintf(stderr, "cannot write %s: error %u\n", name.c_str(), status);
    return 1;
  }
  return 0;
}
