// The client against the running web farm over the real HTTP backend: every
// fault fails the whole cycle cleanly, no log lost; with none, requests arrive whole.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <memory>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
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

// With the farm's key built in, only what the farm signed is stored or written:
// each refusal leaves every setting and the symbol file as they were, with one
// log line naming its reason, and the next good answer is obeyed.
TEST_F(ClientFarm, OnlyWhatTheFarmSignedIsStoredOrWritten) {
  std::string error;
  const auto farm = CWebFarm::Start(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  const std::string signing = farm->PublicKey("signing"), other = farm->PublicKey("other");
  if (signing.empty()) GTEST_SKIP() << "the web farm does not sign (started without --signing-key)";
  client_testing::ScopedUpdateKeys keys({signing});
  env_->system.emplace();
  env_->system->version.majorVersion = 6;
  env_->knownFolders[platform::KnownFolder::kPublicDocuments] = Tmp("Users\\Public\\Documents");
  MakeDirs(Tmp("Users\\Public\\Documents"));
  const std::string symbols = Tmp("Users\\bob\\AppData\\Roaming\\Quorvex\\Inkora\\xml_symbols.xml");
  const std::string all = "1|1-0-7|" + farm->url("/Teko/definitions.xml") + "|1.0.10|" +
                          farm->url("/downloads/InkoraSetup-1.0.10.exe");
  auto stored = [this] {
    return Service("UpdateFreq").value_or("-") + "|" + Service("MetadataVer").value_or("-") + "|" +
           Service("DefinitionUrl").value_or("-") + "|" + Product("NextVersion").value_or("-") + "|" +
           Product("NextVersionURL").value_or("-");
  };
  CClientInfo client;
  const std::pair<const char*, std::string> faults[] = {{"unsigned", ": no signature"},
                                                        {"garbage", ": malformed signature"},
                                                        {"wrong_signature", ": the signature does not fit"},
                                                        {"other_bytes", ": the signature does not fit"}};
  for (const std::string document : {"/Teko/metadata/1-0-7", "/Teko/definitions.xml"}) {
    for (const auto& [mode, reason] : faults) {
      SCOPED_TRACE(document + " " + mode);
      CleanRegistry();
      SetServiceDword("debug", 1);
      SetService("ProductionHost", farm->hostPort());
      SetProduct("CurrentVersion", "1.0.5");
      Put(symbols, "<symbols version=\"1.0\"/>");
      ClearLog();
      ASSERT_TRUE(farm->Reset());
      const bool metadata = document.find("metadata") != std::string::npos;
      for (const char* fault : {mode, "none"}) {  // a first call's cycle of the monitor loop, twice
        ASSERT_TRUE(farm->SetFault(metadata ? "metadata_sig" : "definition_sig", fault));
        const std::string mv = client.MakeFirstCall();
        if (client.IsNewMetadata(mv)) client.LoadMetadataFromServer(mv);
        client.UpdateDefinitionFile();
        const bool good = fault == std::string("none");
        EXPECT_EQ(good || !metadata ? all : "-|-|-|-|-", stored());
        EXPECT_EQ(good ? "<symbols version=\"2.0\">\n  <symbol name=\"farm\"/>\n</symbols>\n"
                       : "<symbols version=\"1.0\"/>",
                  Get(symbols));
      }
      EXPECT_EQ(1u, CountLogged(")-Refused " + farm->url(document) + reason)) << LogText();
      EXPECT_EQ(2u, CountLogged("verified with key 1")) << LogText();
    }
  }
  // A correctly signed older document offered as newer is refused; under two
  // keys the second verifies.
  client_testing::ScopedUpdateKeys rolled({other, signing});
  std::string older = CWebFarm::StandardMetadata();
  older.replace(older.find("1-0-7"), 5, "1-0-6").replace(older.find("\"1.0.10\""), 8, "\"9.9\"");
  ASSERT_TRUE(farm->SetMetadata(older));
  ASSERT_TRUE(farm->SetAnswers("{\"mv_url\":\"@BASE@/Teko/metadata/1-0-8\"}"));
  UpdateResultRecord record;
  client.UpdateCheck(farm->url("/Teko/uc"), record);
  ASSERT_TRUE(client.IsNewMetadata(record.mv_url));
  EXPECT_FALSE(client.LoadMetadataFromServer(record.mv_url));
  EXPECT_EQ(all, stored());
  EXPECT_TRUE(Logged("Refused metadata version \"1-0-6\": not newer than the stored \"1-0-7\"")) << LogText();
  ASSERT_TRUE(farm->SetMetadata(older.replace(older.find("1-0-6"), 5, "1-0-8")));
  EXPECT_TRUE(client.LoadMetadataFromServer(record.mv_url));
  EXPECT_EQ("1-0-8 9.9", *Service("MetadataVer") + " " + *Product("NextVersion"));
  EXPECT_TRUE(Logged("Signature of " + record.mv_url + " verified with key 2")) << LogText();
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
