// The monitor loop's step order, conditions and sleep rule, over recorded steps.
#include "service/monitor.h"

#include <gtest/gtest.h>

#include <ostream>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "settings/process_state.h"
#include "settings/registry.h"
#include "service/service_test_env.h"

namespace {

using service_testing::ServiceFixture;

const char* KindName(LogTypes kind) {
  switch (kind) {
    case LogTypes::Installer:
      return "Installer";
    case LogTypes::Usage:
      return "Usage";
    case LogTypes::Inkora_Crash:
      return "Crash";
  }
  return "?";
}

// Every step appends a short text; answers come from the fields.
class RecordingSteps : public CMonitorSteps {
 public:
  std::vector<std::string> calls;
  std::map<std::string, std::string> testSettings;
  std::deque<bool> connected;  // one per cycle; true when empty
  bool intervalDue = false;
  int updateFreq = 0;
  bool webfarmDue = false;
  std::string metadataVer;
  std::string firstCallUrl;
  bool checkAnswers = false;  // the update check gets an answer and fills the record
  UpdateResultRecord answer;
  bool newMetadata = false;
  std::map<int, std::string> settings;

  void Sleep(uint32_t ms) override { calls.push_back("Sleep " + std::to_string(ms)); }
  std::string ReadTestSetting(const std::string& name) override {
    calls.push_back("Read " + name);
    return testSettings[name];
  }
  void FixUpComputerIDRegKey() override { calls.push_back("FixUp"); }
  bool InternetGetConnectedState() override {
    calls.push_back("Connected?");
    if (connected.empty()) return true;
    bool c = connected.front();
    connected.pop_front();
    return c;
  }
  bool IsTimeToCheckInterval() override {
    calls.push_back("Interval?");
    return intervalDue;
  }
  int getUpdateFreq() override {
    calls.push_back("Freq?");
    return updateFreq;
  }
  bool IsTimeToCheckWebfarm() override {
    calls.push_back("Webfarm?");
    return webfarmDue;
  }
  std::string getMetadataVer() override {
    calls.push_back("MetadataVer?");
    return metadataVer;
  }
  std::string MakeFirstCall() override {
    calls.push_back("FirstCall");
    return firstCallUrl;
  }
  void UpdateCheck(const std::string& url, UpdateResultRecord& result) override {
    calls.push_back("UpdateCheck " + url);
    if (checkAnswers) result = answer;
  }
  void setLastCheck() override { calls.push_back("SetLastCheck"); }
  bool IsNewMetadata(const std::string& url) override {
    calls.push_back("IsNew " + url);
    return newMetadata;
  }
  bool LoadMetadataFromServer(const std::string& url) override {
    calls.push_back("Load " + url);
    return true;
  }
  std::string GetSetting(int row) override {
    calls.push_back("Setting " + std::to_string(row));
    return settings[row];
  }
  int UploadLogFiles(const std::string& url, LogTypes kind) override {
    calls.push_back(std::string("Upload ") + KindName(kind) + " " + url);
    return 0;
  }
  void UpdateDefinitionFile() override { calls.push_back("Definition"); }
};

const std::vector<std::string> kHead = {"Sleep 60000", "Read testpath", "Read testsendnow", "FixUp",
                                        "Connected?"};
const std::vector<std::string> kInstallerTail = {"Setting 13", "Upload Installer http://f/puc"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class MonitorTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    UseLogFile();
    dwTimeout = kOnlineTimeoutMs;
    result_ = UpdateResultRecord();
    steps_.settings = {{kUpdateCheckUrl, "http://f/uc"},
                       {kPostInstUrl, "http://f/puc"},
                       {kUsgLogUrl, "http://f/usg"},
                       {kCrashLogUrl, "http://f/cr"}};
  }
  void TearDown() override {
    dwTimeout = kOnlineTimeoutMs;
    ServiceFixture::TearDown();
  }
  void Cycle() { RunMonitorCycle(steps_, result_); }

  RecordingSteps steps_;
  UpdateResultRecord result_;
};

// One cycle from a given state: the calls in order.
struct CycleCase {
  const char* label;
  void (*arrange)(RecordingSteps&, UpdateResultRecord&);
  std::vector<std::string> calls;
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const CycleCase& c, std::ostream* os) {
  *os << c.label;
}

UpdateResultRecord Answer(const char* mv, bool usage, bool crash, const char* code = "0") {
  UpdateResultRecord r;
  r.mv_url = mv;
  r.upload_logs = usage;
  r.crash_logs = crash;
  r.code = code;
  return r;
}

