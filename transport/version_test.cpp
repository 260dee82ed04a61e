#include <gtest/gtest.h>

#include <string>

#include "transport/utility.h"

namespace {

// 1: the candidate is newer, 2: the current one is, 0: neither.
TEST(Versions, CompareComponentByComponentLikeTheRuntimesAtoi) {
  std::string dots;  // "1.1. ... 1." of 256 characters: components past 259 are not read
  while (dots.size() < 256) dots += "1.";
  const struct {
    std::string current, candidate;
    int result;
  } cases[] = {
      {"1.2.3.4", "1.2.3.5", 1},
      {"1.2.3.5", "1.2.3.4", 2},
      {"1.10", "1.9", 2},
      {"9", "10", 1},
      {"1.2", "1.2.5", 0},  // only as far as both go
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
      {"1.2", "1.-1", 1},                  // -1 reads as 4294967295
      {"2147483647", "99999999999", 0},    // saturates at INT_MAX
      {"-2147483648", "-99999999999", 0},  // and at INT_MIN
      {"0", "-99999999999", 1},
      {dots + "100", dots + "101", 1},
      {dots + "1000", dots + "1001", 0},
      {std::string("1.2\0.9", 6), "1.2", 0},
      {std::string("\0"
                   "5",
                   2),
       "1", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, CompareVersions(c.current, c.candidate)) << c.current << " / " << c.candidate;
    EXPECT_EQ(c.result == 1, IsNewerVersion(c.current, c.candidate)) << c.current << " / " << c.candidate;
  }
  for (char blank : std::string(" \t\n\v\f\r")) EXPECT_EQ(0, CompareVersions(blank + std::string("3"), "3"));
}

}  // namespace
