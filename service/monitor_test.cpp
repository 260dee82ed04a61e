// The monitor cycle's decisions: which steps run, in which order, from what the
// steps answer; and the sleep rule over several cycles.
#include "service/monitor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "settings/process_state.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

// Every step appends "name argument" to one text; answers come by step name.
class Steps : public CMonitorSteps {
 public:
  std::string calls;
  std::map<std::string, std::string> answers;
  std::deque<bool> online;  // one per cycle; online when empty
  std::optional<UpdateResultRecord> check;

  std::string Note(const std::string& step, const std::string& arg = "") {
    calls += (calls.empty() ? "" : ", ") + step + (arg.empty() ? "" : " " + arg);
    return answers[step + (step == "Setting" || step == "Read" ? arg : "")];
  }
  void Sleep(uint32_t ms) override { Note("Sleep", std::to_string(ms)); }
  std::string ReadTestSetting(const std::string& name) override { return Note("Read", name); }
  void FixUpComputerIDRegKey() override { Note("FixUp"); }
  bool InternetGetConnectedState() override {
    Note("Online?");
    bool on = online.empty() || online.front();
    if (!online.empty()) online.pop_front();
    return on;
  }
  bool IsTimeToCheckInterval() override { return Note("Interval?") == "1"; }
  int getUpdateFreq() override { return std::atoi(Note("Freq?").c_str()); }
  bool IsTimeToCheckWebfarm() override { return Note("Webfarm?") == "1"; }
  std::string getMetadataVer() override { return Note("Mv?"); }
  std::string MakeFirstCall() override { return Note("FirstCall"); }
  void UpdateCheck(const std::string& url, UpdateResultRecord& result) override {
    Note("Check", url);
    if (check) result = *check;
  }
  void setLastCheck() override { Note("SetLastCheck"); }
  bool IsNewMetadata(const std::string& url) override { return Note("IsNew?", url) == "1"; }
  bool LoadMetadataFromServer(const std::string& url) override { return Note("Load", url), true; }
  std::string GetSetting(int row) override { return Note("Setting", std::to_string(row)); }
  int UploadLogFiles(const std::string& url, LogTypes kind) override {
    return Note("Upload" + std::to_string(static_cast<int>(kind)), url), 0;
  }
  void UpdateDefinitionFile() override { Note("Definition"); }
};

UpdateResultRecord Answer(const char* mv, bool usage, bool crash, const char* code = "0") {
  return UpdateResultRecord{mv, usage, crash, code};
}

struct CycleCase {
  const char* label;
  std::map<std::string, std::string> answers;
  UpdateResultRecord before;  // the last good answer
  std::optional<UpdateResultRecord> check;
  bool online;
  std::string calls;  // between the head and the installer upload
};

class MonitorTest : public settings_testing::SettingsFixture {
 protected:
  void TearDown() override {
    dwTimeout = kOnlineTimeoutMs;
    SettingsFixture::TearDown();
  }
};

