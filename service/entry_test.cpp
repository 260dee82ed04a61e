// The command words: their effect on the registry and the service manager, and
// the exact log lines; the fixed fields filled from the program path.
#include "service/entry.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "service/service_main.h"
#include "service/service_test_env.h"

namespace {

using service_testing::ServiceFixture;

int g_serviceRuns = 0;
void RecordServiceRun() {
  ++g_serviceRuns;
}

class EntryTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    g_serviceRuns = 0;
    pfnRunAsService = RecordServiceRun;
  }
  void TearDown() override {
    pfnRunAsService = ExecuteSubProcess;
    ServiceFixture::TearDown();
  }

  void Run(const std::vector<std::string>& words) {
    std::vector<std::string> storage = {"InkoraUpdater.exe"};
    storage.insert(storage.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(&s[0]);
    CollectArguments(static_cast<int>(argv.size()), argv.data());
    ServiceMainProc();
  }
};

// A registry value expected after a command word: absent, or present with text.
struct Value {
  const char* name;
  bool present;
  const char* text;
};

struct CommandCase {
  const char* label;
  std::vector<std::string> words;
  std::vector<Value> before;  // REG_SZ values written first (present ones)
  std::vector<Value> after;
  std::vector<std::string> scmCalls;
  std::vector<std::string> messages;  // what the command logs, beyond the version line
  bool runsService;
  std::vector<uint32_t> sleeps;
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const CommandCase& c, std::ostream* os) {
  *os << c.label;
}

const std::string kManagerAll = "OpenSCManager " + std::to_string(platform::kScManagerAllAccess);
const std::string kOpenAll = "OpenService InkoraUpdater " + std::to_string(platform::kServiceAllAccess);
const std::string kManagerCreate = "OpenSCManager " + std::to_string(platform::kScManagerCreateService);
const std::vector<std::string> kInstallCalls = {kManagerCreate,   "CreateService InkoraUpdater",
                                                "SetDescription", "SetFailureActions",
                                                "CloseService",   "CloseManager"};

const std::vector<CommandCase> kCommandCases = {
    {"install",
     {"-i"},
     {},
     {},
     kInstallCalls,
     {"Install()-ChangeServiceConfig2 succeeded\n", "Install()-Service InkoraUpdater installed\n"},
     false,
     {}},
    {"install in capitals",
     {"-I"},
     {},
     {},
     kInstallCalls,
     {"Install()-ChangeServiceConfig2 succeeded\n", "Install()-Service InkoraUpdater installed\n"},
     false,
     {}},
    {"stop",
     {"-k"},
     {},
     {},
     {kManagerAll, kOpenAll, "Control 1", "CloseService", "CloseManager"},
     {},
     false,
     {}},
    {"remove",
     {"-U"},
     {},
     {},
     {kManagerAll, kOpenAll, "Delete", "CloseService", "CloseManager"},
     {"UnInstall()-Service InkoraUpdater removed\n"},
     false,
     {}},
    {"start",
     {"-s"},
     {},
     {},
     {kManagerAll, kOpenAll, "Start", "CloseService", "CloseManager"},
     {},
     false,
     {}},
    {"bulk test without folder",
     {"-l"},
     {{"testpath", true, "C:\\old"}},
     {{"testsendnow", true, "1"}, {"testpath", true, ""}},
     {},
     {},
     false,
     {}},
    {"bulk test with empty folder",
     {"-L", ""},
     {},
     {{"testsendnow", true, "1"}, {"testpath", true, ""}},
     {},
     {},
     false,
     {}},
    {"bulk test with folder",
     {"-l", "C:\\logs here"},
     {},
     {{"testsendnow", true, "1"}, {"testpath", true, "C:\\logs here"}},
     {},
     {},
     false,
     {}},
    {"bulk test off",
     {"-nl"},
     {{"testpath", true, "C:\\x"}, {"testsendnow", true, "1"}},
     {{"testpath", false, ""}, {"testsendnow", false, ""}},
     {},
     {},
     false,
     {}},
    {"bulk test off when nothing set",
     {"-NL"},
     {},
     {{"testpath", false, ""}, {"testsendnow", false, ""}},
     {},
     {},
     false,
     {}},
    {"staging farm",
     {"-t1"},
     {{"MetadataVer", true, "1-0-7"}, {"LastCheck", true, "3b9aca00"}},
     {{"UseStaging", true, "1"}, {"MetadataVer", true, ""}, {"LastCheck", true, ""}},
     {},
     {},
     true,
     {}},
    {"test farm",
     {"-T2"},
     {{"MetadataVer", true, "1-0-7"}},
     {{"UseStaging", true, "2"}, {"MetadataVer", true, ""}, {"LastCheck", true, ""}},
     {},
     {},
     true,
     {}},
    {"install and run",
     {"-r"},
     {},
     {},
     {kManagerCreate, "CreateService InkoraUpdater", "SetDescription", "SetFailureActions", "CloseService",
      "CloseManager", kManagerAll, kOpenAll, "Start", "CloseService", "CloseManager"},
     {"ServiceMainProc()-Install", "Install()-ChangeServiceConfig2 succeeded\n",
      "Install()-Service InkoraUpdater installed\n", "ServiceMainProc()-RunService"},
     false,
     {1000}},
    {"no word", {}, {}, {{"testsendnow", false, ""}}, {}, {}, true, {}},
    {"word with a character appended", {"-ix"}, {}, {}, {}, {}, true, {}},
    {"unknown word", {"/i"}, {}, {}, {}, {}, true, {}},
    {"32 characters is no command word",
     {"-l" + std::string(30, 'x')},
     {},
     {{"testsendnow", false, ""}},
     {},
     {},
     true,
     {}},
};

