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
#include <filesystem>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
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

// In a child: the listed system calls fail with err from now on.
bool FailCalls(std::vector<uint32_t> calls, int err) {
  std::vector<sock_filter> filter = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
  for (size_t i = 0; i < calls.size(); ++i)
    filter.push_back(
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, calls[i], static_cast<uint8_t>(calls.size() - i), 0));
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<uint32_t>(err)));
  sock_fprog program = {static_cast<uint16_t>(filter.size()), filter.data()};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Whether fn holds in a child process.
bool HoldsInChild(const std::function<bool()>& fn) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(fn() ? 0 : 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Names are escaped in the file, so every byte of a name or value comes back.
TEST_F(PosixTest, EachViewIsAFileUnderTheRootReplacedWholeAndADamagedOneIsLeftAlone) {
  SetRaw("SOFTWARE\\A %x~\n", "e\xe9", kRegBinary, std::string("a\0", 2));
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(kSuccess, base_->registry()->CreateKey("SOFTWARE\\B", kKeyAllAccess | kKeyWow64_64Key, &k));
  const std::string hive = tmp_ + "/registry/HKLM32.hive", text = Get(hive);
  EXPECT_EQ("INKORA-HIVE 1\nkey SOFTWARE\nkey SOFTWARE\\A%20%25x~%0a\nvalue e%e9 3 6100\n", text);
  EXPECT_EQ("INKORA-HIVE 1\nkey SOFTWARE\nkey SOFTWARE\\B\n", Get(tmp_ + "/registry/HKLM.hive"));
  EXPECT_EQ(std::string("a\0", 2), GetRaw("software\\a %X~\n", "E\xe9").value_or("absent"));
  // Reads come from a parsed copy until another hive is renamed into place,
  // one of the same size included.
  std::string next = text;
  Put(hive + ".new", next.replace(next.find("6100"), 4, "6200"));
  ASSERT_EQ(0, ::rename((hive + ".new").c_str(), hive.c_str()));
  EXPECT_EQ(std::string("b\0", 2), GetRaw("software\\a %X~\n", "E\xe9").value_or("absent"));
  // A closing slash names the same tree.
  std::unique_ptr<Env> slashed = NewIsolatedEnv(tmp_ + "//");
  std::string folder;
  ASSERT_EQ(kSuccess, slashed->files()->GetKnownFolder(KnownFolder::kCommonAppData, &folder));
  EXPECT_EQ(tmp_ + "/ProgramData", folder);
  // Opening makes nothing. An "offline" file, or no interface up (a new netns), is no connection.
  EXPECT_EQ(kErrorFileNotFound,
            NewIsolatedEnv(tmp_ + "/fresh")->registry()->OpenKey("SOFTWARE", kKeyRead | k32, &k));
  EXPECT_FALSE(base_->files()->PathExists(tmp_ + "/fresh"));
  std::unique_ptr<InstanceLock> lock;  // the instance lock makes the root it lies in
  EXPECT_EQ(kSuccess, NewIsolatedEnv(tmp_ + "/fresh")->services()->AcquireInstanceLock("x", &lock));
  EXPECT_TRUE(base_->http()->IsConnected());
  Put(tmp_ + "/offline", "");
  EXPECT_FALSE(base_->http()->IsConnected());
  EXPECT_TRUE(HoldsInChild([] {  // where namespaces are to be had
    return ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 || !NewIsolatedEnv("/x")->http()->IsConnected();
  }));
  EXPECT_EQ(kErrorInvalidParameter, base_->registry()->CreateKey("\\", kKeyRead | k32, &k));
  // A hive cut short is refused whole, and a write does not replace it.
  const std::string bad = text.substr(0, text.size() - 1);
  Put(hive, bad);
  EXPECT_EQ(kErrorInvalidData, base_->registry()->OpenKey("SOFTWARE", kKeyRead | k32, &k));
  EXPECT_EQ(kErrorInvalidData, base_->registry()->CreateKey("K2", kKeyAllAccess | k32, &k));
  EXPECT_EQ(bad, Get(hive));
}

// A hive is read whole or refused: every cut inside a line, and each damaged
// line, fails with its number and reason and leaves no key behind.
TEST(HiveFormat, ACutOrDamagedLineIsRefusedWithItsNumberAndReason) {
  const std::string magic = "INKORA-HIVE 1\n", good = magic + "key S\nvalue a 4 01000000\n";
  Hive hive;
  std::string error;
  for (size_t n = 0; n <= good.size(); ++n)
    EXPECT_EQ(n == 0 || good[n - 1] == '\n', ParseHive(good.substr(0, n), &hive, &error)) << n;
  EXPECT_EQ("line 3: missing line end (truncated file)", error);
  const std::pair<std::string, const char*> rows[] = {
      {"INKORA-HIVE 2\n", "line 1: not a hive file"},
      {magic + "value a 4 00\n", "line 2: value outside a key"},
      {magic + "key S%4\n", "line 2: bad key name"},
      {magic + "key S\nvalue a 4\n", "line 3: unknown line"},
      {magic + "key S\nkey a 4 00\n", "line 3: unknown line"},
      {magic + "key S\nvalue %g0 4 00\n", "line 3: bad value name"},
      {magic + "key S\nvalue a 4294967296 00\n", "line 3: bad value type"},
      {magic + "key S\nvalue a -4 00\n", "line 3: bad value type"},
      {magic + "key S\nvalue a 4 0\n", "line 3: bad value data"},
      {magic + "key S\nvalue a 4 0g\n", "line 3: bad value data"},
      {magic + "key %0g\n", "line 2: bad key name"},
  };
  for (const auto& [text, reason] : rows) {
    EXPECT_FALSE(ParseHive(text, &hive, &error));
    EXPECT_EQ(reason, error);
    EXPECT_TRUE(hive.keys.empty()) << reason;
  }
  // Every hex digit in either case, an empty value as "-".
  ASSERT_TRUE(ParseHive(magic + "key S%2A%2a\nvalue %7E 4 09afAF\nvalue b 1 -\n", &hive, &error));
  const std::vector<HiveValue>& v = hive.keys.at(0).values;
  EXPECT_EQ("S** ~ 4 \x09\xaf\xaf b 1 ",
            hive.keys[0].path + " " + v.at(0).name + " " + std::to_string(v[0].type) + " " + v[0].data + " " +
                v.at(1).name + " " + std::to_string(v[1].type) + " " + v[1].data);
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

// Without renameat2 (ENOSYS, or EINVAL from a file system without the flag) a
// rename links: never over a file. Any other failure is the rename's.
TEST_F(PosixTest, RenamesWithoutRenameat2NeverReplaceEither) {
  for (const int err : {ENOSYS, EINVAL, EACCES}) {
    Put(Tmp("a"), "a");
    Put(Tmp("b"), "b");
    const bool linked = err != EACCES;
    EXPECT_TRUE(HoldsInChild([&] {
      std::unique_ptr<Folder> f;
      return FailCalls({__NR_renameat2}, err) && base_->files()->OpenFolder(tmp_, &f) == kSuccess &&
             f->RenameFile("a", "b", nullptr) == (linked ? kErrorAlreadyExists : kErrorAccessDenied) &&
             f->RenameFile("a", "c", nullptr) == (linked ? kSuccess : kErrorAccessDenied);
    })) << err;
    EXPECT_EQ(linked ? "b a 0" : "b  1", Get(Tmp("b")) + " " + (Exists(Tmp("c")) ? Get(Tmp("c")) : "") + " " +
                                             std::to_string(Exists(Tmp("a"))));
    base_->files()->DeleteFile(Tmp("c"));
  }
}

// A system call refused (as to an account that may not write the hive) is an
// error, never an empty or a writable hive.
TEST_F(PosixTest, ARefusedSystemCallIsAnErrorNotAnEmptyOrWritableHive) {
  SetDword("SOFTWARE\\K", "x", 1);
  const std::pair<std::vector<uint32_t>, Status> rows[] = {
      {{__NR_access, __NR_faccessat, __NR_faccessat2}, kSuccess},  // the read still works
      {{__NR_open, __NR_openat}, kErrorAccessDenied}};
  for (const auto& [calls, read] : rows) {
    EXPECT_TRUE(HoldsInChild([&, read = read] {
      std::unique_ptr<RegKey> k;
      return FailCalls(calls, EACCES) &&
             base_->registry()->OpenKey("SOFTWARE\\K", kKeyRead | k32, &k) == read &&
             base_->registry()->OpenKey("SOFTWARE\\K", kKeyAllAccess | k32, &k) == kErrorAccessDenied &&
             base_->registry()->CreateKey("SOFTWARE\\New", kKeyAllAccess | k32, &k) == kErrorAccessDenied;
    })) << calls[0];
  }
  EXPECT_EQ(std::string("\1\0\0\0", 4), GetRaw("SOFTWARE\\K", "x").value_or(""));
  EXPECT_FALSE(GetRaw("SOFTWARE\\New", "x"));
}

// A hardened unit may write the log and the file aside but not their folder
// (each is bound into a read-only tree, so a rename is EBUSY): the log is
// copied aside and emptied. A log another writer holds is waited for about a
// second, then the entry is dropped whole.
TEST_F(PosixTest, ALogIsCopiedAsideWhereItCannotMoveAndAHeldOneIsWaitedForBriefly) {
  const std::string log = Tmp("x.log"), aside = Tmp("x.old.log");
  Put(log, "kept");
  Put(aside, "older");
  EXPECT_TRUE(HoldsInChild([&] {
    return FailCalls({__NR_rename, __NR_renameat, __NR_renameat2}, EBUSY) &&
           base_->files()->RotateFile(log, aside) == kSuccess;
  }));
  EXPECT_EQ("kept|", Get(aside) + "|" + Get(log));
  EXPECT_TRUE(HoldsInChild([&] {  // a replace that cannot rename leaves no temporary file
    std::unique_ptr<Folder> f;
    return FailCalls({__NR_renameat, __NR_renameat2}, EBUSY) &&
           base_->files()->OpenFolder(tmp_, &f) == kSuccess && f->ReplaceFile("y.id", "new") != kSuccess;
  }));
  for (const auto& e : std::filesystem::directory_iterator(tmp_))
    EXPECT_EQ(std::string::npos, e.path().filename().string().find(".tmp")) << e.path();
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
  ::setenv("TZ", "Australia/Sydney", 1);  // daylight time in January: July's offset
  EXPECT_EQ(-600, env->clock()->GetTimeZoneBias());
  // The calendar of now, to the second (asked again where a second ticked between).
  std::vector<int> now, calendar = {0};
  for (int i = 0; i < 3 && now != calendar; ++i) {
    const int64_t at = env->clock()->Now();
    const SystemTime t = env->clock()->GetLocalTime();
    ASSERT_TRUE(env->clock()->ToLocalTime(at, &f));
    now = {t.year, t.month, t.day, t.hour, t.minute, t.second, t.dayOfWeek};
    calendar = {f.year, f.month, f.day, f.hour, f.minute, f.second, f.weekday};
  }
  EXPECT_EQ(calendar, now);
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
  std::string other;
  EXPECT_FALSE(env->system()->GetLocaleInfo(kLocaleLanguage + kLocaleCountry, &other));
  OsVersionInfo info;  // an NT-family workstation of version 10.0
  info.minorVersion = info.platformId = 7;
  for (const VersionRecord record : {VersionRecord::kExtended, VersionRecord::kBasic}) {
    ASSERT_TRUE(env->system()->GetVersionEx(&info, record));
    EXPECT_EQ(record == VersionRecord::kExtended ? "10.0 2 256 1" : "10.0 2 0 0",
              std::to_string(info.majorVersion) + "." + std::to_string(info.minorVersion) + " " +
                  std::to_string(info.platformId) + " " + std::to_string(info.suiteMask) + " " +
                  std::to_string(info.productType));
  }
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
  Put(tmp_ + "/systemctl",
      "#!/bin/sh\nprintf \"%s|\" \"$*\" >>\"$0.log\"\n[ \"$1\" != is-active ] || exit 3\n");
  ::chmod((tmp_ + "/systemctl").c_str(), 0755);
  ::setenv("INKORA_SYSTEMCTL", (tmp_ + "/systemctl").c_str(), 1);
  ::setenv("INKORA_UNIT_DIR", tmp_.c_str(), 1);
  std::unique_ptr<ScManager> manager;
  std::unique_ptr<ScService> service, other;
  ServiceConfig config;
  config.name = "s";
  config.binaryPath = "/opt/InkoraUpdater -r";
  ASSERT_EQ(kSuccess, base_->services()->OpenManager(kScManagerAllAccess, &manager));
  ASSERT_EQ(kSuccess, manager->CreateService(config, &service));
  EXPECT_NE(std::string::npos, Get(tmp_ + "/s.service").find("/opt/InkoraUpdater -r"));
  ASSERT_EQ(kSuccess, manager->OpenService("s", kServiceAllAccess, &service));
  EXPECT_EQ(kErrorServiceDoesNotExist, manager->OpenService("t", kServiceAllAccess, &other));
  EXPECT_EQ(kSuccess, service->SetDescription("Keeps it current"));
  EXPECT_NE(std::string::npos, Get(tmp_ + "/s.service").find("\nDescription=Keeps it current\n"));
  EXPECT_EQ(kSuccess, service->Start());
  ServiceStatus status;  // only a stop is sent, and only to a running unit
  EXPECT_EQ(kErrorInvalidParameter, service->Control(kServiceControlInterrogate, &status));
  EXPECT_EQ(kErrorServiceNotActive, service->Control(kServiceControlStop, &status));
  EXPECT_EQ(kSuccess, service->Delete());
  EXPECT_FALSE(Exists(tmp_ + "/s.service"));
  EXPECT_EQ(
      "daemon-reload|enable s.service|is-active --quiet s.service|start s.service|is-active --quiet "
      "s.service|disable s.service|daemon-reload|",
      Get(tmp_ + "/systemctl.log"));
  ::unsetenv("INKORA_SYSTEMCTL");
  ::unsetenv("INKORA_UNIT_DIR");
}

}  // namespace
}  // namespace platform