const std::vector<CycleCase> kCycleCases = {
    {"offline_repairs_identity_and_uploads_installer_logs_only",
     [](RecordingSteps& s, UpdateResultRecord&) { s.connected = {false}; }, Join({kHead, kInstallerTail})},
    {"online_not_due", [](RecordingSteps&, UpdateResultRecord&) {},
     Join({kHead, {"Interval?", "Freq?"}, kInstallerTail})},
    {"frequency_overrides_a_due_interval",
     [](RecordingSteps& s, UpdateResultRecord&) {
       s.intervalDue = true;
       s.updateFreq = 24;
     },
     Join({kHead, {"Interval?", "Freq?", "Webfarm?"}, kInstallerTail})},
    {"first_call_then_metadata_load",
     [](RecordingSteps& s, UpdateResultRecord&) {
       s.intervalDue = true;
       s.firstCallUrl = "http://f/Teko/metadata/1-0-7";
       s.newMetadata = true;
     },
     Join({kHead,
           {"Interval?", "Freq?", "MetadataVer?", "FirstCall", "IsNew http://f/Teko/metadata/1-0-7",
            "Load http://f/Teko/metadata/1-0-7", "Definition"},
           kInstallerTail})},
    {"failed_first_call_skips_the_metadata_step",
     [](RecordingSteps& s, UpdateResultRecord&) { s.intervalDue = true; },
     Join({kHead, {"Interval?", "Freq?", "MetadataVer?", "FirstCall", "Definition"}, kInstallerTail})},
    {"update_check_asking_for_both_log_kinds",
     [](RecordingSteps& s, UpdateResultRecord&) {
       s.updateFreq = 24;
       s.webfarmDue = true;
       s.metadataVer = "1-0-7";
       s.checkAnswers = true;
       s.answer = Answer("http://f/Teko/metadata/1-0-7", true, true);
     },
     Join({kHead,
           {"Interval?", "Freq?", "Webfarm?", "MetadataVer?", "Setting 10", "UpdateCheck http://f/uc",
            "SetLastCheck", "IsNew http://f/Teko/metadata/1-0-7", "Setting 15", "Upload Usage http://f/usg",
            "Setting 16", "Upload Crash http://f/cr", "Definition"},
           kInstallerTail})},
    {"failed_check_acts_on_the_last_good_answer_again",
     [](RecordingSteps& s, UpdateResultRecord& r) {
       s.intervalDue = true;
       s.metadataVer = "1-0-7";
       r = Answer("", true, false, "0");
     },
     Join({kHead,
           {"Interval?", "Freq?", "MetadataVer?", "Setting 10", "UpdateCheck http://f/uc", "SetLastCheck",
            "Setting 15", "Upload Usage http://f/usg", "Definition"},
           kInstallerTail})},
    {"first_call_looks_at_an_earlier_answers_code",
     [](RecordingSteps& s, UpdateResultRecord& r) {
       s.intervalDue = true;
       r = Answer("", false, false, "0");
     },
     Join({kHead,
           {"Interval?", "Freq?", "MetadataVer?", "FirstCall", "SetLastCheck", "Definition"},
           kInstallerTail})},
    {"empty_log_urls_skip_the_uploads",
     [](RecordingSteps& s, UpdateResultRecord&) {
       s.intervalDue = true;
       s.metadataVer = "1";
       s.checkAnswers = true;
       s.answer = Answer("", true, true);
       s.settings[kUsgLogUrl] = "";
       s.settings[kCrashLogUrl] = "";
     },
     Join({kHead,
           {"Interval?", "Freq?", "MetadataVer?", "Setting 10", "UpdateCheck http://f/uc", "SetLastCheck",
            "Setting 15", "Setting 16", "Definition"},
           kInstallerTail})},
    {"bulk_test_upload_in_order_then_installer_again",
     [](RecordingSteps& s, UpdateResultRecord&) { s.testSettings["testsendnow"] = "1"; },
     Join({kHead,
           {"Interval?", "Freq?", "Setting 13", "Upload Installer http://f/puc", "Setting 16",
            "Upload Crash http://f/cr", "Setting 15", "Upload Usage http://f/usg"},
           kInstallerTail})},
    {"bulk_test_skips_an_empty_url",
     [](RecordingSteps& s, UpdateResultRecord&) {
       s.testSettings["testsendnow"] = "1";
       s.settings[kCrashLogUrl] = "";
     },
     Join({kHead,
           {"Interval?", "Freq?", "Setting 13", "Upload Installer http://f/puc", "Setting 16", "Setting 15",
            "Upload Usage http://f/usg"},
           kInstallerTail})},
    {"bulk_test_needs_exactly_1",
     [](RecordingSteps& s, UpdateResultRecord&) { s.testSettings["testsendnow"] = "1 "; },
     Join({kHead, {"Interval?", "Freq?"}, kInstallerTail})},
    {"bulk_test_is_off_while_offline",
     [](RecordingSteps& s, UpdateResultRecord&) {
       s.testSettings["testsendnow"] = "1";
       s.connected = {false};
     },
     Join({kHead, kInstallerTail})},
    {"installer_upload_runs_with_an_empty_url",
     [](RecordingSteps& s, UpdateResultRecord&) { s.settings[kPostInstUrl] = ""; },
     Join({kHead, {"Interval?", "Freq?", "Setting 13", "Upload Installer "}})},
};

