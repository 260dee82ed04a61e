// The registry: keys under HKEY_LOCAL_MACHINE, each path relative to it, in
// the 32-bit or the 64-bit view as the access mask says. On Windows the
// system's registry; on POSIX a hive file per view under the backend's root.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

// Access masks, with the Windows values.
enum : uint32_t {
  kKeyQueryValue = 0x0001,
  kKeySetValue = 0x0002,
  kKeyCreateSubKey = 0x0004,
  kKeyEnumerateSubKeys = 0x0008,
  kKeyWow64_64Key = 0x0100,
  kKeyWow64_32Key = 0x0200,
  kKeyRead = 0x20019,
  kKeyWrite = 0x20006,
  kKeyAllAccess = 0xF003F,
};

// Value types, with the Windows values.
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
  kRegQword = 11,
};

// An open key. Names of values and keys compare without regard to ASCII case.
// Destroying it closes it (RegCloseKey).
class RegKey {
 public:
  virtual ~RegKey() = default;
  // Reads a value: *size is the room of data in, the size of the value out;
  // with data null only the type and size are given. Too little room gives
  // kErrorMoreData and the size needed, a missing value kErrorFileNotFound.
  // type may be null. (RegQueryValueExA)
  virtual Status QueryValue(const std::string& name, uint32_t* type, void* data, uint32_t* size) = 0;
  // Stores size bytes of data as a value of the type, replacing one of the
  // same name. (RegSetValueExA)
  virtual Status SetValue(const std::string& name, uint32_t type, const void* data, uint32_t size) = 0;
  // Removes a value; kErrorFileNotFound when there is none. (RegDeleteValueA)
  virtual Status DeleteValue(const std::string& name) = 0;
  // The name of the subkey number index, in the order the keys were made;
  // kErrorNoMoreItems past the last, kErrorMoreData when the name has
  // maxLength characters or more. (RegEnumKeyExA)
  virtual Status EnumKey(uint32_t index, std::string* name, uint32_t maxLength) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Opens the key at path, making it and every missing parent first; an
  // existing key is opened as it is. (RegCreateKeyExA, non-volatile)
  virtual Status CreateKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) = 0;
  // Opens an existing key; kErrorFileNotFound when there is none. Makes nothing. (RegOpenKeyExA)
  virtual Status OpenKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) = 0;
  // Removes the key with everything below it, in the view of sam (tests and
  // clean-up). (RegDeleteTreeA)
  virtual Status DeleteTree(const std::string& path, uint32_t sam) = 0;
};

// Forwards every call to another Registry; a test derives from it to fail or count calls.
class RegistryWrapper : public Registry {
 public:
  explicit RegistryWrapper(Registry* target) : target_(target) {}
  Registry* target() const { return target_; }
  Status CreateKey(const std::string& p, uint32_t s, std::unique_ptr<RegKey>* k) override {
    return target_->CreateKey(p, s, k);
  }
  Status OpenKey(const std::string& p, uint32_t s, std::unique_ptr<RegKey>* k) override {
    return target_->OpenKey(p, s, k);
  }
  Status DeleteTree(const std::string& p, uint32_t s) override { return target_->DeleteTree(p, s); }

 private:
  Registry* target_;
};

}  // namespace platform
