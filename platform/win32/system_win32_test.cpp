// Error codes, clock, system description, locale, random bytes and the own
// version resource, on the real system.
#include <cstring>

#include "platform/win32/win32_test_util.h"

namespace platform {
namespace {

TEST(Win32StatusTest, LastErrorAndHresultBecomeStatus) {
  struct {
    DWORD lastError;
    Status expected;
  } lastErrors[] = {
      {ERROR_ACCESS_DENIED, kErrorAccessDenied},
      {ERROR_SERVICE_EXISTS, kErrorServiceExists},
      {12029, kErrorInternetCannotConnect},
      {ERROR_SUCCESS, 31},  // a failure without a code is still a failure
  };
  for (const auto& c : lastErrors) {
    ::SetLastError(c.lastError);
    EXPECT_EQ(c.expected, StatusFromLastError()) << c.lastError;
  }
  struct {
    HRESULT hr;
    Status expected;
  } hresults[] = {
      {S_OK, kSuccess},
      {S_FALSE, kSuccess},
      {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), kErrorFileNotFound},
      {E_INVALIDARG, kErrorInvalidParameter},  // a Windows code in HRESULT dress
      {E_FAIL, 31},
  };
  for (const auto& c : hresults) EXPECT_EQ(c.expected, StatusFromHresult(c.hr)) << std::hex << c.hr;
}

TEST(Win32TimeTest, LocalFieldsOfMomentsInAndOutOfRange) {
  Win32Env env{std::string()};
  struct {
    int64_t seconds;
    bool converts;
  } cases[] = {
      {1000000000, true},      // 2001-09-09
      {1786000000, true},      // 2026
      {-2 * 86400, false},     // before 1970: refused, not garbage
      {40000000000LL, false},  // past year 3000
  };
  for (const auto& c : cases) {
    LocalTimeFields f;
    EXPECT_EQ(c.converts, env.ToLocalTime(c.seconds, &f)) << c.seconds;
  }
  // The zone's offset of a moment is the UTC fields plus minus Bias (plus the
  // daylight bias when it is in daylight time).
  LocalTimeFields f;
  ASSERT_TRUE(env.ToLocalTime(1000000000, &f));  // 2001-09-09 01:46:40 UTC, a Sunday
  int localMinutes = ((f.day - 9) * 24 + f.hour) * 60 + f.minute - (1 * 60 + 46);
  TIME_ZONE_INFORMATION tzi;
  DWORD zone = ::GetTimeZoneInformation(&tzi);
  EXPECT_EQ(static_cast<int32_t>(tzi.Bias), env.GetTimeZoneBias());
  if (zone == TIME_ZONE_ID_UNKNOWN) {
    EXPECT_EQ(-env.GetTimeZoneBias(), localMinutes);
  } else {
    EXPECT_TRUE(localMinutes == -tzi.Bias || localMinutes == -(tzi.Bias + tzi.DaylightBias)) << localMinutes;
  }
  EXPECT_EQ(40, f.second);
}

TEST(Win32SystemTest, VersionArchitectureAndLocale) {
  Win32Env env{std::string()};
  OsVersionInfo vi;
  ASSERT_TRUE(env.GetVersionEx(&vi));
  EXPECT_EQ(2u, vi.platformId);  // NT
  EXPECT_GE(vi.majorVersion, 5u);
  EXPECT_EQ(9, env.GetNativeProcessorArchitecture());  // the build is x86_64
  uint32_t product = 0;
  if (vi.majorVersion >= 6) {
    EXPECT_TRUE(env.GetProductInfo(vi.majorVersion, vi.minorVersion, &product));
  }

  std::string language, country, bogus = "kept";
  ASSERT_TRUE(env.GetLocaleInfo(0x59, &language));  // LOCALE_SISO639LANGNAME
  ASSERT_TRUE(env.GetLocaleInfo(0x5A, &country));   // LOCALE_SISO3166CTRYNAME
  EXPECT_GE(language.size(), 2u);
  EXPECT_GE(country.size(), 2u);
  EXPECT_EQ(std::string::npos, language.find('\0'));
  EXPECT_FALSE(env.GetLocaleInfo(0xFFFFFF, &bogus));
  EXPECT_EQ("kept", bogus);
  EXPECT_NE(0, env.GetUserDefaultLangID());
}

TEST(Win32SystemTest, RandomBytesDiffer) {
  Win32Env env{std::string()};
  unsigned char a[32], b[32];
  ASSERT_EQ(kSuccess, env.GenRandom(a, sizeof(a)));
  ASSERT_EQ(kSuccess, env.GenRandom(b, sizeof(b)));
  EXPECT_NE(0, std::memcmp(a, b, sizeof(a)));
  EXPECT_EQ(kSuccess, env.GenRandom(nullptr, 0));
}

TEST(Win32VersionResourceTest, OwnProgramCarriesTheProjectVersion) {
  Win32Env env{std::string()};
  std::string self;
  ASSERT_EQ(kSuccess, env.GetModulePath(&self));
  ASSERT_GT(self.size(), 4u);
  EXPECT_EQ(".exe", self.substr(self.size() - 4));
  std::unique_ptr<VersionResource> res;
  ASSERT_EQ(kSuccess, env.LoadVersionResource(self, &res));
  EXPECT_TRUE(res->HasFixedInfo());
  std::string table;
  ASSERT_TRUE(res->QueryTranslation(&table));
  EXPECT_EQ(std::string("\x09\x04\xB0\x04", 4), table);  // language 0409, code page 04B0
  struct {
    const char* subBlock;
    bool found;
    const char* value;
  } cases[] = {
      {"\\StringFileInfo\\040904B0\\FileVersion", true, INKORA_VERSION_TEXT},
      {"\\StringFileInfo\\040904B0\\ProductName", true, "Inkora Updater"},
      {"\\StringFileInfo\\040904B0\\NoSuchName", false, ""},
      {"\\StringFileInfo\\040704B0\\FileVersion", false, ""},  // another language
  };
  for (const auto& c : cases) {
    std::string value;
    EXPECT_EQ(c.found, res->QueryString(c.subBlock, &value)) << c.subBlock;
    if (c.found) {
      EXPECT_EQ(c.value, value) << c.subBlock;
    }
  }
}

TEST(Win32VersionResourceTest, ProgramsWithoutResourceAndMissingFilesFail) {
  Win32Env env{std::string()};
  std::string self;
  ASSERT_EQ(kSuccess, env.GetModulePath(&self));
  std::string folder = self.substr(0, self.find_last_of('\\'));
  std::unique_ptr<VersionResource> res;
  // The test service is built without a version resource.
  EXPECT_NE(kSuccess, env.LoadVersionResource(folder + "\\inkora_test_service.exe", &res));
  EXPECT_NE(kSuccess, env.LoadVersionResource(folder + "\\no-such-program.exe", &res));
  EXPECT_FALSE(res);
}

}  // namespace
}  // namespace platform
