// The wire envelope, checked against the cipher, base64 and gzip pieces used
// directly: what a request is made of, which answers are taken, and the size
// protocols of the single steps.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "crypt/base64.h"
#include "crypt/des.h"
#include "crypt/gzip.h"
#include "settings/testing/settings_fixture.h"
#include "transport/utility.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kKey[8] = {0x5e, 0x83, 0xc0, 0xd7, 0xa9, 0x1f, 0x2b, 0x64};
const uint8_t kOtherKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};

class Transform : public settings_testing::SettingsFixture {};

std::string JsonLike(size_t n, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < n) s += "{\"cid\":\"" + std::to_string(random()) + "\",\"os\":\"Windows 10\",\"pn\":12},";
  s.resize(n);
  return s;
}
// A request back to base64: only letters, digits and the three escapes may occur.
std::string Unescape(const std::string& request) {
  std::string out;
  for (size_t i = 0; i < request.size(); ++i) {
    const std::string esc = request.substr(i, 3);
    if (esc == "%2B" || esc == "%2F" || esc == "%3D") {
      out += esc == "%2B" ? '+' : esc == "%2F" ? '/' : '=';
      i += 2;
    } else {
      if (!std::isalnum(static_cast<unsigned char>(request[i]))) return "bad character in request";
      out += request[i];
    }
  }
  return out;
}
Bytes Decode(const std::string& base64) {
  Bytes v;
  crypto::Base64Decode(base64.data(), base64.size(), &v);
  return v;
}
std::string Encode(const Bytes& v) {
  std::string out;
  crypto::Base64Encode(v.data(), v.size(), &out);
  return out;
}
Bytes Member(const std::string& text) {
  Bytes m;
  crypto::GzipCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &m);
  return m;
}
// An answer as the web farm makes it: IV, padded cipher text, base64.
std::string Seal(const Bytes& plain, const uint8_t* key = kKey) {
  Bytes envelope(8 + crypto::CbcPaddedSize(plain.size()), 0x5A);
  crypto::CDes(key).CbcEncryptPadded(envelope.data(), plain.data(), plain.size(), envelope.data() + 8);
  return Encode(envelope);
}
// The plain bytes of an envelope, or "no padding".
std::string Open(const Bytes& envelope) {
  std::string plain(envelope.size(), '\0');
  size_t n = 0;
  if (envelope.size() < 16 ||
      !crypto::CDes(kKey).CbcDecryptUnpad(envelope.data(), envelope.data() + 8, envelope.size() - 8,
                                          reinterpret_cast<uint8_t*>(&plain[0]), &n)) {
    return "no padding";
  }
  return plain.substr(0, n);
}

TEST_F(Transform, RequestsAreGzipDesBase64AndEscapedUnderAFreshIv) {
  std::string binary;
  for (int i = 0; i < 512; ++i) binary.push_back(static_cast<char>(i * 37));
  for (const std::string& text :
       {std::string("{"), JsonLike(1000), JsonLike(65536), binary, std::string("nul\0inside", 10)}) {
    SCOPED_TRACE(text.size());
    std::string request;
    ASSERT_TRUE(CUtility::TransformDataToSend(text, request));
    const std::string base64 = Unescape(request);
    const std::string member = Open(Decode(base64));
    std::string inflated;
    ASSERT_EQ(crypto::GzipError::kNone,
              crypto::GzipUncompress(reinterpret_cast<const uint8_t*>(member.data()), member.size(), 1u << 20,
                                     &inflated));
    EXPECT_TRUE(text == inflated);
    std::string back, again;
    ASSERT_TRUE(CUtility::TransformData_Decrypt(base64, back));
    EXPECT_TRUE(text == back);
    ASSERT_TRUE(CUtility::TransformDataToSend(text, again));
    EXPECT_NE(request, again);
    EXPECT_TRUE(Logged("DES_Encrypt()-Base64 Result: " + base64));
  }
}

TEST_F(Transform, WithoutARandomIvNothingIsSent) {
  std::string out = "untouched";
  EXPECT_FALSE(CUtility::TransformDataToSend("", out));
  EXPECT_FALSE(CUtility::TransformData_Decrypt("", out));
  env_->failures["GenRandom"] = platform::kErrorNotSupported;
  EXPECT_FALSE(CUtility::TransformDataToSend("{}", out));
  EXPECT_FALSE(CUtility::DES_Encrypt(out, reinterpret_cast<const unsigned char*>("ab"), 2));
  EXPECT_EQ("untouched", out);
  EXPECT_EQ(2u, CountLogged("GenRandom failed"));
}