class CommandWordTest : public EntryTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandWordTest, ActsOnRegistryAndManagerAndLogs) {
  const CommandCase& c = GetParam();
  for (const Value& v : c.before) ASSERT_TRUE(SetRegValue_String(kServiceKey, v.name, v.text));
  Run(c.words);

  EXPECT_EQ(c.runsService ? 1 : 0, g_serviceRuns);
  EXPECT_EQ(c.scmCalls, env_->scm.calls);
  EXPECT_EQ(c.sleeps, env_->sleeps);
  for (const Value& v : c.after) {
    std::string text;
    bool present = ServiceString(v.name, &text);
    EXPECT_EQ(v.present, present) << v.name;
    if (v.present && present) {
      EXPECT_EQ(v.text, text) << v.name;
    }
  }
  std::vector<std::string> logged;
  for (const auto& e : Log()) logged.push_back(e.function + "-" + e.message);
  std::vector<std::string> expected = {"ServiceMainProc()-1.0.13.0"};
  expected.insert(expected.end(), c.messages.begin(), c.messages.end());
  EXPECT_EQ(expected, logged);
}

INSTANTIATE_TEST_SUITE_P(Words, CommandWordTest, ::testing::ValuesIn(kCommandCases),
                         [](const ::testing::TestParamInfo<CommandCase>& info) {
                           std::string name;
                           for (char ch : std::string(info.param.label)) name += isalnum(ch) ? ch : '_';
                           return name;
                         });

TEST_F(EntryTest, ArgumentsKeepEveryWordEvenWhenTheFirstIsTooLong) {
  std::string longWord(32, 'a');
  char* argv[] = {const_cast<char*>("p.exe"), &longWord[0], const_cast<char*>("second")};
  CollectArguments(3, argv);
  EXPECT_EQ("", strCommand);
  ASSERT_EQ(2u, aArgs.size());
  EXPECT_EQ(longWord, aArgs[0]);
  EXPECT_EQ("second", aArgs[1]);
  std::string word31(31, 'a');
  argv[1] = &word31[0];
  CollectArguments(2, argv);
  EXPECT_EQ(word31, strCommand);
}

