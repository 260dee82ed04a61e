#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/posix/posix_env.h"

namespace platform {
namespace {

constexpr uint32_t k32 = kKeyWow64_32Key;

class PosixEnvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/inkora-posix-XXXXXX";
    root_ = ::mkdtemp(tmpl);
    env_ = NewPosixEnv(root_);
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

  std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  void SetDword(const std::string& key, const std::string& name, uint32_t v, uint32_t view = k32) {
    std::unique_ptr<RegKey> k;
    ASSERT_EQ(env_->RegCreateKey(key, kKeyWrite | kKeyRead | view, &k), kSuccess);
    ASSERT_EQ(k->SetValue(name, kRegDword, &v, 4), kSuccess);
  }

  std::string root_;
  std::unique_ptr<Env> env_;
};

TEST(HiveFormat, RoundTripKeepsEveryByteAndOrder) {
  Hive hive;
  hive.keys.push_back({"SOFTWARE", {}});
  hive.keys.push_back({"SOFTWARE\\Odd Name %x\n", {{"", kRegSz, std::string("a\0b", 3)}, {"e\xe9", 7, ""}}});
  std::string text = SerializeHive(hive);
  Hive back;
  std::string error;
  ASSERT_TRUE(ParseHive(text, &back, &error)) << error;
  ASSERT_EQ(back.keys.size(), 2u);
  EXPECT_EQ(back.keys[1].path, "SOFTWARE\\Odd Name %x\n");
  ASSERT_EQ(back.keys[1].values.size(), 2u);
  EXPECT_EQ(back.keys[1].values[0].data, std::string("a\0b", 3));
  EXPECT_EQ(back.keys[1].values[1].name, "e\xe9");
  EXPECT_EQ(back.keys[1].values[1].type, 7u);
}

TEST(HiveFormat, MalformedTextIsRefusedWithItsLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"garbage\n", "line 1: not a hive file"},
      {"INKORA-HIVE 1\nvalue a 1 00\n", "line 2: value outside a key"},
      {"INKORA-HIVE 1\nkey A\nvalue a x 00\n", "line 3: bad value type"},
      {"INKORA-HIVE 1\nkey A\nvalue a 1 0\n", "line 3: bad value data"},
      {"INKORA-HIVE 1\nkey A\nvalue a 1 zz\n", "line 3: bad value data"},
      {"INKORA-HIVE 1\nkey A%4\n", "line 2: bad key name"},
      {"INKORA-HIVE 1\nkey A B\n", "line 2: unknown line"},
      {"INKORA-HIVE 1\nkey A\nvalue a 99999999999 00\n", "line 3: bad value type"},
      {"INKORA-HIVE 1\nkey A", "line 1: missing line end (truncated file)"},
  };
  for (const Case& c : cases) {
    Hive hive;
    std::string error;
    EXPECT_FALSE(ParseHive(c.text, &hive, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(hive.keys.empty());
  }
}

TEST(HiveFormat, EveryPrefixEitherParsesAtALineEndOrIsRefused) {
  Hive hive;
  hive.keys.push_back({"K", {{"v", kRegSz, "text"}, {"w", kRegDword, std::string("\1\0\0\0", 4)}}});
  std::string text = SerializeHive(hive);
  for (size_t n = 0; n < text.size(); ++n) {
    Hive cut;
    std::string error;
    bool ok = ParseHive(text.substr(0, n), &cut, &error);
    EXPECT_EQ(ok, n == 0 || text[n - 1] == '\n') << n;
  }
}

TEST_F(PosixEnvTest, CreateMakesParentsAndNamesIgnoreCase) {
  SetDword("SOFTWARE\\Quorvex\\InkoraUpdater", "debug", 1);
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(env_->RegOpenKey("software\\QUORVEX", kKeyRead | k32, &k), kSuccess);
  std::string name;
  ASSERT_EQ(k->EnumKey(0, &name, 260), kSuccess);
  EXPECT_EQ(name, "InkoraUpdater");  // the case it was created with
  EXPECT_EQ(k->EnumKey(1, &name, 260), kErrorNoMoreItems);
  EXPECT_EQ(k->EnumKey(0, &name, 5), kErrorMoreData);
  ASSERT_EQ(env_->RegOpenKey("SOFTWARE\\QUORVEX\\inkoraupdater\\", kKeyRead | k32, &k), kSuccess);
  uint32_t v = 0, size = 4, type = 0;
  EXPECT_EQ(k->QueryValue("DEBUG", &type, &v, &size), kSuccess);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(type, kRegDword);
}

TEST_F(PosixEnvTest, QueryFollowsTheBufferSizeProtocol) {
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(env_->RegCreateKey("K", kKeyRead | kKeyWrite | k32, &k), kSuccess);
  ASSERT_EQ(k->SetValue("s", kRegSz, "hello", 6), kSuccess);
  char buf[16];
  uint32_t size = 3, type = 0;
  EXPECT_EQ(k->QueryValue("s", &type, buf, &size), kErrorMoreData);
  EXPECT_EQ(size, 6u);
  size = 0;
  EXPECT_EQ(k->QueryValue("s", &type, nullptr, &size), kSuccess);
  EXPECT_EQ(size, 6u);
  size = sizeof(buf);
  EXPECT_EQ(k->QueryValue("s", &type, buf, &size), kSuccess);
  EXPECT_STREQ(buf, "hello");
  EXPECT_EQ(k->QueryValue("missing", &type, buf, &size), kErrorFileNotFound);
  EXPECT_EQ(k->DeleteValue("missing"), kErrorFileNotFound);
  EXPECT_EQ(k->DeleteValue("S"), kSuccess);
  EXPECT_EQ(k->QueryValue("s", &type, buf, &size), kErrorFileNotFound);
}

TEST_F(PosixEnvTest, ViewsAreApartAndOpenDoesNotCreate) {
  SetDword("SOFTWARE\\A", "x", 7, k32);
  std::unique_ptr<RegKey> k;
  EXPECT_EQ(env_->RegOpenKey("SOFTWARE\\A", kKeyRead, &k), kErrorFileNotFound);
  EXPECT_EQ(env_->RegOpenKey("SOFTWARE\\A", kKeyRead | k32, &k), kSuccess);
  EXPECT_EQ(env_->RegOpenKey("SOFTWARE\\B", kKeyRead | k32, &k), kErrorFileNotFound);
  EXPECT_EQ(env_->RegDeleteTree("SOFTWARE", k32), kSuccess);
  EXPECT_EQ(env_->RegOpenKey("SOFTWARE\\A", kKeyRead | k32, &k), kErrorFileNotFound);
  EXPECT_EQ(env_->RegDeleteTree("SOFTWARE", k32), kErrorFileNotFound);
}

TEST_F(PosixEnvTest, AccessRightsOfTheHandleAreEnforced) {
  SetDword("K", "x", 1);
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(env_->RegOpenKey("K", kKeyRead | k32, &k), kSuccess);
  uint32_t v = 2;
  EXPECT_EQ(k->SetValue("x", kRegDword, &v, 4), kErrorAccessDenied);
  EXPECT_EQ(k->DeleteValue("x"), kErrorAccessDenied);
  ASSERT_EQ(env_->RegOpenKey("K", kKeyWrite | k32, &k), kSuccess);
  uint32_t size = 4;
  EXPECT_EQ(k->QueryValue("x", nullptr, &v, &size), kErrorAccessDenied);
}

TEST_F(PosixEnvTest, DamagedHiveFileIsRefusedNotHalfRead) {
  SetDword("K", "x", 1);
  std::string file = root_ + "/registry/HKLM32.hive";
  std::string text = Slurp(file);
  for (size_t at : {size_t(0), text.size() / 2, text.size() - 2}) {
    std::string bad = text;
    bad[at] = '\x01';
    std::ofstream(file, std::ios::binary) << bad;
    std::unique_ptr<RegKey> k;
    EXPECT_EQ(env_->RegOpenKey("K", kKeyRead | k32, &k), kErrorInvalidData) << at;
    EXPECT_EQ(env_->RegCreateKey("K2", kKeyRead | kKeyWrite | k32, &k), kErrorInvalidData) << at;
    EXPECT_EQ(Slurp(file), bad) << "a refused hive is left as it was";
  }
}

// Readers take no lock: while another process rewrites the hive again and
// again, every read sees a whole hive, the old one or the new one.
TEST_F(PosixEnvTest, ReadersNeverSeeAHalfWrittenHive) {
  SetDword("SOFTWARE\\R", "n", 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    std::unique_ptr<Env> env = NewPosixEnv(root_);
    std::unique_ptr<RegKey> k;
    if (env->RegCreateKey("SOFTWARE\\R", kKeyRead | kKeyWrite | k32, &k) != kSuccess) ::_exit(1);
    for (uint32_t i = 1; i <= 400; ++i) {
      // A value that grows, so the file's size changes with every write.
      const std::string filler(i * 16, 'x');
      if (k->SetValue("filler", kRegSz, filler.c_str(), static_cast<uint32_t>(filler.size() + 1)) !=
              kSuccess ||
          k->SetValue("n", kRegDword, &i, 4) != kSuccess)
        ::_exit(2);
    }
    ::_exit(0);
  }
  uint32_t last = 0;
  int reads = 0;
  for (;;) {
    int status = 0;
    const bool done = ::waitpid(writer, &status, WNOHANG) == writer;
    std::unique_ptr<RegKey> k;
    ASSERT_EQ(env_->RegOpenKey("SOFTWARE\\R", kKeyRead | k32, &k), kSuccess) << "read " << reads;
    uint32_t n = 0, size = 4;
    ASSERT_EQ(k->QueryValue("n", nullptr, &n, &size), kSuccess) << "read " << reads;
    EXPECT_GE(n, last) << "a read went back in time";
    last = n;
    ++reads;
    if (done) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      break;
    }
  }
  EXPECT_EQ(last, 400u);
}

