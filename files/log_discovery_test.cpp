#include <algorithm>
#include <string>
#include <vector>

#include "settings/process_state.h"
#include "settings/testing/settings_fixture.h"
#include "transport/utility.h"

namespace {

using Paths = std::vector<std::string>;

Paths Sorted(Paths v) {
  std::sort(v.begin(), v.end());
  return v;
}

class LogDiscovery : public settings_testing::SettingsFixture {};

TEST_F(LogDiscovery, UsageAndCrashLogsByBucket) {
  const std::string shared =
      Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Customer Improvement\\togo");
  for (const char* name : {"u1.jlog", "u2.jlog", "U3.JLOG", "c1.err", "c2.ERR", "InkoraInstall.log"}) {
    Put(shared + "\\" + name, "{}");
  }
  Put(Tmp("test\\t.jlog"), "{}");
  Put(Tmp("test\\t.err"), "{}");
  const struct {
    bool usage;
    std::string testPath;
    bool noFolder;  // the common application data folder is not known
    Paths expected;
  } cases[] = {
      {true, "", false, {shared + "\\u1.jlog", shared + "\\u2.jlog"}},
      {false, "", false, {shared + "\\c1.err"}},
      {true, Tmp("test"), false, {Tmp("test\\t.jlog")}},
      {false, Tmp("test"), true, {Tmp("test\\t.err")}},
      {true, "", true, {}},
      {false, "", true, {}},
      {true, Tmp("togo"), false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.testPath + (c.usage ? " usage" : " crash"));
    strTestPath = c.testPath;
    env_->failures.clear();
    if (c.noFolder) env_->failures["GetKnownFolder"] = platform::kErrorPathNotFound;
    Paths list;
    EXPECT_EQ(static_cast<int>(c.expected.size()),
              c.usage ? CUtility::GetUsageLogFiles(list) : CUtility::GetCrashLogFilesEx(list));
    EXPECT_EQ(c.expected, Sorted(list));
    EXPECT_EQ(c.noFolder ? "" : shared + "\\", CUtility::GetUsageLogsFolder());
  }
}

TEST_F(LogDiscovery, SymbolFilesInEveryProfileOfTheSystemsLayout) {
  const std::string vista = "\\AppData\\Roaming\\Quorvex\\Inkora\\",
                    xp = "\\Application Data\\Quorvex\\Inkora\\";
  const struct {
    uint32_t major;
    std::string folder;  // public documents from 6 on, common application data before
    std::string root;    // the profiles folder; empty: none found
    std::string profile;
  } cases[] = {
      {6, Tmp("Users\\Public\\Documents"), Tmp("Users\\"), vista},
      {10, Tmp("users\\Public\\Documents"), Tmp("users\\"), vista},  // any letter case
      {5, Tmp("Docs\\All Users\\Application Data"), Tmp("Docs\\"), xp},
      {5, Tmp("Docs\\all users\\Application Data"), Tmp("Docs\\"), xp},
      {6, "Users", "Users", vista},
      {6, "D:\\Public\\Documents", "", vista},
      {5, "D:\\ProgramData", "", xp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    env_->system.emplace().version.majorVersion = c.major;
    env_->knownFolders[c.major >= 6 ? platform::KnownFolder::kPublicDocuments
                                    : platform::KnownFolder::kCommonAppData] = c.folder;
    Paths expected;
    if (c.root.size() > 5) {
      for (const char* user : {"bob", "carol"}) {
        expected.push_back(c.root + user + c.profile + "xml_symbols.xml");
        Put(expected.back(), "<x version=\"1.0\"/>");
      }
      MakeDirs(c.root + "alice" + c.profile);
      Put(c.root + "notaprofile.txt", "x");
    }
    ClearLog();
    Paths list;
    EXPECT_EQ(0, CUtility::GetXmlFiles(list));
    EXPECT_EQ(Sorted(expected), Sorted(list));
    EXPECT_EQ(!c.root.empty(), Logged("strPath: " + c.root + "\n")) << LogLines();
  }
}

}  // namespace
