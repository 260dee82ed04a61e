// The machine description, the settings wrappers and the exact payload texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "client/client_info.h"
#include "client/client_test_env.h"
#include "client/numbers.h"
#include "settings/registry.h"

namespace {

using client_testing::ClientFixture;

constexpr uint8_t kWs = 1;      // VER_NT_WORKSTATION
constexpr uint8_t kServer = 3;  // VER_NT_SERVER

struct OsRow {
  uint32_t major, minor;
  uint8_t productType;
  uint16_t suite;
  const char* csd;
  uint16_t arch;
  uint32_t edition;  // GetProductInfo type
  int serverR2;
  const char* expected;
};

const OsRow kOsRows[] = {
    // The document's examples.
    {6, 1, kWs, 0, "Service Pack 1", 9, 1, 0, "Windows 7 Ultimate Service Pack 1, 64-bit"},
    {5, 1, kWs, 0, "Service Pack 3", 0, 0, 0, "WinXP Professional Service Pack 3"},
    {5, 2, kServer, 0, "Service Pack 2", 0, 0, 0, "Windows Server 2003, Standard Service Pack 2"},
    // Major 6.
    {6, 0, kWs, 0, "", 0, 3, 0, "Windows Vista Home Premium, 32-bit"},
    {6, 0, kServer, 0, "", 9, 8, 0, "Windows Server 2008 Datacenter Edition, 64-bit"},
    {6, 1, kServer, 0, "", 9, 13, 0, "Windows Server 2008 R2 Standard(core installation), 64-bit"},
    {6, 0, kServer, 0, "", 6, 15, 0, "Windows Server 2008 Enterprise for Itanium-based"},  // no bitness
    {6, 2, kWs, 0, "", 9, 48, 0, ", 64-bit"},           // no name, type outside the table
    {6, 3, kWs, 0, "", 0, 4, 0, "Enterprise, 32-bit"},  // no name, listed edition
    {10, 0, kWs, 0, "", 9, 4, 0, ", 64-bit"},           // above 6: no name, no edition
    {10, 0, kWs, 0, "", 12, 4, 0, ""},                  // ARM64: no bitness either
    {6, 1, kWs, 0, "", 0, 0, 0, "Windows 7 , 32-bit"},  // type 0 is not listed
    // XP and 2000.
    {5, 1, kWs, 0x200, "", 0, 0, 0, "WinXP Home"},
    {5, 0, kWs, 0, "Service Pack 4", 0, 0, 0, "Win2000 Professional Service Pack 4"},
    {5, 0, kServer, 0x80, "", 0, 0, 0, "Win2000 Datacenter Server"},
    {5, 0, kServer, 0x2, "", 0, 0, 0, "Win2000 Advanced Server"},
    {5, 0, kServer, 0, "", 0, 0, 0, "Win2000 Server"},
    // Server 2003 family: names.
    {5, 2, kServer, 0x2, "", 0, 0, 1, "Windows Server 2003 R2, Enterprise"},
    {5, 2, kServer, 0x2000, "", 0, 0, 0, "Windows Storage Server 2003Standard"},
    {5, 2, kServer, 0x2002, "", 0, 0, 0, "Windows Server 2003, Enterprise"},  // mask must be equal
    {5, 2, kServer, 0x8000, "", 0, 0, 0, "Windows Home ServerStandard"},
    {5, 2, kWs, 0, "Service Pack 2", 9, 0, 0, "Windows XP Professional x64 Service Pack 2"},
    // Server 2003 family: editions by architecture.
    {5, 2, kServer, 0x80, "", 6, 0, 0, "Windows Server 2003, Datacenter Edition for Itanium-based Systems"},
    {5, 2, kServer, 0x2, "", 6, 0, 0, "Windows Server 2003, Enterprise Edition for Itanium-based Systems"},
    {5, 2, kServer, 0, "", 6, 0, 0, "Windows Server 2003, "},
    {5, 2, kServer, 0x82, "", 9, 0, 0, "Windows Server 2003, Datacenter x64"},
    {5, 2, kServer, 0x2, "", 9, 0, 0, "Windows Server 2003, Enterprise x64"},
    {5, 2, kServer, 0, "", 9, 0, 0, "Windows Server 2003, Standard x64"},
    {5, 2, kServer, 0x4080, "", 0, 0, 0, "Windows Server 2003, Compute Cluster"},
    {5, 2, kServer, 0x82, "", 0, 0, 0, "Windows Server 2003, Datacenter"},
    {5, 2, kServer, 0x400, "", 0, 0, 0, "Windows Server 2003, Web"},
};

class OsName : public ClientFixture {
 protected:
  std::string Name(const OsRow& r) {
    fake_->version = platform::OsVersionInfo();
    fake_->version.majorVersion = r.major;
    fake_->version.minorVersion = r.minor;
    fake_->version.platformId = 2;
    fake_->version.productType = r.productType;
    fake_->version.suiteMask = r.suite;
    fake_->version.csdVersion = r.csd;
    fake_->arch = r.arch;
    fake_->productType = r.edition;
    fake_->serverR2 = r.serverR2;
    client_.strOSName = "previous";
    client_.LoadOSName();
    return client_.strOSName;
  }
};

TEST_F(OsName, EveryRuleOfTheNameTable) {
  for (const OsRow& r : kOsRows) {
    EXPECT_EQ(r.expected, Name(r)) << r.major << "." << r.minor << " suite " << r.suite << " arch " << r.arch;
  }
}

TEST_F(OsName, EveryEditionOfTheProductTypeTable) {
  const struct {
    uint32_t type;
    const char* edition;
  } rows[] = {{1, "Ultimate"},
              {2, "Home Basic"},
              {3, "Home Premium"},
              {4, "Enterprise"},
              {5, ""},
              {6, "Business"},
              {7, "Standard"},
              {8, "Datacenter Edition"},
              {9, "Small Business Server"},
              {10, "Enterprise"},
              {11, "Starter"},
              {12, "Datacenter(core installation)"},
              {13, "Standard(core installation)"},
              {14, "Enterprise(core installation)"},
              {15, "Enterprise for Itanium-based"},
              {16, ""},
              {17, "Web Server"},
              {18, "Cluster Server"},
              {19, ""},
              {25, "Small Business Server Premium"},
              {26, ""},
              {0xABCDEF, ""}};
  for (const auto& row : rows) {
    OsRow r{6, 1, kWs, 0, "", 9, row.type, 0, ""};
    EXPECT_EQ(std::string("Windows 7 ") + row.edition + ", 64-bit", Name(r)) << row.type;
  }
}

TEST_F(OsName, UnreadableOrTooOldSystemsKeepTheName) {
  const struct {
    const char* what;
    bool versionOk;
    uint32_t platformId, major;
  } rows[] = {{"GetVersionEx fails", false, 2, 6}, {"not NT", true, 1, 6}, {"NT 4", true, 2, 4}};
  for (const auto& row : rows) {
    fake_->versionOk = row.versionOk;
    fake_->version.platformId = row.platformId;
    fake_->version.majorVersion = row.major;
    client_.strOSName = "previous";
    client_.LoadOSName();
    EXPECT_EQ("previous", client_.strOSName) << row.what;
  }
}

TEST_F(OsName, MissingProductInfoAppendsNoEdition) {
  fake_->productInfoOk = false;
  EXPECT_EQ("Windows Vista  Service Pack 2, 64-bit", Name({6, 0, kWs, 0, "Service Pack 2", 9, 1, 0, ""}));
}

TEST_F(ClientFixture, LocaleIsSystemLanguageAndCountryLowercased) {
  const struct {
    const char* language;  // nullptr: lookup fails
    const char* country;
    const char* expected;
  } rows[] = {
      {"en", "US", "en-us"}, {"DE", "AT", "de-at"}, {"EN", nullptr, "EN"}, {nullptr, "US", "previous"}};
  for (const auto& row : rows) {
    fake_->locale.clear();
    if (row.language) fake_->locale[0x59] = row.language;
    if (row.country) fake_->locale[0x5A] = row.country;
    client_.strLocale = "previous";
    EXPECT_EQ(0, client_.LoadLocale());
    EXPECT_EQ(row.expected, client_.strLocale);
  }
}

TEST_F(ClientFixture, UpdateFreqReadsLeadingDecimalDigits) {
  const struct {
    const char* text;  // nullptr: value absent
    int expected;
  } rows[] = {{"24", 24},
              {"12abc", 12},
              {"abc", 0},
              {"", 0},
              {nullptr, 0},
              {" -5", -5},
              {"+7", 7},
              {"0x10", 0},
              {"99999999999", std::numeric_limits<int32_t>::max()},
              {"-99999999999", std::numeric_limits<int32_t>::min()}};
  for (const auto& row : rows) {
    DeleteRegValue(kServiceKey, "UpdateFreq");
    if (row.text) SetService(kUpdateFreq, row.text);
    EXPECT_EQ(row.expected, client_.getUpdateFreq()) << (row.text ? row.text : "(absent)");
    EXPECT_EQ(row.expected, client_.nUpdateFreq);
  }
}

TEST_F(ClientFixture, SettingWritersUseTheStoredFormats) {
  client_.setUpdateFreq(-3);
  EXPECT_EQ("-3", Service(kUpdateFreq));

  const struct {
    int64_t now;
    const char* text;
  } rows[] = {{1000000000, "3b9aca00"}, {0, "0"}, {(int64_t{1} << 32) + 5, "5"}, {0xFFFFFFFFll, "ffffffff"}};
  for (const auto& row : rows) {
    fake_->now = row.now;
    client_.setLastCheck();
    EXPECT_EQ(row.text, Service(kLastCheck));
  }

  client_.setMetadataVer("1-0-7");
  client_.setMetadataVer("");
  EXPECT_EQ("1-0-7", client_.strMetadataVer);
  EXPECT_EQ("1-0-7", Service(kMetadataVer));
  EXPECT_EQ("1-0-7", client_.getMetadataVer());

  // Rows outside the table are refused, not read past its end.
  EXPECT_EQ("", client_.GetSetting(kRegValueCount));
  EXPECT_EQ("", client_.GetSetting(-1));
  EXPECT_FALSE(client_.SetSetting(kRegValueCount, "x"));
}

TEST_F(ClientFixture, MetadataVerOfTheWrongTypeReadsEmptyAndIsLogged) {
  SetServiceDword("MetadataVer", 7);
  EXPECT_EQ("", client_.getMetadataVer());
  EXPECT_TRUE(Logged("key.QueryValue() FAILED"));
}

TEST(LastCheckTime, PlacesTheLow32BitsInTheRightEra) {
  const int64_t k2026 = 1772911800;
  const int64_t k2040 = 2208988800;  // 2040-01-01
  const struct {
    const char* text;
    int64_t now;
    int64_t expected;
  } rows[] = {
      {"", k2026, 0},
      {"not hex", k2026, 0},
      {"3b9aca00", k2026, 1000000000},
      {"0x10", k2026, 16},
      {"-5", k2026, -5},
      {"69ac7fb8", k2026, 1772912568},  // a little ahead: clock set back
      {"ffffffff", k2026, -1},          // decades ahead: an earlier era
      {"83a95200", k2040, 0x83a95200},  // written in 2040 (past 7fffffff): itself
      {"0", k2040, 0},
      {"50", (int64_t{1} << 32) + 100, (int64_t{1} << 32) + 0x50},
      {"ffffff00", (int64_t{1} << 32) + 100, 0xffffff00},
      {"123456789abc", k2026, -1},  // more than 32 bits: saturates, then as ffffffff
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, client_numbers::LastCheckTime(row.text, row.now))
        << row.text << " at " << row.now;
  }
}

