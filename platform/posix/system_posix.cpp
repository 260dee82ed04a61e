// The system: its description (the distribution named by os-release, as a
// current NT-family workstation), locale, random bytes and signature keys.
#include <sys/random.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_env_impl.h"

namespace platform {

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

namespace {

class PosixSystem : public System {
 public:
  bool GetVersionEx(OsVersionInfo* info, VersionRecord record) override {
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

  uint16_t GetNativeProcessorArchitecture() override {
    struct utsname u;
    if (::uname(&u) != 0) return kProcessorIntel;
    if (std::strcmp(u.machine, "x86_64") == 0) return kProcessorAmd64;
    if (std::strcmp(u.machine, "aarch64") == 0) return kProcessorArm64;
    if (std::strcmp(u.machine, "ia64") == 0) return kProcessorIa64;
    return kProcessorIntel;
  }

  bool GetProductInfo(uint32_t, uint32_t, uint32_t*) override { return false; }

  int GetSystemMetrics(int) override { return 0; }

  bool GetLocaleInfo(uint32_t type, std::string* value) override {
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
    if (type == kLocaleLanguage) {
      *value = language;
      return !language.empty();
    }
    if (type == kLocaleCountry) {
      *value = country;
      return !country.empty();
    }
    return false;
  }

  uint16_t GetUserDefaultLangID() override { return 0x0409; }

  Status GenRandom(void* buffer, size_t size) override {
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

  // No desktop to show it on.
  void MessageBox(const std::string&, const std::string&) override {}
  Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* key) override {
    return ImportEvpKey(xy, key);
  }
};

}  // namespace

std::unique_ptr<System> NewBackendSystem() {
  return std::make_unique<PosixSystem>();
}

}  // namespace platform
