// Files and folders on the real file system.
#include <algorithm>
#include <thread>

#include "platform/win32/win32_test_util.h"

namespace platform {
namespace {

using win32_testing::RawRead;
using win32_testing::RawWrite;
using win32_testing::ScratchFolder;

class FilesTest : public ::testing::Test {
 protected:
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<DirEntry> entries;
    EXPECT_EQ(kSuccess, env_.ListDirectory(folder, &entries));
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name + (e.isDirectory ? "\\" : ""));
    std::sort(names.begin(), names.end());
    return names;
  }

  Win32Env env_{std::string()};
  ScratchFolder dir_{"files"};
};

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile) {
  const std::string path = dir_ / "Inkora.ID";
  struct {
    std::string data;
  } writes[] = {{"CID={A}\r\nUID={B}"}, {""}, {std::string(200000, 'x')}, {std::string("a\0b\n", 4)}};
  for (const auto& w : writes) {
    ASSERT_EQ(kSuccess, env_.WriteFileAtomic(path, w.data));
    EXPECT_EQ(w.data, RawRead(path));
    EXPECT_EQ(std::vector<std::string>{"Inkora.ID"}, Names(dir_.path()));
  }
  // A folder that does not exist: a failure, and nothing left behind.
  EXPECT_NE(kSuccess, env_.WriteFileAtomic(dir_ / "missing\\x.txt", "data"));
  // A destination held open without delete sharing cannot be replaced; the
  // old content stays and the temporary file goes.
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  Status locked = env_.WriteFileAtomic(path, "new");
  ::CloseHandle(h);
  if (locked != kSuccess) {
    EXPECT_EQ(std::string("a\0b\n", 4), RawRead(path));
  }
  EXPECT_EQ(std::vector<std::string>{"Inkora.ID"}, Names(dir_.path()));
}

TEST_F(FilesTest, AppendAddsBytesUnchangedAndCreatesTheFile) {
  const std::string path = dir_ / "InkoraUpdater.log";
  ASSERT_EQ(kSuccess, env_.AppendFile(path, "\r\n12/04/2026, 09:05:07\t    f()-a\n"));
  ASSERT_EQ(kSuccess, env_.AppendFile(path, ""));
  ASSERT_EQ(kSuccess, env_.AppendFile(path, std::string("b\0c", 3)));
  EXPECT_EQ(std::string("\r\n12/04/2026, 09:05:07\t    f()-a\nb\0c", 36), RawRead(path));
  EXPECT_NE(kSuccess, env_.AppendFile(dir_ / "missing\\x.log", "lost"));
}

TEST_F(FilesTest, AppendLetsReadersInAndWaitsForAnotherWriter) {
  const std::string path = dir_ / "shared.log";
  RawWrite(path, "first;");
  // A reader with full sharing does not keep the writer out.
  HANDLE reader = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  EXPECT_EQ(kSuccess, env_.AppendFile(path, "second;"));
  ::CloseHandle(reader);

  // Another writer holds it: the entry goes in once that writer has let go.
  HANDLE writer =
      ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  Status appended = kErrorInvalidHandle;
  std::thread t([&] { appended = env_.AppendFile(path, "third;"); });
  ::Sleep(30);
  ::CloseHandle(writer);
  t.join();
  EXPECT_EQ(kSuccess, appended);
  EXPECT_EQ("first;second;third;", RawRead(path));
}

TEST_F(FilesTest, MoveRefusesAnExistingDestinationAndKeepsBoth) {
  RawWrite(dir_ / "a.jlog", "A");
  RawWrite(dir_ / "b.jlog", "B");
  EXPECT_EQ(kErrorAlreadyExists, env_.MoveFile(dir_ / "a.jlog", dir_ / "b.jlog"));
  EXPECT_EQ("A", RawRead(dir_ / "a.jlog"));
  EXPECT_EQ("B", RawRead(dir_ / "b.jlog"));
  EXPECT_EQ(kSuccess, env_.MoveFile(dir_ / "a.jlog", dir_ / "c.jlog"));
  EXPECT_EQ((std::vector<std::string>{"b.jlog", "c.jlog"}), Names(dir_.path()));
  EXPECT_EQ(kErrorFileNotFound, env_.MoveFile(dir_ / "a.jlog", dir_ / "d.jlog"));
}