TEST(TruncateToInt32, TruncatesTowardZeroAndSaturates) {
  const struct {
    double value;
    int32_t expected;
  } rows[] = {{3.7, 3},
              {-2.5, -2},
              {0.99, 0},
              {1e300, 2147483647},
              {-1e300, -2147483647 - 1},
              {std::numeric_limits<double>::quiet_NaN(), 0},
              {std::numeric_limits<double>::infinity(), 2147483647}};
  for (const auto& row : rows)
    EXPECT_EQ(row.expected, client_numbers::TruncateToInt32(row.value)) << row.value;
}

class Payload : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    SetProduct(kComputerID, "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}");
    SetProduct(kProductNumber, "P-42");
    SetService(kMetadataVer, "1-0-7");
    client_.strOSName = "Windows 7 Ultimate Service Pack 1, 64-bit";
    client_.strLocale = "en-us";
  }
};

TEST_F(Payload, FirstCallTextIsExact) {
  EXPECT_EQ(
      "{\n"
      "\t\"cid\" : \"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}\",\n"
      "\t\"os\" : \"Windows 7 Ultimate Service Pack 1, 64-bit\",\n"
      "\t\"loc\" : \"en-us\",\n"
      "\t\"sv_ver\" : \"1.0.13.0\",\n"
      "\t\"prod\" : \"P-42\"\n"
      "}",
      client_.BuildFirstCallData());
}

