// The system: its description, locale, random bytes, signature keys, message box.
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

// A kernel32 export looked up at run time: older systems lack some of them.
template <typename Fn>
Fn Kernel32Function(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

class Win32System : public System {
 public:
  bool GetVersionEx(OsVersionInfo* info, VersionRecord record) override {
    OSVERSIONINFOEXA vi;
    std::memset(&vi, 0, sizeof(vi));
    // The basic record is the head of the extended one; its size tells the call which it gets.
    vi.dwOSVersionInfoSize =
        record == VersionRecord::kExtended ? sizeof(OSVERSIONINFOEXA) : sizeof(OSVERSIONINFOA);
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&vi))) return false;
    info->majorVersion = vi.dwMajorVersion;
    info->minorVersion = vi.dwMinorVersion;
    info->buildNumber = vi.dwBuildNumber;
    info->platformId = vi.dwPlatformId;
    info->csdVersion.assign(vi.szCSDVersion, strnlen(vi.szCSDVersion, sizeof(vi.szCSDVersion)));
    info->suiteMask = vi.wSuiteMask;
    info->productType = vi.wProductType;
    return true;
  }

  uint16_t GetNativeProcessorArchitecture() override {
    using Fn = void(WINAPI*)(LPSYSTEM_INFO);
    SYSTEM_INFO si;
    std::memset(&si, 0, sizeof(si));
    if (Fn native = Kernel32Function<Fn>("GetNativeSystemInfo"))
      native(&si);
    else
      ::GetSystemInfo(&si);
    return si.wProcessorArchitecture;
  }

  bool GetProductInfo(uint32_t major, uint32_t minor, uint32_t* productType) override {
    using Fn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    Fn fn = Kernel32Function<Fn>("GetProductInfo");
    if (fn == nullptr) return false;
    DWORD type = 0;
    if (!fn(major, minor, 0, 0, &type)) return false;
    *productType = type;
    return true;
  }

  int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

  bool GetLocaleInfo(uint32_t type, std::string* value) override {
    char buf[1024] = {0};
    int n = ::GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type, buf, sizeof(buf));
    if (n <= 0) return false;
    value->assign(buf, strnlen(buf, sizeof(buf)));
    return true;
  }

  uint16_t GetUserDefaultLangID() override { return ::GetUserDefaultLangID(); }

  Status GenRandom(void* buffer, size_t size) override {
    unsigned char* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
      ULONG chunk = static_cast<ULONG>(std::min<size_t>(size, std::numeric_limits<ULONG>::max()));
      NTSTATUS rc = ::BCryptGenRandom(nullptr, p, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
      if (rc != 0) return kErrorNotSupported;  // no generator: never hand back predictable bytes as random
      p += chunk;
      size -= chunk;
    }
    return kSuccess;
  }

  void MessageBox(const std::string& text, const std::string& caption) override {
    // A service has no desktop anybody sees: a box there would wait for a click
    // that never comes and stall the caller. Only a visible window station gets one.
    USEROBJECTFLAGS flags;
    std::memset(&flags, 0, sizeof(flags));
    HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr ||
        !::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof(flags), nullptr) ||
        (flags.dwFlags & WSF_VISIBLE) == 0)
      return;
    ::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
  }

  Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* key) override {
    return ImportCngKey(xy, key);
  }
};

}  // namespace

std::unique_ptr<System> NewBackendSystem() {
  return std::make_unique<Win32System>();
}

}  // namespace platform
