// The client against the running reference web farm over the real HTTP
// backend: the requests as the farm deciphered them, and every fault the farm
// can inject failing the whole cycle cleanly, with no log lost.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <map>
#include <memory>
#include <optional>
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
  std::map<std::string, std::optional<std::string>> Stored() {
    std::map<std::string, std::optional<std::string>> values;
    for (const char* name : {"UpdateFreq", "LastCheck", "MetadataVer", "UpdateCheckUrl", "UsgLogUrl"})
      values[name] = Service(name);
    values["NextVersion"] = Product("NextVersion");
    return values;
  }
  std::unique_ptr<CWebFarm> farm_;
  CClientInfo client_;
};

TEST_F(ClientFarm, FirstCallMetadataAndUpdateCheckArriveWholeAndAreStored) {
  env_->now = 1000000000;  // a fixed clock, so the check's "utc" matches the copy built below
  const std::string mvUrl = client_.MakeFirstCall();
  EXPECT_EQ(farm_->url("/Teko/metadata/1-0-7"), mvUrl);
  ASSERT_TRUE(client_.IsNewMetadata(mvUrl) && client_.LoadMetadataFromServer(mvUrl)) << LogText();
  EXPECT_EQ(farm_->url("/Teko/uc"), Service("UpdateCheckUrl"));
  UpdateResultRecord record;
  client_.UpdateCheck(farm_->url("/Teko/uc"), record);
  EXPECT_EQ(mvUrl, record.mv_url);
  EXPECT_TRUE(record.upload_logs && record.crash_logs);
  std::vector<std::string> sent;
  for (const auto& r : farm_->Requests()) {
    if (r.method == "POST" || r.role == "first_call") sent.push_back(r.role + " " + r.payload);
  }
  EXPECT_EQ((std::vector<std::string>{"first_call " + client_.BuildFirstCallData(),
                                      "update_check " + client_.BuildUpdateCheckData()}),
            sent);
}

TEST_F(ClientFarm, EveryFaultFailsTheCycleCleanlyAndLosesNoLog) {
  ASSERT_TRUE(client_.LoadMetadataFromServer(farm_->url("/Teko/metadata/1-0-7")));
  SetProduct("CurrentVersion", "1.0.1");  // a load would change NextVersion
  const auto before = Stored();
  const std::string log = Known(platform::KnownFolder::kCommonAppData,
                                "Quorvex\\Inkora\\Customer Improvement\\togo\\session1.jlog");
  for (const char* mode : {"refuse", "404", "500", "garbage", "truncated", "stall", "oversized"}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(farm_->Reset());
    ASSERT_TRUE(farm_->SetFault("any", mode, -1, 4000));
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
    Put(log, "{\"cid\":\"\",\"uid\":\"\"}");
    EXPECT_EQ(0, client_.UploadLogFiles(farm_->url("/Teko/usage"), LogTypes::Usage));
    EXPECT_TRUE(Exists(log));
    EXPECT_EQ(before, Stored());
  }
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
