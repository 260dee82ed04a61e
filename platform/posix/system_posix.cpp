// Clock, system description, locale, random bytes and the version resource.
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/random.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/posix/posix_env_impl.h"

#ifndef INKORA_VERSION_COMMAS
#define INKORA_VERSION_COMMAS "1, 0, 0, 0"
#endif

namespace platform {

int64_t PosixEnv::Now() {
  return static_cast<int64_t>(::time(nullptr));
}

SystemTime PosixEnv::GetLocalTime() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  time_t t = ts.tv_sec;
  ::localtime_r(&t, &tm);
  SystemTime st;
  st.year = static_cast<uint16_t>(tm.tm_year + 1900);
  st.month = static_cast<uint16_t>(tm.tm_mon + 1);
  st.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  st.day = static_cast<uint16_t>(tm.tm_mday);
  st.hour = static_cast<uint16_t>(tm.tm_hour);
  st.minute = static_cast<uint16_t>(tm.tm_min);
  st.second = static_cast<uint16_t>(tm.tm_sec);
  st.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return st;
}

bool PosixEnv::ToLocalTime(int64_t seconds, LocalTimeFields* f) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (::localtime_r(&t, &tm) == nullptr) return false;
  f->year = tm.tm_year + 1900;
  f->month = tm.tm_mon + 1;
  f->day = tm.tm_mday;
  f->hour = tm.tm_hour;
  f->minute = tm.tm_min;
  f->second = tm.tm_sec;
  f->weekday = tm.tm_wday;
  return true;
}

int32_t PosixEnv::GetTimeZoneBias() {
  // Windows' Bias is the standard-time offset, without daylight saving: take
  // the offset of a January or July day that is not in daylight time.
  ::tzset();
  time_t now = ::time(nullptr);
  struct tm tm;
  ::localtime_r(&now, &tm);
  int year = tm.tm_year;
  for (int month : {0, 6}) {
    struct tm probe = {};
    probe.tm_year = year;
    probe.tm_mon = month;
    probe.tm_mday = 15;
    probe.tm_hour = 12;
    probe.tm_isdst = -1;
    time_t t = ::mktime(&probe);
    struct tm local;
    ::localtime_r(&t, &local);
    if (local.tm_isdst == 0) return static_cast<int32_t>(-local.tm_gmtoff / 60);
  }
  return static_cast<int32_t>(-tm.tm_gmtoff / 60);
}

void PosixEnv::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

// One value of an os-release line: quoted or not, with the shell's backslash
// escapes. False for an unterminated quote. Control characters are dropped so
// the name cannot break a log line.
bool UnquoteOsReleaseValue(const std::string& raw, std::string* value) {
  value->clear();
  size_t i = 0;
  char quote = 0;
  if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) quote = raw[i++];
  for (; i < raw.size(); ++i) {
    char c = raw[i];
    if (quote != 0 && c == quote) {
      quote = 0;
      break;
    }
    if (c == '\\' && quote != '\'' && i + 1 < raw.size()) c = raw[++i];
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) value->push_back(c);
  }
  if (quote != 0) return false;
  if (raw.empty() || (raw[0] != '"' && raw[0] != '\'')) {
    while (!value->empty() && (value->back() == ' ' || value->back() == '\t')) value->pop_back();
  }
  return true;
}

}  // namespace

bool ReadOsReleaseName(const std::string& path, std::string* name) {
  // The file is a few hundred bytes; a larger one is read only so far.
  const size_t kMaxText = 64 * 1024;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::string text(kMaxText, '\0');
  text.resize(std::fread(&text[0], 1, kMaxText, f));
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return false;
  std::string pretty, plain;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    size_t eq = line.find('=', start);
    if (eq == std::string::npos) continue;
    std::string key = line.substr(start, eq - start), value;
    if ((key == "PRETTY_NAME" || key == "NAME") && UnquoteOsReleaseValue(line.substr(eq + 1), &value))
      (key == "NAME" ? plain : pretty) = value;
  }
  *name = !pretty.empty() ? pretty : (!plain.empty() ? plain : std::string("Linux"));
  return true;
}

