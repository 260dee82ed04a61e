#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "client/client_info.h"
#include "client/numbers.h"
#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

const int64_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kNow = 1772911800;  // 2026-03-07 19:30 UTC, a Saturday
constexpr int64_t kEastern = -5 * 3600, kIndia = 5 * 3600 + 1800;

class ClientInfo : public settings_testing::SettingsFixture {
 protected:
  // version: major*10+minor; type 1 workstation, 3 server; edition: GetProductInfo type.
  std::string Name(int version, uint8_t type, uint16_t suite, uint16_t arch, uint32_t edition, int r2 = 0,
                   const char* csd = "") {
    platform::OsVersionInfo& v = env_->system.version;
    v.majorVersion = version / 10, v.minorVersion = version % 10, v.platformId = 2;
    v.productType = type, v.suiteMask = suite, v.csdVersion = csd;
    env_->system.arch = arch, env_->system.productType = edition, env_->system.serverR2 = r2;
    client_.strOSName = "previous";
    client_.LoadOSName();
    return client_.strOSName;
  }
  CClientInfo client_;
};

TEST_F(ClientInfo, OsNameTable) {
  const struct {
    int version;
    uint8_t type;
    uint16_t suite, arch;
    uint32_t edition;
    int r2;
    const char* name;
  } rows[] = {{60, 3, 0, 0, 8, 0, "Windows Server 2008 Datacenter Edition, 32-bit"},
              {51, 1, 0x200, 0, 0, 0, "WinXP Home"},
              {50, 1, 0, 0, 0, 0, "Win2000 Professional"},
              {50, 3, 0x80, 0, 0, 0, "Win2000 Datacenter Server"},
              {50, 3, 0x2, 0, 0, 0, "Win2000 Advanced Server"},
              {50, 3, 0, 0, 0, 0, "Win2000 Server"},
              {52, 3, 0x2, 0, 0, 1, "Windows Server 2003 R2, Enterprise"},
              {52, 3, 0x2000, 0, 0, 0, "Windows Storage Server 2003Standard"},
              {52, 3, 0x2002, 0, 0, 0, "Windows Server 2003, Enterprise"},
              {52, 3, 0x8000, 0, 0, 0, "Windows Home ServerStandard"},
              {52, 1, 0, 9, 0, 0, "Windows XP Professional x64"},
              {52, 3, 0x80, 6, 0, 0, "Windows Server 2003, Datacenter Edition for Itanium-based Systems"},
              {52, 3, 0x2, 6, 0, 0, "Windows Server 2003, Enterprise Edition for Itanium-based Systems"},
              {52, 3, 0x82, 9, 0, 0, "Windows Server 2003, Datacenter x64"},
              {52, 3, 0x2, 9, 0, 0, "Windows Server 2003, Enterprise x64"},
              {52, 3, 0, 9, 0, 0, "Windows Server 2003, Standard x64"},
              {52, 3, 0x4080, 0, 0, 0, "Windows Server 2003, Compute Cluster"},
              {52, 3, 0x82, 0, 0, 0, "Windows Server 2003, Datacenter"},
              {52, 3, 0x400, 0, 0, 0, "Windows Server 2003, Web"}};
  for (const auto& r : rows) EXPECT_EQ(r.name, Name(r.version, r.type, r.suite, r.arch, r.edition, r.r2));
  EXPECT_EQ("Windows 7 , 64-bit", Name(61, 1, 0, 9, 26)) << "an edition without a name";
  EXPECT_EQ("Windows Server 2003, Standard SP2", Name(52, 3, 0, 0, 0, 0, "SP2"));
  EXPECT_EQ("previous", Name(40, 1, 0, 9, 1));  // NT 4
  env_->system.versionFails = true;
  EXPECT_EQ("previous", Name(61, 1, 0, 9, 1));
}

