// The client against the running web farm over the real HTTP backend: every
// fault fails the whole cycle cleanly, no log lost; with none, the whole cycle is taken.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <string>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

using webfarm_testing::CWebFarm;
using ClientFarm = settings_testing::SettingsFixture;

TEST_F(ClientFarm, EveryFaultFailsTheCycleCleanlyAndLosesNoLog) {
  std::string error;
  const auto farm = CWebFarm::Start(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  // Reached as a deployed client reaches the test farm, with the machine's identity.
  env_->http.real = true;
  SetService("TestHost", farm->hostPort());
  SetService("UseStaging", "2");
  SetServiceDword("HttpTimeoutMs", 1500);
  const std::string guid = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
  SetProduct("ComputerID", guid);
  Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
      "CID=" + guid + "\r\nUID=user-7\r\n");
  auto stored = [this] {
    std::string all;
    for (const char* name : {"UpdateFreq", "LastCheck", "MetadataVer", "UpdateCheckUrl", "UsgLogUrl"})
      all += Service(name).value_or("-") + "|";
    return all + Product("NextVersion").value_or("-");
  };
  CClientInfo client;
  client.getComputerID();
  env_->clock.now = 1000000000;  // a fixed clock
  const std::string mvUrl = farm->url("/Teko/metadata/1-0-7");
  ASSERT_TRUE(client.IsNewMetadata(mvUrl) && client.LoadMetadataFromServer(mvUrl)) << LogText();
  EXPECT_FALSE(client.IsNewMetadata(mvUrl));
  SetProduct("CurrentVersion", "1.0.1");  // a load would set NextVersion
  const auto before = stored();
  const std::string log = Known(platform::KnownFolder::kCommonAppData,
                                "Quorvex\\Inkora\\Customer Improvement\\togo\\session1.jlog");
  // The trickle (a byte every 200 ms) never meets the idle time-out: only the deadline ends it.
  for (const char* mode : {"refuse", "404", "500", "garbage", "truncated", "oversized", "trickle", "none"}) {
    SCOPED_TRACE(mode);
    const bool ok = std::string(mode) == "none";
    ASSERT_TRUE(farm->Reset());
    ASSERT_TRUE(farm->SetFault("any", mode, -1, 200));
    EXPECT_EQ(ok ? mvUrl : "", client.MakeFirstCall());
    EXPECT_EQ(ok, client.LoadMetadataFromServer(mvUrl));
    UpdateResultRecord record{"kept", true, true, "kept"};
    client.UpdateCheck(farm->url("/Teko/uc"), record);
    EXPECT_EQ(ok ? mvUrl : "kept", record.mv_url);
    Put(log, "{\"cid\":\"\",\"uid\":\"\"}");
    EXPECT_EQ(ok ? 1 : 0, client.UploadLogFiles(farm->url("/Teko/usage"), LogTypes::Usage));
    EXPECT_EQ(!ok, Exists(log));
    EXPECT_TRUE(ok || before == stored());
    if (std::string(mode) == "trickle") {
      EXPECT_EQ(4u, CountLogged("cut at its deadline of 1500 ms"));
    }
    ClearLog();
  }
}

// With the farm's key built in, only a definition file the farm signed is
// written: each refusal leaves it as it was, with one log line naming its
// reason. The metadata's refusals are the answers suite's openssl rows.
TEST_F(ClientFarm, OnlyADefinitionFileTheFarmSignedIsWritten) {
  std::string error;
  const auto farm = CWebFarm::Start(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  env_->http.real = true;
  const std::string signing = farm->PublicKey("signing");
  if (signing.empty()) GTEST_SKIP() << "the web farm does not sign (started without --signing-key)";
  client_testing::ScopedUpdateKeys keys({signing});
  MakeDirs(Tmp("Users\\Public\\Documents"));
  const std::string symbols = Tmp("Users\\bob\\AppData\\Roaming\\Quorvex\\Inkora\\xml_symbols.xml");
  const std::string url = farm->url("/Teko/definitions.xml");
  SetService("DefinitionUrl", url);
  CClientInfo client;
  const std::pair<const char*, std::string> faults[] = {
      {"unsigned", "Refused " + url + ": no signature"},
      {"garbage", "Refused " + url + ": malformed signature"},
      {"wrong_signature", "Refused " + url + ": the signature does not fit"},
      {"other_bytes", "Refused " + url + ": the signature does not fit"},
      {"none", "Signature of " + url + " verified with key 1"}};
  for (const auto& [mode, logged] : faults) {
    SCOPED_TRACE(mode);
    Put(symbols, "<symbols version=\"1.0\"/>");
    ClearLog();
    ASSERT_TRUE(farm->SetFault("definition_sig", mode));
    client.UpdateDefinitionFile();
    EXPECT_EQ(mode == std::string("none")
                  ? "<symbols version=\"2.0\">\n  <symbol name=\"farm\"/>\n</symbols>\n"
                  : "<symbols version=\"1.0\"/>",
              Get(symbols));
    EXPECT_EQ(1u, CountLogged(logged)) << LogText();
  }
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