class CycleTest : public MonitorTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(CycleTest, CallsTheStepsInOrder) {
  GetParam().arrange(steps_, result_);
  Cycle();
  EXPECT_EQ(GetParam().calls, steps_.calls);
}

INSTANTIATE_TEST_SUITE_P(Cycles, CycleTest, ::testing::ValuesIn(kCycleCases),
                         [](const ::testing::TestParamInfo<CycleCase>& info) {
                           return std::string(info.param.label);
                         });

TEST_F(MonitorTest, OneOfflineCycleMakesEveryLaterSleepTenMinutes) {
  steps_.connected = {true, false, true, true};
  std::vector<std::string> sleeps;
  for (int i = 0; i < 4; ++i) {
    steps_.calls.clear();
    Cycle();
    sleeps.push_back(steps_.calls.front());
  }
  EXPECT_EQ((std::vector<std::string>{"Sleep 60000", "Sleep 60000", "Sleep 600000", "Sleep 600000"}), sleeps);
  std::vector<std::string> logged;
  for (const auto& e : Log()) logged.push_back(e.function + "-" + e.message);
  const std::string minute = "ProcMonitorThread()-Sleeping for timeout period:  60 seconds.   (1 minutes)";
  const std::string tenMinutes =
      "ProcMonitorThread()-Sleeping for timeout period:  600 seconds.   (10 minutes)";
  EXPECT_EQ(
      (std::vector<std::string>{"-", minute, "-", minute,
                                "ProcMonitorThread()-No internet connection.  Extend the sleep timer length.",
                                "-", tenMinutes, "-", tenMinutes}),
      logged);
}

TEST_F(MonitorTest, TestSettingsAreCopiedEveryCycle) {
  steps_.testSettings["testpath"] = "C:\\t";
  steps_.testSettings["testsendnow"] = "0";
  Cycle();
  EXPECT_EQ("C:\\t", strTestPath);
  EXPECT_EQ("0", strTestSendNow);
  steps_.testSettings["testpath"] = "";
  steps_.testSettings["testsendnow"] = "1";
  Cycle();
  EXPECT_EQ("", strTestPath);
  EXPECT_EQ("1", strTestSendNow);
}

TEST_F(MonitorTest, LogLinesOfAnOnlineCycle) {
  steps_.intervalDue = true;
  steps_.metadataVer = "1";
  steps_.checkAnswers = true;
  steps_.answer = Answer("", true, true);
  steps_.settings[kCrashLogUrl] = "";
  Cycle();
  EXPECT_EQ((std::vector<std::string>{"Sleeping for timeout period:  60 seconds.   (1 minutes)",
                                      "strUsageUrl: http://f/usg", "strUsageUrl: "}),
            Messages("ProcMonitorThread()"));
}

TEST_F(MonitorTest, FirstCallIsAnnounced) {
  steps_.intervalDue = true;
  steps_.testSettings["testsendnow"] = "1";
  Cycle();
  EXPECT_EQ((std::vector<std::string>{"Sleeping for timeout period:  60 seconds.   (1 minutes)",
                                      "getMetadataVer returned blank.  Need to make first call...",
                                      "Found TestSendNow -- do bulk testing..."}),
            Messages("ProcMonitorThread()"));
}

TEST_F(MonitorTest, RealStepsReadTestSettingsWithoutCreatingLogLines) {
  CMonitorSteps real;
  EXPECT_EQ("", real.ReadTestSetting("testpath"));
  ASSERT_TRUE(SetRegValue_String(kServiceKey, "testpath", "C:\\logs"));
  EXPECT_EQ("C:\\logs", real.ReadTestSetting("testpath"));
  EXPECT_TRUE(Messages("GetRegValue_String()").empty());
}

}  // namespace
