#include <gtest/gtest.h>

#include <string>

#include "transport/utility.h"

namespace {

TEST(Versions, Compare) {
  struct Case {
    std::string current, candidate;
    int result;
  } cases[] = {
      {"1.2.3.4", "1.2.3.5", 1},
      {"1.2.3.5", "1.2.3.4", 2},
      {"1.10", "1.9", 2},  // numbers, not text
      {"1.9", "1.10", 1},
      {"1.2", "1.2.5", 0},  // only as far as both go
      {"1.2.5", "1.2", 0},
      {"", "", 0},
      {"", "0", 1},
      {"1.0", "", 2},
      {"7", "07", 0},
      {"abc", "0", 0},  // letters count as 0
      {"1.x", "1.1", 1},
      {"1.2", "1.-1", 1},       // -1 is 4294967295
      {"4294967295", "-1", 1},  // the former saturates at 2147483647
      {" 3", "3", 0},           // leading blanks
      {"+4", "4", 0},
      {"1..2", "1.0.2", 0},  // an empty component is 0
      {"1.2.", "1.2.1", 1},
      {"2147483647", "99999999999", 0},  // saturates like the runtime's atoi
      {"0", "-99999999999", 1},          // INT_MIN as unsigned
      {"5.0.1", "5.0.1", 0},
      {"1.0.13.0", "1.0.14.0", 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, CUtility::CompareVersions(c.current, c.candidate))
        << c.current << " / " << c.candidate;
    EXPECT_EQ(c.result == 1, CUtility::IsNewerVersion(c.current, c.candidate))
        << c.current << " / " << c.candidate;
    EXPECT_EQ(c.result, CompareVersions(c.current, c.candidate));
  }
}

TEST(Versions, OnlyTheFirst259CharactersCount) {
  // Components up to character 259 are compared; a difference after it is not seen.
  std::string prefix;
  while (prefix.size() < 256) prefix += "1.";
  prefix.resize(256);  // "1.1. ... 1." ending in "."
  ASSERT_EQ('.', prefix.back());
  EXPECT_EQ(1, CUtility::CompareVersions(prefix + "100", prefix + "101"));    // chars 257..259 differ
  EXPECT_EQ(0, CUtility::CompareVersions(prefix + "1000", prefix + "1001"));  // char 260 differs
  // An embedded NUL ends the text as a C string would.
  EXPECT_EQ(0, CUtility::CompareVersions(std::string("1.2\0.9", 6), "1.2"));
  EXPECT_EQ(1, CUtility::CompareVersions(std::string("\0"
                                                     "5",
                                                     2),
                                         "1"));
}

}  // namespace