TEST_F(Payload, UpdateCheckTextIsExact) {
  client_.getComputerID();
  fake_->now = 1000000000;
  fake_->bias = -60;
  EXPECT_EQ(
      "{\n"
      "\t\"cid\" : \"{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}\",\n"
      "\t\"os\" : \"Windows 7 Ultimate Service Pack 1, 64-bit\",\n"
      "\t\"loc\" : \"en-us\",\n"
      "\t\"sv_ver\" : \"1.0.13.0\",\n"
      "\t\"prod\" : \"P-42\",\n"
      "\t\"mv_ver\" : \"1-0-7\",\n"
      "\t\"utc\" : 1000000000,\n"
      "\t\"toff\" : 60\n"
      "}",
      client_.BuildUpdateCheckData());
}

TEST_F(Payload, ClockAndZoneMembers) {
  const struct {
    int64_t now;
    int32_t bias;
    const char* utc;
    const char* toff;
  } rows[] = {{1000000000, 0, "1000000000", "0"},
              {2147483647, 300, "2147483647", "-300"},     // US Eastern, summer and winter alike
              {2147483648LL, -330, "-2147483648", "330"},  // after January 2038: negative
              {(int64_t{1} << 32) + 7, 0, "7", "0"}};
  for (const auto& row : rows) {
    fake_->now = row.now;
    fake_->bias = row.bias;
    const std::string text = client_.BuildUpdateCheckData();
    EXPECT_NE(std::string::npos, text.find(std::string("\t\"utc\" : ") + row.utc + ",\n")) << text;
    EXPECT_NE(std::string::npos, text.find(std::string("\t\"toff\" : ") + row.toff + "\n}")) << text;
  }
}

