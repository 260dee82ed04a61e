// End-to-end runs on Linux: the program itself over a private root,
// fast-forwarded, offline or against the reference web farm, stopped by SIGTERM
// or killed at random moments; afterwards the hive, the identity file and every
// log file must be whole and on disk or received.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/tree_fixture.h"
#include "service/e2e_process.h"
#include "settings/registry.h"

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)
#include "webfarm/testing/webfarm_fixture.h"
#endif

namespace {

namespace fs = std::filesystem;
using service_testing::ServiceProcess;

const std::string kGuid = "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}";
const std::string kUser = "{11111111-2222-3333-4444-555555555555}";
const std::string kIdentityBefore = "CID={00000000-0000-0000-0000-000000000000}\r\nUID=" + kUser;
const std::string kIdentityAfter = "CID=" + kGuid + "\r\nUID=" + kUser;

std::string Flat(std::string text) {  // the installer upload drops CR, LF and tab
  text.erase(
      std::remove_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }),
      text.end());
  return text;
}
std::string Old(const std::string& path) {
  return path.substr(0, path.find_last_of('.')) + ".old";
}
bool Gone(pid_t pid) {  // ended: no process, or a zombie no one has reaped yet
  std::string stat = ServiceProcess::ReadAll("/proc/" + std::to_string(pid) + "/stat");
  return stat.empty() || stat.compare(stat.rfind(')') + 1, 3, " Z ") == 0;
}

class EndToEndTest : public platform_testing::TreeFixture {
 protected:
  void Str(const char* key, const char* name, const std::string& text) {
    SetRaw(key, name, platform::kRegSz, text + '\0');
  }
  std::string Value(const char* key, const char* name) { return GetRaw(key, name).value_or("(absent)"); }
  std::string Identity() const { return tmp_ + "/ProgramData/Quorvex/Inkora/Inkora.ID"; }
  std::string Symbols() const { return tmp_ + "/Users/Alice/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml"; }
  static void Write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  // The machine as the product leaves it: identifiers, an identity file whose
  // GUID the registry corrects, and logs of each kind.
  void Plant(const std::string& host, uint32_t fastForward) {
    Str(kProductKey, "ComputerID", kGuid);
    Str(kProductKey, "UserID", kUser);
    Str(kProductKey, "CurrentVersion", "1.0.5");
    Str(kProductKey, "ProductNumber", "INK-100");
    Str(kServiceKey, "ProductionHost", host);
    SetDword(kServiceKey, "debug", 1);
    SetDword(kServiceKey, "FastForward", fastForward);
    Write(Identity(), kIdentityBefore);
    Write(Symbols(), "<symbols version=\"1.0\"/>\n");
    const std::string togo = tmp_ + "/ProgramData/Quorvex/Inkora/Customer Improvement/togo/";
    for (int i = 0; i < 3; ++i)
      logs_[togo + "usage" + std::to_string(i) + ".jlog"] = "{\"n\":" + std::to_string(i) + "}";
    logs_[togo + "crash0.err"] = "{\"cid\":\"" + kGuid + "\",\"crash\":1}";
    logs_[togo + "InkoraInstall_1.log"] = "installer\r\nline\ttwo";
    PutLogs();
  }
  void PutLogs() {
    for (const auto& log : logs_) {
      fs::remove(Old(log.first));
      Write(log.first, log.second);
    }
  }

  // Whatever moment the process ended at: the hive reads, the identity file is
  // the old or the new text whole, every log is on disk whole or was received.
  void CheckWhole(const std::vector<std::string>& received, const std::string& when) {
    SCOPED_TRACE(when);
    EXPECT_EQ(kGuid, Value(kProductKey, "ComputerID"));
    EXPECT_NE("(absent)", Value(kServiceKey, "ProductionHost"));
    std::string identity = ServiceProcess::ReadAll(Identity());
    EXPECT_TRUE(identity == kIdentityBefore || identity == kIdentityAfter) << identity;
    size_t lost = 0;
    for (const auto& log : logs_) {
      bool sent = std::any_of(received.begin(), received.end(), [&](const std::string& r) {
        return r.find(Flat(log.second)) != std::string::npos;
      });
      lost += !sent && !fs::exists(log.first) && !fs::exists(Old(log.first));
      if (fs::exists(log.first)) {
        EXPECT_EQ(log.second, ServiceProcess::ReadAll(log.first)) << log.first;
      }
    }
    EXPECT_EQ(0u, lost);
    for (const auto& entry : fs::recursive_directory_iterator(tmp_ + "/registry")) {
      EXPECT_TRUE(entry.path().extension() != ".hive" || fs::file_size(entry.path()) > 0) << entry.path();
    }
  }

  std::map<std::string, std::string> logs_;
};

