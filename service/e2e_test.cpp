// End-to-end runs on Linux of the program itself over a private root, fast-
// forwarded, against the web farm, ended by SIGTERM or killed at random moments.
#if !defined(_WIN32) && defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

  // A service that dies with the process that started it, given a command word or none.
  pid_t Start(const char* word = nullptr) {
    const pid_t pid = static_cast<pid_t>(webfarm_testing::ForkTiedToTest());
    if (pid != 0) return pid;
    ::setenv("INKORA_ROOT", tmp_.c_str(), 1);
    ::setenv("INKORA_UNIT_DIR", (tmp_ + "/units").c_str(), 1);
    int fd = ::open((tmp_ + "/bin/output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    const std::string binary = tmp_ + "/bin/InkoraUpdater.bin";
    ::execl(binary.c_str(), binary.c_str(), word, static_cast<char*>(nullptr));
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
// the service is killed at random moments: no log is lost.
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
    ASSERT_GT(pid_ = Start(), 0);
    const int ms = std::uniform_int_distribution<int>(0, 300)(random);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
    CheckWhole("run " + std::to_string(run) + " killed after " + std::to_string(ms) + " ms");
  }
}

// Every entry below the folders, links not followed: a file's bytes (its size
// when large), a link's target, the type of anything else.
std::map<std::string, std::string> Snapshot(std::initializer_list<std::string> roots) {
  std::map<std::string, std::string> all;
  for (const std::string& root : roots) {
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      const fs::file_status st = e.symlink_status();
      all[e.path().string()] = fs::is_symlink(st)               ? "-> " + fs::read_symlink(e.path()).string()
                               : !fs::is_regular_file(st)       ? std::to_string(static_cast<int>(st.type()))
                               : fs::file_size(e.path()) > 4096 ? std::to_string(fs::file_size(e.path()))
                                                                : ReadAll(e.path().string());
    }
  }
  return all;
}

// A cycle over a tree a user has planted: links to files and folders outside
// (as logs, the ID file, profile folders), FIFOs (as logs and a symbol file), a
// device, a second name, a name leading out, a log too large, logs that read as
// empty. Nothing outside is touched and none of its text reaches the web farm or
// the log; the good logs are sent and retired, the rest stays, the service goes on.
TEST_F(EndToEndTest, APlantedTreeLeavesEverythingOutsideAloneAndTheServiceCycling) {
  SetDword(kServiceKey, "FastForward", 6000);
  const std::string out = tmp_ + "/outside", inkora = tmp_ + "/ProgramData/Quorvex/Inkora",
                    togo = inkora + "/Customer Improvement/togo", users = tmp_ + "/Users",
                    symbols = "/AppData/Roaming/Quorvex/Inkora/xml_symbols.xml";
  for (const char* name : {"secret.jlog", "secret.err", "secret.log", "hard.jlog", "precious.err", "id"})
    Put(out + "/" + name, std::string("SECRET-") + name);
  Put(out + "/carol/Roaming/Quorvex/Inkora/xml_symbols.xml", "<s version=\"1.0\">SECRET-carol</s>");
  Put(users + "/dave" + symbols, "<s version=\"1.0\">dave</s>");
  fs::create_directories(users + "/bob/AppData/Roaming/Quorvex/Inkora");
  fs::create_directories(users + "/carol");
  fs::remove(Identity());
  for (const auto& [link, target] :
       std::map<std::string, std::string>{{togo + "/leak.jlog", "secret.jlog"},
                                          {togo + "/leak.err", "secret.err"},
                                          {togo + "/InkoraInstall_leak.log", "secret.log"},
                                          {Identity(), "id"},
                                          {users + "/carol/AppData", "carol"},
                                          {users + "/eve", "carol"}})
    fs::create_symlink(out + "/" + target, link);
  fs::create_hard_link(out + "/hard.jlog", togo + "/hard.jlog");
  for (const std::string& fifo : {togo + "/fifo.jlog", togo + "/fifo.err", users + "/bob" + symbols})
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0644));
  ASSERT_TRUE(::getuid() != 0 || ::mknod((togo + "/dev.err").c_str(), S_IFCHR | 0644, ::makedev(1, 3)) == 0);
  // A plain file whose name, read as a Windows path, leads out to ProgramData's parent.
  std::ofstream(togo + "/a\\..\\..\\..\\..\\..\\..\\outside\\precious.err") << "{\"n\":\"name\"}";
  for (const char* name : {"/nul.jlog", "/nul.err"}) Put(togo + name, std::string("\0{\"n\":\"nul\"}", 12));
  Put(togo + "/big.jlog", "{\"n\":\"big\"}");
  fs::resize_file(togo + "/big.jlog", (64u << 20) + 1);
  // The tree but for what the cycle is to change: the good logs and dave's symbol file.
  const auto tree = [&] {
    auto all = Snapshot({out, inkora, users});
    for (const auto& log : logs_) all.erase(log.first), all.erase(Old(log.first));
    all.erase(users + "/dave" + symbols);
    return all;
  };
  const auto before = tree();

  ASSERT_GT(pid_ = Start(), 0);
  ASSERT_TRUE(WaitFor([&] {
    return OnDisk() == 0 && ReadAll(users + "/dave" + symbols).find("2.0") != std::string::npos &&
           Cycles() >= 100;
  })) << Log();
  ::kill(pid_, SIGTERM);
  ASSERT_TRUE(Eventually([&] { return Ended(); }) && status_ == 0) << "no clean exit with 0 on SIGTERM";
  EXPECT_EQ(before, tree()) << "outside, and every planted entry, as it was";
  std::string received;
  for (const auto& r : farm_->Requests()) received += r.payload + "\n";
  for (const auto& log : logs_) EXPECT_NE(std::string::npos, received.find(log.second)) << log.first;
  const std::string log = Log();
  for (const char* secret : {"SECRET", "\"name\"", "\"nul\"", "\"big\""})
    EXPECT_EQ(std::string::npos, (received + log).find(secret)) << secret;
  for (const char* skipped : {"leak.jlog: a symbolic link", "hard.jlog: a file with more than one name",
                              "fifo.err: a FIFO, socket or device", "precious.err: a name that is no plain"})
    EXPECT_NE(std::string::npos, log.find(skipped)) << skipped;
}

}  // namespace

#endif  // !_WIN32 && INKORA_HAVE_WEBFARM_FIXTURE
