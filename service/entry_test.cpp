#include "service/entry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "service/service_main.h"
#include "settings/testing/settings_fixture.h"

namespace {

int g_runs = 0;

const std::string kInstall =
    "OpenSCManager+ CreateService SetDescription SetFailureActions CloseService CloseManager";
std::string On(const std::string& call) {
  return "OpenSCManager OpenService " + call + " CloseService CloseManager";
}

class EntryTest : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    pfnRunAsService = [] { ++g_runs; };
    env_->modulePath = Tmp("InkoraUpdater.exe");
    env_->version.emplace();
    env_->version->strings["\\StringFileInfo\\040904B0\\FileVersion"] = "1, 0, 13, 0";
  }
  void TearDown() override {
    pfnRunAsService = ExecuteSubProcess;
    SettingsFixture::TearDown();
  }
  // The command line "word|argument" over a fresh manager that refuses "Call=code".
  void Run(const std::string& line, const std::string& failing = "") {
    g_runs = 0;
    env_->scm.emplace();
    if (!failing.empty()) env_->scm->failures[Split(failing, '=')[0]] = std::stoi(Split(failing, '=')[1]);
    std::vector<std::string> words = Split("InkoraUpdater.exe|" + line, '|');
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(&w[0]);
    CollectArguments(static_cast<int>(argv.size()), argv.data());
    ServiceMainProc();
  }
  static std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::stringstream split(text);
    for (std::string part; std::getline(split, part, at);) parts.push_back(part);
    return parts;
  }
  // "OpenSCManager+" when opened to create only.
  std::string Calls() {
    std::string text;
    for (const std::string& call : env_->scm->calls) {
      text += (text.empty() ? "" : " ") + call.substr(0, call.find(' '));
      if (call == "OpenSCManager " + std::to_string(platform::kScManagerCreateService)) text += "+";
    }
    return text;
  }
  // "name=text;name" in the service key: written, or checked present with that text or absent.
  void Values(const std::string& list, bool write) {
    for (const std::string& item : Split(list, ';')) {
      size_t eq = item.find('=');
      std::optional<std::string> text;
      if (eq != std::string::npos) text = item.substr(eq + 1);
      if (write) SetService(item.substr(0, eq), *text);
      EXPECT_EQ(text, Service(item.substr(0, eq))) << item;
    }
  }
};

TEST_F(EntryTest, EachWordActsOnTheManagerAndRegistryAndLogsARefusalUnderThePathsFixedFields) {
  const struct {
    std::string line, failing, before, after, scm, logged;
    int runs;
  } cases[] = {
      {"-i", "", "", "", kInstall, "Install()-Service InkoraUpdater installed", 0},
      {"-U", "", "", "", On("Delete"), "UnInstall()-Service InkoraUpdater removed", 0},
      {"-l", "", "testpath=C:\\old", "testsendnow=1;testpath=", "", "", 0},
      {"-L|C:\\logs here", "", "", "testsendnow=1;testpath=C:\\logs here", "", "", 0},
      {"-nl", "", "testpath=C:\\x;testsendnow=1", "testpath;testsendnow", "", "", 0},
      {"-t1", "", "MetadataVer=1-0-7;LastCheck=3b", "UseStaging=1;MetadataVer=;LastCheck=", "", "", 1},
      {"-T2", "", "MetadataVer=1-0-7", "UseStaging=2;MetadataVer=;LastCheck=", "", "", 1},
      {"-r", "", "", "", kInstall + " " + On("Start"), "installed", 0},
      {"-ix", "", "", "", "", "", 1},
      {"-i", "OpenSCManager=5", "", "", "OpenSCManager+", "OpenSCManager failed, error code = 5", 0},
      {"-i", "CreateService=1073", "", "", "OpenSCManager+ CreateService CloseManager", "code = 1073", 0},
      {"-i", "SetDescription=5", "", "", kInstall, "ChangeServiceConfig2 failed", 0},
      {"-i", "SetFailureActions=1072", "", "", kInstall, "failure actions failed, error code = 1072", 0},
      {"-u", "OpenSCManager=1063", "", "", "OpenSCManager", "OpenSCManager failed, error code = 1063", 0},
      {"-u", "OpenService=1060", "", "", "OpenSCManager OpenService CloseManager",
       "UnInstall()-OpenService failed", 0},
      {"-u", "Delete=1072", "", "", On("Delete"), "Failed to delete service InkoraUpdater", 0},
      {"-k", "Control=1062", "", "", On("Control"), "ControlService failed, error code = 1062", 0},
      {"-s", "Start=1056", "", "", On("Start"), "StartService failed, error code = 1056", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + " " + c.failing);
    CleanRegistry();
    SetServiceDword("debug", 1);
    ClearLog();
    env_->sleeps.clear();
    Values(c.before, true);
    Run(c.line, c.failing);
    EXPECT_EQ(c.runs, g_runs);
    EXPECT_EQ(c.scm, Calls());
    EXPECT_EQ(c.line == "-r" ? std::vector<uint32_t>{1000} : std::vector<uint32_t>{}, env_->sleeps);
    Values(c.after, false);
    EXPECT_TRUE(Logged(c.logged)) << LogLines();
    EXPECT_EQ(c.scm.find("SetFailureActions") != std::string::npos, Logged("installed"));
    EXPECT_EQ(c.scm == On("Delete") && c.failing.empty(), Logged("removed"));
  }
  // A path with a space is installed quoted, the log beside it, the version compacted.
  env_->modulePath = Tmp("Inkora Updater.exe");
  Run("-i");
  EXPECT_EQ("\"" + Tmp("Inkora Updater.exe") + "\"", env_->scm->created.binaryPath);
  EXPECT_EQ(Tmp("Inkora Updater.log"), std::string(szLogPath));
  EXPECT_EQ("1.0.13.0", std::string(szServiceVersion));
}

}  // namespace
