// End-to-end runs on Linux of the program itself over a private root, fast-
// forwarded, against the web farm, ended by SIGTERM or killed at random moments.
#if !defined(_WIN32) && defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
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

// The machine as the product leaves it, with an identity file whose GUID the
// registry corrects, and the program in root/bin, its log beside it.
class EndToEndTest : public platform_testing::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    std::string error;
    farm_ = webfarm_testing::CWebFarm::Start(&error);
    ASSERT_TRUE(farm_ != nullptr) << error;
    const std::pair<const char*, std::string> product[] = {
        {"ComputerID", kGuid}, {"UserID", "{1}"}, {"CurrentVersion", "1.0.5"}, {"ProductNumber", "INK-100"}};
    for (const auto& v : product) SetRaw(kProductKey, v.first, platform::kRegSz, v.second + '\0');
    SetRaw(kServiceKey, "ProductionHost", platform::kRegSz, farm_->hostPort() + '\0');
    SetDword(kServiceKey, "debug", 1);
    Put(Identity(), kIdentityBefore);
    const std::string togo = tmp_ + "/ProgramData/Quorvex/Inkora/Customer Improvement/togo/";
    for (int i = 0; i < 3; ++i)
      logs_[togo + "usage" + std::to_string(i) + ".jlog"] = "{\"n\":" + std::to_string(i) + "}";
    logs_[togo + "crash0.err"] = "{\"cid\":\"" + kGuid + "\",\"crash\":1}";
    logs_[togo + "InkoraInstall_1.log"] = "installer log";
    for (const auto& log : logs_) Put(log.first, log.second);
    fs::create_directories(tmp_ + "/units");
    fs::create_directories(tmp_ + "/bin");
    fs::copy_file(INKORA_UPDATER_BIN, tmp_ + "/bin/InkoraUpdater.bin");
  }
  void TearDown() override {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    TreeFixture::TearDown();
  }
  std::string Identity() const { return tmp_ + "/ProgramData/Quorvex/Inkora/Inkora.ID"; }
  std::string Log() const { return ReadAll(tmp_ + "/bin/InkoraUpdater.log"); }
  size_t Cycles() const { return Count(Log(), "Sleeping for timeout period"); }
  size_t Checks() {
    const auto requests = farm_->Requests();
    return std::count_if(requests.begin(), requests.end(),
                         [](const auto& r) { return r.role == "update_check" && r.method == "POST"; });
  }
  size_t OnDisk() {
    return std::count_if(logs_.begin(), logs_.end(), [](const auto& log) { return fs::exists(log.first); });
  }

  // A service that dies with the process that started it.
  pid_t Start() {
    const pid_t pid = static_cast<pid_t>(webfarm_testing::ForkTiedToTest());
    if (pid != 0) return pid;
    ::setenv("INKORA_ROOT", tmp_.c_str(), 1);
    ::setenv("INKORA_UNIT_DIR", (tmp_ + "/units").c_str(), 1);
    int fd = ::open((tmp_ + "/bin/output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    const std::string binary = tmp_ + "/bin/InkoraUpdater.bin";
    ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool Ended() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = 0;
    return pid_ == 0;
  }
  bool WaitFor(const std::function<bool()>& condition) {
    Eventually([&] { return condition() || Ended(); });
    return condition();
  }

  // Whatever moment the process ended at: the hive reads, the identity file is
  // the old or the new text whole, every log is on disk whole or was received.
  void CheckWhole(const std::string& when) {
    SCOPED_TRACE(when);
    std::string received;
    for (const auto& r : farm_->Requests()) received += r.role == "definition" ? "" : r.payload + "\n";
    EXPECT_EQ(kGuid, GetRaw(kProductKey, "ComputerID").value_or("(absent)"));
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
  pid_t pid_ = 0;
  int status_ = 0;
};

// Every endpoint fails once, then all answer well; SIGTERM ends it cleanly. Then
// a stand-in test process that started the service is killed at a random
// moment, as a time-out would end a test: the service dies with it, no log lost.
TEST_F(EndToEndTest, FailingThenWellEndsCleanlyAndAKillAtAnyMomentCostsNoLog) {
  SetDword(kServiceKey, "FastForward", 6000);  // a 60 s cycle in 10 ms; the metadata asks for a check an hour
  const char* const faults[][2] = {
      {"first_call", "500"}, {"update_check", "garbage"}, {"usage", "truncated"}, {"crash", "404"}};
  for (const auto& f : faults) ASSERT_TRUE(farm_->SetFault(f[0], f[1], 1));
  ASSERT_GT(pid_ = Start(), 0);
  // The garbage answer, a good one an hour (60 cycles) later, four hours in all.
  ASSERT_TRUE(WaitFor([&] { return OnDisk() == 0 && Checks() >= 2 && Cycles() >= 240; })) << Log();
  ::kill(pid_, SIGTERM);
  ASSERT_TRUE(Eventually([&] { return Ended(); }));
  EXPECT_EQ(0, status_) << "no clean exit with 0 on SIGTERM";

  EXPECT_EQ("", ReadAll(tmp_ + "/bin/output.txt"));
  EXPECT_EQ(1u, Count(Log(), "Update signatures are not checked: this build holds no vendor key")) << Log();
  EXPECT_LE(Checks(), Cycles() / 30) << "a check an hour, never one a cycle";
  EXPECT_EQ(kIdentityAfter, ReadAll(Identity()));
  CheckWhole("after SIGTERM");

  SetDword(kServiceKey, "FastForward", 60000);  // many requests a second
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
      const pid_t pid = Start();
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
