#include <algorithm>
#include <string>
#include <vector>

#include "files/file_helpers.h"
#include "files/path_helpers.h"
#include "files/utility.h"
#include "settings/process_state.h"
#include "settings/testing/settings_fixture.h"

namespace {

TEST(PathHelpers, AppendAndRenameExtensionKeepToTheFixedField) {
  const std::string a250(250, 'a'), b255(255, 'b');
  const struct {
    bool append;
    std::string path, more;
    bool ok;
    std::string expected;
  } cases[] = {
      {true, "C:\\ProgramData", "Quorvex\\Inkora\\", true, "C:\\ProgramData\\Quorvex\\Inkora\\"},
      {true, "C:\\x/", "\\/Inkora.ID", true, "C:\\x/Inkora.ID"},
      {true, "", "a", true, "a"},
      {true, "C:\\x", "\\", true, "C:\\x"},                 // nothing to append: no separator either
      {true, a250, "12345678", true, a250 + "\\12345678"},  // 259 characters fit, 260 do not
      {true, a250, "123456789", false, a250},
      {false, "C:\\togo\\x.y.jlog", ".old", true, "C:\\togo\\x.y.old"},
      {false, "C:\\a.\\name", ".old", true, "C:\\a.\\name.old"},  // a folder's dot is no extension
      {false, "plain", ".old", true, "plain.old"},
      {false, "C:\\togo\\.jlog", ".old", true, "C:\\togo\\.old"},  // a name that is all extension
      {false, b255 + ".jlog", ".old", true, b255 + ".old"},
      {false, b255 + "x.jlog", ".old", false, b255 + "x.jlog"},
  };
  for (const auto& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(c.ok, c.append ? files::PathAppend(path, c.more) : files::PathRenameExtension(path, c.more));
    EXPECT_EQ(c.expected, path) << c.path << " " << c.more;
  }
}

class FileHelpers : public settings_testing::SettingsFixture {};

TEST_F(FileHelpers, FindFilesTakesExactSuffixesOrFoldersAndAppends) {
  const std::string dir = Tmp("logs");
  for (const char* name : {".jlog", "a.jlog", "b.JLOG", "c.jlog.bak", "d.xjlog", "e.err", "jlog", "f.jlog"}) {
    Put(dir + "\\" + name, "x");
  }
  MakeDirs(dir + "\\dir.jlog");
  MakeDirs(dir + "\\sub");
  const struct {
    std::string folder, extension;
    bool fullPath;
    std::vector<std::string> expected;
  } cases[] = {
      {dir, "jlog", false, {".jlog", "a.jlog", "f.jlog"}},  // a name may be the suffix alone
      {dir + "\\", "jlog", true, {dir + "\\.jlog", dir + "\\a.jlog", dir + "\\f.jlog"}},
      {dir + "/", "err", false, {"e.err"}},
      {dir, "", false, {"dir.jlog", "sub"}},  // no extension: folders only
      {Tmp("missing"), "jlog", false, {}},
      {"\\", "jlog", false, {}},  // never the root of the drive
      {"", "jlog", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> list = {"kept"};
    EXPECT_EQ(static_cast<int>(c.expected.size()),
              CUtility::FindFiles(c.folder, c.extension, list, c.fullPath));
    EXPECT_EQ("kept", list.front());
    std::sort(list.begin() + 1, list.end());
    EXPECT_EQ(c.expected, std::vector<std::string>(list.begin() + 1, list.end())) << c.folder << c.extension;
  }
  // A listing cut short keeps what it found before the error.
  for (const char* sub : {"two\\a", "two\\b"}) MakeDirs(Tmp(sub));
  env_->files.listError = platform::kErrorReadFault;
  std::vector<std::string> list;
  EXPECT_EQ(1, CUtility::FindFiles(Tmp("two"), "", list, false));
  EXPECT_TRUE(Logged("Listing " + Tmp("two") + " stopped, error code = 30")) << LogLines();
}

TEST_F(FileHelpers, RenameWritesAndReadsLoseNoData) {
  Put(Tmp("src.jlog"), "one");
  EXPECT_TRUE(CUtility::RenameFile("\"" + Tmp("src.jlog") + "\"", Tmp("new\\deeper\\dst.old")));
  EXPECT_EQ("one", Get(Tmp("new\\deeper\\dst.old")));
  EXPECT_FALSE(Exists(Tmp("src.jlog")));
  Put(Tmp("a.jlog"), "a");
  EXPECT_FALSE(CUtility::RenameFile(Tmp("a.jlog"), Tmp("new\\deeper\\dst.old")));  // never over a file
  EXPECT_FALSE(CUtility::RenameFile(Tmp("none.jlog"), Tmp("none.old")));
  EXPECT_EQ("a", Get(Tmp("a.jlog")));
  EXPECT_EQ("one", Get(Tmp("new\\deeper\\dst.old")));
  EXPECT_TRUE(CUtility::CreateDirectoryForFile("bare-name.txt"));
  EXPECT_TRUE(CUtility::CreateDirectoryForFile(Tmp("made\\x.txt")) && Exists(Tmp("made")));
  std::vector<std::string> inside;  // the folders of the path, and nothing else
  EXPECT_EQ(0, CUtility::FindFiles(Tmp("made"), "", inside, false));

  EXPECT_FALSE(CUtility::WriteToFile(Tmp("absent.xml"), "text"));  // only existing files are rewritten
  EXPECT_FALSE(Exists(Tmp("absent.xml")));
  Put(Tmp("t.xml"), "a much longer old content");
  EXPECT_TRUE(CUtility::WriteToFile(Tmp("t.xml"), "new"));
  EXPECT_TRUE(CUtility::WriteTextFile(Tmp("u.txt"), "100% %s"));
  EXPECT_EQ("new|100% %s", Get(Tmp("t.xml")) + "|" + Get(Tmp("u.txt")));
  env_->files.replaceError = platform::kErrorWriteFault;  // a full disk
  EXPECT_FALSE(CUtility::WriteToFile(Tmp("t.xml"), "lost"));
  EXPECT_FALSE(CUtility::WriteTextFile(Tmp("t.xml"), "lost"));
  EXPECT_EQ("new", Get(Tmp("t.xml")));

  Put(Tmp("zero.txt"), std::string("before\0after", 12));
  EXPECT_EQ("before", CUtility::ReadFromFile(Tmp("zero.txt")));
  EXPECT_EQ("", CUtility::ReadFromFile(Tmp("missing.txt")));
  env_->files.readError = platform::kErrorInvalidData;
  EXPECT_EQ("", CUtility::ReadFromFile(Tmp("zero.txt")));
}

// A version is the quoted text of at most six characters after "version=",
// read from the file when no text is given; a name's control bytes are shown as \x.
TEST_F(FileHelpers, VersionTextsAndPrintableNames) {
  Put(Tmp("s.xml"), "<s version=\"2.0\">");
  const std::pair<const char*, const char*> rows[] = {
      {"<x version=\"1.2.3\"/>", "1.2.3"},
      {"version=\"123456\"", "123456"},
      {"version=\"1234567\"", ""},
      {"version=1.0", ""},
      {"<x ver=\"1\"/>", ""},
      {"", "2.0"},
  };
  for (const auto& [text, version] : rows)
    EXPECT_EQ(version, CUtility::GetVersionFromText(Tmp("s.xml"), text));
  EXPECT_EQ("a\\x00\\x1f \\x7f~\xe9\\x0a", files::PrintableName(std::string("a\0\x1f \x7f~\xe9\n", 8)));
}

using Paths = std::vector<std::string>;

Paths Sorted(Paths v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(FileHelpers, UsageAndCrashLogsByBucket) {
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
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.testPath + (c.usage ? " usage" : " crash"));
    strTestPath = c.testPath;
    env_->files.knownFolderError = c.noFolder ? platform::kErrorPathNotFound : platform::kSuccess;
    Paths list;
    ClearLog();
    EXPECT_EQ(static_cast<int>(c.expected.size()),
              c.usage ? CUtility::GetUsageLogFiles(list) : CUtility::GetCrashLogFilesEx(list));
    EXPECT_EQ(c.expected, Sorted(list));
    std::string found = " Count : " + std::to_string(list.size()) + "\n";  // each file on a line of its own
    for (const std::string& path : list) found += (found.back() == '\n' ? "\t" : "\n\t") + path;
    EXPECT_EQ(!list.empty() && c.testPath.empty(), Logged(found)) << LogLines();
    EXPECT_EQ(c.noFolder ? "" : shared + "\\", CUtility::GetUsageLogsFolder());
  }
}

TEST_F(FileHelpers, SymbolFilesInEveryProfileOfTheSystemsLayout) {
  const std::string vista = "\\AppData\\Roaming\\Quorvex\\Inkora\\",
                    xp = "\\Application Data\\Quorvex\\Inkora\\";
  const struct {
    uint32_t major;
    std::string folder;  // public documents from 6 on, common application data before
    std::string root;    // the profiles folder; empty: none found
    std::string profile;
  } cases[] = {
      {10, Tmp("users\\Public\\Users\\Documents"), Tmp("users\\"), vista},  // the first, in any letter case
      {5, Tmp("Docs\\All Users\\All Users"), Tmp("Docs\\"), xp},
      {6, "Users", "Users", vista},  // the name is the whole path
      {6, "D:\\Public\\Documents", "", vista},
      {5, "D:\\ProgramData", "", xp},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    env_->system.version.majorVersion = c.major;
    env_->files.knownFolders[c.major >= 6 ? platform::KnownFolder::kPublicDocuments
                                          : platform::KnownFolder::kCommonAppData] = c.folder;
    Paths expected;
    if (c.root.size() > 8) {
      for (const char* user : {"bob", "carol"}) {
        expected.push_back(c.root + user + c.profile + "xml_symbols.xml");
        Put(expected.back(), "<x version=\"1.0\"/>");
      }
      MakeDirs(c.root + "alice" + c.profile + "xml_symbols.xml");  // no file: skipped, with a line
      Put(c.root + "notaprofile.txt", "x");
    }
    ClearLog();
    Paths list;
    EXPECT_EQ(0, CUtility::GetXmlFiles(list));
    EXPECT_EQ(Sorted(expected), Sorted(list));
    EXPECT_EQ(!c.root.empty(), Logged("strPath: " + c.root + "\n")) << LogLines();
    EXPECT_EQ(c.root.size() > 8, Logged("alice" + c.profile + "xml_symbols.xml, error code = 5"));
    EXPECT_EQ(c.root.size() > 8, Logged(c.root + "bob" + c.profile + "xml_symbols.xml\n"));  // the found list
  }
}

}  // namespace
