#include <algorithm>
#include <string>
#include <vector>

#include "files/test_env.h"
#include "settings/process_state.h"
#include "transport/utility.h"

namespace {

using files_testing::EnvFixture;

class LogDiscovery : public EnvFixture {};

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(LogDiscovery, UsageAndCrashLogsComeFromTheSharedFolder) {
  const std::string folder = LogFolder();
  for (const char* name : {"u1.jlog", "u2.jlog", "U3.JLOG", "c1.err", "c2.ERR", "InkoraInstall.log"}) {
    Put(folder + "\\" + name, "{}");
  }
  EXPECT_EQ(folder + "\\", CUtility::GetUsageLogsFolder());

  std::vector<std::string> usage, crash;
  EXPECT_EQ(2, CUtility::GetUsageLogFiles(usage));
  EXPECT_EQ(Sorted({folder + "\\u1.jlog", folder + "\\u2.jlog"}), Sorted(usage));
  EXPECT_TRUE(Logged("--Found Usage Log Files-- Count : 2\n\t"));
  EXPECT_EQ(1, CUtility::GetCrashLogFilesEx(crash));
  EXPECT_EQ(std::vector<std::string>{folder + "\\c1.err"}, crash);
  EXPECT_TRUE(Logged("GetCrashLogFilesEx()---Found Crash Log Files-- Count : 1\n\t" + folder + "\\c1.err"));
}

TEST_F(LogDiscovery, NoFolderOrNoFilesGivesZeroWithItsLogLine) {
  std::vector<std::string> usage, crash;
  EXPECT_EQ(0, CUtility::GetUsageLogFiles(usage));
  EXPECT_EQ(0, CUtility::GetCrashLogFilesEx(crash));
  EXPECT_TRUE(Logged("No Usage Log Files Found...\n"));
  EXPECT_TRUE(Logged("No Crash Log Files Found..."));
  EXPECT_TRUE(usage.empty() && crash.empty());
}

TEST_F(LogDiscovery, ATestPathReplacesTheSharedFolder) {
  Put(LogFolder() + "\\shared.jlog", "{}");
  Put(Tmp("test\\t.jlog"), "{}");
  Put(Tmp("test\\t.err"), "{}");
  strTestPath = Tmp("test");
  ClearLog();
  std::vector<std::string> usage, crash;
  EXPECT_EQ(1, CUtility::GetUsageLogFiles(usage));
  EXPECT_EQ(std::vector<std::string>{Tmp("test\\t.jlog")}, usage);
  EXPECT_EQ(1, CUtility::GetCrashLogFilesEx(crash));
  EXPECT_EQ(std::vector<std::string>{Tmp("test\\t.err")}, crash);
  EXPECT_TRUE(Logged("Begin"));
  EXPECT_FALSE(Logged("Found"));
}

// A machine whose version and folders the test decides.
class ProfilesEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  bool GetVersionEx(platform::OsVersionInfo* info) override {
    info->majorVersion = major;
    return true;
  }
  platform::Status GetKnownFolder(platform::KnownFolder folder, std::string* path) override {
    *path = folder == platform::KnownFolder::kPublicDocuments ? publicDocuments : commonAppData;
    return platform::kSuccess;
  }
  uint32_t major = 6;
  std::string publicDocuments, commonAppData;
};

TEST_F(LogDiscovery, SymbolFilesAreFoundInEachProfileOfTheSystemsLayout) {
  struct Case {
    uint32_t major;
    std::string profilesRoot, profileFolder;
    std::string users = "Users", allUsers = "All Users";  // as the folder texts spell them
  };
  const Case cases[] = {
      {6, "Users", "\\AppData\\Roaming\\Quorvex\\Inkora\\"},
      {10, "Users", "\\AppData\\Roaming\\Quorvex\\Inkora\\"},
      {5, "Documents and Settings", "\\Application Data\\Quorvex\\Inkora\\"},
      // Windows folder names match in any letter case; Wine spells it "C:\\users".
      {6, "users", "\\AppData\\Roaming\\Quorvex\\Inkora\\", "users"},
      {5, "Documents and Settings", "\\Application Data\\Quorvex\\Inkora\\", "Users", "all users"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.major);
    SCOPED_TRACE(c.profilesRoot);
    ProfilesEnv fake(env_.get());
    fake.major = c.major;
    fake.publicDocuments = Tmp(c.users + "\\Public\\Documents");
    fake.commonAppData = Tmp("Documents and Settings\\" + c.allUsers + "\\Application Data");
    MakeDirs(fake.publicDocuments);
    MakeDirs(fake.commonAppData);
    const std::string root = Tmp(c.profilesRoot) + "\\";
    Put(root + "bob" + c.profileFolder + "xml_symbols.xml", "<x version=\"1.0\"/>");
    Put(root + "carol" + c.profileFolder + "xml_symbols.xml", "<x version=\"1.0\"/>");
    MakeDirs(root + "alice" + c.profileFolder);
    Put(root + "notaprofile.txt", "x");

    platform::ScopedDefaultEnv scoped(&fake);
    ClearLog();
    std::vector<std::string> list;
    EXPECT_EQ(0, CUtility::GetXmlFiles(list));
    EXPECT_EQ(Sorted({root + "bob" + c.profileFolder + "xml_symbols.xml",
                      root + "carol" + c.profileFolder + "xml_symbols.xml"}),
              Sorted(list));
    EXPECT_TRUE(Logged("strPath: " + root));
    EXPECT_TRUE(Logged(root + "alice" + c.profileFolder + "xml_symbols.xml\n"));  // candidates, found or not
  }
}

TEST_F(LogDiscovery, AFolderTextWithoutTheProfilesFolderFindsNothing) {
  ProfilesEnv fake(env_.get());
  // Not below the test folder: under Wine that lies in "C:\\users\\...".
  fake.publicDocuments = "D:\\Public\\Documents";
  fake.commonAppData = "D:\\ProgramData";
  platform::ScopedDefaultEnv scoped(&fake);
  for (uint32_t major : {5u, 6u}) {
    fake.major = major;
    std::vector<std::string> list;
    EXPECT_EQ(0, CUtility::GetXmlFiles(list));
    EXPECT_TRUE(list.empty());
  }
}

}  // namespace
