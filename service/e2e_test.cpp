// End-to-end runs on Linux: the service program as a process of its own over a
// private root, fast-forwarded, stopped by SIGTERM or ended by SIGKILL at random
// moments of its cycles; afterwards the hive, the identity file and every log
// file must be whole and accounted for.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/env.h"
#include "service/e2e_process.h"
#include "settings/registry.h"

#if __has_include("webfarm/testing/webfarm_fixture.h") && defined(INKORA_HAVE_WEBFARM_FIXTURE)
#include "webfarm/testing/webfarm_fixture.h"
#define INKORA_E2E_WEBFARM 1
#endif

namespace {

namespace fs = std::filesystem;
using service_testing::ServiceProcess;

const char kGuid[] = "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}";
const char kUserId[] = "{11111111-2222-3333-4444-555555555555}";

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = (fs::temp_directory_path() / ("inkora-e2e-" + std::to_string(random()))).string();
    fs::create_directories(root_);
    env_ = platform::NewIsolatedEnv(root_);
  }
  void TearDown() override {
    env_.reset();
    std::error_code ignored;
    if (!HasFailure()) fs::remove_all(root_, ignored);
  }

  void SetString(const char* key, const std::string& name, const std::string& text) {
    std::unique_ptr<platform::RegKey> handle;
    ASSERT_EQ(platform::kSuccess,
              env_->RegCreateKey(key, platform::kKeyAllAccess | platform::kKeyWow64_32Key, &handle));
    ASSERT_EQ(platform::kSuccess,
              handle->SetValue(name, platform::kRegSz, text.c_str(), static_cast<uint32_t>(text.size() + 1)));
  }
  void SetDword(const char* key, const std::string& name, uint32_t value) {
    std::unique_ptr<platform::RegKey> handle;
    ASSERT_EQ(platform::kSuccess,
              env_->RegCreateKey(key, platform::kKeyAllAccess | platform::kKeyWow64_32Key, &handle));
    ASSERT_EQ(platform::kSuccess, handle->SetValue(name, platform::kRegDword, &value, sizeof(value)));
  }
  // A value's text; the status of the read (a torn hive fails here).
  platform::Status GetString(const char* key, const std::string& name, std::string* text) {
    std::unique_ptr<platform::RegKey> handle;
    platform::Status status = env_->RegOpenKey(key, platform::kKeyRead | platform::kKeyWow64_32Key, &handle);
    if (status != platform::kSuccess) return status;
    char buffer[2048];
    uint32_t type = 0, size = sizeof(buffer);
    status = handle->QueryValue(name, &type, buffer, &size);
    if (status == platform::kSuccess) *text = std::string(buffer, size > 0 ? size - 1 : 0);
    return status;
  }

  std::string AppData() const { return root_ + "/ProgramData/Quorvex/Inkora"; }
  std::string LogFolder() const { return AppData() + "/Customer Improvement/togo"; }
  std::string IdentityFile() const { return AppData() + "/Inkora.ID"; }
  void Put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // The machine as the product leaves it: identifiers, an identity file whose
  // GUID the registry corrects, and logs of each kind.
  void PlantMachine() {
    SetString(kProductKey, "ComputerID", kGuid);
    SetString(kProductKey, "UserID", kUserId);
    SetString(kProductKey, "CurrentVersion", "1.0.5");
    SetString(kProductKey, "ProductNumber", "INK-100");
    SetDword(kServiceKey, "debug", 1);
    identityBefore_ = std::string("CID={00000000-0000-0000-0000-000000000000}\r\nUID=") + kUserId;
    identityAfter_ = std::string("CID=") + kGuid + "\r\nUID=" + kUserId;
    Put(IdentityFile(), identityBefore_);
    for (int i = 0; i < 3; ++i) {
      std::string name = "usage" + std::to_string(i) + ".jlog";
      logs_[LogFolder() + "/" + name] = "{\"cid\":\"" + std::string(kGuid) + "\",\"uid\":\"" + kUserId +
                                        "\",\"n\":" + std::to_string(i) + "}";
    }
    logs_[LogFolder() + "/crash0.err"] =
        "{\"cid\":\"" + std::string(kGuid) + "\",\"uid\":\"" + kUserId + "\",\"crash\":1}";
    logs_[LogFolder() + "/InkoraInstall_1.log"] = "installer\r\nline\ttwo";
    for (const auto& log : logs_) Put(log.first, log.second);
  }

  // Whatever moment the process ended at: the hive reads, the identity file is
  // the old or the new text whole, and every log is on disk or was received.
  void CheckConsistent(const std::vector<std::string>& received, const std::string& when) {
    SCOPED_TRACE(when);
    std::string text;
    EXPECT_EQ(platform::kSuccess, GetString(kProductKey, "ComputerID", &text));
    EXPECT_EQ(kGuid, text);
    EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "ProductionHost", &text));
    std::string identity = ServiceProcess::ReadAll(IdentityFile());
    EXPECT_TRUE(identity == identityBefore_ || identity == identityAfter_) << identity;
    for (const auto& log : logs_) {
      std::string old = log.first.substr(0, log.first.find_last_of('.')) + ".old";
      bool onDisk = fs::exists(log.first) || fs::exists(old);
      bool sent = false;
      for (const auto& r : received) {
        if (r.find(log.second) != std::string::npos) sent = true;
      }
      EXPECT_TRUE(onDisk || sent) << log.first << " is lost";
      if (fs::exists(log.first)) {
        EXPECT_EQ(log.second, ServiceProcess::ReadAll(log.first)) << log.first;
      }
    }
    // No hive file is left empty or half-written under its real name.
    for (const auto& entry : fs::recursive_directory_iterator(root_ + "/registry")) {
      if (entry.is_regular_file() && entry.path().extension() == ".hive") {
        EXPECT_GT(fs::file_size(entry.path()), 0u) << entry.path();
      }
    }
  }

  std::string root_;
  std::unique_ptr<platform::Env> env_;
  std::map<std::string, std::string> logs_;
  std::string identityBefore_, identityAfter_;
};