// Initialize reads the OS name, the locale, the identifier and the maker; the
// ACPI tree is asked before the Root tree.
TEST_F(ClientInfo, InitializeWithLocaleAndMaker) {
  const std::string enumTree = "System\\CurrentControlSet\\Enum\\", device = "\\InkoraTestDevice";
  auto add = [&](const char* tree, const std::string& id) {
    const std::string key = enumTree + tree + device + "\\0";
    SetRaw(key, "UpperFilters", platform::kRegMultiSz, std::string("QrxTP\0\0", 7), 0);
    SetRaw(key, "HardwareID", platform::kRegMultiSz, id + std::string(2, '\0'), 0);
  };
  add("Root", "ROOT\\SNY0001");
  add("ACPI", "ACPI\\QRX1B1C");
  env_->system.locale = {{platform::kLocaleLanguage, "fr"}, {platform::kLocaleCountry, "CA"}};
  Name(61, 1, 0, 9, 3);
  client_.strOSName.clear();
  client_.Initialize();
  EXPECT_EQ("Windows 7 Home Premium, 64-bit", client_.strOSName);
  EXPECT_EQ("fr-ca", client_.strLocale);
  EXPECT_EQ("Acer", client_.strOEM);
  for (const char* tree : {"ACPI", "Root"}) base_->registry()->DeleteTree(enumTree + tree + device, 0);
  ClearLog();
  EXPECT_EQ("", client_.getProductNumber());  // a missing product number leaves a line in the log
  EXPECT_TRUE(Logged("QueryValue() FAILED")) << LogText();
  // A row outside the table of setting names reads and writes nothing.
  EXPECT_EQ("0", client_.GetSetting(kRegValueCount) + std::to_string(client_.SetSetting(-1, "x")));
}

// Each text as a decimal setting and as a LastCheck time.
TEST(Numbers, DecimalsLastCheckEraAndTruncation) {
  const int64_t k2026 = 1772911800, kEra = int64_t{1} << 32;
  const struct {
    const char* text;
    int64_t now, decimal, time;
  } rows[] = {{"3b9aca00", k2026, 3, 1000000000},
              {"0x1F", k2026, 0, 31},
              {" -5", k2026, -5, -5},
              {"ffffffff", k2026, 0, -1},                // decades ahead: an earlier era
              {"83a95200", 2208988800, 83, 0x83a95200},  // written after 2038: itself
              {"ffffff00", kEra + 100, 0, 0xffffff00},
              {"3fffffff", 2 * kEra - 1, 3, 2 * kEra + 0x3fffffff},  // the latest time believed
              {"99999999999", k2026, kMax, -1},
              {"-99999999999", k2026, kMin, -kEra}};
  for (const auto& r : rows) {
    EXPECT_EQ(r.decimal, client_numbers::ParseDecimalInt32(r.text)) << r.text;
    EXPECT_EQ(r.time, client_numbers::LastCheckTime(r.text, r.now)) << r.text;
  }
  const struct {
    double value;
    int64_t truncated;
  } doubles[] = {
      {-2.5, -2}, {2147483647.5, kMax}, {-2147483648.5, kMin}, {std::numeric_limits<double>::quiet_NaN(), 0}};
  for (const auto& r : doubles) EXPECT_EQ(r.truncated, client_numbers::TruncateToInt32(r.value)) << r.value;
}

TEST_F(ClientInfo, PayloadTexts) {
  SetFixedField(szServiceVersion, sizeof(szServiceVersion), "1.0.13.0");
  SetProduct("ComputerID", "{0A1B}");
  SetProduct("ProductNumber", "a\"b");
  SetService("MetadataVer", "1-0-7");
  client_.strOSName = "Windows 7";
  client_.strLocale = "en-us";
  const std::string head =
      "{\n\t\"cid\" : \"{0A1B}\",\n\t\"os\" : \"Windows 7\",\n\t\"loc\" : \"en-us\",\n"
      "\t\"sv_ver\" : \"1.0.13.0\",\n\t\"prod\" : \"a\\\"b\"";
  EXPECT_EQ(head + "\n}", client_.BuildFirstCallData());
  SetProduct("ComputerID", "{NEW}");  // the update check sends the identifier the first call read
  const struct {
    int64_t now;
    int32_t bias;
    const char *utc, *toff;
  } rows[] = {{2147483648LL, 330, "-2147483648", "-330"},  // after January 2038: negative
              {(int64_t{1} << 32) + 7, 0, "7", "0"}};
  for (const auto& r : rows) {
    env_->clock.now = r.now;
    env_->clock.bias = r.bias;
    EXPECT_EQ(
        head + ",\n\t\"mv_ver\" : \"1-0-7\",\n\t\"utc\" : " + r.utc + ",\n\t\"toff\" : " + r.toff + "\n}",
        client_.BuildUpdateCheckData());
  }
}

