#include "crypt/des.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Known answers of the NBS validation set (variable plaintext, variable key,
// permutation and S-box rows) and the classic worked example; the parity bit
// of each key byte is ignored.
TEST(Des, KnownAnswerBlocksBothWays) {
  const struct {
    const char *key, *plain, *cipher;
  } cases[] = {
      {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
      {"0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
      {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
      {"0101010101010102", "0000000000000000", "869efd7f9f265a09"},
      {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
      {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
      {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
      {"0e329232ea6d0d73", "8787878787878787", "0000000000000000"},
      {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
      {"0022446688aaccee", "4e6f772069732074", "3fa40e8a984d4815"},
  };
  for (const auto& c : cases) {
    const crypto::CDes des(FromHex(c.key).data());
    std::vector<uint8_t> block = FromHex(c.plain);
    des.EncryptBlock(block.data(), block.data());
    EXPECT_EQ(block, FromHex(c.cipher)) << c.key << " " << c.plain;
    des.DecryptBlock(block.data(), block.data());
    EXPECT_EQ(block, FromHex(c.plain)) << c.key << " " << c.plain;
  }
}

// The example of FIPS 81 cut at every length, padded as openssl pads, in place.
TEST(Des, CbcVectorsAndInPlaceRoundTripsOfEveryPadLength) {
  const crypto::CDes des(FromHex("0123456789abcdef").data());
  const std::vector<uint8_t> iv = FromHex("1234567890abcdef");
  const std::string text = "Now is the time for all ";
  const std::pair<size_t, std::string> vectors[] = {
      {0, "c21106448c1e13c5"},
      {8, "e5c7cdde872bf27c5e535b24beee9ffb"},
      {19, "e5c7cdde872bf27c43e934008c389c0ff5be5a2b0325f1f7"},
      {24, "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f662c16a27e4fcf277"},
  };
  for (size_t n = 0; n <= text.size(); ++n) {
    std::vector<uint8_t> buffer(text.begin(), text.begin() + static_cast<long>(n));
    buffer.resize(crypto::CbcPaddedSize(n));
    des.CbcEncryptPadded(iv.data(), buffer.data(), n, buffer.data());
    for (const auto& v : vectors) EXPECT_TRUE(v.first != n || buffer == FromHex(v.second)) << n;
    size_t got = 0;
    ASSERT_TRUE(des.CbcDecryptUnpad(iv.data(), buffer.data(), buffer.size(), buffer.data(), &got)) << n;
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<long>(got)), text.substr(0, n));
  }
  uint8_t block[8] = {};
  size_t got = 0;
  for (size_t n : {0, 7})
    EXPECT_FALSE(des.CbcDecryptUnpad(iv.data(), block, n, block, &got)) << n;  // no whole block
}

}  // namespace
