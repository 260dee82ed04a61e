// What only the POSIX backend has: hive files, their format and locking, the
// root, and clock and locale from the process environment.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/posix_env.h"
#include "platform/testing/tree_fixture.h"

namespace platform {
namespace {

constexpr uint32_t k32 = kKeyWow64_32Key;

// Every byte and the order come back; a prefix of the text parses only at a line end.
TEST(HiveFormat, RoundTripKeepsEveryByteAndTheOrderAndCutsAreRefused) {
  Hive hive;
  hive.keys.push_back({"SOFTWARE", {}});
  hive.keys.push_back({"SOFTWARE\\Odd Name %x\n", {{"", kRegSz, std::string("a\0b", 3)}, {"e\xe9", 7, ""}}});
  const std::string text = SerializeHive(hive);
  Hive back;
  std::string error;
  ASSERT_TRUE(ParseHive(text, &back, &error)) << error;
  ASSERT_EQ(2u, back.keys.size());
  ASSERT_EQ(2u, back.keys[1].values.size());
  const HiveValue& v = back.keys[1].values[1];
  EXPECT_EQ(
      std::string("SOFTWARE\\Odd Name %x\n|a\0b|e\xe9 7", 30),
      back.keys[1].path + "|" + back.keys[1].values[0].data + "|" + v.name + " " + std::to_string(v.type));
  for (size_t n = 0; n < text.size(); ++n) {
    EXPECT_EQ(n == 0 || text[n - 1] == '\n', ParseHive(text.substr(0, n), &back, &error)) << n;
    EXPECT_TRUE(n > 0 || back.keys.empty()) << "an empty file is an empty hive";
  }
}

TEST(HiveFormat, MalformedTextIsRefusedWithItsLine) {
  struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"garbage\n", "line 1: not a hive file"},
      {"INKORA-HIVE 1\nvalue a 1 00\n", "line 2: value outside a key"},
      {"INKORA-HIVE 1\nkey A\nvalue a x 00\n", "line 3: bad value type"},
      {"INKORA-HIVE 1\nkey A\nvalue a 1 0\n", "line 3: bad value data"},
      {"INKORA-HIVE 1\nkey A\nvalue a%4 1 00\n", "line 3: bad value name"},
      {"INKORA-HIVE 1\nkey A%4g\n", "line 2: bad key name"},
      {"INKORA-HIVE 1\nkey A B\n", "line 2: unknown line"},
      {"INKORA-HIVE 1\nkey A\nvalue a 99999999999 00\n", "line 3: bad value type"},
      {"INKORA-HIVE 1", "line 1: missing line end (truncated file)"},
  };
  for (const auto& c : cases) {
    Hive hive;
    std::string error;
    EXPECT_FALSE(ParseHive(c.text, &hive, &error)) << c.text;
    EXPECT_EQ(c.error, error) << c.text;
    EXPECT_TRUE(hive.keys.empty());
  }
}

class PosixHiveTest : public platform_testing::TreeFixture {
 protected:
  std::string Hive32() const { return tmp_ + "/registry/HKLM32.hive"; }
};

TEST_F(PosixHiveTest, EachViewIsAFileUnderTheRootReplacedWhole) {
  SetDword("SOFTWARE\\A", "x", 7);
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(kSuccess, base_->RegCreateKey("SOFTWARE\\B", kKeyAllAccess | kKeyWow64_64Key, &k));
  EXPECT_NE(std::string::npos, Get(Hive32()).find("key SOFTWARE\\A\nvalue x 4 07000000\n"));
  EXPECT_EQ("INKORA-HIVE 1\nkey SOFTWARE\nkey SOFTWARE\\B\n", Get(tmp_ + "/registry/HKLM.hive"));
  // A closing slash names the same tree.
  std::unique_ptr<Env> slashed = NewPosixEnv(tmp_ + "//");
  EXPECT_EQ(kSuccess, slashed->RegOpenKey("SOFTWARE\\A", kKeyRead | k32, &k));
  std::string folder;
  ASSERT_EQ(kSuccess, slashed->GetKnownFolder(KnownFolder::kCommonAppData, &folder));
  EXPECT_EQ(tmp_ + "/ProgramData", folder);
  // Opening makes nothing. An "offline" file, or no interface up, is no connection.
  std::unique_ptr<Env> fresh = NewPosixEnv(tmp_ + "/fresh");
  EXPECT_EQ(kErrorFileNotFound, fresh->RegOpenKey("SOFTWARE", kKeyRead | k32, &k));
  EXPECT_FALSE(base_->PathExists(tmp_ + "/fresh"));
  EXPECT_TRUE(base_->InternetGetConnectedState());
  Put(tmp_ + "/offline", "");
  EXPECT_FALSE(base_->InternetGetConnectedState());
  // A network namespace of its own has only loopback, and that down.
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 ? 2
                                                         : NewPosixEnv("/x")->InternetGetConnectedState());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 1) << "2: no namespaces to be had here";
  EXPECT_EQ(kErrorInvalidParameter, base_->RegCreateKey("\\", kKeyRead | k32, &k));
  EXPECT_EQ(kErrorInvalidParameter, base_->RegOpenKey("", kKeyRead | k32, &k));
}

TEST_F(PosixHiveTest, DamagedHiveIsRefusedAndLeftAsItWas) {
  SetDword("K", "x", 1);
  const std::string text = Get(Hive32());
  std::string bad = text;
  bad[text.size() - 2] = 'x';  // a value's data
  Put(Hive32(), bad);
  std::unique_ptr<RegKey> k;
  EXPECT_EQ(kErrorInvalidData, base_->RegOpenKey("K", kKeyRead | k32, &k));
  EXPECT_EQ(kErrorInvalidData, base_->RegCreateKey("K2", kKeyAllAccess | k32, &k));
  EXPECT_EQ(bad, Get(Hive32()));
}

