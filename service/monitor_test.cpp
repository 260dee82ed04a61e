#include "service/monitor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "settings/process_state.h"
#include "settings/testing/settings_fixture.h"

namespace {

// "m" an mv URL, "u" usage logs, "c" crash logs, "0" a result code.
UpdateResultRecord Record(const std::string& text) {
  auto has = [&](char c) { return text.find(c) != std::string::npos; };
  return UpdateResultRecord{has('m') ? "m" : "", has('u'), has('c'), has('0') ? "0" : ""};
}

// Every step appends "name argument" to one text and answers by step name
// ("Setting" and "Read" by name and argument).
class Steps : public CMonitorSteps {
 public:
  std::string calls;
  std::map<std::string, std::string> answers = {
      {"Setting10", "uc"}, {"Setting13", "puc"}, {"Setting15", "usg"}, {"Setting16", "cr"}};

  std::string Note(const std::string& step, const std::string& arg = "") {
    calls += (calls.empty() ? "" : ", ") + step + (arg.empty() ? "" : " " + arg);
    return answers[step + (step == "Setting" || step == "Read" ? arg : "")];
  }
  void Sleep(uint32_t ms) override { Note("Sleep", std::to_string(ms)); }
  std::string ReadTestSetting(const std::string& name) override { return Note("Read", name); }
  void FixUpComputerIDRegKey() override { Note("FixUp"); }
  bool InternetGetConnectedState() override { return Note("Online?") != "0"; }
  bool IsTimeToCheckInterval() override { return Note("Interval?") == "1"; }
  int getUpdateFreq() override { return std::atoi(Note("Freq?").c_str()); }
  bool IsTimeToCheckWebfarm() override { return Note("Webfarm?") == "1"; }
  std::string getMetadataVer() override { return Note("Mv?"); }
  bool IsFirstCallDueAgain() override { return Note("Again?") == "1"; }
  bool IsLastCheckFarAhead() override { return Note("Ahead?") == "1"; }
  std::string MakeFirstCall() override { return Note("FirstCall"); }
  void UpdateCheck(const std::string& url, UpdateResultRecord& result) override {
    if (answers.count("Check")) result = Record(answers["Check"]);
    Note("Check", url);
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

using MonitorTest = settings_testing::SettingsFixture;

TEST_F(MonitorTest, ACycleTakesItsStepsFromTheAnswers) {
  const struct {
    // "step=answer;...": "Check=" what a check answers.
    std::string answers;
    std::string calls;  // between the head and the installer upload
  } cases[] = {
      {"Online?=0;Interval?=1;Readtestsendnow=1;Readtestpath=C:\\t", ""},
      {"Interval?=1;Freq?=24", ", Interval?, Freq?, Webfarm?"},  // the frequency overrides
      {"Interval?=1;FirstCall=m;IsNew?=1",
       ", Interval?, Freq?, Mv?, FirstCall, Ahead?, IsNew? m, Load m, Definition"},
      {"Freq?=1;Webfarm?=1;Mv?=1-0-7;Check=muc0",
       ", Interval?, Freq?, Webfarm?, Mv?, Again?, Setting 10, Check uc, SetLastCheck, IsNew? m, Setting 15, "
       "Upload1 usg, Setting 16, Upload2 cr, Definition"},
      // A first call again; a LastCheck far ahead rewritten by the check it made due, answered or not.
      {"Interval?=1;Mv?=1-0-7;Again?=1;FirstCall=m;IsNew?=1",
       ", Interval?, Freq?, Mv?, Again?, FirstCall, Ahead?, IsNew? m, Load m, Definition"},
      {"Interval?=1;Mv?=1-0-7;Ahead?=1",
       ", Interval?, Freq?, Mv?, Again?, Setting 10, Check uc, Ahead?, SetLastCheck, Definition"},
      {"Readtestsendnow=1;Setting16=",
       ", Interval?, Freq?, Setting 13, Upload0 puc, Setting 16, Setting 15, Upload1 usg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answers);
    Steps steps;
    std::stringstream split(c.answers);
    for (std::string a; std::getline(split, a, ';');)
      steps.answers[a.substr(0, a.find('='))] = a.substr(a.find('=') + 1);
    UpdateResultRecord result;
    dwTimeout = kOnlineTimeoutMs;
    RunMonitorCycle(steps, result);
    EXPECT_EQ("Sleep 60000, Read testpath, Read testsendnow, FixUp, Online?" + c.calls +
                  ", Setting 13, Upload0 puc",
              steps.calls);
    EXPECT_EQ(steps.answers["Online?"] == "0" ? kOfflineTimeoutMs : kOnlineTimeoutMs, dwTimeout);
    EXPECT_EQ(steps.answers["Readtestsendnow"], strTestSendNow);
    EXPECT_EQ(steps.answers["Readtestpath"], strTestPath);
  }
  dwTimeout = kOnlineTimeoutMs;
}

}  // namespace
