#include "service/monitor.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "client/numbers.h"
#include "client/testing/farm_script.h"
#include "settings/process_state.h"
#include "settings/testing/settings_fixture.h"

namespace {

using client_testing::Answer;
using platform_testing::Reply;
using MonitorTest = settings_testing::SettingsFixture;

// Sunday 2001-09-09 01:46:40 in the fake clock's zone (UTC), a minute before the cycle wakes.
constexpr int64_t kNow = 1000000000;

// Each row: settings (";"-separated name=value; "ago" and "ahead" in hours from
// now give LastCheck, "good" LastGoodCheck), whether the machine is online, the
// update check's answer, and the cycle's requests in order: "first" (the first
// call), "POST /path" (its status probe left out), the path of a GET, and
// "LastCheck" when the check time was stored.
TEST_F(MonitorTest, ACycleTakesItsStepsFromTheScheduleAndTheAnswers) {
  const struct {
    std::string settings;
    bool online;
    std::string check, requests;
  } rows[] = {
      {"testsendnow=1;testpath=C:\\t", false, "", ""},
      // The weekly minute is due, the frequency (which overrides it) is not.
      {"IntervalDay=1;IntervalTime=107;UpdateFreq=24;ago=1", true, "", "POST /puc"},
      {"", true, "", "first, meta/1-0-8, df, POST /puc, LastCheck"},  // the metadata stores it
      {"UpdateFreq=1;ago=2;MetadataVer=1-0-7;good=1", true,
       R"({"mv_url":"http://f/meta/1-0-8","upload_logs":"true","crash_logs":"true","code":"0"})",
       "POST /uc, meta/1-0-8, POST /usg, POST /cr, df, POST /puc, LastCheck"},
      // Checks unanswered for over a week lead back to a first call.
      {"ago=200;MetadataVer=1-0-7;good=200", true, "", "first, meta/1-0-8, df, POST /puc, LastCheck"},
      // A LastCheck far ahead makes a check due and is rewritten by it, answered or not.
      {"ahead=1000;MetadataVer=1-0-7;good=1", true, "<none>", "POST /uc, df, POST /puc, LastCheck"},
      {"testsendnow=1;CrashLogUrl=;ago=1", true, "", "POST /puc, POST /usg"},
  };
  const std::string urls =
      "UpdateCheckUrl=http://f/uc;UsgLogUrl=http://f/usg;CrashLogUrl=http://f/cr;PostInstUrl=http://f/puc;"
      "DefinitionUrl=http://f/df;";
  const auto& calls = env_->http.calls;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.settings);
    CleanRegistry();
    std::stringstream settings(urls + r.settings);
    for (std::string item; std::getline(settings, item, ';');) {
      const std::string name = item.substr(0, item.find('=')), value = item.substr(name.size() + 1);
      if (name.rfind("Interval", 0) == 0) {
        SetServiceDword(name, static_cast<uint32_t>(std::stoul(value)));
      } else if (name == "ago" || name == "ahead" || name == "good") {
        const int64_t hours = std::stoll(value) * 3600;
        SetService(name == "good" ? "LastGoodCheck" : "LastCheck",
                   client_numbers::LastCheckText(kNow + (name == "ahead" ? hours : -hours)));
      } else {
        SetService(name, value);
      }
    }
    for (const char* name : {"session1.jlog", "crash1.err", "InkoraInstall_1.log"})
      Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Customer Improvement\\togo\\") +
              name,
          R"({"cid":"c","uid":"u"})");
    ClientInfo = CClientInfo();
    env_->clock.now = kNow;
    env_->clock.sleeps.clear();
    env_->http.connected = r.online;
    env_->http.calls.clear();
    env_->http.probes = true;
    env_->http.responder = [&](const platform_testing::HttpCall& call) {
      if (call.verb == "POST") return Answer(call.path == "/uc" ? r.check : R"({"code":"0"})");
      if (call.url.find("UC.hsh") != std::string::npos)
        return Answer(R"({"code":"0","mv_url":"http://f/meta/1-0-8"})");
      if (call.url == "http://f/meta/1-0-8")
        return Answer(R"({"mv_ver":"1-0-8","uc_url":"http://f/uc","log_url":"http://f/usg",)"
                      R"("cr_url":"http://f/cr","puc_url":"http://f/puc","df_url":"http://f/df"})");
      return call.url == "http://f/df" ? Reply::Body("<symbols version=\"2.0\"/>") : Reply::Refused();
    };
    UpdateResultRecord result;
    dwTimeout = kOnlineTimeoutMs;
    RunMonitorCycle(result);
    std::string requests;
    for (size_t i = 0; i < calls.size(); ++i) {
      if (i > 0 && calls[i - 1].verb == "POST") continue;
      requests += (i > 0 ? ", " : "") + (calls[i].url.find("UC.hsh") != std::string::npos ? "first"
                                         : calls[i].verb == "POST" ? "POST " + calls[i].path
                                                                   : calls[i].url.substr(9));
    }
    if (Service("LastCheck") == client_numbers::LastCheckText(*env_->clock.now)) requests += ", LastCheck";
    EXPECT_EQ(r.requests, requests);
    EXPECT_EQ(std::vector<uint32_t>{kOnlineTimeoutMs}, env_->clock.sleeps);
    EXPECT_EQ(r.online ? kOnlineTimeoutMs : kOfflineTimeoutMs, dwTimeout);
    EXPECT_EQ(r.settings.find("testsendnow=1") != std::string::npos ? "1" : "", strTestSendNow);
    EXPECT_EQ(r.settings.find("C:\\t") != std::string::npos ? "C:\\t" : "", strTestPath);
  }
  dwTimeout = kOnlineTimeoutMs;
}

}  // namespace