bool PosixEnv::GetVersionEx(OsVersionInfo* info, VersionRecord record) {
  // Described as a current NT-family workstation of major version 10: the
  // operating-system name rules have no entry for it, so the name is the
  // distribution's own, with the bitness after it.
  info->majorVersion = 10;
  info->minorVersion = 0;
  struct utsname u;
  info->buildNumber = 0;
  if (::uname(&u) == 0) info->buildNumber = static_cast<uint32_t>(std::strtoul(u.release, nullptr, 10));
  info->platformId = 2;
  info->csdVersion.clear();
  if (!ReadOsReleaseName("/etc/os-release", &info->productName) &&
      !ReadOsReleaseName("/usr/lib/os-release", &info->productName))
    info->productName = "Linux";
  // Fields only the extended record has.
  info->suiteMask = record == VersionRecord::kExtended ? 0x100 : 0;  // VER_SUITE_SINGLEUSERTS
  info->productType = record == VersionRecord::kExtended ? 1 : 0;
  return true;
}

uint16_t PosixEnv::GetNativeProcessorArchitecture() {
  struct utsname u;
  if (::uname(&u) != 0) return 0;
  if (std::strcmp(u.machine, "x86_64") == 0) return 9;
  if (std::strcmp(u.machine, "aarch64") == 0) return 12;
  if (std::strcmp(u.machine, "ia64") == 0) return 6;
  return 0;
}

bool PosixEnv::GetProductInfo(uint32_t, uint32_t, uint32_t*) {
  return false;
}

int PosixEnv::GetSystemMetrics(int) {
  return 0;
}

bool PosixEnv::GetLocaleInfo(uint32_t type, std::string* value) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::string locale;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v != nullptr && *v != '\0') {
      locale = v;
      break;
    }
  }
  // "en_US.UTF-8@euro" -> "en", "US"; the C locale is English (United States).
  size_t cut = locale.find_first_of(".@");
  if (cut != std::string::npos) locale.resize(cut);
  std::string language = "en", country = "US";
  if (!locale.empty() && locale != "C" && locale != "POSIX") {
    size_t us = locale.find('_');
    language = locale.substr(0, us);
    country = us == std::string::npos ? std::string() : locale.substr(us + 1);
  }
  if (type == 0x59) {
    *value = language;
    return !language.empty();
  }
  if (type == 0x5A) {
    *value = country;
    return !country.empty();
  }
  return false;
}

uint16_t PosixEnv::GetUserDefaultLangID() {
  return 0x0409;
}

Status PosixEnv::GenRandom(void* buffer, size_t size) {
  unsigned char* p = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t n = ::getrandom(p, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return StatusFromErrno(errno);
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return kSuccess;
}

void PosixEnv::MessageBox(const std::string&, const std::string&) {}  // no desktop to show it on

bool PosixEnv::InternetGetConnectedState() {
  // A root-level "offline" file stands for a machine without a connection.
  if (::access((root_ + "/offline").c_str(), F_OK) == 0) return false;
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool up = false;
  for (struct ifaddrs* a = list; a != nullptr; a = a->ifa_next)
    if ((a->ifa_flags & IFF_UP) != 0) up = true;
  ::freeifaddrs(list);
  return up;
}

namespace {

// The program's version resource, as the Windows build carries it.
class BuiltinVersionResource : public VersionResource {
 public:
  bool HasFixedInfo() override { return true; }
  bool QueryTranslation(std::string* table) override {
    const unsigned char t[4] = {0x09, 0x04, 0xB0, 0x04};  // language 0409, code page 04B0
    table->assign(reinterpret_cast<const char*>(t), 4);
    return true;
  }
  bool QueryString(const std::string& subBlock, std::string* value) override {
    if (subBlock == "\\StringFileInfo\\040904B0\\FileVersion") {
      *value = INKORA_VERSION_COMMAS;
      return true;
    }
    if (subBlock == "\\StringFileInfo\\040904B0\\ProductName") {
      *value = "Inkora Updater";
      return true;
    }
    return false;
  }
};

}  // namespace

Status PosixEnv::LoadVersionResource(const std::string& path, std::unique_ptr<VersionResource>* res) {
  // Only the running program carries the resource.
  std::string self;
  if (GetModulePath(&self) != kSuccess || ToPosixPath(path) != self)
    return 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
  res->reset(new BuiltinVersionResource);
  return kSuccess;
}

}  // namespace platform
