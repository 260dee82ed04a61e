// The client against the running web farm over the real HTTP backend: every
// fault fails the whole cycle cleanly, no log lost; with none, requests arrive whole.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <memory>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "settings/testing/settings_fixture.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

using webfarm_testing::CWebFarm;
using ClientFarm = settings_testing::SettingsFixture;

TEST_F(ClientFarm, EveryFaultFailsTheCycleCleanlyAndLosesNoLog) {
  std::string error;
  const auto farm = CWebFarm::Start(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  SetService("TestHost", farm->hostPort());  // reached as a deployed client reaches the test farm
  SetService("UseStaging", "2");
  SetServiceDword("HttpTimeoutMs", 1500);  // the stall fault waits longer
  const char kGuid[] = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
  SetProduct("ComputerID", kGuid);
  Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
      "CID=" + std::string(kGuid) + "\r\nUID=user-7\r\n");
  auto stored = [this] {
    std::string all;
    for (const char* name : {"UpdateFreq", "LastCheck", "MetadataVer", "UpdateCheckUrl", "UsgLogUrl"})
      all += Service(name).value_or("-") + "|";
    return all + Product("NextVersion").value_or("-");
  };
  CClientInfo client;
  client.getComputerID();
  env_->now = 1000000000;  // a fixed clock, so the check's "utc" matches the copy built below
  const std::string mvUrl = farm->url("/Teko/metadata/1-0-7");
  ASSERT_TRUE(client.IsNewMetadata(mvUrl) && client.LoadMetadataFromServer(mvUrl)) << LogText();
  EXPECT_FALSE(client.IsNewMetadata(mvUrl));
  SetProduct("CurrentVersion", "1.0.1");  // a load would set NextVersion
  const auto before = stored();
  const std::string log = Known(platform::KnownFolder::kCommonAppData,
                                "Quorvex\\Inkora\\Customer Improvement\\togo\\session1.jlog");
  for (const char* mode : {"refuse", "404", "500", "garbage", "truncated", "stall", "oversized", "none"}) {
    SCOPED_TRACE(mode);
    const bool ok = std::string(mode) == "none";
    ASSERT_TRUE(farm->Reset());
    ASSERT_TRUE(farm->SetFault("any", mode, -1, 4000));
#if defined(_WIN32)
    // Wine's WinINet gives a stalled GET no receive time-out; the POST times out.
    const bool getTimesOut = std::string(mode) != "stall";
#else
    const bool getTimesOut = true;
#endif
    if (getTimesOut) {
      EXPECT_EQ(ok ? mvUrl : "", client.MakeFirstCall());
      EXPECT_EQ(ok, client.LoadMetadataFromServer(mvUrl));
    }
    UpdateResultRecord record{"kept", true, true, "kept"};
    client.UpdateCheck(farm->url("/Teko/uc"), record);
    EXPECT_EQ(ok ? mvUrl : "kept", record.mv_url);
    Put(log, "{\"cid\":\"\",\"uid\":\"\"}");
    EXPECT_EQ(ok ? 1 : 0, client.UploadLogFiles(farm->url("/Teko/usage"), LogTypes::Usage));
    EXPECT_EQ(!ok, Exists(log));
    EXPECT_TRUE(ok || before == stored());
  }
  std::vector<std::string> sent;
  for (const auto& r : farm->Requests()) {
    if (r.role == "first_call" || (r.role == "update_check" && r.method == "POST"))
      sent.push_back(r.role + " " + r.payload);
  }
  EXPECT_EQ((std::vector<std::string>{"first_call " + client.BuildFirstCallData(),
                                      "update_check " + client.BuildUpdateCheckData()}),
            sent);
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
