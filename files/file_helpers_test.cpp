#include <algorithm>
#include <string>
#include <vector>

#include "files/path_helpers.h"
#include "files/test_env.h"
#include "transport/utility.h"

namespace {

using files_testing::EnvFixture;

TEST(PathHelpers, AppendJoinsWithOneBackslashAndRefusesOverlongResults) {
  struct Case {
    std::string path, more;
    bool ok;
    std::string expected;
  };
  const std::string long250(250, 'a');
  const Case cases[] = {
      {"C:\\ProgramData", "Quorvex\\Inkora\\", true, "C:\\ProgramData\\Quorvex\\Inkora\\"},
      {"C:\\ProgramData\\", "Quorvex", true, "C:\\ProgramData\\Quorvex"},
      {"C:\\ProgramData\\", "\\Quorvex", true, "C:\\ProgramData\\Quorvex"},
      {"C:\\x\\", "Inkora.ID", true, "C:\\x\\Inkora.ID"},
      {"C:\\x", "", true, "C:\\x"},
      {"", "a", true, "a"},
      {long250, "123456789", false, long250},  // 260 characters do not fit
      {long250, "12345678", true, long250 + "\\12345678"},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(c.ok, files::PathAppend(path, c.more)) << c.path << " + " << c.more;
    EXPECT_EQ(c.expected, path) << c.path << " + " << c.more;
  }
}

TEST(PathHelpers, RenameExtensionReplacesOnlyTheFileNamesExtension) {
  struct Case {
    std::string path;
    bool ok;
    std::string expected;
  };
  const std::string long255(255, 'b');
  const Case cases[] = {
      {"C:\\togo\\a.jlog", true, "C:\\togo\\a.old"},
      {"C:\\togo\\InkoraInstall.log", true, "C:\\togo\\InkoraInstall.old"},
      {"C:\\a.b\\name", true, "C:\\a.b\\name.old"},  // the dot of a folder is no extension
      {"C:\\togo\\x.y.err", true, "C:\\togo\\x.y.old"},
      {"plain", true, "plain.old"},
      {long255 + ".jlog", true, long255 + ".old"},      // 259 characters fit
      {long255 + "x.jlog", false, long255 + "x.jlog"},  // 260 do not
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(c.ok, files::PathRenameExtension(path, ".old")) << c.path;
    EXPECT_EQ(c.expected, path) << c.path;
  }
  std::string fits(254, 'c');
  fits += ".jlog";
  EXPECT_TRUE(files::PathRenameExtension(fits, ".old"));
  EXPECT_EQ(258u, fits.size());
}

class FileHelpers : public EnvFixture {};

TEST_F(FileHelpers, FindFilesKeepsExactCaseSensitiveSuffixesOrFolders) {
  const std::string folder = Tmp("logs");
  for (const char* name : {"a.jlog", "b.JLOG", "c.jlog.bak", "d.xjlog", "e.err", "jlog", "f.jlog"}) {
    Put(folder + "\\" + name, "x");
  }
  MakeDirs(folder + "\\dir.jlog");
  MakeDirs(folder + "\\sub");

  struct Case {
    std::string folder, extension;
    bool fullPath;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {folder, "jlog", false, {"a.jlog", "f.jlog"}},
      {folder + "\\", "jlog", false, {"a.jlog", "f.jlog"}},  // trailing backslash: same files
      {folder, "jlog", true, {folder + "\\a.jlog", folder + "\\f.jlog"}},
      {folder + "\\", "err", true, {folder + "\\e.err"}},
      {folder, "", false, {"dir.jlog", "sub"}},  // no extension: folders only
      {folder, "log", false, {}},
      {Tmp("missing"), "jlog", false, {}},
      {"", "jlog", false, {}},  // never the root of the drive
  };
  for (const Case& c : cases) {
    std::vector<std::string> list = {"kept"};
    int n = CUtility::FindFiles(c.folder, c.extension, list, c.fullPath);
    ASSERT_EQ(static_cast<int>(c.expected.size()), n) << c.folder << " " << c.extension;
    ASSERT_EQ("kept", list.front());  // appends, never clears
    std::vector<std::string> got(list.begin() + 1, list.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(c.expected, got) << c.folder << " " << c.extension;
  }
}

TEST_F(FileHelpers, RenameCreatesFoldersAcceptsQuotesAndLogsFailures) {
  Put(Tmp("src.jlog"), "one");
  EXPECT_TRUE(CUtility::RenameFile("\"" + Tmp("src.jlog") + "\"", Tmp("new\\deeper\\dst.old")));
  EXPECT_EQ("one", Get(Tmp("new\\deeper\\dst.old")));
  EXPECT_FALSE(Exists(Tmp("src.jlog")));

  // An existing destination is not overwritten.
  Put(Tmp("a.jlog"), "a");
  Put(Tmp("a.old"), "old");
  EXPECT_FALSE(CUtility::RenameFile(Tmp("a.jlog"), Tmp("a.old")));
  EXPECT_EQ("a", Get(Tmp("a.jlog")));
  EXPECT_EQ("old", Get(Tmp("a.old")));
  EXPECT_TRUE(Logged("ERROR -- rename operation failed.  Error "));
  EXPECT_TRUE(Logged("Source file      \t " + Tmp("a.jlog")));
  EXPECT_TRUE(Logged("Destination file \t " + Tmp("a.old")));

  ClearLog();
  EXPECT_FALSE(CUtility::RenameFile(Tmp("nothing.jlog"), Tmp("nothing.old")));
  EXPECT_TRUE(Logged("ERROR -- rename operation failed.  ERROR_FILE_NOT_FOUND"));
}

TEST_F(FileHelpers, WriteToFileReplacesOnlyExistingFiles) {
  EXPECT_FALSE(CUtility::WriteToFile(Tmp("absent.xml"), "text"));
  EXPECT_FALSE(Exists(Tmp("absent.xml")));

  Put(Tmp("present.xml"), "a much longer old content");
  EXPECT_TRUE(CUtility::WriteToFile(Tmp("present.xml"), "new"));
  EXPECT_EQ("new", Get(Tmp("present.xml")));
}

// A disk that fills up mid-write: the temp-and-rename write fails as a whole.
class FailingWriteEnv : public platform::EnvWrapper {
 public:
  using EnvWrapper::EnvWrapper;
  platform::Status WriteFileAtomic(const std::string&, const std::string&) override {
    return platform::kErrorWriteFault;
  }
};

TEST_F(FileHelpers, AFailedRewriteReportsFailureAndKeepsTheOldContent) {
  Put(Tmp("present.xml"), "old content");
  FailingWriteEnv failing(env_.get());
  platform::ScopedDefaultEnv scoped(&failing);
  EXPECT_FALSE(CUtility::WriteToFile(Tmp("present.xml"), "new"));
  EXPECT_FALSE(CUtility::WriteTextFile(Tmp("present.xml"), "new"));
  EXPECT_EQ("old content", Get(Tmp("present.xml")));
}

TEST_F(FileHelpers, ReadFromFileEndsAtNulAndGivesEmptyOnFailure) {
  Put(Tmp("embedded-nul.txt"), std::string("before\0after", 12));
  EXPECT_EQ("before", CUtility::ReadFromFile(Tmp("embedded-nul.txt")));
  Put(Tmp("plain.txt"), "CID=\r\nUID=");
  EXPECT_EQ("CID=\r\nUID=", CUtility::ReadFromFile(Tmp("plain.txt")));
  EXPECT_EQ("", CUtility::ReadFromFile(Tmp("missing.txt")));
  EXPECT_EQ("", CUtility::ReadFromFile(Tmp("")));
}

TEST_F(FileHelpers, WriteTextFileCreatesOrEmptiesAndKeepsPercentSigns) {
  EXPECT_TRUE(CUtility::WriteTextFile(Tmp("t.txt"), "100% %s %d"));
  std::string got = Get(Tmp("t.txt"));
  EXPECT_EQ("100% %s %d", got);
  EXPECT_TRUE(CUtility::WriteTextFile(Tmp("t.txt"), ""));
  EXPECT_EQ("", Get(Tmp("t.txt")));
}

TEST_F(FileHelpers, GetVersionFromTextTakesTheQuotedValueInAnEightCharacterWindow) {
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {"<symbols version=\"1.6\" date=\"x\">", "1.6"},
      {"version=\"1.2.34\" rest", "1.2.34"},  // six characters still fit the window
      {"version=\"1.2.3.45\" rest", ""},      // seven or more leave only the opening quote
      {"version=\"1\"", "1"},                 // fewer than eight characters at the end
      {"version=1.6 more", ""},               // no quote in the window
      {"no version here", ""},
      {"Version=\"2.0\"", ""},                         // case-sensitive key
      {"a version=\"3.1\" b version=\"9.9\"", "3.1"},  // the first one wins
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, CUtility::GetVersionFromText("", c.text)) << c.text;

  Put(Tmp("xml_symbols.xml"), "<x version=\"4.2\"/>");
  EXPECT_EQ("4.2", CUtility::GetVersionFromText(Tmp("xml_symbols.xml"), ""));
  EXPECT_EQ("", CUtility::GetVersionFromText(Tmp("missing.xml"), ""));
}

}  // namespace