TEST_F(PosixEnvTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kPerProcess = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = ::fork();
    if (children[c] == 0) {
      std::unique_ptr<Env> env = NewPosixEnv(root_);
      for (int i = 0; i < kPerProcess; ++i) {
        std::unique_ptr<RegKey> k;
        if (env->RegCreateKey("SOFTWARE\\Shared", kKeyRead | kKeyWrite | k32, &k) != kSuccess) ::_exit(1);
        std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
        if (k->SetValue(name, kRegSz, name.c_str(), static_cast<uint32_t>(name.size() + 1)) != kSuccess)
          ::_exit(2);
      }
      ::_exit(0);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::unique_ptr<RegKey> k;
  ASSERT_EQ(env_->RegOpenKey("SOFTWARE\\Shared", kKeyRead | k32, &k), kSuccess);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < kPerProcess; ++i) {
      std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
      char buf[32];
      uint32_t size = sizeof(buf);
      ASSERT_EQ(k->QueryValue(name, nullptr, buf, &size), kSuccess) << name;
      EXPECT_EQ(std::string(buf), name);
    }
  }
}

TEST_F(PosixEnvTest, FilesBehaveAsOnWindows) {
  std::string dir = root_ + "\\ProgramData";
  ASSERT_EQ(env_->CreateDirectory(dir), kSuccess);
  EXPECT_EQ(env_->CreateDirectory(dir), kErrorAlreadyExists);
  std::string a = dir + "\\a.jlog", b = dir + "\\a.old";
  ASSERT_EQ(env_->WriteFileAtomic(a, "one"), kSuccess);
  ASSERT_EQ(env_->WriteFileAtomic(a, "two"), kSuccess);
  ASSERT_EQ(env_->WriteFileAtomic(b, "old"), kSuccess);
  // Rename never replaces: both files stay as they were.
  EXPECT_EQ(env_->MoveFile(a, b), kErrorAlreadyExists);
  std::string data;
  ASSERT_EQ(env_->ReadFile(a, &data, 100), kSuccess);
  EXPECT_EQ(data, "two");
  EXPECT_EQ(env_->ReadFile(a, &data, 2), kErrorInvalidData);
  ASSERT_EQ(env_->DeleteFile(b), kSuccess);
  EXPECT_EQ(env_->MoveFile(a, b), kSuccess);
  EXPECT_FALSE(env_->PathExists(a));
  EXPECT_EQ(env_->ReadFile(a, &data, 100), kErrorFileNotFound);
  ASSERT_EQ(env_->AppendFile(b, "+1"), kSuccess);
  ASSERT_EQ(env_->CreateDirectory(dir + "\\sub"), kSuccess);
  std::vector<DirEntry> entries;
  ASSERT_EQ(env_->ListDirectory(dir + "\\", &entries), kSuccess);
  ASSERT_EQ(entries.size(), 2u);  // no temporary files left behind
  for (const DirEntry& e : entries) EXPECT_EQ(e.isDirectory, e.name == "sub") << e.name;
  EXPECT_EQ(Slurp(root_ + "/ProgramData/a.old"), "two+1");
  EXPECT_EQ(env_->ListDirectory(dir + "\\none", &entries), kErrorFileNotFound);
}

