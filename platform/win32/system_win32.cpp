// Clock, time zone, system description, locale, random bytes, message box.
#include <time.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

#include <bcrypt.h>

namespace platform {
namespace {

// A kernel32 export looked up at run time: older systems lack some of them.
template <typename Fn>
Fn Kernel32Function(const char* name) {
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

}  // namespace

int64_t Win32Env::Now() {
  return static_cast<int64_t>(::_time64(nullptr));
}

SystemTime Win32Env::GetLocalTime() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  SystemTime out;
  out.year = st.wYear;
  out.month = st.wMonth;
  out.dayOfWeek = st.wDayOfWeek;
  out.day = st.wDay;
  out.hour = st.wHour;
  out.minute = st.wMinute;
  out.second = st.wSecond;
  out.milliseconds = st.wMilliseconds;
  return out;
}

bool Win32Env::ToLocalTime(int64_t seconds, LocalTimeFields* f) {
  __time64_t t = static_cast<__time64_t>(seconds);
  struct tm tm;
  std::memset(&tm, 0, sizeof(tm));
  // The runtime's conversion takes the zone and its daylight rules into account;
  // it refuses moments before 1970 and after 3000.
  if (::_localtime64_s(&tm, &t) != 0) return false;
  f->year = tm.tm_year + 1900;
  f->month = tm.tm_mon + 1;
  f->day = tm.tm_mday;
  f->hour = tm.tm_hour;
  f->minute = tm.tm_min;
  f->second = tm.tm_sec;
  f->weekday = tm.tm_wday;
  return true;
}

int32_t Win32Env::GetTimeZoneBias() {
  TIME_ZONE_INFORMATION tzi;
  std::memset(&tzi, 0, sizeof(tzi));
  ::GetTimeZoneInformation(&tzi);
  return static_cast<int32_t>(tzi.Bias);
}

void Win32Env::Sleep(uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

bool Win32Env::GetVersionEx(OsVersionInfo* info, VersionRecord record) {
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

uint16_t Win32Env::GetNativeProcessorArchitecture() {
  using Fn = void(WINAPI*)(LPSYSTEM_INFO);
  SYSTEM_INFO si;
  std::memset(&si, 0, sizeof(si));
  if (Fn native = Kernel32Function<Fn>("GetNativeSystemInfo"))
    native(&si);
  else
    ::GetSystemInfo(&si);
  return si.wProcessorArchitecture;
}

bool Win32Env::GetProductInfo(uint32_t major, uint32_t minor, uint32_t* productType) {
  using Fn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
  Fn fn = Kernel32Function<Fn>("GetProductInfo");
  if (fn == nullptr) return false;
  DWORD type = 0;
  if (!fn(major, minor, 0, 0, &type)) return false;
  *productType = type;
  return true;
}

int Win32Env::GetSystemMetrics(int index) {
  return ::GetSystemMetrics(index);
}

bool Win32Env::GetLocaleInfo(uint32_t type, std::string* value) {
  char buf[1024] = {0};
  int n = ::GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, type, buf, sizeof(buf));
  if (n <= 0) return false;
  value->assign(buf, strnlen(buf, sizeof(buf)));
  return true;
}

uint16_t Win32Env::GetUserDefaultLangID() {
  return ::GetUserDefaultLangID();
}

Status Win32Env::GenRandom(void* buffer, size_t size) {
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

void Win32Env::MessageBox(const std::string& text, const std::string& caption) {
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

}  // namespace platform
