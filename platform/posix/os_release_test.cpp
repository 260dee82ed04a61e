// The system's name from os-release, as the payload's operating-system text uses it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/posix/posix_env.h"

namespace platform {
namespace {

TEST(OsRelease, NameFromTheFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"NAME=\"Debian\"\nPRETTY_NAME=\"Debian 12 (bookworm)\"\n", "Debian 12 (bookworm)"},
      {"  PRETTY_NAME=Alpine   \nNAME=x", "Alpine"},
      {"PRETTY_NAME='A \\\" B'\n", "A \\\" B"},
      {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\o/\"\r\n", "Say \"hi\" \\o/"},
      {"PRETTY_NAME=\"a\tb\x01\"\n", "ab"},  // control characters dropped
      {"#PRETTY_NAME=no\nXPRETTY_NAME=no\nPRETTY_NAMES=no\nNAME=Arch Linux\n", "Arch Linux"},
      {"PRETTY_NAME=\"\"\nNAME=\"Open\n", "Linux"},
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
