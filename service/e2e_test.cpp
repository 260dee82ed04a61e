// End-to-end runs on Linux: the program itself over a private root, fast-
// forwarded, offline or against the web farm (unreachable, failing or well),
// ended by SIGTERM or killed at random moments; afterwards the hive, the identity
// file and every log must be whole, on disk or received.
#if !defined(_WIN32) && defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/testing/tree_fixture.h"
#include "settings/registry.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kGuid = "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}";
const std::string kIdentityBefore = "CID={00000000-0000-0000-0000-000000000000}\r\nUID={1}";
const std::string kIdentityAfter = "CID=" + kGuid + "\r\nUID={1}";

std::string ReadAll(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}
size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}
std::string Old(const std::string& path) {
  return path.substr(0, path.find_last_of('.')) + ".old";
}
// The bound only keeps a broken run from hanging the suite.
bool Eventually(const std::function<bool()>& condition) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// The program copied into root/bin, so its log lies beside it.
class ServiceProcess {
 public:
  explicit ServiceProcess(const std::string& root) : root_(root), dir_(root + "/bin") {
    fs::create_directories(root + "/units");
    fs::create_directories(dir_);
    fs::copy_file(INKORA_UPDATER_BIN, dir_ + "/InkoraUpdater.bin", fs::copy_options::overwrite_existing);
  }
  ~ServiceProcess() { Stop(SIGKILL); }
  std::string Log() const { return ReadAll(dir_ + "/InkoraUpdater.log"); }
  size_t Cycles() const { return Count(Log(), "Sleeping for timeout period"); }

  pid_t Start() {
    if ((pid_ = static_cast<pid_t>(webfarm_testing::ForkTiedToTest())) != 0) return pid_;
    ::setenv("INKORA_ROOT", root_.c_str(), 1);
    ::setenv("INKORA_UNIT_DIR", (root_ + "/units").c_str(), 1);
    int fd = ::open((dir_ + "/output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    const std::string binary = dir_ + "/InkoraUpdater.bin";
    ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool Running() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = 0;
    return pid_ > 0;
  }
  bool WaitFor(const std::function<bool()>& condition) {
    Eventually([&] { return condition() || !Running(); });
    return condition();
  }
  int Stop(int sig) {  // the raw wait status, or -1 while it runs
    if (pid_ > 0) ::kill(pid_, sig);
    return Eventually([&] { return !Running(); }) ? status_ : -1;
  }

 private:
  std::string root_, dir_;
  pid_t pid_ = 0;
  int status_ = 0;
};

class EndToEndTest : public platform_testing::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    std::string error;
    farm_ = webfarm_testing::CWebFarm::Start(&error);
    ASSERT_TRUE(farm_ != nullptr) << error;
  }
  std::string Value(const char* key, const char* name) { return GetRaw(key, name).value_or("(absent)"); }
  size_t Checks() {
    size_t n = 0;
    for (const auto& r : farm_->Requests()) n += r.role == "update_check" && r.method == "POST";
    return n;
  }
  std::string Identity() const { return tmp_ + "/ProgramData/Quorvex/Inkora/Inkora.ID"; }
  void SetHost(const std::string& host) {
    SetRaw(kServiceKey, "ProductionHost", platform::kRegSz, host + '\0');
  }

  // The machine as the product leaves it: identifiers, an identity file whose
  // GUID the registry corrects, and logs of each kind.
  void Plant(uint32_t fastForward) {
    const std::pair<const char*, std::string> product[] = {
        {"ComputerID", kGuid}, {"UserID", "{1}"}, {"CurrentVersion", "1.0.5"}, {"ProductNumber", "INK-100"}};
    for (const auto& v : product) SetRaw(kProductKey, v.first, platform::kRegSz, v.second + '\0');
    SetHost(farm_->hostPort());
    SetDword(kServiceKey, "debug", 1);
    SetDword(kServiceKey, "FastForward", fastForward);
    Put(Identity(), kIdentityBefore);
    const std::string togo = tmp_ + "/ProgramData/Quorvex/Inkora/Customer Improvement/togo/";
    for (int i = 0; i < 3; ++i)
      logs_[togo + "usage" + std::to_string(i) + ".jlog"] = "{\"n\":" + std::to_string(i) + "}";
    logs_[togo + "crash0.err"] = "{\"cid\":\"" + kGuid + "\",\"crash\":1}";
    logs_[togo + "InkoraInstall_1.log"] = "installer log";
    for (const auto& log : logs_) Put(log.first, log.second);
  }
  size_t OnDisk() {
    size_t n = 0;
    for (const auto& log : logs_) n += fs::exists(log.first);
    return n;
  }

