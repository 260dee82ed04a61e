// The client against the running reference web farm over the real HTTP
// backend: the requests as the farm deciphered them, every fault the farm can
// inject, and no log lost when it fails one upload of three.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "settings/testing/settings_fixture.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

using webfarm_testing::CWebFarm;

const char kGuid[] = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";

class ClientFarm : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    std::string error;
    farm_ = CWebFarm::Start(&error);
    if (farm_ == nullptr) GTEST_SKIP() << error;
    SetService("TestHost", farm_->hostPort());  // reached as a deployed client reaches the test farm
    SetService("UseStaging", "2");
    SetServiceDword("HttpTimeoutMs", 1500);  // the stall fault waits longer
    SetProduct("ComputerID", kGuid);
    SetProduct("CurrentVersion", "1.0.5");
    Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
        "CID=" + std::string(kGuid) + "\r\nUID=user-7\r\n");
    client_.getComputerID();
  }
  std::vector<webfarm_testing::FarmRequest> Of(const std::string& role, const std::string& method) {
    std::vector<webfarm_testing::FarmRequest> list = farm_->Requests();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const auto& r) { return r.role != role || r.method != method; }),
               list.end());
    return list;
  }
  std::map<std::string, std::optional<std::string>> Stored() {
    std::map<std::string, std::optional<std::string>> values;
    for (const char* name : {"UpdateFreq", "LastCheck", "MetadataVer", "UpdateCheckUrl", "UsgLogUrl"})
      values[name] = Service(name);
    values["NextVersion"] = Product("NextVersion");
    return values;
  }
  std::string Log(const std::string& name) {
    return Known(platform::KnownFolder::kCommonAppData,
                 "Quorvex\\Inkora\\Customer Improvement\\togo\\" + name);
  }
  std::unique_ptr<CWebFarm> farm_;
  CClientInfo client_;
};

TEST_F(ClientFarm, FirstCallMetadataAndUpdateCheckArriveWholeAndAreStored) {
  const std::string mvUrl = client_.MakeFirstCall();
  EXPECT_EQ(farm_->url("/Teko/metadata/1-0-7"), mvUrl);
  ASSERT_TRUE(client_.IsNewMetadata(mvUrl) && client_.LoadMetadataFromServer(mvUrl)) << LogText();
  EXPECT_EQ(farm_->url("/Teko/uc"), Service("UpdateCheckUrl"));
  UpdateResultRecord record;
  client_.UpdateCheck(farm_->url("/Teko/uc"), record);
  EXPECT_EQ(mvUrl, record.mv_url);
  EXPECT_TRUE(record.upload_logs && record.crash_logs);
  const auto first = Of("first_call", "GET");
  const auto check = Of("update_check", "POST");
  ASSERT_EQ(1u, first.size());
  ASSERT_EQ(1u, check.size());
  EXPECT_EQ(client_.BuildFirstCallData(), first[0].payload);
  EXPECT_EQ(client_.BuildUpdateCheckData(), check[0].payload);
}

TEST_F(ClientFarm, EveryFaultFailsCleanlyAndChangesNothing) {
  ASSERT_TRUE(client_.LoadMetadataFromServer(farm_->url("/Teko/metadata/1-0-7")));
  SetProduct("CurrentVersion", "1.0.1");  // a load would change NextVersion
  const auto before = Stored();
  for (const char* mode : {"refuse", "404", "500", "garbage", "truncated", "stall", "oversized"}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(farm_->Reset());
    ASSERT_TRUE(farm_->SetFault("any", mode, -1, 2500));
#if defined(_WIN32)
    // Wine's WinINet gives InternetOpenUrlA's request no receive time-out of
    // its own, so a stalled GET waits for the farm; the POST times out.
    const bool getTimesOut = std::string(mode) != "stall";
#else
    const bool getTimesOut = true;
#endif
    if (getTimesOut) {
      EXPECT_EQ("", client_.MakeFirstCall());
      EXPECT_FALSE(client_.LoadMetadataFromServer(farm_->url("/Teko/metadata/1-0-7")));
    }
    UpdateResultRecord record{"kept", true, true, "kept"};
    client_.UpdateCheck(farm_->url("/Teko/uc"), record);
    EXPECT_EQ("kept", record.mv_url);
    EXPECT_EQ(before, Stored());
  }
}

TEST_F(ClientFarm, NoLogIsLostWhenTheFarmFailsOneUploadOfThree) {
  const struct {
    LogTypes type;
    const char *role, *path, *prefix, *ext;
  } kinds[] = {{LogTypes::Usage, "usage", "/Teko/usage", "session", ".jlog"},
               {LogTypes::Installer, "installer", "/Teko/puc", "InkoraInstall_", ".log"},
               {LogTypes::Inkora_Crash, "crash", "/Teko/crash", "crash", ".err"}};
  for (const auto& kind : kinds) {
    for (const char* mode : {"refuse", "404", "500", "garbage", "truncated"}) {
      SCOPED_TRACE(std::string(kind.role) + " " + mode);
      ASSERT_TRUE(farm_->Reset());
      ASSERT_TRUE(farm_->SetFault(kind.role, mode, 1));  // the first upload fails, the rest are taken
      for (int i = 0; i < 3; ++i)
        Put(Log(kind.prefix + std::to_string(i) + kind.ext), "{\"cid\":\"\",\"uid\":\"\"}");
      EXPECT_EQ(2, client_.UploadLogFiles(farm_->url(kind.path), kind.type));
      size_t taken = 0, kept = 0;
      for (const auto& r : Of(kind.role, "POST")) taken += r.fault.empty() && r.status == 200;
      for (int i = 0; i < 3; ++i) {
        const std::string name = Log(kind.prefix + std::to_string(i) + kind.ext);
        kept += Exists(name);
        base_->DeleteFile(name);
      }
      EXPECT_EQ(2u, taken);
      EXPECT_EQ(1u, kept);
    }
  }
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