TEST_F(EndToEndTest, OfflineRunTakesTheLongSleepAndStopsOnSigterm) {
  PlantMachine();
  SetString(kServiceKey, "ProductionHost", "127.0.0.1:9");
  SetDword(kServiceKey, "FastForward", 60000);  // 60 s -> 1 ms, 600 s -> 10 ms
  Put(root_ + "/offline", "");
  ServiceProcess service(INKORA_UPDATER_BIN, root_);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= 4; })) << service.Log();
  int status = service.Signal(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ("", ServiceProcess::ReadAll(service.outputPath()));  // nothing on the console

  std::string log = service.Log();
  EXPECT_EQ(1u, ServiceProcess::Count(log, "Sleeping for timeout period:  60 seconds.   (1 minutes)"));
  EXPECT_GE(ServiceProcess::Count(log, "Sleeping for timeout period:  600 seconds.   (10 minutes)"), 3u);
  EXPECT_NE(std::string::npos, log.find("No internet connection.  Extend the sleep timer length."));
  EXPECT_NE(std::string::npos, log.find("ServiceControlHandler()-SERVICE_CONTROL_STOP "));
  EXPECT_NE(std::string::npos, log.find("ExecuteSubProcess()----END---"));
  EXPECT_EQ(std::string::npos, log.find("StartServiceCtrlDispatcher failed"));
  // Offline nothing is uploaded: every log is where it was.
  for (const auto& l : logs_) EXPECT_TRUE(fs::exists(l.first)) << l.first;
  EXPECT_EQ(identityAfter_, ServiceProcess::ReadAll(IdentityFile()));
  CheckConsistent({}, "after SIGTERM");
}