// Failures of the service manager: each logged with its code, nothing else done.
struct FailureCase {
  const char* label;
  std::string word;
  std::string failingCall;
  platform::Status code;
  std::vector<std::string> messages;
  std::vector<std::string> scmCalls;
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.label;
}

const std::vector<FailureCase> kFailureCases = {
    {"install without manager",
     "-i",
     "OpenSCManager",
     5,
     {"Install()-OpenSCManager failed, error code = 5\n"},
     {kManagerCreate}},
    {"install of an existing service",
     "-i",
     "CreateService",
     1073,
     {"Install()-Failed to create service InkoraUpdater, error code = 1073\n"},
     {kManagerCreate, "CreateService InkoraUpdater", "CloseManager"}},
    {"install without description",
     "-i",
     "SetDescription",
     5,
     {"Install()-ChangeServiceConfig2 failed\n", "Install()-Service InkoraUpdater installed\n"},
     kInstallCalls},
    {"install without failure actions",
     "-i",
     "SetFailureActions",
     1072,
     {"Install()-ChangeServiceConfig2 succeeded\n",
      "Install()-Setting the failure actions failed, error code = 1072\n",
      "Install()-Service InkoraUpdater installed\n"},
     kInstallCalls},
    {"remove without manager",
     "-u",
     "OpenSCManager",
     1063,
     {"UnInstall()-OpenSCManager failed, error code = 1063\n"},
     {kManagerAll}},
    {"remove of a missing service",
     "-u",
     "OpenService",
     1060,
     {"UnInstall()-OpenService failed, error code = 1060\n"},
     {kManagerAll, kOpenAll, "CloseManager"}},
    {"remove refused",
     "-u",
     "Delete",
     1072,
     {"UnInstall()-Failed to delete service InkoraUpdater\n"},
     {kManagerAll, kOpenAll, "Delete", "CloseService", "CloseManager"}},
    {"stop without manager",
     "-k",
     "OpenSCManager",
     5,
     {"KillService()-OpenSCManager failed, error code = 5\n"},
     {kManagerAll}},
    {"stop of a missing service",
     "-k",
     "OpenService",
     1060,
     {"KillService()-OpenService failed, error code = 1060\n"},
     {kManagerAll, kOpenAll, "CloseManager"}},
    {"stop of a stopped service",
     "-k",
     "Control",
     1062,
     {"KillService()-ControlService failed, error code = 1062\n"},
     {kManagerAll, kOpenAll, "Control 1", "CloseService", "CloseManager"}},
    {"start of a missing service",
     "-s",
     "OpenService",
     1060,
     {"RunService()-OpenService failed, error code = 1060\n"},
     {kManagerAll, kOpenAll, "CloseManager"}},
    {"start of a running service",
     "-s",
     "Start",
     1056,
     {"RunService()-StartService failed, error code = 1056\n"},
     {kManagerAll, kOpenAll, "Start", "CloseService", "CloseManager"}},
    {"install and run of an existing service",
     "-r",
     "CreateService",
     1073,
     {"ServiceMainProc()-Install", "Install()-Failed to create service InkoraUpdater, error code = 1073\n",
      "ServiceMainProc()-RunService"},
     {kManagerCreate, "CreateService InkoraUpdater", "CloseManager", kManagerAll, kOpenAll, "Start",
      "CloseService", "CloseManager"}},
};

class ManagerFailureTest : public EntryTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ManagerFailureTest, LogsTheCodeAndStops) {
  const FailureCase& c = GetParam();
  env_->scm.failures[c.failingCall] = c.code;
  Run({c.word});
  std::vector<std::string> logged;
  for (const auto& e : Log()) logged.push_back(e.function + "-" + e.message);
  ASSERT_FALSE(logged.empty());
  logged.erase(logged.begin());  // the version line
  EXPECT_EQ(c.messages, logged);
  EXPECT_EQ(c.scmCalls, env_->scm.calls);
  EXPECT_EQ(0, g_serviceRuns);
}

