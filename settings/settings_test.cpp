// The settings store and the log file, over the real backend of the platform.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

using SettingsTest = settings_testing::SettingsFixture;

TEST_F(SettingsTest, StringReadsFollowTheTypeAndLengthRules) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;  // raw bytes stored
    std::string expected;
    bool logsFailure;
  } cases[] = {
    {"plain", platform::kRegSz, std::string("abc\0", 4), "abc", false},
    {"empty", platform::kRegSz, std::string("\0", 1), "", false},
    {"expand", platform::kRegExpandSz, std::string("%TEMP%\0", 7), "%TEMP%", false},
    {"max", platform::kRegSz, std::string(1023, 'x') + '\0', std::string(1023, 'x'), false},
    {"toolong", platform::kRegSz, std::string(1024, 'x') + '\0', "", true},
    {"dword", platform::kRegDword, std::string("\1\0\0\0", 4), "", true},
#if defined(_WIN32)
    // The ANSI layer of the Windows registry stores text as UTF-16 and
    // terminates what it converts back, so the value reads whole there.
    {"unterminated", platform::kRegSz, "abc", "abc", false},
#else
    {"unterminated", platform::kRegSz, "abc", "", true},
#endif
    {"zerolength", platform::kRegSz, "", "", true},
  };
  for (const Case& c : cases) SetRaw(kServiceKey, c.name, c.type, c.data);
  for (const Case& c : cases) {
    size_t before = Messages("GetRegValue_String()").size();
    EXPECT_EQ(GetRegValue_String(kServiceKey, c.name, true), c.expected) << c.name;
    std::vector<std::string> after = Messages("GetRegValue_String()");
    ASSERT_EQ(after.size(), before + (c.logsFailure ? 1 : 0)) << c.name;
    if (c.logsFailure) {
      EXPECT_EQ(after.back(), "key.QueryValue() FAILED") << c.name;
    }
  }
  // Without failure logging nothing is written.
  size_t before = Log().size();
  EXPECT_EQ(GetRegValue_String(kServiceKey, "missing", false), "");
  EXPECT_EQ(Log().size(), before);
}

TEST_F(SettingsTest, ReadingAMissingKeyCreatesItEmpty) {
  const char* key = "SOFTWARE\\Quorvex\\InkoraUpdater\\Sub";
  EXPECT_EQ(GetRegValue_String(key, "testpath", false), "");
  std::unique_ptr<platform::RegKey> k;
  EXPECT_EQ(platform::kSuccess, base_->RegOpenKey(key, platform::kKeyRead | platform::kKeyWow64_32Key, &k));
  EXPECT_NE(platform::kSuccess, base_->RegOpenKey(key, platform::kKeyRead, &k)) << "the 32-bit view only";
  base_->RegDeleteTree(key, platform::kKeyWow64_32Key);
}

TEST_F(SettingsTest, WritesDeletesAndDwords) {
  EXPECT_TRUE(SetRegValue_String(kServiceKey, "MetadataVer", "1-0-7"));
  EXPECT_EQ(Service("MetadataVer"), "1-0-7");
  EXPECT_TRUE(SetRegValue_String(kServiceKey, "MetadataVer", ""));
  EXPECT_EQ(Service("MetadataVer"), "") << "the empty text is a value, not a deletion";
  DeleteRegValue(kServiceKey, "MetadataVer");
  EXPECT_FALSE(Service("MetadataVer"));
  DeleteRegValue(kServiceKey, "MetadataVer");  // deleting a missing value is silent
  SetServiceDword("IntervalDay", 0xDEADBEEF);
  EXPECT_EQ(GetRegValue_DWORD(kServiceKey, "IntervalDay"), 0xDEADBEEFu);
  EXPECT_EQ(GetRegValue_DWORD(kServiceKey, "IntervalTime"), 0u);
  EXPECT_EQ(GetRegValue_DWORD("SOFTWARE\\Quorvex\\NoSuchKey", "x"), 0u);
}

TEST_F(SettingsTest, DebugSwitchReadsFourBytesOfAnyType) {
  struct Case {
    uint32_t type;
    std::string data;
    uint32_t expected;
  } cases[] = {
      {platform::kRegDword, std::string("\1\0\0\0", 4), 1},
      {platform::kRegSz, std::string("1\0", 2), 0x31},
      {platform::kRegDword, std::string("\0\0\0\0", 4), 0},
      {platform::kRegBinary, std::string("12345", 5), 0},  // longer than four bytes: unreadable
  };
  for (const Case& c : cases) {
    SetRaw(kServiceKey, "debug", c.type, c.data);
    EXPECT_EQ(IsDebugLogging(), c.expected);
  }
}

TEST_F(SettingsTest, WebFarmSelection) {
  struct Case {
    const char* value;
    bool staging, test;
  } cases[] = {
      {"1", true, false}, {"2", false, true}, {" 2", false, false}, {"02", false, false}, {"", false, false}};
  for (const Case& c : cases) {
    SetRegValue_String(kServiceKey, "UseStaging", c.value);
    EXPECT_EQ(IsStagingWebFarm(), c.staging) << c.value;
    EXPECT_EQ(IsTestWebFarm(), c.test) << c.value;
  }
  SetRegValue_String(kServiceKey, "ProductionHost", "127.0.0.1:8080");
  EXPECT_EQ(GetProductionHost(), "127.0.0.1:8080");
  EXPECT_FALSE(GetStagingHost().empty());
}

TEST_F(SettingsTest, LogEntriesAreByteExact) {
  platform::SystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 4;
  t.hour = 9;
  t.minute = 5;
  t.second = 7;
  env_->localTime = t;
  WriteLog("ServiceMainProc()", "1.0.13.0");
  WriteLog("", "");
  WriteLogF("Install()", "Service %s installed\n", "InkoraUpdater");
  WriteLog("f()", static_cast<const char*>(nullptr));  // no message: nothing written
  EXPECT_EQ(LogText(),
            "\r\n12/04/2026, 09:05:07\t    ServiceMainProc()-1.0.13.0"
            "\r\n12/04/2026, 09:05:07\t    -"
            "\r\n12/04/2026, 09:05:07\t    Install()-Service InkoraUpdater installed\r\n");
}

TEST_F(SettingsTest, NothingIsWrittenWhileDebugIsOffOrThePathEmpty) {
  SetServiceDword("debug", 0);
  WriteLog("a()", "b");
  EXPECT_FALSE(base_->PathExists(Tmp("InkoraUpdater.log")));
  SetServiceDword("debug", 1);  // takes effect with the next entry
  WriteLog("a()", "b");
  EXPECT_TRUE(base_->PathExists(Tmp("InkoraUpdater.log")));
  SetFixedField(szLogPath, sizeof(szLogPath), "");
  WriteLog("a()", "c");
  EXPECT_EQ(Log().size(), 1u);
}

TEST(FixedField, RefusesWhatDoesNotFitWhole) {
  char field[8];
  EXPECT_TRUE(SetFixedField(field, sizeof(field), "1234567"));
  EXPECT_STREQ(field, "1234567");
  EXPECT_FALSE(SetFixedField(field, sizeof(field), "12345678"));
  EXPECT_STREQ(field, "");
  EXPECT_FALSE(SetFixedField(field, sizeof(field), std::string("a\0b", 3)));
  EXPECT_STREQ(field, "");
}

}  // namespace
