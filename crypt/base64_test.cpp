#include "crypt/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& s) {
  std::string out;
  crypto::Base64Encode(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &out);
  return out;
}
std::string Decode(const std::string& s) {
  std::vector<uint8_t> out;
  crypto::Base64Decode(s.data(), s.size(), &out);
  return std::string(out.begin(), out.end());
}

TEST(Base64, VectorsOfRfc4648BothWays) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, Encode(c.first)) << c.first;
    EXPECT_EQ(c.first, Decode(c.second)) << c.second;
  }
}

TEST(Base64, EncoderUsesTheWholeAlphabet) {
  std::string all;
  for (int i = 0; i < 64; ++i) {
    // Three bytes holding the 6-bit groups i, i, i, i.
    uint32_t v = (static_cast<uint32_t>(i) << 18) | (i << 12) | (i << 6) | i;
    all += std::string{static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
  }
  std::string text = Encode(all);
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) EXPECT_EQ(std::string(4, alphabet[i]), text.substr(4 * i, 4));
  EXPECT_EQ(all, Decode(text));
}

TEST(Base64, LenientReaderOfAnswers) {
  const std::pair<const char*, std::string> cases[] = {
      {"Zm9v\r\nYmFy", "foobar"},    // CR LF line breaks
      {" Zm9v\tYm Fy\n", "foobar"},  // tab and blanks
      {"Zm9vYg==Zm9v", "foob"},      // the first "=" ends the data
      {"Zm9v=", "foo"},
      {"%Zm9v", "foo"},  // outside "+" .. "z": skipped
      {"Zm9v~\x7f\xe9", "foo"},
      {"Zm-9_v", "foo"},  // inside the range, not letters: skipped
      {"Zm9vY", "foo"},   // a lone last letter holds no byte
      {"Zm9vYm", "foob"},
      {"====", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, Decode(c.first)) << c.first;
  EXPECT_EQ("foo", Decode(std::string("Zm9v\0Zm9v", 9)));  // NUL ends the data
}

TEST(Base64, PercentEncodedTextDoesNotReadBack) {
  // "%2B" stands for "+": the "%" is skipped and "2B" is read as two letters.
  std::string bytes = "\xfb\xef\xbe";
  ASSERT_EQ("++++", Encode(bytes));
  EXPECT_NE(bytes, Decode("%2B%2B%2B%2B"));
}

TEST(Base64, RandomRoundTripsAndLengths) {
  std::mt19937 random(7);
  for (size_t n = 0; n < 200; ++n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random());
    std::string e = Encode(s);
    ASSERT_EQ(4 * ((n + 2) / 3), e.size());
    ASSERT_EQ(crypto::Base64EncodedSize(n), e.size());
    ASSERT_EQ(s, Decode(e)) << n;
    // Appends to what the output already holds.
    std::string prefixed = "x";
    crypto::Base64Encode(reinterpret_cast<const uint8_t*>(s.data()), n, &prefixed);
    ASSERT_EQ("x" + e, prefixed);
  }
}

}  // namespace