INSTANTIATE_TEST_SUITE_P(Failures, ManagerFailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                           std::string name;
                           for (char ch : std::string(info.param.label)) name += isalnum(ch) ? ch : '_';
                           return name;
                         });

TEST_F(EntryTest, KillAndRunReportTheirResult) {
  strServiceName = "InkoraUpdater";
  EXPECT_TRUE(KillService("InkoraUpdater"));
  EXPECT_TRUE(RunService("InkoraUpdater"));
  env_->scm.failures["Control"] = 1061;
  env_->scm.failures["Start"] = 1056;
  EXPECT_FALSE(KillService("InkoraUpdater"));
  EXPECT_FALSE(RunService("InkoraUpdater"));
}

TEST_F(EntryTest, InstallGivesTheManagerAQuotedPathAndTheFixedSettings) {
  env_->modulePath = Tmp("Program Files\\Inkora Updater\\InkoraUpdater.exe");
  Run({"-i"});
  const platform::ServiceConfig& config = env_->scm.created;
  EXPECT_EQ("InkoraUpdater", config.name);
  EXPECT_EQ("Inkora Updater", config.displayName);
  EXPECT_EQ("\"" + env_->modulePath + "\"", config.binaryPath);
  EXPECT_EQ(platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess, config.serviceType);
  EXPECT_EQ(platform::kServiceAutoStart, config.startType);
  EXPECT_EQ(platform::kServiceErrorNormal, config.errorControl);
  EXPECT_EQ("Updates your Inkora software to ensure that you always have the latest features.",
            env_->scm.description);
  // Three restarts a minute apart, then stopped; the count starts again daily.
  const platform::FailureActions& actions = env_->scm.failureActions;
  EXPECT_EQ(86400u, actions.resetPeriodSeconds);
  EXPECT_EQ((std::vector<uint32_t>{60000, 60000, 60000}), actions.restartDelaysMs);
  EXPECT_TRUE(actions.thenStayStopped);
}

// The fixed fields from the program path: the log beside the program, the
// version text, and paths or texts too long for their fields refused whole.
struct PathCase {
  const char* label;
  std::string relative;  // below the test folder; "" for a path of its own
  size_t padTo;          // grow the path's folder part to this length (0: none)
  bool fieldsSet;
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const PathCase& c, std::ostream* os) {
  *os << c.label;
}

class ProgramPathTest : public EntryTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ProgramPathTest, FillsOrRefusesTheFixedFields) {
  const PathCase& c = GetParam();
  std::string path = Tmp(c.relative);
  if (c.padTo > path.size()) {
    // Grow a folder name in the middle so the path keeps its extension.
    path = Tmp(std::string(c.padTo - path.size(), 'p') + c.relative);
  }
  env_->modulePath = path;
  Run({"-nl"});
  if (c.fieldsSet) {
    EXPECT_EQ(path, std::string(szModulePath));
    EXPECT_EQ(path.substr(0, path.size() - 4) + ".log", std::string(szLogPath));
    EXPECT_EQ("1.0.13.0", std::string(szServiceVersion));
  } else {
    EXPECT_EQ("", std::string(szModulePath));
    EXPECT_EQ("", std::string(szLogPath));
    EXPECT_EQ("", std::string(szServiceVersion));
  }
  EXPECT_LT(std::string(szModulePath).size(), sizeof(szModulePath));
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramPathTest,
                         ::testing::Values(PathCase{"plain", "InkoraUpdater.exe", 0, true},
                                           PathCase{"linux_name", "InkoraUpdater.bin", 0, true},
                                           PathCase{"no_extension", "InkoraUpdater", 0, false},
                                           PathCase{"two_letter_extension", "InkoraUpdater.ex", 0, false},
                                           PathCase{"dot_only_at_end", "InkoraUpdater.", 0, false},
                                           PathCase{"just_fits", "InkoraUpdater.exe", 499, true},
                                           PathCase{"one_too_long", "InkoraUpdater.exe", 500, false},
                                           PathCase{"far_too_long", "InkoraUpdater.exe", 5000, false}),
                         [](const ::testing::TestParamInfo<PathCase>& info) {
                           return std::string(info.param.label);
                         });