TEST_F(Transform, AnswersTakenAndRefused) {
  const std::string text = "{\"code\":0,\"msg\":\"ok\"}", good = Seal(Member(text));
  std::string lines, escaped;
  for (size_t i = 0; i < good.size(); i += 16) lines += good.substr(i, 16) + "\r\n";
  for (char c : good) escaped += c == '+' ? "%2B" : c == '/' ? "%2F" : c == '=' ? "%3D" : std::string(1, c);
  const struct {
    const char* name;
    std::string body;
    bool ok;
  } cases[] = {
      {"well formed", good, true},
      {"CR LF lines", lines, true},
      {"line ends up to the bound", good + std::string(kMaxAnswerBytes - good.size(), '\n'), true},
      {"over the bound", good + std::string(kMaxAnswerBytes - good.size() + 1, '\n'), false},
      {"still escaped", escaped, false},
      {"IV only", Encode(Bytes(8, 1)), false},
      {"IV and part of a block", Encode(Bytes(15, 1)), false},
      {"another key", Seal(Member(text), kOtherKey), false},
      {"no member inside", Seal({'{', '}', 0, 1, 2, 3, 4, 5, 6, 7}), false},
      {"empty inside", Seal({}), false},
      {"not base64", "<html>Sign in</html>", false},
      {"inflates past the bound", Seal(Member(std::string(kMaxAnswerBytes + 1, ' '))), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "untouched";
    EXPECT_EQ(c.ok, CUtility::TransformData_Decrypt(c.body, out));
    EXPECT_EQ(c.ok ? text : "untouched", out);
  }
}

TEST_F(Transform, DamagedAnswersNeverReadAsOtherText) {
  const std::string text = JsonLike(400, 9);
  const std::string good = Seal(Member(text));
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t at = 0; at < good.size(); ++at) {
    std::string bad = good, out;
    if (good[at] == '=') continue;
    bad[at] = letters[(letters.find(bad[at]) + 1) % 64];
    // Only bits of the IV that land in the member's time stamp or flags can pass.
    if (CUtility::TransformData_Decrypt(bad, out)) {
      ASSERT_TRUE(text == out) << at;
    }
  }
  for (size_t n = 0; n < good.size(); ++n) {
    std::string out = "untouched";
    const bool whole = good.find_first_not_of('=', n) == std::string::npos;  // only "=" cut off
    ASSERT_EQ(whole, CUtility::TransformData_Decrypt(good.substr(0, n), out)) << n;
    ASSERT_TRUE((whole ? text : "untouched") == out) << n;
  }
}

TEST_F(Transform, SizeProtocolsOfTheSingleSteps) {
  for (uint32_t n : {0u, 1u, 7u, 8u, 9u, 100u}) {
    SCOPED_TRACE(n);
    Bytes data(n);
    for (uint32_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 13 + 1);
    std::string sealed;
    ASSERT_TRUE(CUtility::DES_Encrypt(sealed, data.data(), n));
    EXPECT_EQ(std::string(data.begin(), data.end()), Open(Decode(sealed)));
    uint32_t size = n ? 0 : 99;
    EXPECT_FALSE(CUtility::DES_Decrypt(sealed, nullptr, size));  // asks for the size; nothing when empty
    EXPECT_EQ(n ? n : 99, size);
    if (n == 0) continue;
    Bytes buffer(n + 1, 0xEE);
    size = n + 1;
    EXPECT_FALSE(CUtility::DES_Decrypt(sealed, nullptr, size));
    size = n - 1;
    EXPECT_FALSE(CUtility::DES_Decrypt(sealed, buffer.data(), size));
    EXPECT_EQ(n, size);
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_TRUE(CUtility::DES_Decrypt(sealed, buffer.data(), size));
    EXPECT_EQ(n, size);
    EXPECT_EQ(data, Bytes(buffer.begin(), buffer.end() - 1));
    EXPECT_EQ(0xEE, buffer[n]);
  }

  const std::string text = JsonLike(500);
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const int32_t n = static_cast<int32_t>(text.size());
  int32_t size = -7;
  EXPECT_FALSE(CUtility::GZip_Compress(nullptr, n, nullptr, size));
  EXPECT_FALSE(CUtility::GZip_Compress(data, 0, nullptr, size));
  EXPECT_EQ(-7, size);
  size = 0;
  EXPECT_FALSE(CUtility::GZip_Compress(data, n, nullptr, size));
  const int32_t needed = size;
  std::vector<unsigned char> buffer(static_cast<size_t>(needed) + 1, 0xEE);
  size = needed - 1;
  EXPECT_FALSE(CUtility::GZip_Compress(data, n, buffer.data(), size));
  EXPECT_EQ(0xEE, buffer[0]);
  EXPECT_TRUE(CUtility::GZip_Compress(data, n, buffer.data(), size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(0xEE, buffer.back());
  std::string back = "untouched";
  uint32_t got = 5;
  EXPECT_FALSE(CUtility::GZip_Uncompress(back, nullptr, needed, got));
  EXPECT_FALSE(CUtility::GZip_Uncompress(back, buffer.data(), 0, got));
  EXPECT_FALSE(CUtility::GZip_Uncompress(back, buffer.data(), needed - 1, got));
  EXPECT_EQ("untouched", back);
  EXPECT_EQ(5u, got);
  ASSERT_TRUE(CUtility::GZip_Uncompress(back, buffer.data(), needed, got));
  EXPECT_EQ(text, back);
  EXPECT_EQ(text.size(), got);
}

TEST(HexToBytes, PairsReadAsStrtolReadsThem) {
  const std::pair<const char*, Bytes> cases[] = {
      {"5e83c0d7a91f2b64", {0x5E, 0x83, 0xC0, 0xD7, 0xA9, 0x1F, 0x2B, 0x64}},
      {"09afAF90", {0x09, 0xAF, 0xAF, 0x90}},
      {"1/1:1@1G1`1g", {1, 1, 1, 1, 1, 1}},  // reading stops at the first other character
      {"/1:1@1G1`1g1", {0, 0, 0, 0, 0, 0}},
      {"123", {0x12}},  // a lone last digit writes nothing
      {"", {}},
  };
  for (const auto& c : cases) {
    Bytes out(c.second.size() + 1, 0xEE);
    CUtility::HexToBytes(c.first, out.data());
    EXPECT_EQ(c.second, Bytes(out.begin(), out.end() - 1)) << c.first;
    EXPECT_EQ(0xEE, out.back()) << c.first;
  }
}

}  // namespace
