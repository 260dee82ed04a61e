#include "transport/url_string.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "transport/utility.h"

namespace {

TEST(UrlString, EscapesEveryByteButLettersDigitsAndSevenMarks) {
  const CUrlString url;
  for (int c = 0; c < 256; ++c) {
    const std::string in(1, static_cast<char>(c));
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", c);
    const bool kept = c == 0 || std::isalnum(c) != 0 || std::string("()*-._{").find(in) != std::string::npos;
    EXPECT_EQ(kept ? in : hex, url.Encode(in)) << c;
  }
  EXPECT_EQ("%252B%20x", url.Encode("%2B x"));  // an escape in the input is not taken for one
}

// The system's cracking (the platform suites check it) in the fields the transport reads.
TEST(UrlParts, CrackingAsTheSystemDoes) {
  UrlParts p("https://me:pw@uc.example.com:8443/a?query=abc");
  EXPECT_EQ("https 4 uc.example.com 8443 1 me pw /a ?query=abc",
            p.scheme + " " + std::to_string(p.nScheme) + " " + p.host + " " + std::to_string(p.nPort) + " " +
                std::to_string(p.bPortGiven) + " " + p.user + " " + p.password + " " + p.path + " " +
                p.extra);
  EXPECT_FALSE(p.CrackUrl("no url at all"));
  EXPECT_EQ("", p.host + p.path) << "nothing of the last URL is left";
}

// Components are read up to the shorter text's last, letters as 0, "-1" as
// 4294967295, saturating at the int range; only the first 259 characters and
// nothing after a NUL take part.
TEST(Versions, CompareComponentByComponentLikeTheRuntimesAtoi) {
  std::string dots;  // "1.1. ... 1." of 256 characters
  while (dots.size() < 256) dots += "1.";
  const struct {
    std::string current, candidate;
    int result;  // 1: the candidate is newer, 2: the current one is, 0: neither
  } cases[] = {
      {"1.2.3.4", "1.2.3.5", 1},
      {"1.10", "1.9", 2},
      {"1.2", "1.2.5", 0},
      {"", "", 0},
      {"", "0", 1},
      {"1.0", "", 2},
      {"1.x", "1.1", 1},
      {"+4", "4", 0},
      {"-0", "0", 0},
      {"1.2", "1.-1", 1},
      {"2147483647", "99999999999", 0},
      {"-2147483648", "-99999999999", 0},
      {"-2147483648", "-2147483647", 1},  // as unsigned numbers
      {"0", "-99999999999", 1},
      {dots + "100", dots + "101", 1},
      {dots + "1000", dots + "1001", 0},
      {std::string("1.2\0.9", 6), "1.2.5", 0},
      {std::string(1, '\0') + "5", "1", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, CompareVersions(c.current, c.candidate)) << c.current << " / " << c.candidate;
    EXPECT_EQ(c.result == 1, IsNewerVersion(c.current, c.candidate)) << c.current << " / " << c.candidate;
  }
  for (char blank : std::string(" \t\n\v\f\r")) EXPECT_EQ(0, CompareVersions(blank + std::string("3"), "3"));
}

}  // namespace