TEST_F(MonitorTest, ACycleTakesItsStepsFromTheAnswers) {
  const std::string head = "Sleep 60000, Read testpath, Read testsendnow, FixUp, Online?";
  const CycleCase cases[] = {
      {"offline", {{"Interval?", "1"}, {"Readtestsendnow", "1"}}, {}, {}, false, ""},
      {"not due", {}, {}, {}, true, ", Interval?, Freq?"},
      {"frequency overrides the interval",
       {{"Interval?", "1"}, {"Freq?", "24"}},
       {},
       {},
       true,
       ", Interval?, Freq?, Webfarm?"},
      {"first call, new metadata",
       {{"Interval?", "1"}, {"FirstCall", "m"}, {"IsNew?", "1"}},
       {},
       {},
       true,
       ", Interval?, Freq?, Mv?, FirstCall, IsNew? m, Load m, Definition"},
      {"first call failed",
       {{"Interval?", "1"}},
       {},
       {},
       true,
       ", Interval?, Freq?, Mv?, FirstCall, Definition"},
      {"first call after a good answer",
       {{"Interval?", "1"}},
       Answer("", false, false),
       {},
       true,
       ", Interval?, Freq?, Mv?, FirstCall, SetLastCheck, Definition"},
      {"check asks for both log kinds",
       {{"Freq?", "1"}, {"Webfarm?", "1"}, {"Mv?", "1-0-7"}},
       {},
       Answer("m", true, true),
       true,
       ", Interval?, Freq?, Webfarm?, Mv?, Setting 10, Check uc, SetLastCheck, IsNew? m, Setting 15, Upload1 "
       "usg, "
       "Setting 16, Upload2 cr, Definition"},
      {"failed check acts on the last answer",
       {{"Interval?", "1"}, {"Mv?", "1"}},
       Answer("", true, false),
       {},
       true,
       ", Interval?, Freq?, Mv?, Setting 10, Check uc, SetLastCheck, Setting 15, Upload1 usg, Definition"},
      {"empty log urls",
       {{"Interval?", "1"}, {"Mv?", "1"}, {"Setting15", ""}, {"Setting16", ""}},
       {},
       Answer("", true, true, ""),
       true,
       ", Interval?, Freq?, Mv?, Setting 10, Check uc, Setting 15, Setting 16, Definition"},
      {"bulk test",
       {{"Readtestsendnow", "1"}, {"Setting16", ""}},
       {},
       {},
       true,
       ", Interval?, Freq?, Setting 13, Upload0 puc, Setting 16, Setting 15, Upload1 usg"},
      {"bulk test needs exactly 1", {{"Readtestsendnow", "1 "}}, {}, {}, true, ", Interval?, Freq?"},
  };
  for (const CycleCase& c : cases) {
    SCOPED_TRACE(c.label);
    Steps steps;
    steps.answers = {{"Setting10", "uc"}, {"Setting13", "puc"}, {"Setting15", "usg"}, {"Setting16", "cr"}};
    for (const auto& a : c.answers) steps.answers[a.first] = a.second;
    steps.online = {c.online};
    steps.check = c.check;
    UpdateResultRecord result = c.before;
    dwTimeout = kOnlineTimeoutMs;
    RunMonitorCycle(steps, result);
    EXPECT_EQ(head + c.calls + ", Setting 13, Upload0 puc", steps.calls);
    EXPECT_EQ(c.online ? kOnlineTimeoutMs : kOfflineTimeoutMs, dwTimeout);
    EXPECT_EQ(steps.answers["Readtestsendnow"], strTestSendNow);
  }
}

TEST_F(MonitorTest, OneOfflineCycleMakesEveryLaterSleepTenMinutes) {
  Steps steps;
  steps.online = {true, false, true, true};
  steps.answers["Readtestpath"] = "C:\\t";
  UpdateResultRecord result;
  for (int i = 0; i < 4; ++i) RunMonitorCycle(steps, result);
  EXPECT_EQ(2u, CountLogged("Sleeping for timeout period:  60 seconds.   (1 minutes)"));
  EXPECT_EQ(2u, CountLogged("Sleeping for timeout period:  600 seconds.   (10 minutes)"));
  EXPECT_NE(std::string::npos,
            steps.calls.find("Sleep 600000, Read testpath, Read testsendnow, FixUp, Online?, Interval?, "
                             "Freq?, Setting 13, Upload0, Sleep 600000"));
  EXPECT_EQ("C:\\t", strTestPath);
}

TEST_F(MonitorTest, RealStepsReadTestSettingsQuietly) {
  CMonitorSteps real;
  EXPECT_EQ("", real.ReadTestSetting("testpath"));
  SetService("testpath", "C:\\logs");
  EXPECT_EQ("C:\\logs", real.ReadTestSetting("testpath"));
  EXPECT_FALSE(Logged("GetRegValue_String()"));
}

}  // namespace