// Two writers at once lose nothing (they lock); a reader, taking no lock,
// always sees a whole hive and never an older one.
TEST_F(PosixHiveTest, WritersAtOnceLoseNothingAndReadersSeeWholeHives) {
  constexpr uint32_t kEach = 100;
  SetDword("SOFTWARE\\Shared", "n0", 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    if ((children[c] = ::fork()) != 0) continue;
    std::unique_ptr<Env> env = NewPosixEnv(tmp_);
    for (uint32_t i = 1; i <= kEach; ++i) {
      std::unique_ptr<RegKey> k;
      const std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
      if (env->RegCreateKey("SOFTWARE\\Shared", kKeyAllAccess | k32, &k) != kSuccess ||
          k->SetValue(name, kRegSz, name.c_str(), static_cast<uint32_t>(name.size() + 1)) != kSuccess ||
          k->SetValue("n" + std::to_string(c), kRegDword, &i, 4) != kSuccess)
        ::_exit(1);
    }
    ::_exit(0);
  }
  uint32_t last = 0;
  for (int status = 0, done = 0; done < 2;) {
    for (pid_t& pid : children) {
      if (pid == 0 || ::waitpid(pid, &status, WNOHANG) != pid) continue;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      pid = 0;
      ++done;
    }
    std::unique_ptr<RegKey> k;
    ASSERT_EQ(kSuccess, base_->RegOpenKey("SOFTWARE\\Shared", kKeyRead | k32, &k));
    uint32_t n = 0, size = 4;
    ASSERT_EQ(kSuccess, k->QueryValue("n0", nullptr, &n, &size));
    EXPECT_GE(n, last) << "a read went back in time";
    last = n;
  }
  EXPECT_EQ(kEach, last);
  for (int c = 0; c < 2; ++c) {
    for (uint32_t i = 1; i <= kEach; ++i) {
      const std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
      ASSERT_EQ(name, GetRaw("SOFTWARE\\Shared", name).value_or("")) << name;
    }
  }
}

// Without renameat2 (ENOSYS by a seccomp filter) a move links: never over a file.
TEST_F(PosixHiveTest, MovesWithoutRenameat2NeverReplaceEither) {
  Put(Tmp("a"), "a");
  Put(Tmp("b"), "b");
  const pid_t child = ::fork();
  if (child == 0) {
    sock_filter filter[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 1),
                            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
                            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    sock_fprog program = {4, filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      ::_exit(2);
    std::unique_ptr<Env> env = NewPosixEnv(tmp_);
    ::_exit(env->MoveFile(Tmp("a"), Tmp("b")) == kErrorAlreadyExists &&
                    env->MoveFile(Tmp("a"), Tmp("c")) == kSuccess
                ? 0
                : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ("b a 0", Get(Tmp("b")) + " " + Get(Tmp("c")) + " " + std::to_string(Exists(Tmp("a"))));
}

TEST(PosixRoot, FromTheEnvironmentWhenSet) {
  ::setenv("INKORA_ROOT", "/srv/inkora", 1);
  EXPECT_EQ("/srv/inkora", DefaultPosixRoot());
  ::setenv("INKORA_ROOT", "", 1);
  EXPECT_EQ("/var/lib/inkoraupdater", DefaultPosixRoot());
  ::unsetenv("INKORA_ROOT");
  EXPECT_EQ("/var/lib/inkoraupdater", DefaultPosixRoot());
  // A read that fails (EIO) is an error.
  std::string data;
  EXPECT_NE(kSuccess, NewPosixEnv("/")->ReadFile("/proc/self/mem", &data, 100));
}

TEST(PosixLocale, LanguageAndCountryFromTheEnvironment) {
  const std::pair<const char*, const char*> cases[] = {
      {"de_AT.UTF-8", "de AT"}, {"C.UTF-8", "en US"}, {"fr", "fr -"}};
  std::unique_ptr<Env> env = NewPosixEnv("/nonexistent");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  for (const auto& c : cases) {
    ::setenv("LANG", c.first, 1);
    std::string language, country;
    const bool hasLanguage = env->GetLocaleInfo(0x59, &language),
               hasCountry = env->GetLocaleInfo(0x5A, &country);
    EXPECT_EQ(c.second, (hasLanguage ? language : "-") + " " + (hasCountry ? country : "-")) << c.first;
  }
}

// 2001-09-09 01:46:40 UTC, a Sunday, and the standard-time bias, by zone.
TEST(PosixClock, FieldsAndBiasFollowTheZone) {
  std::unique_ptr<Env> env = NewPosixEnv("/nonexistent");
  const std::pair<const char*, const char*> cases[] = {
      {"UTC", "0 2001-9-9 1:46:40 0"},
      {"America/New_York", "300 2001-9-8 21:46:40 6"},  // in daylight time
      {"Asia/Kolkata", "-330 2001-9-9 7:16:40 0"},
  };
  for (const auto& c : cases) {
    ::setenv("TZ", c.first, 1);
    ::tzset();
    LocalTimeFields f;
    ASSERT_TRUE(env->ToLocalTime(1000000000, &f));
    char got[64];
    std::snprintf(got, sizeof(got), "%d %d-%d-%d %d:%d:%d %d", env->GetTimeZoneBias(), f.year, f.month, f.day,
                  f.hour, f.minute, f.second, f.weekday);
    EXPECT_STREQ(c.second, got) << c.first;
  }
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace platform
