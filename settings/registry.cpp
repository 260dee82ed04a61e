#include "settings/registry.h"

#include <cstring>
#include <memory>

#include "platform/ascii.h"
#include "platform/env.h"
#include "settings/log.h"

using platform::Env;
using platform::RegKey;

const char* const kServiceKey = "SOFTWARE\\Quorvex\\InkoraUpdater";
const char* const kProductKey = "SOFTWARE\\Quorvex\\Inkora";

const char RegValueNames[kRegValueCount][80] = {
    "ComputerID",   "UserID",       "InstallPath",   "CurrentVersion", "NextVersion",    "NextVersionURL",
    "IntervalDay",  "IntervalTime", "LastCheck",     "UpdateFreq",     "UpdateCheckUrl", "MetadataVer",
    "ConfigXmlVer", "PostInstUrl",  "debug",         "UsgLogUrl",      "CrashLogUrl",    "DefinitionUrl",
    "testpath",     "testsendnow",  "ProductNumber", "UseStaging",     "LastUpgrade",    "InstallDate",
    "Channel",      "Reserved",
};

namespace {

constexpr uint32_t kView = platform::kKeyWow64_32Key;
constexpr uint32_t kStringBuffer = kMaxSettingChars + 1;

// RegCreateKeyExA of a settings key; the result is not needed by any caller.
void CreateKey(const std::string& keyPath) {
  std::unique_ptr<RegKey> key;
  Env::Default()->registry()->CreateKey(keyPath, platform::kKeyRead | platform::kKeyWrite | kView, &key);
}

}  // namespace

std::string GetRegValue_String(const std::string& keyPath, const std::string& valueName, bool logFailures) {
  std::string result;
  CreateKey(keyPath);
  std::unique_ptr<RegKey> key;
  if (Env::Default()->registry()->OpenKey(keyPath, platform::kKeyRead | kView, &key) != platform::kSuccess) {
    if (logFailures) WriteLog("GetRegValue_String()", "key.Open() FAILED");
    return result;
  }
  char buffer[kStringBuffer];
  uint32_t type = 0;
  uint32_t size = kStringBuffer;
  platform::Status s = key->QueryValue(valueName, &type, buffer, &size);
  // A string must be REG_SZ/REG_EXPAND_SZ, end with its terminating zero and
  // hold at most kMaxSettingChars characters.
  bool ok = s == platform::kSuccess && (type == platform::kRegSz || type == platform::kRegExpandSz) &&
            size > 0 && size <= kStringBuffer && buffer[size - 1] == '\0';
  if (!ok) {
    if (logFailures) WriteLog("GetRegValue_String()", "key.QueryValue() FAILED");
    return result;
  }
  result.assign(buffer, std::strlen(buffer));
  return result;
}

bool SetRegValue_String(const std::string& keyPath, const std::string& valueName, const std::string& value) {
  // Stored up to the first NUL, with the terminator.
  // cppcheck-suppress stlcstrAssignment
  std::string data = value.c_str();  // NOLINT(readability-redundant-string-cstr)
  if (data.size() > kMaxSettingChars) {
    WriteLogF("SetRegValue_String()", "%s: %u characters, more than %u can be read back -- not stored",
              valueName.c_str(), static_cast<unsigned>(data.size()), static_cast<unsigned>(kMaxSettingChars));
    return false;
  }
  CreateKey(keyPath);
  std::unique_ptr<RegKey> key;
  if (Env::Default()->registry()->OpenKey(keyPath, platform::kKeyWrite | kView, &key) != platform::kSuccess)
    return false;
  return key->SetValue(valueName, platform::kRegSz, data.c_str(), static_cast<uint32_t>(data.size() + 1)) ==
         platform::kSuccess;
}

void DeleteRegValue(const std::string& keyPath, const std::string& valueName) {
  CreateKey(keyPath);
  std::unique_ptr<RegKey> key;
  if (Env::Default()->registry()->OpenKey(keyPath, platform::kKeyWrite | kView, &key) != platform::kSuccess)
    return;
  key->DeleteValue(valueName);
}

namespace {
uint32_t QueryDword(const std::string& keyPath, const std::string& valueName, uint32_t access) {
  std::unique_ptr<RegKey> key;
  if (Env::Default()->registry()->OpenKey(keyPath, access, &key) != platform::kSuccess) return 0;
  unsigned char field[4] = {0, 0, 0, 0};
  uint32_t size = 4;
  if (key->QueryValue(valueName, nullptr, field, &size) != platform::kSuccess) return 0;
  uint32_t v = 0;
  std::memcpy(&v, field, 4);  // little-endian on every target
  return v;
}
}  // namespace

uint32_t GetRegValue_DWORD(const std::string& keyPath, const std::string& valueName) {
  return QueryDword(keyPath, valueName, platform::kKeyRead | kView);
}

uint32_t IsDebugLogging() {
  // Opened for reading and writing: an account that may not write the service
  // key gets no log, as on the original system.
  return QueryDword(kServiceKey, "debug", platform::kKeyRead | platform::kKeyWrite | kView);
}

namespace {
std::string HostSetting(const char* valueName, const char* fallback) {
  std::string host = GetRegValue_String(kServiceKey, valueName, false);
  return host.empty() ? std::string(fallback) : host;
}
}  // namespace

bool IsStagingWebFarm() {
  return platform::EqualsNoCase(GetRegValue_String(kServiceKey, "UseStaging", true), "1");
}
bool IsTestWebFarm() {
  return platform::EqualsNoCase(GetRegValue_String(kServiceKey, "UseStaging", true), "2");
}

std::string GetStagingHost() {
  return HostSetting("StagingHost", "staging.update.inkora.example");
}
std::string GetTestHost() {
  return HostSetting("TestHost", "test.update.inkora.example");
}
std::string GetProductionHost() {
  return HostSetting("ProductionHost", "update.inkora.example");
}
