// The client against the running web farm over the real HTTP backend: every
// fault fails the whole cycle cleanly, no log lost; with none, requests arrive whole.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <memory>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "settings/log.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

using webfarm_testing::CWebFarm;
class ClientFarm : public settings_testing::SettingsFixture {
 protected:
  // The farm, reached as a deployed client reaches the test farm, and the machine's identity.
  std::unique_ptr<CWebFarm> Deploy(std::string* error) {
    auto farm = CWebFarm::Start(error);
    if (farm == nullptr) return farm;
    env_->http.real = true;
    SetService("TestHost", farm->hostPort());
    SetService("UseStaging", "2");
    SetServiceDword("HttpTimeoutMs", 1500);
    const std::string guid = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
    SetProduct("ComputerID", guid);
    Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
        "CID=" + guid + "\r\nUID=user-7\r\n");
    return farm;
  }
};

TEST_F(ClientFarm, EveryFaultFailsTheCycleCleanlyAndLosesNoLog) {
  std::string error;
  const auto farm = Deploy(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  auto stored = [this] {
    std::string all;
    for (const char* name : {"UpdateFreq", "LastCheck", "MetadataVer", "UpdateCheckUrl", "UsgLogUrl"})
      all += Service(name).value_or("-") + "|";
    return all + Product("NextVersion").value_or("-");
  };
  CClientInfo client;
  client.getComputerID();
  env_->clock.now = 1000000000;  // a fixed clock, so the check's "utc" matches the copy built below
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
  std::vector<std::string> sent;
  for (const auto& r : farm->Requests()) {
    if (r.role == "first_call" || (r.role == "update_check" && r.method == "POST"))
      sent.push_back(r.role + " " + r.payload);
  }
  EXPECT_EQ((std::vector<std::string>{"first_call " + client.BuildFirstCallData(),
                                      "update_check " + client.BuildUpdateCheckData()}),
            sent);
}

// A hostile answer for a while (the trickle is the matrix's), then a good farm:
// every hostile mode leaves the client cycling with what it stored within the
// bounds, and the good farm (metadata 1-0-9) is obeyed within the longest check
// frequency. Each cycle is the monitor loop's work on a day-later clock.
TEST_F(ClientFarm, AfterAnyHostileAnswerTheClientStaysInBoundsAndObeysAGoodFarmAgain) {
  std::string error;
  const auto farm = Deploy(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  // No row here waits on the deadline; the 27 MB of the huge metadata take
  // longer than the matrix's 1.5 s on a loaded machine.
  SetServiceDword("HttpTimeoutMs", 120000);
  SetProduct("CurrentVersion", "1.0.5");
  env_->clock.now = 1000000000;  // moved on a day a cycle, from row to row
  const std::string usage = Known(platform::KnownFolder::kCommonAppData,
                                  "Quorvex\\Inkora\\Customer Improvement\\togo\\session1.jlog");
  const auto serve = [&farm](const std::string& dashed, const std::string& next) {
    std::string metadata = CWebFarm::StandardMetadata();
    for (const auto& [from, to] :
         {std::make_pair(std::string("1-0-7"), dashed), {std::string("1.0.10"), next}})
      for (size_t at; (at = metadata.find(from)) != std::string::npos;) metadata.replace(at, from.size(), to);
    return farm->SetMetadata(metadata) &&
           farm->SetAnswers(R"({"mv_url":"@BASE@/Teko/metadata/)" + dashed + R"(","upload_logs":"true"})");
  };
  // Before: "ahead" a LastCheck years ahead, "long" an unreadable uc_url; held:
  // the metadata taken in the days of the hostile farm, whose own is 1-0-8.
  const struct {
    const char *mode, *endpoint, *before;
    int days;
    const char* held;
  } rows[] = {{"forged", "metadata", "", 2, "1-0-7"},  {"huge", "any", "", 2, "1-0-8"},
              {"control", "metadata", "", 2, "1-0-8"}, {"control", "update_check", "", 2, "1-0-7"},
              {"500", "update_check", "", 9, "1-0-8"}, {"none", "any", "ahead", 1, "1-0-8"},
              {"none", "any", "long", 1, "1-0-8"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.mode) + " " + r.before);
    ClearLog();
    CClientInfo client;
    UpdateResultRecord record;
    const auto cycle = [&] {  // the monitor loop's steps 6 to 10
      *env_->clock.now += 86400;
      bool due = client.IsTimeToCheckInterval();
      if (client.getUpdateFreq() > 0) due = client.IsTimeToCheckWebfarm();
      if (!due) return;
      const bool first = client.getMetadataVer().empty() || client.IsFirstCallDueAgain();
      const std::string mvUrl =
          first ? client.MakeFirstCall()
                : (client.UpdateCheck(client.GetSetting(kUpdateCheckUrl), record), record.mv_url);
      if (!record.code.empty() || client.IsLastCheckFarAhead()) client.setLastCheck();
      if (!mvUrl.empty() && client.IsNewMetadata(mvUrl)) client.LoadMetadataFromServer(mvUrl);
      if (record.upload_logs) client.UploadLogFiles(client.GetSetting(kUsgLogUrl), LogTypes::Usage);
    };
    ASSERT_TRUE(farm->Reset());
    ASSERT_TRUE(client.LoadMetadataFromServer(farm->url("/Teko/metadata/1-0-7")));
    ASSERT_TRUE(serve("1-0-8", "1.0.11") && farm->SetFault(r.endpoint, r.mode, -1, 200));
    if (std::string(r.before) == "ahead")
      SetService("LastCheck", StrFormat("%x", static_cast<unsigned>(*env_->clock.now + 5 * 365 * 86400)));
    if (std::string(r.before) == "long")
      SetService("UpdateCheckUrl", farm->url("/") + std::string(1100, 'u'));
    for (int day = 0; day < r.days; ++day) cycle();
    for (const auto& url : {Service("UpdateCheckUrl"), Service("PostInstUrl"), Service("UsgLogUrl"),
                            Service("CrashLogUrl"), Service("DefinitionUrl"), Product("NextVersionURL")})
      EXPECT_EQ(0u, url.value_or("").find(farm->base())) << "only the farm's URLs";
    EXPECT_EQ(r.held, *Service("MetadataVer"));
    EXPECT_LE(client.getUpdateFreq(), 744);
    EXPECT_LT(LogText().size(), 2u << 20) << "no flood";
    // A good farm: checks come again within the bounds and it is obeyed.
    ASSERT_TRUE(farm->SetFault(r.endpoint, "none") && serve("1-0-9", "1.0.12"));
    Put(usage, "{\"cid\":\"\",\"uid\":\"\"}");
    int day = 0;
    for (; day < 40 && Exists(usage); ++day) cycle();
    EXPECT_LE(day, 32) << "the log is sent";
    EXPECT_EQ("1-0-9 1.0.12 " + farm->url("/downloads/InkoraSetup-1.0.12.exe"),
              *Service("MetadataVer") + " " + *Product("NextVersion") + " " + *Product("NextVersionURL"));
    EXPECT_EQ(farm->url("/Teko/uc"), *Service("UpdateCheckUrl"));
  }
}

// With the farm's key built in, only what the farm signed is stored or written:
// each refusal leaves every setting and the symbol file as they were, with one
// log line naming its reason, and the next good answer is obeyed.
TEST_F(ClientFarm, OnlyWhatTheFarmSignedIsStoredOrWritten) {
  std::string error;
  const auto farm = CWebFarm::Start(&error);
  if (farm == nullptr) GTEST_SKIP() << error;
  env_->http.real = true;
  const std::string signing = farm->PublicKey("signing"), other = farm->PublicKey("other");
  if (signing.empty()) GTEST_SKIP() << "the web farm does not sign (started without --signing-key)";
  client_testing::ScopedUpdateKeys keys({signing});
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
  // A correctly signed document older than the stored one, or for another
  // version than its URL names, is refused; under two keys the second verifies.
  client_testing::ScopedUpdateKeys rolled({other, signing});
  std::string older = CWebFarm::StandardMetadata();
  older.replace(older.find("1-0-7"), 5, "1-0-6").replace(older.find("\"1.0.10\""), 8, "\"9.9\"");
  ASSERT_TRUE(farm->SetMetadata(older) && farm->SetAnswers("{\"mv_url\":\"@BASE@/Teko/metadata/1-0-6\"}"));
  EXPECT_FALSE(client.LoadMetadataFromServer(farm->url("/Teko/metadata/1-0-6")));
  EXPECT_TRUE(Logged("Refused metadata version \"1-0-6\": not newer than the stored \"1-0-7\"")) << LogText();
  ASSERT_TRUE(farm->SetAnswers("{\"mv_url\":\"@BASE@/Teko/metadata/1-0-8\"}"));
  UpdateResultRecord record;
  client.UpdateCheck(farm->url("/Teko/uc"), record);
  ASSERT_TRUE(client.IsNewMetadata(record.mv_url));
  EXPECT_FALSE(client.LoadMetadataFromServer(record.mv_url));
  EXPECT_TRUE(Logged("mv_ver is not 1.0.8, the version its URL names -- nothing stored")) << LogText();
  EXPECT_EQ(all, stored());
  ASSERT_TRUE(farm->SetMetadata(older.replace(older.find("1-0-6"), 5, "1-0-8")));
  EXPECT_TRUE(client.LoadMetadataFromServer(record.mv_url));
  EXPECT_EQ("1-0-8 9.9", *Service("MetadataVer") + " " + *Product("NextVersion"));
  EXPECT_TRUE(Logged("Signature of " + record.mv_url + " verified with key 2")) << LogText();
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