TEST_F(EndToEndTest, OfflineTakesTheLongSleepAndStopsCleanlyOnSigterm) {
  Plant("127.0.0.1:9", 60000);  // 60 s -> 1 ms, 600 s -> 10 ms
  Write(tmp_ + "/offline", "");
  ServiceProcess service(INKORA_UPDATER_BIN, tmp_);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= 4; })) << service.Log();
  EXPECT_EQ(0, service.Signal(SIGTERM)) << "a clean exit with 0";
  EXPECT_EQ("", service.Output());
  std::string log = service.Log();
  EXPECT_EQ(1u, ServiceProcess::Count(log, "Sleeping for timeout period:  60 seconds."));
  EXPECT_GE(ServiceProcess::Count(log, "Sleeping for timeout period:  600 seconds."), 3u);
  EXPECT_EQ(1u, ServiceProcess::Count(log, "ServiceControlHandler()-SERVICE_CONTROL_STOP "));
  EXPECT_EQ(1u, ServiceProcess::Count(log, "ExecuteSubProcess()----END---"));
  for (const auto& l : logs_) EXPECT_TRUE(fs::exists(l.first)) << l.first << " went while offline";
  EXPECT_EQ(kIdentityAfter, ServiceProcess::ReadAll(Identity()));
  CheckWhole({}, "after SIGTERM");
}

TEST_F(EndToEndTest, AServiceDiesWithTheProcessThatStartedIt) {
  Plant("127.0.0.1:9", 60000);
  Write(tmp_ + "/offline", "");
  int pipe[2];
  ASSERT_EQ(0, ::pipe(pipe));
  pid_t helper = ::fork();
  ASSERT_GE(helper, 0);
  if (helper == 0) {  // a test process that starts its service, then hangs
    ServiceProcess service(INKORA_UPDATER_BIN, tmp_);
    pid_t pid = service.Start() ? service.pid() : 0;
    if (::write(pipe[1], &pid, sizeof pid) == sizeof pid) ::pause();
    ::_exit(1);
  }
  pid_t service = 0;
  ASSERT_EQ(static_cast<ssize_t>(sizeof service), ::read(pipe[0], &service, sizeof service));
  ::close(pipe[0]);
  ::close(pipe[1]);
  ASSERT_GT(service, 0);
  auto cycles = [&] {
    return ServiceProcess::Count(ServiceProcess::ReadAll(tmp_ + "/bin/InkoraUpdater.log"), "Sleeping");
  };
  for (int i = 0; i < 1000 && cycles() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(cycles(), 2u) << "the service runs";
  ::kill(helper, SIGKILL);  // as a time-out or a crash would end the test
  ::waitpid(helper, nullptr, 0);
  for (int i = 0; i < 400 && !Gone(service); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(Gone(service)) << "the service outlived its test";
  if (!Gone(service)) ::kill(service, SIGKILL);
}

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

using webfarm_testing::CWebFarm;
using webfarm_testing::FarmRequest;

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
  size_t Count(const std::string& role, const char* method = nullptr) {
    size_t n = 0;
    for (const auto& r : farm_->Requests()) n += r.role == role && (method == nullptr || r.method == method);
    return n;
  }
  std::vector<std::string> Received() {
    std::vector<std::string> texts;
    for (const auto& r : farm_->Requests()) {
      if (r.role == "usage" || r.role == "crash" || r.role == "installer") texts.push_back(Flat(r.payload));
    }
    return texts;
  }
  bool AllTaken() {
    return std::none_of(logs_.begin(), logs_.end(), [](const auto& l) { return fs::exists(l.first); });
  }

  std::unique_ptr<CWebFarm> farm_;
};

TEST_F(OnlineEndToEndTest, CyclesDoEveryStepOnTheirScheduleAndHeedCommandWords) {
  Plant(farm_->hostPort(), 6000);  // 60 s -> 10 ms; the metadata asks for a check every hour
  ServiceProcess service(INKORA_UPDATER_BIN, tmp_);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= 150; })) << service.Log();
  // The bulk test switched on and off by a second process, while it runs.
  ServiceProcess command(INKORA_UPDATER_BIN, tmp_, "bin-cmd");
  EXPECT_EQ(0, command.Run({"-l", "C:\\test logs"}));
  EXPECT_EQ("C:\\test logs", Value(kServiceKey, "testpath"));
  ASSERT_TRUE(service.WaitFor([&] { return service.Log().find("Found TestSendNow") != std::string::npos; }));
  EXPECT_EQ(0, command.Run({"-nl"}));
  EXPECT_EQ("(absent)", Value(kServiceKey, "testsendnow"));
  size_t cycles = service.Cycles();
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 2; }));
  size_t bulk = ServiceProcess::Count(service.Log(), "Found TestSendNow");
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 5; }));
  EXPECT_EQ(bulk, ServiceProcess::Count(service.Log(), "Found TestSendNow"));
  ASSERT_EQ(0, service.Signal(SIGTERM, 5)) << "no clean end within 5 s of SIGTERM";

  EXPECT_EQ(1u, Count("first_call"));
  ASSERT_EQ(1u, Count("metadata"));
  EXPECT_EQ("1-0-7", Value(kServiceKey, "MetadataVer"));
  EXPECT_EQ(farm_->url("/Teko/uc"), Value(kServiceKey, "UpdateCheckUrl"));
  EXPECT_EQ("1.0.10", Value(kProductKey, "NextVersion"));
  EXPECT_EQ(farm_->url("/downloads/InkoraSetup-1.0.10.exe"), Value(kProductKey, "NextVersionURL"));
  EXPECT_NE("", Value(kServiceKey, "LastCheck"));
  // About 160 virtual minutes and a check an hour: two or three, never one a cycle.
  size_t checks = Count("update_check", "POST");
  EXPECT_GE(checks, 2u);
  EXPECT_LE(checks, 3u);
  EXPECT_EQ(checks, ServiceProcess::Count(service.Log(), "CClientInfo::UpdateCheck()----START---"));
  for (const auto& r : farm_->Requests()) {
    EXPECT_TRUE(r.readable) << r.role << " " << r.path;
    EXPECT_TRUE(r.role != "installer" || r.payload.find_first_of("\r\n\t") == std::string::npos) << r.payload;
  }
  // Usage and installer logs taken and kept as ".old"; the crash log deleted.
  EXPECT_TRUE(AllTaken());
  for (const auto& l : logs_) EXPECT_EQ(l.first.find("crash") == std::string::npos, fs::exists(Old(l.first)));
  EXPECT_GE(Count("definition"), 1u);
  EXPECT_NE(std::string::npos, ServiceProcess::ReadAll(Symbols()).find("version=\"2.0\""));
  CheckWhole(Received(), "after SIGTERM");
}

