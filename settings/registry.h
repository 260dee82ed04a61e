// The registry settings store: every key and value the updater uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Keys under HKEY_LOCAL_MACHINE (32-bit view).
extern const char* const kServiceKey;  // "SOFTWARE\\Quorvex\\InkoraUpdater"
extern const char* const kProductKey;  // "SOFTWARE\\Quorvex\\Inkora"

// Value names, addressed by row.
constexpr int kRegValueCount = 26;
extern const char RegValueNames[kRegValueCount][80];
enum RegRow : int {
  kComputerID = 0,
  kUserID = 1,
  kInstallPath = 2,
  kCurrentVersion = 3,
  kNextVersion = 4,
  kNextVersionURL = 5,
  kIntervalDay = 6,
  kIntervalTime = 7,
  kLastCheck = 8,
  kUpdateFreq = 9,
  kUpdateCheckUrl = 10,
  kMetadataVer = 11,
  kConfigXmlVer = 12,
  kPostInstUrl = 13,
  kDebug = 14,
  kUsgLogUrl = 15,
  kCrashLogUrl = 16,
  kDefinitionUrl = 17,
  kTestPath = 18,
  kTestSendNow = 19,
  kProductNumber = 20,
  kUseStaging = 21,
};

// The longest text a string setting holds: what GetRegValue_String can read
// back (the text and its terminating zero fill its 1024-byte buffer).
// SetRegValue_String refuses anything longer, so no answer can grow the store.
constexpr size_t kMaxSettingChars = 1023;

std::string GetRegValue_String(const std::string& keyPath, const std::string& valueName, bool logFailures);
bool SetRegValue_String(const std::string& keyPath, const std::string& valueName, const std::string& value);
void DeleteRegValue(const std::string& keyPath, const std::string& valueName);
uint32_t GetRegValue_DWORD(const std::string& keyPath, const std::string& valueName);
// The "debug" switch: the first four bytes of the value as a number, 0 when unreadable.
uint32_t IsDebugLogging();

// "UseStaging" is "1" / "2" (case-insensitive compare, with failure logging).
bool IsStagingWebFarm();
bool IsTestWebFarm();

// The three web-farm hosts ("host" or "host:port"): built-in defaults that the
// service-key values "StagingHost", "TestHost" and "ProductionHost" override.
std::string GetStagingHost();
std::string GetTestHost();
std::string GetProductionHost();