TEST_F(FilesTest, ReadHonoursTheSizeLimitAndRefusesWhatIsNoFile) {
  RawWrite(dir_ / "ten.txt", "0123456789");
  ASSERT_EQ(kSuccess, env_.CreateDirectory(dir_ / "folder"));
  struct {
    const char* name;
    uint64_t maxSize;
    Status status;
  } cases[] = {
      {"ten.txt", 10, kSuccess},           {"ten.txt", 1u << 20, kSuccess},
      {"ten.txt", 9, kErrorInvalidData},   {"missing.txt", 100, kErrorFileNotFound},
      {"folder", 100, kErrorAccessDenied},
  };
  for (const auto& c : cases) {
    std::string data = "untouched";
    EXPECT_EQ(c.status, env_.ReadFile(dir_ / c.name, &data, c.maxSize)) << c.name;
    EXPECT_EQ(c.status == kSuccess ? "0123456789" : "untouched", data) << c.name;
  }
}

TEST_F(FilesTest, ListDirectoryPathExistsCreateAndDelete) {
  RawWrite(dir_ / "x.err", "e");
  ASSERT_EQ(kSuccess, env_.CreateDirectory(dir_ / "togo"));
  EXPECT_EQ(kErrorAlreadyExists, env_.CreateDirectory(dir_ / "togo"));
  EXPECT_EQ((std::vector<std::string>{"togo\\", "x.err"}), Names(dir_.path()));
  EXPECT_EQ((std::vector<std::string>{"togo\\", "x.err"}), Names(dir_.path() + "\\"));
  EXPECT_TRUE(Names(dir_ / "togo").empty());
  std::vector<DirEntry> entries;
  EXPECT_NE(kSuccess, env_.ListDirectory(dir_ / "missing", &entries));
  EXPECT_TRUE(entries.empty());

  struct {
    std::string path;
    bool exists;
  } paths[] = {
      {dir_ / "x.err", true},
      {dir_ / "togo", true},
      {dir_ / "togo\\", true},
      {dir_ / "y.err", false},
      {dir_ / "*.err", false},
      {dir_ / "x.er?", false},
      {"", false},
  };
  for (const auto& p : paths) EXPECT_EQ(p.exists, env_.PathExists(p.path)) << p.path;

  EXPECT_EQ(kSuccess, env_.DeleteFile(dir_ / "x.err"));
  EXPECT_EQ(kErrorFileNotFound, env_.DeleteFile(dir_ / "x.err"));
}

TEST(KnownFoldersTest, SystemFoldersExistAndIsolatedOnesLieUnderTheRoot) {
  Win32Env system{std::string()};
  for (KnownFolder f : {KnownFolder::kCommonAppData, KnownFolder::kPublicDocuments}) {
    std::string path;
    ASSERT_EQ(kSuccess, system.GetKnownFolder(f, &path));
    EXPECT_TRUE(system.PathExists(path)) << path;
  }
  std::unique_ptr<Env> isolated = NewIsolatedEnv("C:\\root\\");
  std::string path;
  ASSERT_EQ(kSuccess, isolated->GetKnownFolder(KnownFolder::kCommonAppData, &path));
  EXPECT_EQ("C:\\root\\ProgramData", path);
  ASSERT_EQ(kSuccess, isolated->GetKnownFolder(KnownFolder::kPublicDocuments, &path));
  EXPECT_EQ("C:\\root\\Users\\Public\\Documents", path);
}

}  // namespace
}  // namespace platform
