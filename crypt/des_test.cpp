#include "crypt/des.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypt/crypt_test_util.h"

using crypt_testing::FromHex;
using crypt_testing::ToHex;

namespace {

struct BlockCase {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Known-answer tests of the NBS validation set (variable plaintext, variable
// key, permutation and S-box rows) and the classic worked example.
const BlockCase kBlocks[] = {
    {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"0101010101010101", "4000000000000000", "dd7f121ca5015619"},
    {"0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
    {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
    {"4001010101010101", "0000000000000000", "0eec1487dd8c26d5"},
    {"0101010101010102", "0000000000000000", "869efd7f9f265a09"},
    {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
    {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
    {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"0e329232ea6d0d73", "8787878787878787", "0000000000000000"},
    {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
};

TEST(Des, KnownAnswerBlocksBothWays) {
  for (const BlockCase& c : kBlocks) {
    SCOPED_TRACE(std::string(c.key) + " " + c.plain);
    crypto::CDes des(FromHex(c.key).data());
    std::vector<uint8_t> in = FromHex(c.plain), out(8), back(8);
    des.EncryptBlock(in.data(), out.data());
    EXPECT_EQ(c.cipher, ToHex(out));
    des.DecryptBlock(out.data(), back.data());
    EXPECT_EQ(c.plain, ToHex(back));
  }
}

TEST(Des, ParityBitsAreIgnored) {
  std::vector<uint8_t> plain = FromHex("0123456789abcdef"), a(8), b(8);
  crypto::CDes(FromHex("0123456789abcdef").data()).EncryptBlock(plain.data(), a.data());
  crypto::CDes(FromHex("0022446688aaccee").data()).EncryptBlock(plain.data(), b.data());
  EXPECT_EQ(ToHex(a), ToHex(b));
}

TEST(Des, CbcExampleOfFips81) {
  crypto::CDes des(FromHex("0123456789abcdef").data());
  std::vector<uint8_t> iv = FromHex("1234567890abcdef");
  std::string text = "Now is the time for all ";
  std::vector<uint8_t> out(crypto::CbcPaddedSize(text.size()));
  des.CbcEncryptPadded(iv.data(), reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data());
  ASSERT_EQ(32u, out.size());  // 24 bytes gain a whole pad block
  EXPECT_EQ("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6", ToHex(out.data(), 24));
  size_t n = 0;
  std::vector<uint8_t> back(out.size());
  ASSERT_TRUE(des.CbcDecryptUnpad(iv.data(), out.data(), out.size(), back.data(), &n));
  EXPECT_EQ(text, std::string(back.begin(), back.begin() + static_cast<long>(n)));
}

TEST(Des, PadLengthsAndInPlaceRoundTrip) {
  crypto::CDes des(FromHex("5e83c0d7a91f2b64").data());
  std::vector<uint8_t> iv = FromHex("0001020304050607");
  for (size_t n = 0; n <= 33; ++n) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> buf(crypto::CbcPaddedSize(n));
    for (size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<uint8_t> original(buf.begin(), buf.begin() + static_cast<long>(n));
    des.CbcEncryptPadded(iv.data(), buf.data(), n, buf.data());
    EXPECT_EQ((n / 8 + 1) * 8, buf.size());
    // Deciphered without removing the pad: p bytes of value p follow.
    std::vector<uint8_t> raw(buf.size());
    for (size_t at = 0; at < buf.size(); at += 8) {
      des.DecryptBlock(buf.data() + at, raw.data() + at);
      const uint8_t* chain = at == 0 ? iv.data() : buf.data() + at - 8;
      for (size_t j = 0; j < 8; ++j) raw[at + j] ^= chain[j];
    }
    uint8_t pad = static_cast<uint8_t>(8 - n % 8);
    for (size_t i = n; i < raw.size(); ++i) EXPECT_EQ(pad, raw[i]);
    size_t got = 0;
    ASSERT_TRUE(des.CbcDecryptUnpad(iv.data(), buf.data(), buf.size(), buf.data(), &got));
    EXPECT_EQ(original, std::vector<uint8_t>(buf.begin(), buf.begin() + static_cast<long>(got)));
  }
}

// Builds a ciphertext whose last plain byte is the given value.
std::vector<uint8_t> CipherWithLastByte(const crypto::CDes& des, const uint8_t* iv, uint8_t last,
                                        size_t blocks) {
  std::vector<uint8_t> plain(blocks * 8, 0x41), out(blocks * 8);
  plain.back() = last;
  uint8_t chain[8];
  std::copy(iv, iv + 8, chain);
  for (size_t at = 0; at < plain.size(); at += 8) {
    for (size_t j = 0; j < 8; ++j) chain[j] ^= plain[at + j];
    des.EncryptBlock(chain, chain);
    std::copy(chain, chain + 8, out.begin() + static_cast<long>(at));
  }
  return out;
}

TEST(Des, PadValueDecidesAcceptance) {
  crypto::CDes des(FromHex("5e83c0d7a91f2b64").data());
  std::vector<uint8_t> iv = FromHex("a0a1a2a3a4a5a6a7");
  struct Case {
    uint8_t last;
    size_t blocks;
    bool ok;
    size_t plain;
  } cases[] = {
      {0x00, 2, false, 0},                                           // no pad: wrong key or data
      {0x09, 2, false, 0},                                           // more than a block
      {0xFF, 2, false, 0}, {0x01, 2, true, 15}, {0x08, 2, true, 8},  // a whole pad block
      {0x08, 1, true, 0},                                            // only a pad block: nothing left
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.last));
    std::vector<uint8_t> cipher = CipherWithLastByte(des, iv.data(), c.last, c.blocks), out(cipher.size());
    size_t n = 12345;
    EXPECT_EQ(c.ok, des.CbcDecryptUnpad(iv.data(), cipher.data(), cipher.size(), out.data(), &n));
    EXPECT_EQ(c.ok ? c.plain : 12345u, n);
  }
}

TEST(Des, PartialBlocksAreCutAndNoBlockFails) {
  crypto::CDes des(FromHex("5e83c0d7a91f2b64").data());
  std::vector<uint8_t> iv(8, 0);
  std::vector<uint8_t> cipher = CipherWithLastByte(des, iv.data(), 0x02, 2);
  std::vector<uint8_t> out(cipher.size() + 8);
  size_t n = 0;
  for (size_t len : {0u, 1u, 7u})
    EXPECT_FALSE(des.CbcDecryptUnpad(iv.data(), cipher.data(), len, out.data(), &n));
  // Trailing bytes after the last whole block are ignored.
  cipher.insert(cipher.end(), {1, 2, 3, 4, 5});
  ASSERT_TRUE(des.CbcDecryptUnpad(iv.data(), cipher.data(), cipher.size(), out.data(), &n));
  EXPECT_EQ(14u, n);
}

}  // namespace