TEST_F(EndToEndTest, CommandWordsOfASecondProcessReachTheRunningService) {
  // Online, but the web farm is not there: every due check fails and the
  // service goes on; the bulk test switch from another process takes effect.
  PlantMachine();
  SetString(kServiceKey, "ProductionHost", "127.0.0.1:9");
  SetString(kServiceKey, "PostInstUrl", "http://127.0.0.1:9/Teko/puc");
  SetDword(kServiceKey, "FastForward", 6000);  // 60 s -> 10 ms
  ServiceProcess service(INKORA_UPDATER_BIN, root_);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= 2; })) << service.Log();

  ServiceProcess command(INKORA_UPDATER_BIN, root_, "bin-cmd");
  EXPECT_EQ(0, command.Run({"-l", "C:\\test logs"}));
  std::string text;
  EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "testsendnow", &text));
  EXPECT_EQ("1", text);
  EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "testpath", &text));
  EXPECT_EQ("C:\\test logs", text);
  ASSERT_TRUE(service.WaitFor([&] { return service.Log().find("Found TestSendNow") != std::string::npos; }))
      << service.Log();

  EXPECT_EQ(0, command.Run({"-nl"}));
  EXPECT_NE(platform::kSuccess, GetString(kServiceKey, "testsendnow", &text));
  // Once the cycle under way has passed, no cycle does the bulk test again.
  size_t cycles = service.Cycles();
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 2; }));
  size_t bulkRuns = ServiceProcess::Count(service.Log(), "Found TestSendNow");
  cycles = service.Cycles();
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 3; }));
  std::string log = service.Log();
  EXPECT_EQ(bulkRuns, ServiceProcess::Count(log, "Found TestSendNow"));
  EXPECT_GE(ServiceProcess::Count(log, "getMetadataVer returned blank.  Need to make first call..."), 1u);

  EXPECT_EQ(0, service.Signal(SIGTERM));
  CheckConsistent({}, "after SIGTERM");
}

TEST_F(EndToEndTest, KilledAtRandomMomentsOfflineLeavesEverythingWhole) {
  PlantMachine();
  SetString(kServiceKey, "ProductionHost", "127.0.0.1:9");
  SetDword(kServiceKey, "FastForward", 60000);
  Put(root_ + "/offline", "");
  std::mt19937 random(20261206);
  for (int run = 0; run < 20; ++run) {
    ServiceProcess service(INKORA_UPDATER_BIN, root_);
    ASSERT_TRUE(service.Start());
    size_t cycles = std::uniform_int_distribution<size_t>(0, 10)(random);
    ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles; }));
    int status = service.Signal(SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(status));
    CheckConsistent({}, "run " + std::to_string(run) + " killed after " + std::to_string(cycles) + " cycles");
  }
}

#if defined(INKORA_E2E_WEBFARM)

using webfarm_testing::CWebFarm;
using webfarm_testing::FarmRequest;