  // Whatever moment the process ended at: the hive reads, the identity file is
  // the old or the new text whole, every log is on disk whole or was received.
  void CheckWhole(const std::string& when) {
    SCOPED_TRACE(when);
    std::string received;
    for (const auto& r : farm_->Requests()) received += r.role == "definition" ? "" : r.payload + "\n";
    EXPECT_EQ(kGuid, Value(kProductKey, "ComputerID"));
    std::string identity = ReadAll(Identity());
    EXPECT_TRUE(identity == kIdentityBefore || identity == kIdentityAfter) << identity;
    for (const auto& log : logs_) {
      if (fs::exists(log.first)) {
        EXPECT_EQ(log.second, ReadAll(log.first)) << log.first;
      }
      EXPECT_TRUE(fs::exists(log.first) || fs::exists(Old(log.first)) ||
                  received.find(log.second) != std::string::npos)
          << log.first << " lost";
    }
  }

  std::unique_ptr<webfarm_testing::CWebFarm> farm_;
  std::map<std::string, std::string> logs_;
};

// Offline first (the long sleep, nothing sent), then nobody on the farm's port,
// then every endpoint failing once, then well; SIGTERM ends it cleanly.
TEST_F(EndToEndTest, OfflineFarmDownFailingThenWellCostsNoLog) {
  Plant(6000);  // 60 s -> 10 ms, 600 s -> 100 ms; the metadata asks for a check every hour
  SetHost("127.0.0.1:1");
  Put(tmp_ + "/offline", "");
  ServiceProcess service(tmp_);
  ASSERT_GT(service.Start(), 0);
  ASSERT_TRUE(service.WaitFor([&] { return Count(service.Log(), "600 seconds.") >= 3; })) << service.Log();
  EXPECT_EQ(logs_.size(), OnDisk()) << "a log went while offline";
  fs::remove(tmp_ + "/offline");
  size_t cycles = service.Cycles();
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 3; }));
  const char* const faults[][2] = {
      {"first_call", "500"}, {"update_check", "garbage"}, {"usage", "truncated"}, {"crash", "404"}};
  for (const auto& f : faults) ASSERT_TRUE(farm_->SetFault(f[0], f[1], 1));
  SetHost(farm_->hostPort());
  cycles = service.Cycles();
  // The garbage answer, then a good one an hour (six cycles) later.
  ASSERT_TRUE(service.WaitFor([&] { return OnDisk() == 0 && Checks() >= 2; })) << service.Log();
  // Four virtual hours on: a check an hour, not one a cycle.
  ASSERT_TRUE(service.WaitFor([&] { return service.Cycles() >= cycles + 24; }));
  ASSERT_EQ(0, service.Stop(SIGTERM)) << "no clean exit with 0 on SIGTERM";

  EXPECT_EQ("", ReadAll(tmp_ + "/bin/output.txt"));
  EXPECT_LE(Checks(), (service.Cycles() - cycles) / 3) << "a check an hour, never one a cycle";
  EXPECT_EQ("1-0-7", Value(kServiceKey, "MetadataVer"));
  EXPECT_EQ("1.0.10", Value(kProductKey, "NextVersion"));
  // Usage and installer logs taken and kept as ".old"; the crash log deleted.
  for (const auto& l : logs_) EXPECT_EQ(l.first.find("crash") == std::string::npos, fs::exists(Old(l.first)));
  EXPECT_EQ(kIdentityAfter, ReadAll(Identity()));
  CheckWhole("after SIGTERM");
}

// Each run's service is started by a stand-in test process that is then killed,
// as a time-out or a crash would end a test: the service dies with it, at a
// random moment of its work, and costs no log.
TEST_F(EndToEndTest, KilledWithTheProcessThatStartedItAtRandomMomentsLosesNoLog) {
  Plant(60000);  // many requests a second
  std::mt19937 random(20261207);
  for (int run = 0; run < 10; ++run) {
    ASSERT_TRUE(farm_->Reset());  // a log counts as received only when this run sent it
    for (const auto& log : logs_) {
      fs::remove(Old(log.first));
      Put(log.first, log.second);
    }
    int pipe[2];
    ASSERT_EQ(0, ::pipe(pipe));
    const pid_t starter = ::fork();
    if (starter == 0) {
      ServiceProcess service(tmp_);
      const pid_t pid = service.Start();
      if (::write(pipe[1], &pid, sizeof pid) == sizeof pid) ::pause();
      ::_exit(1);
    }
    pid_t service = 0;
    ASSERT_EQ(static_cast<ssize_t>(sizeof service), ::read(pipe[0], &service, sizeof service));
    ::close(pipe[0]);
    ::close(pipe[1]);
    const int ms = std::uniform_int_distribution<int>(0, 300)(random);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::kill(starter, SIGKILL);
    ::waitpid(starter, nullptr, 0);
    auto gone = [&] {  // no process, or a zombie no one has reaped yet
      std::string stat = ReadAll("/proc/" + std::to_string(service) + "/stat");
      return stat.empty() || stat.compare(stat.rfind(')') + 1, 3, " Z ") == 0;
    };
    const bool ended = Eventually(gone);
    if (!ended) ::kill(service, SIGKILL);
    ASSERT_TRUE(ended) << "the service outlived the process that started it";
    CheckWhole("run " + std::to_string(run) + " killed after " + std::to_string(ms) + " ms");
  }
}

}  // namespace

#endif  // !_WIN32 && INKORA_HAVE_WEBFARM_FIXTURE
