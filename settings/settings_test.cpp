// The settings store and the log file, over the real backend of the platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

using SettingsTest = settings_testing::SettingsFixture;

TEST_F(SettingsTest, StringReadsFollowTheTypeAndLengthRules) {
  const struct {
    const char* name;
    uint32_t type;
    std::string data, expected;
  } cases[] = {
    {"plain", platform::kRegSz, std::string("abc\0", 4), "abc"},
    {"expand", platform::kRegExpandSz, std::string("%TEMP%\0", 7), "%TEMP%"},
    {"max", platform::kRegSz, std::string(1023, 'x') + '\0', std::string(1023, 'x')},
    {"toolong", platform::kRegSz, std::string(1024, 'x') + '\0', ""},
    {"dword", platform::kRegDword, std::string("\1\0\0\0", 4), ""},
#if defined(_WIN32)  // the ANSI layer terminates what it converts back
    {"unterminated", platform::kRegSz, "abc", "abc"},
#else
    {"unterminated", platform::kRegSz, "abc", ""},
#endif
    {"zerolength", platform::kRegSz, "", ""},
  };
  for (const auto& c : cases) {
    SetRaw(kServiceKey, c.name, c.type, c.data);
    EXPECT_EQ(c.expected, GetRegValue_String(kServiceKey, c.name, true)) << c.name;
  }
  // A missing key is created empty, in the 32-bit view only.
  const char* sub = "SOFTWARE\\Quorvex\\InkoraUpdater\\Sub";
  EXPECT_EQ("", GetRegValue_String(sub, "testpath", true));
  std::unique_ptr<platform::RegKey> k;
  EXPECT_EQ(platform::kSuccess,
            base_->registry()->OpenKey(sub, platform::kKeyRead | platform::kKeyWow64_32Key, &k));
  EXPECT_NE(platform::kSuccess, base_->registry()->OpenKey(sub, platform::kKeyRead, &k));
}

TEST_F(SettingsTest, WritesDeletesDwordsAndTheFarmSwitch) {
  for (const std::string& text : {std::string("1-0-7\0junk", 10), std::string()}) {
    EXPECT_TRUE(SetRegValue_String(kServiceKey, "MetadataVer", text));
    EXPECT_EQ(text.c_str(), Service("MetadataVer")) << "the empty text is a value, not a deletion";
  }
  // The writer stores no more than the reader gives back.
  EXPECT_TRUE(SetRegValue_String(kServiceKey, "MetadataVer", std::string(1023, 'u')));
  EXPECT_FALSE(SetRegValue_String(kServiceKey, "MetadataVer", std::string(1024, 'v')));
  EXPECT_EQ(std::string(1023, 'u'), GetRegValue_String(kServiceKey, "MetadataVer", true));
  DeleteRegValue(kServiceKey, "MetadataVer");
  EXPECT_FALSE(Service("MetadataVer"));
  DeleteRegValue(std::string(kServiceKey) + "\\Made", "x");  // the key is made first, as for every write
  std::unique_ptr<platform::RegKey> made;
  EXPECT_EQ(platform::kSuccess,
            base_->registry()->OpenKey(std::string(kServiceKey) + "\\Made",
                                       platform::kKeyRead | platform::kKeyWow64_32Key, &made));
  SetServiceDword("IntervalDay", 0xDEADBEEF);
  EXPECT_EQ(0xDEADBEEFu, GetRegValue_DWORD(kServiceKey, "IntervalDay"));
  EXPECT_EQ(0u, GetRegValue_DWORD("SOFTWARE\\Quorvex\\NoSuchKey", "x"));
  for (auto c : {std::make_pair("1", 1), {"2", 2}, {" 2", 0}, {"02", 0}, {"", 0}}) {
    SetRegValue_String(kServiceKey, "UseStaging", c.first);
    EXPECT_EQ(c.second, IsStagingWebFarm() + 2 * IsTestWebFarm());
  }
  EXPECT_EQ("update.inkora.example", GetProductionHost());  // set, it is the submit URL's
  // A missing farm switch is a logged failure; a missing host, quietly the default.
  DeleteRegValue(kServiceKey, "UseStaging");
  ClearLog();
  EXPECT_EQ("0 0 test.update.inkora.example",
            std::to_string(IsStagingWebFarm()) + " " + std::to_string(IsTestWebFarm()) + " " + GetTestHost());
  EXPECT_EQ(2u, CountLogged("GetRegValue_String()-key.QueryValue() FAILED")) << LogLines();
  // "debug" is the first four bytes of any type; a longer value is unreadable.
  for (auto c : {std::make_pair(std::string("1\0", 2), 0x31u), {std::string("12345", 5), 0u}}) {
    SetRaw(kServiceKey, "debug", platform::kRegBinary, c.first);
    EXPECT_EQ(c.second, IsDebugLogging());
  }
}

