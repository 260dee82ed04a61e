// The command words: what each asks of the service manager and the registry,
// the manager's refusals, and the fixed fields taken from the program path.
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
const std::string kNoService = "OpenSCManager OpenService CloseManager";
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

TEST_F(EntryTest, EachWordActsOnTheManagerAndRegistryAndLogsARefusal) {
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
      {"-u", "OpenService=1060", "", "", kNoService, "UnInstall()-OpenService failed", 0},
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
  // The command word is at most 31 characters; every argument is kept.
  for (size_t n : {31, 32}) {
    Run(std::string(n, 'a') + "|next");
    EXPECT_EQ(n < 32 ? n : 0, strCommand.size());
    EXPECT_EQ((std::vector<std::string>{std::string(n, 'a'), "next"}), aArgs);
  }
  for (std::string failing : {"", "OpenSCManager", "OpenService", "Control", "Start"}) {
    Run("-nl", failing + "=5");  // stop and start report their result
    EXPECT_EQ(failing.empty() || failing == "Start", KillService("InkoraUpdater")) << failing;
    EXPECT_EQ(failing.empty() || failing == "Control", RunService("InkoraUpdater")) << failing;
  }
}

// A path whose fields would be cut is refused whole; so is one with no
// three-letter extension to put ".log" in place of. The service is installed
// under the quoted path, restarted after a crash three times a minute apart.
TEST_F(EntryTest, TheFixedFieldsComeFromTheProgramPath) {
  const struct {
    std::string name;
    size_t length;  // the path grown to this many characters (0: as it is)
    bool set;
  } cases[] = {{"Inkora Updater.exe", 0, true},
               {"InkoraUpdater", 0, false},
               {"InkoraUpdater.ex", 0, false},
               {"InkoraUpdater.exe", 499, true},
               {"InkoraUpdater.exe", 500, false}};
  for (const auto& c : cases) {
    std::string path = Tmp(c.name);
    if (c.length > path.size()) path = Tmp(std::string(c.length - path.size(), 'p') + c.name);
    SCOPED_TRACE(c.name + " " + std::to_string(path.size()));
    env_->modulePath = path;
    Run("-i");  // installs even under the empty path
    EXPECT_EQ("\"" + std::string(c.set ? path : "") + "\"", env_->scm->created.binaryPath);
    EXPECT_EQ(c.set ? path.substr(0, path.size() - 4) + ".log" : "", std::string(szLogPath));
    EXPECT_EQ(c.set ? "1.0.13.0" : "", std::string(szServiceVersion));
  }
  const platform::ServiceConfig& config = env_->scm->created;
  const platform::FailureActions& actions = env_->scm->failureActions;
  EXPECT_EQ("Inkora Updater", config.displayName);
  EXPECT_EQ(platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess, config.serviceType);
  EXPECT_EQ(86400u, actions.resetPeriodSeconds);
  EXPECT_EQ((std::vector<uint32_t>{60000, 60000, 60000}), actions.restartDelaysMs);
  EXPECT_TRUE(actions.thenStayStopped);
  EXPECT_FALSE(env_->scm->description.empty());
}

TEST_F(EntryTest, TheVersionTextFollowsTheFirstTranslation) {
  const std::string kEnUs("\x09\x04\xB0\x04", 4), nines(31, '9');
  const struct {
    bool loads, fixed;
    std::string table;
    uint16_t langId;
    std::string subBlock, text, version, stored;
  } cases[] = {
      {true, true, std::string("\x07\x04\xE4\x04", 4), 0x0409, "040704E4", "2,1", "2.1", "2.1"},
      {true, true, "", 0x0407, "040704B0", "3, 2", "3. 2", "3.2"},
      {true, true, kEnUs + kEnUs, 0x0C0A, "0C0A04B0", "4", "4", "4"},
      {true, true, kEnUs, 0x0409, "", "", "", ""},
      {false, true, kEnUs, 0x0409, "040904B0", "1", "", ""},
      {true, false, kEnUs, 0x0409, "040904B0", "1, 0", "", ""},
      {true, true, kEnUs, 0x0409, "040904B0", nines + "9", nines + "9", ""},
      {true, true, kEnUs, 0x0409, "040904B0", nines + "  ", nines + "  ", nines},
  };
  env_->system.emplace();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.subBlock + " " + c.text);
    env_->versionLoads = c.loads;
    env_->version->fixed = c.fixed;
    env_->version->hasTranslation = !c.table.empty();
    env_->version->translation = c.table;
    env_->version->strings = {{"\\StringFileInfo\\" + c.subBlock + "\\FileVersion", c.text}};
    env_->system->langId = c.langId;
    Run("-nl");
    EXPECT_EQ(c.stored, std::string(szServiceVersion));
    std::string version;
    EXPECT_EQ(c.loads && c.fixed, GetFileVersion(version));
    EXPECT_EQ(c.version, version);
  }
}

}  // namespace
