#include "crypt/base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& bytes, std::string out = "") {
  crypto::Base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &out);
  return out;
}

std::string Decode(const std::string& text, std::vector<uint8_t> out = {}) {
  crypto::Base64Decode(text.data(), text.size(), &out);
  return std::string(out.begin(), out.end());
}

TEST(Base64, VectorsOfRfc4648BothWays) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encode(c.first), c.second);
    EXPECT_EQ(Decode(c.second), c.first);
  }
  std::string all;  // three bytes per letter of the alphabet: four 6-bit groups of it
  for (uint32_t i = 0; i < 64; ++i) {
    const uint32_t v = i << 18 | i << 12 | i << 6 | i;
    all += std::string{static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
  }
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string expected;
  for (const char c : alphabet) expected += std::string(4, c);
  EXPECT_EQ(Encode(all), expected);
  EXPECT_EQ(Decode(expected), all);
}

TEST(Base64, LenientReaderOfAnswers) {
  const std::pair<std::string, std::string> cases[] = {
      {"Zm9v\r\nYmFy", "foobar"},             // CR LF line breaks
      {" Zm9v\tYm Fy\n", "foobar"},           // tab and blanks
      {"Zm9vYg==Zm9v", "foob"},               // the first "=" ends the data
      {std::string("Zm9v\0Zm9v", 9), "foo"},  // and so does NUL
      {"%Zm9v~\x7f\xe9", "foo"},              // outside "+" .. "z": skipped
      {"Zm-9_v", "foo"},                      // inside the range, not letters: skipped
      {"Zm9vY", "foo"},                       // a lone last letter holds no byte
      {"Zm9vYm", "foob"},
      {"====", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.first), c.second) << c.first;
}

TEST(Base64, RandomRoundTripsAppendToTheOutput) {
  std::mt19937 random(7);
  for (size_t n = 0; n < 200; ++n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    const std::string text = Encode(bytes);
    ASSERT_EQ(text.size(), crypto::Base64EncodedSize(n));
    ASSERT_EQ(Decode(text), bytes) << n;
    ASSERT_EQ(Encode(bytes, "x"), "x" + text);
    ASSERT_EQ(Decode(text, {'y'}), "y" + bytes);
  }
}

}  // namespace