TEST_F(Payload, ComputerIdIsReadByTheFirstCallAndKeptByTheUpdateCheck) {
  client_.BuildFirstCallData();
  SetProduct(kComputerID, "{NEW}");
  EXPECT_NE(std::string::npos, client_.BuildUpdateCheckData().find("\"cid\" : \"{0A1B2C3D-4E5F"));
  EXPECT_NE(std::string::npos, client_.BuildFirstCallData().find("\"cid\" : \"{NEW}\""));
  EXPECT_NE(std::string::npos, client_.BuildUpdateCheckData().find("\"cid\" : \"{NEW}\""));
}

TEST_F(Payload, MissingValuesAndAwkwardTextsStillMakeAPayload) {
  env_->RegDeleteTree(kProductKey, platform::kKeyWow64_32Key);
  SetProduct(kProductNumber, "a\"b\\c\td");
  const std::string text = client_.BuildFirstCallData();
  EXPECT_NE(std::string::npos, text.find("\t\"cid\" : \"\",\n")) << text;
  EXPECT_NE(std::string::npos, text.find("\t\"prod\" : \"a\\\"b\\\\c\\td\"\n")) << text;
}

TEST_F(ClientFixture, InitializeDescribesTheMachine) {
  fake_->version.majorVersion = 6;
  fake_->version.minorVersion = 1;
  fake_->version.platformId = 2;
  fake_->version.productType = 1;
  fake_->productType = 3;
  SetProduct(kComputerID, "{ID}");
  EXPECT_EQ(0, client_.Initialize());
  EXPECT_EQ("Windows 7 Home Premium, 64-bit", client_.strOSName);
  EXPECT_EQ("en-us", client_.strLocale);
  EXPECT_EQ("{ID}", client_.strComputerID);
}

}  // namespace
