// Registry keys under HKEY_LOCAL_MACHINE, in the view the caller's sam names.
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

// Only the view bits of a sam travel to calls that take a view and nothing else.
constexpr REGSAM kViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

class Win32RegKey : public RegKey {
 public:
  explicit Win32RegKey(HKEY key) : key_(key) {}
  ~Win32RegKey() override { ::RegCloseKey(key_); }
  Win32RegKey(const Win32RegKey&) = delete;
  Win32RegKey& operator=(const Win32RegKey&) = delete;

  Status QueryValue(const std::string& name, uint32_t* type, void* data, uint32_t* size) override {
    DWORD dwType = 0;
    DWORD dwSize = size != nullptr ? *size : 0;
    // Without a size there is nowhere to say how much was written: read nothing.
    LONG rc = ::RegQueryValueExA(key_, name.c_str(), nullptr, &dwType,
                                 size != nullptr ? static_cast<BYTE*>(data) : nullptr,
                                 size != nullptr ? &dwSize : nullptr);
    if (type != nullptr) *type = dwType;
    if (size != nullptr) *size = dwSize;
    return static_cast<Status>(rc);
  }

  Status SetValue(const std::string& name, uint32_t type, const void* data, uint32_t size) override {
    return static_cast<Status>(
        ::RegSetValueExA(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
  }

  Status DeleteValue(const std::string& name) override {
    return static_cast<Status>(::RegDeleteValueA(key_, name.c_str()));
  }

  Status EnumKey(uint32_t index, std::string* name, uint32_t maxLength) override {
    std::vector<char> buffer(static_cast<size_t>(maxLength) + 1, '\0');
    DWORD length = maxLength;
    LONG rc = ::RegEnumKeyExA(key_, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_SUCCESS) name->assign(buffer.data(), length);
    return static_cast<Status>(rc);
  }

 private:
  HKEY key_;
};

class Win32Registry : public Registry {
 public:
  Status CreateKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override {
    HKEY h = nullptr;
    LONG rc = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam,
                                nullptr, &h, nullptr);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    key->reset(new Win32RegKey(h));
    return kSuccess;
  }

  Status OpenKey(const std::string& path, uint32_t sam, std::unique_ptr<RegKey>* key) override {
    HKEY h = nullptr;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, sam, &h);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    key->reset(new Win32RegKey(h));
    return kSuccess;
  }

  Status DeleteTree(const std::string& path, uint32_t sam) override {
    // An empty path would name HKEY_LOCAL_MACHINE itself.
    if (path.empty()) return kErrorInvalidParameter;
    REGSAM view = sam & kViewMask;
    HKEY h = nullptr;
    LONG rc = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | DELETE | view, &h);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    // RegDeleteTreeA on the opened key empties it in its own view; the key itself
    // then goes with RegDeleteKeyExA, which is the call that takes a view.
    rc = ::RegDeleteTreeA(h, nullptr);
    ::RegCloseKey(h);
    if (rc != ERROR_SUCCESS) return static_cast<Status>(rc);
    return static_cast<Status>(::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), view, 0));
  }
};

}  // namespace

std::unique_ptr<Registry> NewBackendRegistry(const std::string&) {
  return std::make_unique<Win32Registry>();
}

}  // namespace platform
