#include <gtest/gtest.h>

#include <string>

#include "transport/utility.h"

namespace {

// Components are read up to the shorter text's last, letters as 0, "-1" as
// 4294967295, saturating at the int range; only the first 259 characters and
// nothing after a NUL take part.
TEST(Versions, CompareComponentByComponentLikeTheRuntimesAtoi) {
  std::string dots;  // "1.1. ... 1." of 256 characters
  while (dots.size() < 256) dots += "1.";
  const std::string nulFirst = std::string(1, '\0') + "5";
  const struct {
    std::string current, candidate;
    int result;  // 1: the candidate is newer, 2: the current one is, 0: neither
  } cases[] = {
      {"1.2.3.4", "1.2.3.5", 1},
      {"1.2.3.5", "1.2.3.4", 2},
      {"1.10", "1.9", 2},
      {"9", "10", 1},
      {"1.2", "1.2.5", 0},
      {"1.2.5", "1.2", 0},
      {"", "", 0},
      {"", "0", 1},
      {"1.0", "", 2},
      {"5.0.1", "5.0.1", 0},
      {"abc", "0", 0},
      {"1.x", "1.1", 1},
      {"1..2", "1.0.2", 0},
      {"+4", "4", 0},
      {"-0", "0", 0},
      {"1.2", "1.-1", 1},
      {"2147483647", "99999999999", 0},
      {"-2147483648", "-99999999999", 0},
      {"0", "-99999999999", 1},
      {dots + "100", dots + "101", 1},
      {dots + "1000", dots + "1001", 0},
      {std::string("1.2\0.9", 6), "1.2", 0},
      {nulFirst, "1", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, CompareVersions(c.current, c.candidate)) << c.current << " / " << c.candidate;
    EXPECT_EQ(c.result == 1, IsNewerVersion(c.current, c.candidate)) << c.current << " / " << c.candidate;
  }
  for (char blank : std::string(" \t\n\v\f\r")) EXPECT_EQ(0, CompareVersions(blank + std::string("3"), "3"));
}

}  // namespace
