// What only the POSIX backend has: hives, the environment, the service host and systemd units.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_env.h"
#include "platform/testing/tree_fixture.h"

namespace platform {
namespace {

constexpr uint32_t k32 = kKeyWow64_32Key;

using PosixTest = platform_testing::TreeFixture;

// Names are escaped in the file, so every byte of a name or value comes back.
TEST_F(PosixTest, EachViewIsAFileUnderTheRootReplacedWholeAndADamagedOneIsLeftAlone) {
  SetRaw("SOFTWARE\\A %x\n", "e\xe9", kRegBinary, std::string("a\0", 2));
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(kSuccess, base_->registry()->CreateKey("SOFTWARE\\B", kKeyAllAccess | kKeyWow64_64Key, &k));
  const std::string hive = tmp_ + "/registry/HKLM32.hive", text = Get(hive);
  EXPECT_EQ("INKORA-HIVE 1\nkey SOFTWARE\nkey SOFTWARE\\A%20%25x%0a\nvalue e%e9 3 6100\n", text);
  EXPECT_EQ("INKORA-HIVE 1\nkey SOFTWARE\nkey SOFTWARE\\B\n", Get(tmp_ + "/registry/HKLM.hive"));
  EXPECT_EQ(std::string("a\0", 2), GetRaw("software\\a %X\n", "E\xe9").value_or("absent"));
  // Reads come from a parsed copy until another hive is renamed into place,
  // one of the same size included.
  std::string next = text;
  Put(hive + ".new", next.replace(next.find("6100"), 4, "6200"));
  ASSERT_EQ(0, ::rename((hive + ".new").c_str(), hive.c_str()));
  EXPECT_EQ(std::string("b\0", 2), GetRaw("software\\a %X\n", "E\xe9").value_or("absent"));
  // A closing slash names the same tree.
  std::unique_ptr<Env> slashed = NewIsolatedEnv(tmp_ + "//");
  std::string folder;
  ASSERT_EQ(kSuccess, slashed->files()->GetKnownFolder(KnownFolder::kCommonAppData, &folder));
  EXPECT_EQ(tmp_ + "/ProgramData", folder);
  // Opening makes nothing. An "offline" file, or no interface up (a new netns), is no connection.
  EXPECT_EQ(kErrorFileNotFound,
            NewIsolatedEnv(tmp_ + "/fresh")->registry()->OpenKey("SOFTWARE", kKeyRead | k32, &k));
  EXPECT_FALSE(base_->files()->PathExists(tmp_ + "/fresh"));
  EXPECT_TRUE(base_->http()->IsConnected());
  Put(tmp_ + "/offline", "");
  EXPECT_FALSE(base_->http()->IsConnected());
  const pid_t child = ::fork();
  if (child == 0)
    ::_exit(::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 ? 2 : NewIsolatedEnv("/x")->http()->IsConnected());
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 1) << "2: no namespaces to be had here";
  EXPECT_EQ(kErrorInvalidParameter, base_->registry()->CreateKey("\\", kKeyRead | k32, &k));
  // A hive cut short is refused whole, and a write does not replace it.
  const std::string bad = text.substr(0, text.size() - 1);
  Put(hive, bad);
  EXPECT_EQ(kErrorInvalidData, base_->registry()->OpenKey("SOFTWARE", kKeyRead | k32, &k));
  EXPECT_EQ(kErrorInvalidData, base_->registry()->CreateKey("K2", kKeyAllAccess | k32, &k));
  EXPECT_EQ(bad, Get(hive));
}

// Two writers at once lose nothing (they lock); a reader, taking no lock, finds a whole hive.
TEST_F(PosixTest, WritersAtOnceLoseNothingAndReadersSeeWholeHives) {
  SetDword("SOFTWARE\\Shared", "x", 0);
  for (int c = 0; c < 2; ++c) {
    if (::fork() != 0) continue;
    for (int i = c * 100; i < c * 100 + 100; ++i) {
      std::unique_ptr<RegKey> k;
      const std::string name = "v" + std::to_string(i);
      if (base_->registry()->CreateKey("SOFTWARE\\Shared", kKeyAllAccess | k32, &k) != kSuccess ||
          k->SetValue(name, kRegSz, name.c_str(), static_cast<uint32_t>(name.size() + 1)) != kSuccess)
        ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  for (int done = 0; done<2; done += ::waitpid(-1, &status, WNOHANG)> 0) {
    EXPECT_EQ(0, status) << "a writer failed";
    std::unique_ptr<RegKey> k;
    ASSERT_EQ(kSuccess, base_->registry()->OpenKey("SOFTWARE\\Shared", kKeyRead | k32, &k));  // none in part
  }
  for (int i = 0; i < 200; ++i) {
    const std::string name = "v" + std::to_string(i);
    ASSERT_EQ(name, GetRaw("SOFTWARE\\Shared", name).value_or(""));
  }
}

// In a child: the listed system calls fail with err from now on.
bool FailCalls(std::vector<uint32_t> calls, uint32_t err) {
  std::vector<sock_filter> filter = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  for (size_t i = 0; i < calls.size(); ++i)
    filter.push_back(
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, calls[i], static_cast<uint8_t>(calls.size() - i), 0));
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | err));
  sock_fprog program = {static_cast<uint16_t>(filter.size()), filter.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

int ExitCode(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Without renameat2 (ENOSYS by a seccomp filter) a rename links: never over a file.
TEST_F(PosixTest, RenamesWithoutRenameat2NeverReplaceEither) {
  Put(Tmp("a"), "a");
  Put(Tmp("b"), "b");
  const pid_t child = ::fork();
  if (child == 0) {
    if (!FailCalls({__NR_renameat2}, ENOSYS)) ::_exit(2);
    std::unique_ptr<Folder> folder;
    ::_exit(base_->files()->OpenFolder(tmp_, &folder) == kSuccess &&
                    folder->RenameFile("a", "b", nullptr) == kErrorAlreadyExists &&
                    folder->RenameFile("a", "c", nullptr) == kSuccess
                ? 0
                : 1);
  }
  EXPECT_EQ(0, ExitCode(child));
  EXPECT_EQ("b a 0", Get(Tmp("b")) + " " + Get(Tmp("c")) + " " + std::to_string(Exists(Tmp("a"))));
}

// A hardened unit may write the log and the file aside but not their folder
// (each is bound into a read-only tree, so a rename is EBUSY): the log is
// copied aside and emptied. A log another writer holds is waited for about a
// second, then the entry is dropped whole.
TEST_F(PosixTest, ALogIsCopiedAsideWhereItCannotMoveAndAHeldOneIsWaitedForBriefly) {
  const std::string log = Tmp("x.log"), aside = Tmp("x.old.log");
  Put(log, "kept");
  Put(aside, "older");
  const pid_t child = ::fork();
  if (child == 0) {
    if (!FailCalls({__NR_rename, __NR_renameat, __NR_renameat2}, EBUSY)) ::_exit(2);
    ::_exit(base_->files()->RotateFile(log, aside) == kSuccess ? 0 : 1);
  }
  EXPECT_EQ(0, ExitCode(child));
  EXPECT_EQ("kept|", Get(aside) + "|" + Get(log));
  const int holder = ::open(ToPosixPath(log).c_str(), O_RDONLY);
  ASSERT_EQ(0, ::flock(holder, LOCK_EX));
  EXPECT_EQ(kErrorSharingViolation, base_->files()->AppendFile(log, "dropped"));
  ::close(holder);
  EXPECT_EQ(kSuccess, base_->files()->AppendFile(log, "new"));
  EXPECT_EQ("new", Get(log));
}

TEST(PosixEnvironment, RootClockAndSystemNameFromTheEnvironment) {
  ::setenv("INKORA_ROOT", "/srv/inkora", 1);
  EXPECT_EQ("/srv/inkora", DefaultPosixRoot());
  ::setenv("INKORA_ROOT", "", 1);
  EXPECT_EQ("/var/lib/inkoraupdater", DefaultPosixRoot());
  ::unsetenv("INKORA_ROOT");
  std::unique_ptr<Env> env = NewIsolatedEnv("/nonexistent");
  std::string data;
  EXPECT_NE(kSuccess, env->files()->ReadFile("/proc/self/mem", &data, 100));  // a read that fails (EIO)
  // 2001-09-09 01:46:40 UTC, a Sunday, in daylight time; the bias is standard time's.
  ::setenv("TZ", "America/New_York", 1);
  ::tzset();
  LocalTimeFields f;
  ASSERT_TRUE(env->clock()->ToLocalTime(1000000000, &f));
  char got[64];
  std::snprintf(got, sizeof(got), "%d %d-%d-%d %d:%d:%d %d", env->clock()->GetTimeZoneBias(), f.year, f.month,
                f.day, f.hour, f.minute, f.second, f.weekday);
  EXPECT_STREQ("300 2001-9-8 21:46:40 6", got);
  const SystemTime t = env->clock()->GetLocalTime();  // the calendar of now, unless a second ticked between
  ASSERT_TRUE(env->clock()->ToLocalTime(env->clock()->Now(), &f));
  EXPECT_TRUE(t.second != f.second ||
              (std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.dayOfWeek} ==
               std::vector<int>{f.year, f.month, f.day, f.hour, f.minute, f.weekday}));
  ::unsetenv("TZ");
  ::tzset();
  // The locale: of LC_ALL, LC_MESSAGES and LANG the first set; C is English (United States).
  for (const auto& [set, locale] :
       {std::make_pair("fr_CA.UTF-8@euro", "fr-CA"), {"C", "en-US"}, {"de", "de-"}}) {
    ::setenv("LC_ALL", set, 1);
    std::string language, country;
    env->system()->GetLocaleInfo(kLocaleLanguage, &language);
    EXPECT_EQ(locale,
              language + "-" + (env->system()->GetLocaleInfo(kLocaleCountry, &country) ? country : ""));
  }
  ::unsetenv("LC_ALL");
  // The system's name, from os-release.
  const std::pair<const char*, const char*> cases[] = {
      {"NAME=\"Debian\"\nPRETTY_NAME=\"Debian 12 (bookworm)\"\n", "Debian 12 (bookworm)"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\o/\"\r\n", "Say \"hi\" \\o/"},
      {"PRETTY_NAME=\"a\tb\x01\"\n", "ab"},  // control characters dropped
      {"#PRETTY_NAME=no\nXPRETTY_NAME=no\nPRETTY_NAMES=no\nNAME=Arch Linux \t\n", "Arch Linux"},
      {nullptr, ""},  // no file: not read
  };
  const std::string path = "/tmp/inkora-os-release-" + std::to_string(::getpid());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first != nullptr ? c.first : "no file");
    std::remove(path.c_str());
    if (c.first != nullptr) std::ofstream(path, std::ios::binary) << c.first;
    std::string name;
    EXPECT_EQ(*c.second != '\0', ReadOsReleaseName(path, &name));
    EXPECT_EQ(c.second, name);
  }
  std::remove(path.c_str());
}