TEST(PosixCrackUrl, GivesWhatTheWindowsSplitterGives) {
  struct Case {
    const char* url;
    Status status;
    int32_t scheme;
    const char* host;
    uint16_t port;
    bool portGiven;
    const char* path;
    const char* extra;
  } cases[] = {
      {"http://farm.example/Teko/UC.hsh?query=abc", kSuccess, 3, "farm.example", 80, false, "/Teko/UC.hsh",
       "?query=abc"},
      {"http://127.0.0.1:8080/uc#frag", kSuccess, 3, "127.0.0.1", 8080, true, "/uc", "#frag"},
      {"https://h/", kSuccess, 4, "h", 443, false, "/", ""},
      {"HTTP://h", kSuccess, 3, "h", 80, false, "", ""},
      {"http://u:p@h:1/x", kSuccess, 3, "h", 1, true, "/x", ""},
      {"http://h:99999/", kErrorInternetInvalidUrl, 0, "", 0, false, "", ""},
      {"http://h:/", kErrorInternetInvalidUrl, 0, "", 0, false, "", ""},
      {"no url", kErrorInternetInvalidUrl, 0, "", 0, false, "", ""},
      {"http:///path", kErrorInternetInvalidUrl, 0, "", 0, false, "", ""},
      {"", kErrorInternetInvalidUrl, 0, "", 0, false, "", ""},
  };
  for (const Case& c : cases) {
    UrlComponents p;
    ASSERT_EQ(PosixCrackUrl(c.url, &p), c.status) << c.url;
    if (c.status != kSuccess) continue;
    EXPECT_EQ(p.schemeNumber, c.scheme) << c.url;
    EXPECT_EQ(p.host, c.host) << c.url;
    EXPECT_EQ(p.port, c.port) << c.url;
    EXPECT_EQ(p.portGiven, c.portGiven) << c.url;
    EXPECT_EQ(p.path, c.path) << c.url;
    EXPECT_EQ(p.extra, c.extra) << c.url;
  }
}

