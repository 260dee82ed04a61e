// What only the Windows backend has: error codes, clock, known folders, version records, the
// thread's code page and the sharing of appends.
#include <thread>

#include "platform/testing/tree_fixture.h"
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

TEST(Win32SystemTest, ErrorCodesClockKnownFoldersVersionAndCodePage) {
  ::SetLastError(ERROR_SUCCESS);  // a failure without a code (or E_FAIL) is still a failure: 31
  EXPECT_EQ(31u, StatusFromLastError());
  EXPECT_EQ(kSuccess, StatusFromHresult(S_FALSE));
  EXPECT_EQ(31u, StatusFromHresult(E_FAIL));
  std::unique_ptr<Env> env = NewIsolatedEnv("");
  LocalTimeFields f;
  EXPECT_FALSE(env->clock()->ToLocalTime(-2 * 86400, &f));     // before 1970
  EXPECT_FALSE(env->clock()->ToLocalTime(40000000000LL, &f));  // past 3000
  ASSERT_TRUE(env->clock()->ToLocalTime(1000000000, &f));      // 2001-09-09 01:46:40 UTC, a Sunday
  EXPECT_EQ(40, f.second);
  std::string paths[3];  // in the order of the enumeration
  for (KnownFolder folder :
       {KnownFolder::kCommonAppData, KnownFolder::kCommonAppDataCurrent, KnownFolder::kPublicDocuments}) {
    ASSERT_EQ(kSuccess, env->files()->GetKnownFolder(folder, &paths[static_cast<int>(folder)]));
    EXPECT_TRUE(env->files()->PathExists(paths[static_cast<int>(folder)])) << paths[static_cast<int>(folder)];
  }
  EXPECT_EQ(paths[0], paths[1]);  // the default path and the current one agree on an untouched system
  // The basic version record has no product type; a path converts in the
  // thread's code page, which follows its locale (1251: 0xC4).
  OsVersionInfo extended, basic;
  ASSERT_TRUE(env->system()->GetVersionEx(&extended, VersionRecord::kExtended));
  ASSERT_TRUE(env->system()->GetVersionEx(&basic, VersionRecord::kBasic));
  EXPECT_EQ(std::to_string(extended.majorVersion) + " 0",
            std::to_string(basic.majorVersion) + " " + std::to_string(basic.productType));
  EXPECT_NE(0u, extended.productType);
  const LCID before = ::GetThreadLocale();
  ASSERT_TRUE(::SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT)));
  const std::string cyrillic = WideToThreadAnsi(L"C:\\\x0414");
  ::SetThreadLocale(before);
  EXPECT_EQ("C:\\\xC4", cyrillic);
}

using Win32FilesTest = platform_testing::TreeFixture;

TEST_F(Win32FilesTest, AppendLetsReadersInAndWaitsForAnotherWriter) {
  const std::string path = Tmp("shared.log");
  Put(path, "first;");
  HANDLE reader = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  EXPECT_EQ(kSuccess, base_->files()->AppendFile(path, "second;"));
  ::CloseHandle(reader);
  // Another writer holds it: the entry waits for it.
  HANDLE writer =
      ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  Status appended = kErrorInvalidHandle;
  std::thread t([&] { appended = base_->files()->AppendFile(path, "third;"); });
  ::Sleep(30);
  ::CloseHandle(writer);
  t.join();
  EXPECT_EQ(kSuccess, appended);
  EXPECT_EQ("first;second;third;", Get(path));
}

}  // namespace
}  // namespace platform