TEST_F(OnlineEndToEndTest, AFarmDownThenFailingCostsNoLogAndNoCrash) {
  Plant(farm_->hostPort(), 6000);
  ASSERT_TRUE(farm_->Stop());
  Write(tmp_ + "/offline", "");
  ServiceProcess service(INKORA_UPDATER_BIN, tmp_);
  ASSERT_TRUE(service.Start());
  ASSERT_TRUE(service.WaitFor([&] { return ServiceProcess::Count(service.Log(), "600 seconds.") >= 2; }));
  fs::remove(tmp_ + "/offline");  // connected, but nobody on the farm's port for a few cycles
  size_t cycles = service.Cycles();
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 3; }));
  ASSERT_TRUE(farm_->Restart());
  ASSERT_TRUE(farm_->SetFault("first_call", "500", 1));
  ASSERT_TRUE(farm_->SetFault("update_check", "garbage", 1));
  ASSERT_TRUE(farm_->SetFault("usage", "truncated", 1));
  ASSERT_TRUE(farm_->SetFault("crash", "404", 1));
  ASSERT_TRUE(service.WaitFor([&] { return AllTaken(); })) << service.Log();
  ASSERT_EQ(0, service.Signal(SIGTERM, 5));
  EXPECT_EQ(1u, ServiceProcess::Count(service.Log(), "Sleeping for timeout period:  60 seconds."));
  EXPECT_GE(Count("first_call"), 2u);
  EXPECT_GE(Count("update_check", "POST"), 2u);  // the garbage answer, then a good one
  EXPECT_EQ("1-0-7", Value(kServiceKey, "MetadataVer"));
  CheckWhole(Received(), "after the faults");
}

TEST_F(OnlineEndToEndTest, KilledAtRandomMomentsLosesNoLog) {
  Plant(farm_->hostPort(), 60000);  // 60 s -> 1 ms: many requests a second
  std::mt19937 random(20261207);
  for (int run = 0; run < 10; ++run) {
    // Every log back in place and no requests: a log counts as received only
    // when this run sent it.
    ASSERT_TRUE(farm_->Reset());
    PutLogs();
    ServiceProcess service(INKORA_UPDATER_BIN, tmp_);
    ASSERT_TRUE(service.Start());
    const int ms = std::uniform_int_distribution<int>(0, 300)(random);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    EXPECT_TRUE(WIFSIGNALED(service.Signal(SIGKILL)));
    CheckWhole(Received(), "run " + std::to_string(run) + " killed after " + std::to_string(ms) + " ms");
  }
}

#endif  // INKORA_HAVE_WEBFARM_FIXTURE

}  // namespace

#endif  // !_WIN32