TEST_F(EntryTest, NoLogIsWrittenWithoutALogPath) {
  env_->modulePath = Tmp("InkoraUpdater");
  Run({"-i"});
  EXPECT_EQ("", LogText());
  EXPECT_EQ(kInstallCalls, env_->scm.calls);
  EXPECT_EQ("\"\"", env_->scm.created.binaryPath);  // the path field stays empty without an extension
}

// The version resource: translation table, fallback language, missing parts.
struct VersionCase {
  const char* label;
  bool loads;
  bool fixed;
  bool hasTranslation;
  std::string translation;
  uint16_t langId;
  std::string subBlock;  // where the text is kept ("" for none)
  std::string text;
  bool result;
  std::string version;  // after GetFileVersion
  std::string stored;   // in szServiceVersion after start-up
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << c.label;
}

class FileVersionTest : public EntryTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FileVersionTest, ReadsTheFileVersionText) {
  const VersionCase& c = GetParam();
  env_->versionLoads = c.loads;
  env_->version.fixed = c.fixed;
  env_->version.hasTranslation = c.hasTranslation;
  env_->version.translation = c.translation;
  env_->langId = c.langId;
  env_->version.strings.clear();
  if (!c.subBlock.empty()) env_->version.strings[c.subBlock] = c.text;
  Run({"-nl"});
  EXPECT_EQ(c.stored, std::string(szServiceVersion));
  std::string version;
  EXPECT_EQ(c.result, GetFileVersion(version));
  EXPECT_EQ(c.version, version);
}

const std::string kEnUs = std::string("\x09\x04\xB0\x04", 4);
INSTANTIATE_TEST_SUITE_P(
    Versions, FileVersionTest,
    ::testing::Values(
        VersionCase{"commas_and_blanks", true, true, true, kEnUs, 0x0409,
                    "\\StringFileInfo\\040904B0\\FileVersion", "1, 0, 13, 0", true, "1. 0. 13. 0",
                    "1.0.13.0"},
        VersionCase{"german_ansi_table", true, true, true, std::string("\x07\x04\xE4\x04", 4), 0x0409,
                    "\\StringFileInfo\\040704E4\\FileVersion", "2,1", true, "2.1", "2.1"},
        VersionCase{"no_table_uses_user_language", true, true, false, "", 0x0407,
                    "\\StringFileInfo\\040704B0\\FileVersion", "3, 2", true, "3. 2", "3.2"},
        VersionCase{"table_of_wrong_size", true, true, true,
                    std::string("\x09\x04\xB0\x04\x07\x04\xE4\x04", 8), 0x0C0A,
                    "\\StringFileInfo\\0C0A04B0\\FileVersion", "4", true, "4", "4"},
        VersionCase{"no_file_version_text", true, true, true, kEnUs, 0x0409, "", "", true, "", ""},
        VersionCase{"no_resource", false, true, true, kEnUs, 0x0409, "", "", false, "", ""},
        VersionCase{"no_fixed_record", true, false, true, kEnUs, 0x0409,
                    "\\StringFileInfo\\040904B0\\FileVersion", "1, 0", false, "", ""},
        VersionCase{"text_too_long_for_the_field", true, true, true, kEnUs, 0x0409,
                    "\\StringFileInfo\\040904B0\\FileVersion", std::string(32, '9'), true,
                    std::string(32, '9'), ""},
        VersionCase{"text_that_just_fits", true, true, true, kEnUs, 0x0409,
                    "\\StringFileInfo\\040904B0\\FileVersion", std::string(31, '9') + "  ", true,
                    std::string(31, '9') + "  ", std::string(31, '9')}),
    [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.label); });

}  // namespace