// Against the reference web farm on loopback.
class OnlineEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    std::string error;
    farm_ = CWebFarm::Start(&error);
    ASSERT_TRUE(farm_ != nullptr) << error;
  }
  void TearDown() override {
    farm_.reset();
    EndToEndTest::TearDown();
  }

  std::string SymbolFile() const {
    return root_ + "/Users/Alice/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml";
  }
  void PlantOnlineMachine(uint32_t fastForward) {
    PlantMachine();
    Put(SymbolFile(), "<symbols version=\"1.0\"/>\n");
    SetString(kServiceKey, "ProductionHost", farm_->hostPort());
    SetDword(kServiceKey, "FastForward", fastForward);
  }

  std::vector<FarmRequest> Of(const std::string& role) {
    std::vector<FarmRequest> list;
    for (const auto& r : farm_->Requests()) {
      if (r.role == role) list.push_back(r);
    }
    return list;
  }
  // Every upload text the farm recorded; the installer upload drops CR, LF
  // and tab, so both sides are compared without them.
  std::vector<std::string> Received() {
    std::vector<std::string> texts;
    for (const auto& r : farm_->Requests()) {
      if (r.role == "usage" || r.role == "crash" || r.role == "installer") texts.push_back(Flat(r.payload));
    }
    return texts;
  }
  static std::string Flat(std::string text) {
    text.erase(
        std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }),
        text.end());
    return text;
  }
  void CheckAccounted(const std::string& when) {
    std::map<std::string, std::string> flat;
    for (const auto& log : logs_) flat[log.first] = Flat(log.second);
    std::vector<std::string> received = Received();
    SCOPED_TRACE(when);
    for (const auto& log : logs_) {
      std::string old = log.first.substr(0, log.first.find_last_of('.')) + ".old";
      bool onDisk = fs::exists(log.first) || fs::exists(old);
      bool sent = std::any_of(received.begin(), received.end(), [&](const std::string& r) {
        return r.find(flat[log.first]) != std::string::npos;
      });
      EXPECT_TRUE(onDisk || sent) << log.first << " is lost";
    }
  }

  std::unique_ptr<CWebFarm> farm_;
};

TEST_F(OnlineEndToEndTest, CyclesDoEveryStepOnTheirScheduleAndStopOnSigterm) {
  PlantOnlineMachine(6000);  // 60 s -> 10 ms; the metadata asks for a check every hour
  ServiceProcess service(INKORA_UPDATER_BIN, root_);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= 150; })) << service.Log();
  ASSERT_EQ(0, service.Signal(SIGTERM, 5)) << "no clean end within 5 s of SIGTERM";
  std::string log = service.Log();

  // First call, then the metadata at the URL it gave, once: its version is kept.
  EXPECT_EQ(1u, Of("first_call").size());
  ASSERT_EQ(1u, Of("metadata").size());
  EXPECT_EQ("/Teko/metadata/1-0-7", Of("metadata")[0].path);
  std::string text;
  EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "MetadataVer", &text));
  EXPECT_EQ("1-0-7", text);
  EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "UpdateCheckUrl", &text));
  EXPECT_EQ(farm_->url("/Teko/uc"), text);
  EXPECT_EQ(platform::kSuccess, GetString(kProductKey, "NextVersion", &text));
  EXPECT_EQ("1.0.10", text);
  EXPECT_EQ(platform::kSuccess, GetString(kProductKey, "NextVersionURL", &text));
  EXPECT_EQ(farm_->url("/downloads/InkoraSetup-1.0.10.exe"), text);
  EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "LastCheck", &text));
  EXPECT_FALSE(text.empty());

  // 150 virtual minutes and a check every hour: two or three checks, never one
  // a cycle (each POST follows its status probe, a GET).
  size_t checks = 0;
  for (const auto& r : Of("update_check")) checks += r.method == "POST";
  EXPECT_GE(checks, 2u);
  EXPECT_LE(checks, 3u);
  EXPECT_EQ(checks, ServiceProcess::Count(log, "CClientInfo::UpdateCheck()----START---"));
  for (const auto& r : farm_->Requests()) EXPECT_TRUE(r.readable) << r.role << " " << r.path;

  // Uploads: the usage and installer logs were taken and kept as ".old", the
  // crash log was taken and deleted, the symbol file now holds version 2.0.
  EXPECT_FALSE(Of("usage").empty());
  EXPECT_FALSE(Of("crash").empty());
  EXPECT_FALSE(Of("installer").empty());
  for (const auto& l : logs_) {
    const std::string old = l.first.substr(0, l.first.find_last_of('.')) + ".old";
    EXPECT_FALSE(fs::exists(l.first)) << l.first << " was not sent";
    if (l.first.find("crash") != std::string::npos) {
      EXPECT_FALSE(fs::exists(old)) << old;
    } else {
      EXPECT_TRUE(fs::exists(old)) << old;
    }
  }
  for (const auto& r : Of("installer")) {
    EXPECT_EQ(std::string::npos, r.payload.find_first_of("\r\n\t")) << r.payload;
  }
  EXPECT_FALSE(Of("definition").empty());
  EXPECT_NE(std::string::npos, ServiceProcess::ReadAll(SymbolFile()).find("version=\"2.0\"")) << log;
  CheckAccounted("after SIGTERM");
  CheckConsistent(Received(), "after SIGTERM");
}

