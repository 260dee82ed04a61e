#include "transport/url_string.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

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
  EXPECT_EQ("ab%2Bc%2Fd%3D%3D", url.Encode("ab+c/d=="));
  EXPECT_EQ("%252B%20x", url.Encode("%2B x"));  // an escape in the input is not taken for one
}

TEST(UrlParts, CrackingAsTheSystemDoes) {
  // scheme number host port given user password path extra
  const std::pair<const char*, const char*> cases[] = {
      {"http://uc.example.com/Teko/UC.hsh?query=abc",
       "http 3 uc.example.com 80 0 _ _ /Teko/UC.hsh ?query=abc"},
      {"https://me:pw@uc.example.com/a", "https 4 uc.example.com 443 0 me pw /a _"},
      {"http://127.0.0.1:8080/x#frag", "http 3 127.0.0.1 8080 1 _ _ /x #frag"},
  };
  auto text = [](const std::string& s) { return s.empty() ? std::string("_") : s; };
  for (const auto& c : cases) {
    UrlParts p(c.first);
    EXPECT_EQ(c.second, p.scheme + " " + std::to_string(p.nScheme) + " " + p.host + " " +
                            std::to_string(p.nPort) + " " + std::to_string(p.bPortGiven) + " " +
                            text(p.user) + " " + text(p.password) + " " + p.path + " " + text(p.extra));
    EXPECT_TRUE(p.CrackUrl(c.first));
  }
  EXPECT_FALSE(UrlParts("").CrackUrl("no url at all"));
}

}  // namespace