// Each moment against both rules; LastCheck "ago" seconds before now (negative: ahead).
TEST_F(ClientInfo, ScheduleByFrequencyAndByTheLocalMinuteOfTheWeek) {
  const int64_t kNever = INT64_MIN, kSixDays = 8640 * 60;
  const struct {
    const char* what;
    int64_t now, ago;
    const char* freq;
    int64_t zone;
    uint32_t day, time;
    bool byFreq, byWeek;
  } rows[] = {
      {"a day ago, Sat 14:30 EST", kNow, 86400, "24", kEastern, 7, 870, true, true},
      {"a second short, a minute later", kNow + 60, 86399, "24", kEastern, 7, 870, false, false},
      {"last second of the minute", kNow + 59, 86399, "24", kEastern, 7, 870, false, true},
      {"wrong weekday", kNow, 60, "24", kEastern, 6, 870, false, false},
      {"Sunday is day 1", kNow + 86400, 60, "24", kEastern, 1, 870, false, true},
      {"Sat 21:00 EST is Sunday in UTC", 1772935200, 60, "0", kEastern, 7, 1260, true, true},
      {"nothing set", 1773027900, 60, "24", kIndia, 0, 0, false, false},
      {"never checked", kNow, kNever, "24", kEastern, 0, 0, true, true},
      {"31 days ahead", kNow, -31 * 86400, "1", kEastern, 4, 0, false, false},
      {"years ahead", kNow, -5 * 365 * 86400, "744", kEastern, 4, 0, true, true},
      {"huge frequency does not wrap", kNow, 60, "50000000", kEastern, 4, 0, false, false},
      {"after 2038, an hour ago", 0x90000000LL, 3600, "1", kEastern, 4, 0, true, false},
      {"exactly six days", kNow, kSixDays, "200", kEastern, 4, 0, false, true},
      {"59 seconds short of six days", kNow, kSixDays - 59, "144", kEastern, 4, 0, false, false},
  };
  for (const auto& r : rows) {
    env_->clock.now = r.now;
    DeleteRegValue(kServiceKey, "LastCheck");
    if (r.ago != kNever) SetService("LastCheck", StrFormat("%x", static_cast<unsigned>(r.now - r.ago)));
    env_->clock.zone = [zone = r.zone](int64_t) { return zone; };
    SetService("UpdateFreq", r.freq);
    SetServiceDword("IntervalDay", r.day);
    SetServiceDword("IntervalTime", r.time);
    EXPECT_EQ(r.byFreq, client_.IsTimeToCheckWebfarm()) << r.what;
    EXPECT_EQ(r.byWeek, client_.IsTimeToCheckInterval()) << r.what;
    EXPECT_EQ(r.ago != kNever && r.ago < -31 * 86400, client_.IsLastCheckFarAhead()) << r.what;
  }
  EXPECT_TRUE(Logged("LastUpdate:      \t14:30:00")) << LogText();  // local time
}

// Metadata is held but checks cannot reach the web farm (a week unanswered:
// the running farm's table): MetadataVer goes, so the next due check is a first
// call. The week counts from now where no answer is known or one lies ahead.
TEST_F(ClientInfo, AFirstCallIsDueAgainWhenChecksCannotReachTheFarm) {
  const int64_t kNever = INT64_MIN, kWeek = 7 * 86400;
  const struct {
    const char* url;
    int64_t ago;  // of the last answer
    bool again, restamped;
  } rows[] = {{"http://farm/uc", kWeek, false, false},
              {"ftp://farm/uc", 60, true, false},
              {"http://farm/uc", kNever, false, true},
              {"http://farm/uc", -60, false, true}};
  for (const auto& r : rows) {
    env_->clock.now = kNow;
    SetService("MetadataVer", "1-0-7");
    SetService("UpdateCheckUrl", r.url);
    DeleteRegValue(kServiceKey, "LastGoodCheck");
    if (r.ago != kNever) SetService("LastGoodCheck", StrFormat("%x", static_cast<unsigned>(kNow - r.ago)));
    EXPECT_EQ(r.again, client_.IsFirstCallDueAgain()) << r.url << " " << r.ago;
    EXPECT_EQ(r.again ? "" : "1-0-7", Service("MetadataVer").value_or("-"));
    EXPECT_EQ(r.restamped, Service("LastGoodCheck") == StrFormat("%x", static_cast<unsigned>(kNow))) << r.ago;
  }
}

}  // namespace