TEST_F(OnlineEndToEndTest, AFarmDownThenFailingCostsNoLogAndNoCrash) {
  PlantOnlineMachine(6000);
  ASSERT_TRUE(farm_->Stop());
  Put(root_ + "/offline", "");
  ServiceProcess service(INKORA_UPDATER_BIN, root_);
  ASSERT_TRUE(service.Start());
  // Offline: after the first cycle every sleep is the long one, for good.
  ASSERT_TRUE(service.WaitFor([&] {
    return ServiceProcess::Count(service.Log(), "Sleeping for timeout period:  600 seconds.") >= 2;
  })) << service.Log();
  fs::remove(root_ + "/offline");
  // Connected, but nobody listens on the farm's port for a few cycles.
  size_t cycles = service.Cycles();
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 3; }));
  // Back, failing in between: a 500 on the first call, garbage for the first
  // check, a truncated answer to the first usage upload, a 404 for a crash log.
  ASSERT_TRUE(farm_->Restart());
  ASSERT_TRUE(farm_->SetFault("first_call", "500", 1));
  ASSERT_TRUE(farm_->SetFault("update_check", "garbage", 1));
  ASSERT_TRUE(farm_->SetFault("usage", "truncated", 1));
  ASSERT_TRUE(farm_->SetFault("crash", "404", 1));
  ASSERT_TRUE(service.WaitFor([&] {
    for (const auto& l : logs_) {
      if (fs::exists(l.first)) return false;
    }
    return true;
  })) << service.Log();
  EXPECT_TRUE(service.Running()) << service.Log();
  ASSERT_EQ(0, service.Signal(SIGTERM, 5));
  std::string log = service.Log();
  EXPECT_EQ(1u, ServiceProcess::Count(log, "Sleeping for timeout period:  60 seconds."));
  EXPECT_GE(Of("first_call").size(), 2u);
  size_t posts = 0;
  for (const auto& r : Of("update_check")) posts += r.method == "POST";
  EXPECT_GE(posts, 2u);  // the garbage answer, then a good one
  std::string text;
  EXPECT_EQ(platform::kSuccess, GetString(kServiceKey, "MetadataVer", &text));
  EXPECT_EQ("1-0-7", text);
  CheckAccounted("after the faults");
  CheckConsistent(Received(), "after the faults");
}

TEST_F(OnlineEndToEndTest, KilledAtRandomMomentsOnlineLosesNoLog) {
  PlantOnlineMachine(60000);  // 60 s -> 1 ms: many requests a second
  std::mt19937 random(20261207);
  for (int run = 0; run < 12; ++run) {
    // Each run starts with every log in place and an empty request list, so a
    // log counts as received only when this run sent it.
    ASSERT_TRUE(farm_->Reset());
    for (const auto& log : logs_) {
      std::error_code ignored;
      fs::remove(log.first.substr(0, log.first.find_last_of('.')) + ".old", ignored);
      Put(log.first, log.second);
    }
    ServiceProcess service(INKORA_UPDATER_BIN, root_);
    ASSERT_TRUE(service.Start());
    const int ms = std::uniform_int_distribution<int>(0, 400)(random);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    service.Signal(SIGKILL);
    const std::string when = "run " + std::to_string(run) + " killed after " + std::to_string(ms) + " ms";
    CheckAccounted(when);
    CheckConsistent(Received(), when);
  }
}

#endif  // INKORA_E2E_WEBFARM

}  // namespace

#endif  // !_WIN32
