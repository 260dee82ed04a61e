#include "service/entry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "settings/testing/settings_fixture.h"

namespace {

using platform::Status;
using S = platform_testing::FakeServices;

const std::string kInstall =
    "OpenManager+ CreateService SetDescription SetFailureActions CloseService CloseManager";
std::string On(const std::string& call) {
  return "OpenManager OpenService " + call + " CloseService CloseManager";
}

class EntryTest : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    env_->files.modulePath = Tmp("InkoraUpdater.exe");
    env_->files.fileVersion = "1, 0, 13, 0";
  }
  // The command line "word|argument" over a fresh manager whose call failing fails with code. The
  // service runs no further than its instance lock, held elsewhere: no monitor thread starts here.
  void Run(const std::string& line, Status S::*failing = nullptr, Status code = platform::kSuccess) {
    env_->services = S();
    env_->services.lockError = platform::kErrorAlreadyExists;
    if (failing != nullptr) env_->services.*failing = code;
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
  // "OpenManager+" when opened to create only.
  std::string Calls() {
    std::string text;
    for (const std::string& call : env_->services.calls) {
      text += (text.empty() ? "" : " ") + call.substr(0, call.find(' '));
      if (call == "OpenManager " + std::to_string(platform::kScManagerCreateService)) text += "+";
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
  const std::string run = "AcquireInstanceLock", ran = "Another instance of the service is running";
  const struct {
    std::string line;
    Status S::*failing;
    Status code;
    std::string before, after, scm, logged;
  } cases[] = {
      {"-i", nullptr, 0, "", "", kInstall, "Install()-Service InkoraUpdater installed"},
      {"-U", nullptr, 0, "", "", On("Delete"), "UnInstall()-Service InkoraUpdater removed"},
      {"-l", nullptr, 0, "testpath=C:\\old", "testsendnow=1;testpath=", "", ""},
      {"-L|C:\\logs here", nullptr, 0, "", "testsendnow=1;testpath=C:\\logs here", "", ""},
      {"-nl", nullptr, 0, "testpath=C:\\x;testsendnow=1", "testpath;testsendnow", "", ""},
      {"-t1", nullptr, 0, "MetadataVer=1-0-7;LastCheck=3b", "UseStaging=1;MetadataVer=;LastCheck=", run, ran},
      {"-T2", nullptr, 0, "MetadataVer=1-0-7", "UseStaging=2;MetadataVer=;LastCheck=", run, ran},
      {"-r", nullptr, 0, "", "", kInstall + " " + On("Start"), "installed"},
      {"-ix", nullptr, 0, "", "", run, ran},
      {"-i", &S::openManagerError, 5, "", "", "OpenManager+", "OpenSCManager failed, error code = 5"},
      {"-i", &S::createError, 1073, "", "", "OpenManager+ CreateService CloseManager", "code = 1073"},
      {"-i", &S::descriptionError, 5, "", "", kInstall, "ChangeServiceConfig2 failed"},
      {"-i", &S::failureActionsError, 1072, "", "", kInstall, "failure actions failed, error code = 1072"},
      {"-u", &S::openManagerError, 1063, "", "", "OpenManager", "OpenSCManager failed, error code = 1063"},
      {"-u", &S::openServiceError, 1060, "", "", "OpenManager OpenService CloseManager",
       "UnInstall()-OpenService failed"},
      {"-u", &S::deleteError, 1072, "", "", On("Delete"), "Failed to delete service InkoraUpdater"},
      {"-k", &S::controlError, 1062, "", "", On("Control"), "ControlService failed, error code = 1062"},
      {"-s", &S::startError, 1056, "", "", On("Start"), "StartService failed, error code = 1056"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + " " + std::to_string(c.code));
    CleanRegistry();
    SetServiceDword("debug", 1);
    ClearLog();
    env_->clock.sleeps.clear();
    Values(c.before, true);
    Run(c.line, c.failing, c.code);
    EXPECT_EQ(c.scm, Calls());
    EXPECT_EQ(c.line == "-r" ? std::vector<uint32_t>{1000} : std::vector<uint32_t>{}, env_->clock.sleeps);
    Values(c.after, false);
    EXPECT_TRUE(Logged(c.logged)) << LogLines();
    EXPECT_EQ(c.scm.find("SetFailureActions") != std::string::npos, Logged("installed"));
    EXPECT_EQ(c.scm == On("Delete") && c.failing == nullptr, Logged("removed"));
  }
  env_->files.fileVersion = std::string(32, '1');  // no room in sv_ver: not used
  Run("-i");
  EXPECT_TRUE(Logged("version text too long (32 characters), not used") && !*szServiceVersion) << LogLines();
  // A path with a space is installed quoted, the log beside it, the version compacted.
  env_->files.fileVersion = "1, 0, 13, 0";
  env_->files.modulePath = Tmp("Inkora Updater.exe");
  Run("-i");
  EXPECT_EQ("\"" + Tmp("Inkora Updater.exe") + "\"", env_->services.created.binaryPath);
  EXPECT_EQ("Inkora Updater", env_->services.created.displayName);
  EXPECT_EQ(Tmp("Inkora Updater.log"), std::string(szLogPath));
  EXPECT_EQ("1.0.13.0", std::string(szServiceVersion));
  env_->files.translation = "";  // none: the user's language, code page 04B0
  Run("-i");
  EXPECT_EQ("1.0.13.0", std::string(szServiceVersion));
  env_->files.modulePath = Tmp("InkoraUpdater");  // no extension: no log path and no version
  Run("-i");
  EXPECT_EQ("", std::string(szLogPath) + szServiceVersion);
}

}  // namespace