TEST_F(SettingsTest, LogEntriesAreWrittenWholeOnlyWhileDebugIsOnAndThePathSet) {
  env_->clock.localTime = platform::SystemTime{2026, 12, 5, 4, 9, 5, 7, 0};
  WriteLog("ServiceMainProc()", "1.0.13.0");
  WriteLogF("Install()", "Service %s installed\n", "InkoraUpdater");
  WriteLog("f()", static_cast<const char*>(nullptr));
  WriteLogF("g()", "%s", "");  // an empty entry is an entry
  SetServiceDword("debug", 0);
  WriteLog("a()", "b");
  SetServiceDword("debug", 1);
  SetFixedField(szLogPath, sizeof(szLogPath), "");
  WriteLog("a()", "c");
  EXPECT_EQ(
      "\r\n12/04/2026, 09:05:07\t    ServiceMainProc()-1.0.13.0"
      "\r\n12/04/2026, 09:05:07\t    Install()-Service InkoraUpdater installed\r\n"
      "\r\n12/04/2026, 09:05:07\t    g()-",
      LogText());
  for (size_t n : {506, 507}) {  // 511 characters fit the first buffer, 512 do not
    EXPECT_EQ("7 of " + std::string(n, 'x'), StrFormat("%d of %s", 7, std::string(n, 'x').c_str()));
  }
  char field[8];
  EXPECT_FALSE(SetFixedField(field, 0, ""));  // no room even for the NUL
  for (auto c :
       {std::make_pair(std::string("1234567"), true), {"12345678", false}, {std::string("a\0b", 3), false}}) {
    EXPECT_EQ(c.second, SetFixedField(field, sizeof(field), c.first));
    EXPECT_EQ(c.second ? c.first : "", std::string(field));
  }
}

// An entry takes at most 64 KiB of the file, line ends counted, a CR LF pair
// never split; a cut one says how much it left out. "debug" is read once.
TEST_F(SettingsTest, AnEntryIsCutTo64KiBAndAFullLogIsMovedAsideOnce) {
  env_->clock.localTime = platform::SystemTime{2026, 12, 5, 4, 9, 5, 7, 0};
  const size_t kHead = std::string("\r\n12/04/2026, 09:05:07\t    f()-").size();
  const struct {
    std::string message;
    size_t size;
    const char* tail;
  } rows[] = {{std::string(65536 - kHead, 'a'), 65536, "aaaa"},
              {std::string(65537 - kHead, 'b'), 65513, "bb...(41 bytes cut)"},
              {std::string(40000, '\n'), 65514, "\r\n...(7268 bytes cut)"},
              {std::string(30u << 20, 'c'), 65519, "c...(31391815 bytes cut)"}};
  for (const auto& r : rows) {
    for (bool formatted : {false, true}) {
      ClearLog();
      env_->registry.opens = 0;
      formatted ? WriteLogF("f()", "%s", r.message.c_str()) : WriteLog("f()", r.message);
      const std::string text = LogText();
      EXPECT_EQ(r.size, text.size()) << r.tail;
      EXPECT_EQ(r.tail, text.substr(text.size() - std::min(text.size(), std::strlen(r.tail)))) << r.tail;
      EXPECT_EQ(1, env_->registry.opens) << "one read of \"debug\"";
    }
  }
  // The entry that would take the file past 16 MiB moves it aside over the
  // older one and begins a new file; where it cannot be moved, entries wait.
  const size_t kFull = 16u << 20;
  EXPECT_EQ(Tmp("InkoraUpdater.old.log"), LogAsidePath());
  Put(LogAsidePath(), "oldest");
  Put(logPath_, std::string(kFull - 100, 'x'));
  WriteLog("f()", std::string(100 - kHead, 'y'));
  EXPECT_EQ(kFull, LogText().size());
  WriteLog("f()", "z");
  EXPECT_EQ(kFull, Get(LogAsidePath()).size());
  EXPECT_EQ(kHead + 1, LogText().size());
  base_->files()->DeleteFile(LogAsidePath());
  MakeDirs(LogAsidePath());
  Put(logPath_, std::string(kFull, 'x'));
  WriteLog("f()", "z");
  EXPECT_EQ(kFull, LogText().size());
  for (const auto& [log, aside] : {std::make_pair(".log", ".old.log"), {"x.txt", "x.txt.old.log"}}) {
    SetFixedField(szLogPath, sizeof(szLogPath), log);
    EXPECT_EQ(aside, LogAsidePath());
  }
}

}  // namespace
