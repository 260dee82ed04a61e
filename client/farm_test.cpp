// The client against the running reference web farm over the real HTTP
// backend: every fault the farm can inject fails the whole cycle cleanly with
// no log lost; with none, the requests arrive whole.
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

TEST_F(ClientFarm, EveryFaultFailsTheCycleCleanlyAndLosesNoLog) {
  env_->now = 1000000000;  // a fixed clock, so the check's "utc" matches the copy built below
  const std::string mvUrl = farm_->url("/Teko/metadata/1-0-7");
  ASSERT_TRUE(client_.LoadMetadataFromServer(mvUrl)) << LogText();
  EXPECT_EQ(farm_->url("/Teko/uc"), Service("UpdateCheckUrl"));
  SetProduct("CurrentVersion", "1.0.1");  // a load would change NextVersion
  const auto before = Stored();
  const std::string log = Known(platform::KnownFolder::kCommonAppData,
                                "Quorvex\\Inkora\\Customer Improvement\\togo\\session1.jlog");
  for (const char* mode : {"refuse", "404", "500", "garbage", "truncated", "stall", "oversized", "none"}) {
    SCOPED_TRACE(mode);
    const bool ok = std::string(mode) == "none";
    ASSERT_TRUE(farm_->Reset());
    ASSERT_TRUE(farm_->SetFault("any", mode, -1, 4000));
#if defined(_WIN32)
    // Wine's WinINet gives a stalled GET no receive time-out; the POST times out.
    const bool getTimesOut = std::string(mode) != "stall";
#else
    const bool getTimesOut = true;
#endif
    if (getTimesOut) {
      EXPECT_EQ(ok ? mvUrl : "", client_.MakeFirstCall());
      EXPECT_EQ(ok, client_.LoadMetadataFromServer(mvUrl));
    }
    UpdateResultRecord record{"kept", false, true, "kept"};
    client_.UpdateCheck(farm_->url("/Teko/uc"), record);
    EXPECT_EQ(ok ? mvUrl : "kept", record.mv_url);
    EXPECT_EQ(ok, record.upload_logs);
    Put(log, "{\"cid\":\"\",\"uid\":\"\"}");
    EXPECT_EQ(ok ? 1 : 0, client_.UploadLogFiles(farm_->url("/Teko/usage"), LogTypes::Usage));
    EXPECT_EQ(!ok, Exists(log));
    EXPECT_TRUE(ok || before == Stored());
  }
  std::vector<std::string> sent;
  for (const auto& r : farm_->Requests()) {
    if (r.role == "first_call" || (r.role == "update_check" && r.method == "POST"))
      sent.push_back(r.role + " " + r.payload);
  }
  EXPECT_EQ((std::vector<std::string>{"first_call " + client_.BuildFirstCallData(),
                                      "update_check " + client_.BuildUpdateCheckData()}),
            sent);
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
