// The system's name from os-release, as the payload's operating-system text uses it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/posix/posix_env.h"

namespace platform {
namespace {

TEST(OsRelease, NameFromTheFile) {
  const struct {
    const char* label;
    const char* text;  // null: no file
    bool read;
    const char* name;
  } cases[] = {
      {"quoted", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
       true, "Debian GNU/Linux 12 (bookworm)"},
      {"unquoted, blanks around", "  PRETTY_NAME=Alpine   \nNAME=x", true, "Alpine"},
      {"single quotes keep backslashes", "PRETTY_NAME='A \\\" B'\n", true, "A \\\" B"},
      {"escapes in double quotes", "PRETTY_NAME=\"Say \\\"hi\\\" \\\\o/\"\r\n", true, "Say \"hi\" \\o/"},
      {"control characters dropped", "PRETTY_NAME=\"a\tb\x01\"\n", true, "ab"},
      {"comment and look-alike keys", "#PRETTY_NAME=no\nXPRETTY_NAME=no\nPRETTY_NAMES=no\nNAME=Arch Linux\n",
       true, "Arch Linux"},
      {"missing key: NAME", "ID=fedora\nNAME=\"Fedora Linux\"\n", true, "Fedora Linux"},
      {"empty and unterminated values", "PRETTY_NAME=\"\"\nNAME=\"Open\n", true, "Linux"},
      {"neither key", "ID=x\n", true, "Linux"},
      {"missing file", nullptr, false, ""},
  };
  char tmpl[] = "/tmp/inkora-os-release-XXXXXX";
  int fd = ::mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const std::string path = tmpl;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::remove(path.c_str());
    if (c.text != nullptr) {
      FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fputs(c.text, f);
      std::fclose(f);
    }
    std::string name;
    EXPECT_EQ(c.read, ReadOsReleaseName(path, &name));
    EXPECT_EQ(c.name, name);
  }
  std::remove(path.c_str());
}

TEST(OsRelease, TheSystemDescriptionCarriesTheName) {
  std::string expected = "Linux";
  if (!ReadOsReleaseName("/etc/os-release", &expected)) ReadOsReleaseName("/usr/lib/os-release", &expected);
  OsVersionInfo info;
  info.csdVersion = "left over";
  ASSERT_TRUE(NewPosixEnv("/nonexistent")->GetVersionEx(&info));
  EXPECT_EQ(expected, info.productName);
  EXPECT_EQ("", info.csdVersion);
}

}  // namespace
}  // namespace platform