// A signal wakes the host's wait to give the handler the stop control; the stopped report ends it.
std::unique_ptr<Env> g_env = NewIsolatedEnv("/nonexistent");
ServiceStatusHandle g_handle = 0;
std::atomic<int> g_controls{0};

void Report(uint32_t state) {
  ServiceStatus s;
  s.currentState = state;
  g_env->services()->SetStatus(g_handle, s);
}

void Later(void (*fn)()) {
  std::thread([fn] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fn();
  }).detach();
}

uint32_t Handler(uint32_t, uint32_t, void*, void*) {
  Report(g_controls++ == 0 ? kServiceStopPending : kServiceStopped);
  Later([] { Report(kServiceStopped); });
  return 0;
}

void Main(uint32_t, char**) {
  ASSERT_EQ(kSuccess, g_env->services()->RegisterHandler("Svc", Handler, nullptr, &g_handle));
  Report(kServiceRunning);
  Later([] { ::kill(::getpid(), SIGTERM); });
}

void Marker(int) {}

TEST(ServiceHost, ASignalIsOneStopControlAndTheStoppedReportEndsTheWait) {
  ::signal(SIGTERM, Marker);  // a SIGTERM the host does not take is no harm
  auto done = std::make_shared<std::promise<Status>>();
  std::future<Status> result = done->get_future();
  std::thread([done] { done->set_value(g_env->services()->StartDispatcher("Svc", Main)); }).detach();
  ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(10))) << "the host still waits";
  EXPECT_EQ(kSuccess, result.get());
  EXPECT_EQ(1, g_controls.load());
  EXPECT_EQ(Marker, ::signal(SIGTERM, SIG_DFL)) << "the program's own handler is not back";
}

