#include "crypt/base64.h"

#include <gtest/gtest.h>

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

TEST(Base64, VectorsOfRfc4648BothWaysAppended) {
  const char* const foobar[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t n = 0; n < 7; ++n) {
    EXPECT_EQ(Encode(std::string("foobar", n)), foobar[n]);
    EXPECT_EQ(Decode(foobar[n]), std::string("foobar", n));
  }
  // Every letter, as an independent decoder reads the alphabet.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string bytes(
      "\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97\x61\x96\x9b\x71\xd7\x9f"
      "\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e\xbb\xf3\xdf\xbf",
      48);
  EXPECT_EQ(Decode(alphabet), bytes);
  EXPECT_EQ(Encode(bytes), alphabet);
  EXPECT_EQ(Encode("foob", "x"), "xZm9vYg==");                         // both ways append
  EXPECT_EQ(Decode(std::string("Zm9vYg\0Zm9v", 11), {'y'}), "yfoob");  // a NUL ends the text
  for (size_t n = 0; n < 9; ++n) EXPECT_EQ(crypto::Base64EncodedSize(n), Encode(std::string(n, 'a')).size());
}

}  // namespace