TEST(PosixLocale, LanguageAndCountryFromTheEnvironment) {
  struct Case {
    const char* lang;
    const char* language;
    const char* country;
  } cases[] = {
      {"de_AT.UTF-8", "de", "AT"}, {"C", "en", "US"}, {"C.UTF-8", "en", "US"}, {"fr", "fr", nullptr}};
  std::unique_ptr<Env> env = NewPosixEnv("/nonexistent");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  for (const Case& c : cases) {
    ::setenv("LANG", c.lang, 1);
    std::string v;
    EXPECT_TRUE(env->GetLocaleInfo(0x59, &v));
    EXPECT_EQ(v, c.language);
    EXPECT_EQ(env->GetLocaleInfo(0x5A, &v), c.country != nullptr) << c.lang;
    if (c.country != nullptr) {
      EXPECT_EQ(v, c.country);
    }
  }
}

TEST(PosixClock, BiasIsStandardTimeWithWindowsSign) {
  std::unique_ptr<Env> env = NewPosixEnv("/nonexistent");
  struct Case {
    const char* tz;
    int32_t bias;
  } cases[] = {{"UTC", 0}, {"Europe/Berlin", -60}, {"America/New_York", 300}, {"Asia/Kolkata", -330}};
  for (const Case& c : cases) {
    ::setenv("TZ", c.tz, 1);
    ::tzset();
    EXPECT_EQ(env->GetTimeZoneBias(), c.bias) << c.tz;
  }
  ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
}  // namespace platform