// A service is a unit file written whole, then started and removed through systemctl (a stand-in).
TEST_F(PosixTest, ServicesAreUnitFilesManagedThroughSystemctl) {
  Put(tmp_ + "/systemctl", "#!/bin/sh\necho \"$*\" >>\"$0.log\"\n[ \"$1\" != is-active ] || exit 3\n");
  ::chmod((tmp_ + "/systemctl").c_str(), 0755);
  ::setenv("INKORA_SYSTEMCTL", (tmp_ + "/systemctl").c_str(), 1);
  ::setenv("INKORA_UNIT_DIR", tmp_.c_str(), 1);
  std::unique_ptr<ScManager> manager;
  std::unique_ptr<ScService> service;
  ServiceConfig config;
  config.name = "s";
  config.binaryPath = "/opt/InkoraUpdater -r";
  ASSERT_EQ(kSuccess, base_->services()->OpenManager(kScManagerAllAccess, &manager));
  ASSERT_EQ(kSuccess, manager->CreateService(config, &service));
  EXPECT_NE(std::string::npos, Get(tmp_ + "/s.service").find("/opt/InkoraUpdater -r"));
  EXPECT_EQ(kSuccess, service->Start());
  EXPECT_EQ(kSuccess, service->Delete());
  EXPECT_FALSE(Exists(tmp_ + "/s.service"));
  EXPECT_EQ(
      "daemon-reload\nenable s.service\nis-active --quiet s.service\nstart s.service\ndisable s.service\n"
      "daemon-reload\n",
      Get(tmp_ + "/systemctl.log"));
  ::unsetenv("INKORA_SYSTEMCTL");
  ::unsetenv("INKORA_UNIT_DIR");
}

}  // namespace
}  // namespace platform
