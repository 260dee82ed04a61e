#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crypt/base64.h"
#include "crypt/des.h"
#include "crypt/gzip.h"
#include "files/test_env.h"
#include "platform/env.h"
#include "transport/utility.h"

namespace {

const std::vector<uint8_t> kFixedIv = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};

// The system generator, or a fixed IV, or a failing one.
class IvEnv : public platform::EnvWrapper {
 public:
  using platform::EnvWrapper::EnvWrapper;
  enum Mode { kReal, kFixed, kFail } mode = kFixed;
  platform::Status GenRandom(void* buffer, size_t size) override {
    if (mode == kFail) return platform::kErrorNotSupported;
    if (mode == kReal) return target()->GenRandom(buffer, size);
    for (size_t i = 0; i < size; ++i) static_cast<uint8_t*>(buffer)[i] = kFixedIv[i % 8];
    return platform::kSuccess;
  }
};

class Transform : public files_testing::EnvFixture {
 protected:
  void SetUp() override {
    files_testing::EnvFixture::SetUp();
    iv_ = std::make_unique<IvEnv>(env_.get());
    scopedIv_ = std::make_unique<platform::ScopedDefaultEnv>(iv_.get());
  }
  void TearDown() override {
    scopedIv_.reset();
    iv_.reset();
    files_testing::EnvFixture::TearDown();
  }
  std::unique_ptr<IvEnv> iv_;
  std::unique_ptr<platform::ScopedDefaultEnv> scopedIv_;
};

// The answer form of a request: the three escapes undone.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const std::string esc = s.substr(i, 3);
    char c = esc == "%2B" ? '+' : esc == "%2F" ? '/' : esc == "%3D" ? '=' : '\0';
    if (c != '\0') {
      out += c;
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}
std::vector<uint8_t> Envelope(const std::string& base64) {
  std::vector<uint8_t> v;
  crypto::Base64Decode(base64.data(), base64.size(), &v);
  return v;
}
size_t MemberSize(const std::string& text) {
  int32_t size = 0;
  CUtility::GZip_Compress(reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int32_t>(text.size()), nullptr, size);
  return static_cast<size_t>(size);
}
std::string Send(const std::string& text) {
  std::string out;
  EXPECT_TRUE(CUtility::TransformDataToSend(text, out));
  return out;
}
std::string JsonLike(size_t n, unsigned seed = 1) {
  std::string s;
  std::mt19937 random(seed);
  while (s.size() < n) s += "{\"cid\":\"" + std::to_string(random()) + "\",\"os\":\"Windows 10\",\"pn\":12},";
  s.resize(n);
  return s;
}
// Deciphered envelope without removing the pad.
std::vector<uint8_t> RawPlain(const std::vector<uint8_t>& envelope) {
  unsigned char key[8];
  CUtility::HexToBytes("5e83c0d7a91f2b64", key);
  crypto::CDes des(key);
  std::vector<uint8_t> out(envelope.size() - 8);
  for (size_t at = 8; at < envelope.size(); at += 8) {
    des.DecryptBlock(&envelope[at], &out[at - 8]);
    for (size_t j = 0; j < 8; ++j) out[at - 8 + j] ^= envelope[at - 8 + j];
  }
  return out;
}

TEST_F(Transform, RequestShapeLengthsAndRoundTrip) {
  std::string binary;
  for (int i = 0; i < 512; ++i) binary.push_back(static_cast<char>(i * 37));
  const std::string texts[] = {"{",
                               "{\"a\":1}",
                               JsonLike(100),
                               JsonLike(1000),
                               JsonLike(65536),
                               binary,
                               std::string("nul\0inside", 10),
                               std::string(3000, 'x')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.size());
    std::string request = Send(text);
    for (size_t i = 0; i < request.size(); ++i) {
      char c = request[i];
      if (c == '%') {
        std::string esc = request.substr(i, 3);
        ASSERT_TRUE(esc == "%2B" || esc == "%2F" || esc == "%3D") << esc;
        i += 2;
      } else {
        ASSERT_TRUE(isalnum(static_cast<unsigned char>(c))) << c;
      }
    }
    std::string base64 = Unescape(request);
    std::vector<uint8_t> envelope = Envelope(base64);
    size_t g = MemberSize(text);
    EXPECT_EQ(8 + 8 * (g / 8 + 1), envelope.size());
    EXPECT_EQ(4 * ((envelope.size() + 2) / 3), base64.size());
    if (envelope.size() % 3 != 0) {
      EXPECT_EQ('=', base64.back());
    }
    EXPECT_EQ(kFixedIv, std::vector<uint8_t>(envelope.begin(), envelope.begin() + 8));
    std::string back;
    ASSERT_TRUE(CUtility::TransformData_Decrypt(base64, back));
    EXPECT_TRUE(text == back);
  }
}

TEST_F(Transform, MemberOfWholeBlocksGainsAFullPadBlock) {
  size_t n = 1;
  while (MemberSize(JsonLike(n)) % 8 != 0) ++n;
  std::string text = JsonLike(n);
  std::vector<uint8_t> plain = RawPlain(Envelope(Unescape(Send(text))));
  ASSERT_EQ(MemberSize(text) + 8, plain.size());
  EXPECT_EQ(std::vector<uint8_t>(8, 0x08), std::vector<uint8_t>(plain.end() - 8, plain.end()));
  const std::vector<uint8_t> header = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x0B};
  EXPECT_EQ(header, std::vector<uint8_t>(plain.begin(), plain.begin() + 10));
}

TEST_F(Transform, FreshIvPerMessage) {
  iv_->mode = IvEnv::kReal;
  std::string text = JsonLike(300);
  std::string a = Send(text), b = Send(text);
  EXPECT_NE(a, b);
  EXPECT_NE(Envelope(Unescape(a)), Envelope(Unescape(b)));
  for (const std::string& r : {a, b}) {
    std::string back;
    ASSERT_TRUE(CUtility::TransformData_Decrypt(Unescape(r), back));
    EXPECT_EQ(text, back);
  }
}

TEST_F(Transform, LogLinesOfARequest) {
  std::string request = Send("{\"x\":1}");
  std::string base64 = Unescape(request);
  EXPECT_TRUE(Logged("TransformData_Encrypt()-GZip_Compress() FAILED -- Need More Buffer"));
  EXPECT_TRUE(Logged("CUtility::DES_Encrypt()-Base64 Result: " + base64));
  EXPECT_TRUE(Logged("TransformData_Encrypt()-" + request));
  EXPECT_FALSE(Logged("002"));
}

TEST_F(Transform, RefusalsLeaveTheOutputAlone) {
  std::string out = "untouched";
  EXPECT_FALSE(CUtility::TransformDataToSend("", out));
  EXPECT_FALSE(CUtility::TransformData_Decrypt("", out));
  EXPECT_EQ("untouched", out);
  EXPECT_EQ("", LogText());  // empty input is refused without a word
  // No random IV: nothing is sent rather than a predictable envelope.
  iv_->mode = IvEnv::kFail;
  EXPECT_FALSE(CUtility::TransformDataToSend("{}", out));
  EXPECT_EQ("untouched", out);
  EXPECT_TRUE(Logged("CUtility::DES_Encrypt()-GenRandom failed, error code = 50"));
  std::string des;
  EXPECT_FALSE(CUtility::DES_Encrypt(des, reinterpret_cast<const unsigned char*>("ab"), 2));
}

// An answer built by hand: member (or any bytes) padded and enciphered under
// a key, IV in front, base64.
std::string Answer(const std::vector<uint8_t>& plain, const char* keyHex = "5e83c0d7a91f2b64") {
  unsigned char key[8];
  CUtility::HexToBytes(keyHex, key);
  crypto::CDes des(key);
  std::vector<uint8_t> env(8 + crypto::CbcPaddedSize(plain.size()));
  std::copy(kFixedIv.begin(), kFixedIv.end(), env.begin());
  des.CbcEncryptPadded(env.data(), plain.data(), plain.size(), env.data() + 8);
  std::string out;
  crypto::Base64Encode(env.data(), env.size(), &out);
  return out;
}
std::vector<uint8_t> Member(const std::string& text) {
  std::vector<uint8_t> m;
  crypto::GzipCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &m);
  return m;
}
std::string Base64Of(const std::vector<uint8_t>& v) {
  std::string out;
  crypto::Base64Encode(v.data(), v.size(), &out);
  return out;
}

TEST_F(Transform, AnswerEdgeCases) {
  const std::string text = "{\"code\":0,\"msg\":\"ok\"}";
  const std::string good = Answer(Member(text));
  std::string lines;
  for (size_t i = 0; i < good.size(); i += 16) lines += good.substr(i, 16) + "\r\n";
  std::string urlEncoded;
  for (char c : good)
    urlEncoded += c == '+' ? "%2B" : c == '/' ? "%2F" : c == '=' ? "%3D" : std::string(1, c);
  std::vector<uint8_t> badPad = RawPlain(Envelope(good));
  badPad.back() = 0;  // a zero pad byte, enciphered afresh below
  struct Case {
    const char* name;
    std::string body;
    bool ok;
    const char* log;
  };
  std::vector<uint8_t> ivOnly(kFixedIv), ivAndPart(kFixedIv);
  ivAndPart.insert(ivAndPart.end(), 7, 0x41);
  auto raw = [&](const std::vector<uint8_t>& plain) {
    // plain is the deciphered block content as it is to come out, pad included
    unsigned char key[8];
    CUtility::HexToBytes("5e83c0d7a91f2b64", key);
    crypto::CDes des(key);
    std::vector<uint8_t> env(kFixedIv);
    uint8_t chain[8];
    std::copy(kFixedIv.begin(), kFixedIv.end(), chain);
    for (size_t at = 0; at < plain.size(); at += 8) {
      for (size_t j = 0; j < 8; ++j) chain[j] ^= plain[at + j];
      des.EncryptBlock(chain, chain);
      env.insert(env.end(), chain, chain + 8);
    }
    return Base64Of(env);
  };
  const Case cases[] = {
      {"well formed", good, true, nullptr},
      {"CR LF lines", lines, true, nullptr},
      {"URL-encoded", urlEncoded, false, nullptr},
      {"IV only", Base64Of(ivOnly), false, "too few for an IV and a block"},
      {"IV and a partial block", Base64Of(ivAndPart), false, "too few for an IV and a block"},
      {"another key", Answer(Member(text), "0123456789abcdef"), false, nullptr},
      {"not gzip", Answer({'{', '}', 0, 1, 2, 3, 4, 5, 6, 7}), false, "not a gzip member"},
      {"zero pad byte", raw(badPad), false, "bad padding"},
      {"not base64", "<html>Sign in</html>", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLog();
    std::string out = "untouched";
    EXPECT_EQ(c.ok, CUtility::TransformData_Decrypt(c.body, out));
    EXPECT_EQ(c.ok ? text : "untouched", out);
    if (c.log != nullptr) {
      EXPECT_TRUE(Logged(c.log)) << LogText();
    }
  }
}

TEST_F(Transform, AnswersAreBounded) {
  // A bomb: a small answer that inflates past the cap.
  std::string bomb(kMaxAnswerBytes + 1, ' ');
  std::string body = Answer(Member(bomb));
  std::string().swap(bomb);
  EXPECT_LT(body.size(), 200000u);
  std::string out = "untouched";
  EXPECT_FALSE(CUtility::TransformData_Decrypt(body, out));
  EXPECT_TRUE(Logged("CUtility::GZip_Uncompress()-inflated size over the limit"));
  // Exactly at the cap still reads.
  std::string full(kMaxAnswerBytes, ' ');
  EXPECT_TRUE(CUtility::TransformData_Decrypt(Answer(Member(full)), out));
  EXPECT_EQ(full.size(), out.size());
  // A body over the cap is refused before decoding.
  std::string huge(kMaxAnswerBytes + 4, 'A');
  out = "untouched";
  EXPECT_FALSE(CUtility::TransformData_Decrypt(huge, out));
  EXPECT_EQ("untouched", out);
  EXPECT_TRUE(Logged("over the limit of"));
}

TEST_F(Transform, DamagedAnswersNeverReadAsOtherText) {
  const std::string text = JsonLike(400, 9);
  const std::string good = Unescape(Send(text));
  const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t at = 0; at < good.size(); ++at) {
    std::string bad = good;
    const char* pos = std::strchr(letters, bad[at]);
    if (pos == nullptr) continue;  // "=" padding
    bad[at] = letters[(pos - letters + 1) % 64];
    std::string out;
    if (CUtility::TransformData_Decrypt(bad, out)) {
      // Only a change in the IV's first block bits that land in MTIME/XFL/OS can pass.
      ASSERT_TRUE(text == out) << at;
    }
  }
  for (size_t n = 0; n < good.size(); ++n) {
    std::string out = "untouched";
    std::string cut = good.substr(0, n);
    // Cutting only "=" padding keeps every byte.
    bool whole = good.find_first_not_of('=', n) == std::string::npos;
    ASSERT_EQ(whole, CUtility::TransformData_Decrypt(cut, out)) << n;
    ASSERT_TRUE((whole ? text : "untouched") == out) << n;
  }
}

TEST_F(Transform, SizeProtocolOfGZipCompress) {
  const std::string text = JsonLike(500);
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const int32_t n = static_cast<int32_t>(text.size());
  int32_t size = -7;
  EXPECT_FALSE(CUtility::GZip_Compress(nullptr, n, nullptr, size));
  EXPECT_FALSE(CUtility::GZip_Compress(data, 0, nullptr, size));
  EXPECT_FALSE(CUtility::GZip_Compress(data, -1, nullptr, size));
  EXPECT_EQ(-7, size);
  EXPECT_FALSE(Logged("GATE003"));
  size = 0;
  EXPECT_FALSE(CUtility::GZip_Compress(data, n, nullptr, size));
  EXPECT_TRUE(Logged("GZip_Compress()----GZip_Compress() -- GATE003----"));
  const int32_t needed = size;
  std::vector<unsigned char> buffer(static_cast<size_t>(needed) + 4, 0xEE);
  size = needed - 1;
  EXPECT_FALSE(CUtility::GZip_Compress(data, n, buffer.data(), size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(0xEE, buffer[0]);
  EXPECT_TRUE(CUtility::GZip_Compress(data, n, buffer.data(), size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(0xEE, buffer[static_cast<size_t>(needed)]);  // nothing past the member
  std::string back;
  uint32_t got = 0;
  ASSERT_TRUE(CUtility::GZip_Uncompress(back, buffer.data(), needed, got));
  EXPECT_EQ(text, back);
  EXPECT_EQ(text.size(), got);
  got = 5;
  back = "untouched";
  EXPECT_FALSE(CUtility::GZip_Uncompress(back, nullptr, needed, got));
  EXPECT_FALSE(CUtility::GZip_Uncompress(back, buffer.data(), 0, got));
  EXPECT_FALSE(CUtility::GZip_Uncompress(back, buffer.data(), needed - 1, got));
  EXPECT_EQ("untouched", back);
  EXPECT_EQ(5u, got);
}

TEST_F(Transform, SizeProtocolOfDesDecrypt) {
  const std::vector<uint8_t> member = Member("{\"a\":\"b\"}");
  const std::string body = Answer(member);
  uint32_t size = 0;
  EXPECT_FALSE(CUtility::DES_Decrypt(body, nullptr, size));
  ASSERT_EQ(member.size(), size);
  std::vector<unsigned char> buffer(size + 4, 0xEE);
  uint32_t small = size - 1;
  EXPECT_FALSE(CUtility::DES_Decrypt(body, buffer.data(), small));
  EXPECT_EQ(size, small);
  EXPECT_EQ(0xEE, buffer[0]);
  uint32_t bigger = size + 4;
  EXPECT_FALSE(CUtility::DES_Decrypt(body, nullptr, bigger));  // room but no buffer
  EXPECT_TRUE(CUtility::DES_Decrypt(body, buffer.data(), bigger));
  EXPECT_EQ(size, bigger);
  EXPECT_EQ(member, std::vector<uint8_t>(buffer.begin(), buffer.begin() + size));
  EXPECT_EQ(0xEE, buffer[size]);
  // Nothing to hand over: false, size untouched.
  uint32_t keep = 99;
  EXPECT_FALSE(CUtility::DES_Decrypt(Base64Of(kFixedIv), nullptr, keep));
  EXPECT_FALSE(CUtility::DES_Decrypt(Answer({}), nullptr, keep));
  EXPECT_EQ(99u, keep);
}

TEST_F(Transform, DesEncryptGivesTheEnvelopeOfItsBytes) {
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::string out;
  ASSERT_TRUE(CUtility::DES_Encrypt(out, data.data(), data.size()));
  EXPECT_EQ(Answer(data), out);
  EXPECT_TRUE(Logged("CUtility::DES_Encrypt()-Base64 Result: " + out));
  ASSERT_TRUE(CUtility::DES_Encrypt(out, nullptr, 0));  // one pad block
  EXPECT_EQ(Answer({}), out);
}

TEST(HexToBytes, PairsInBase16) {
  struct Case {
    const char* hex;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"5e83c0d7a91f2b64", {0x5E, 0x83, 0xC0, 0xD7, 0xA9, 0x1F, 0x2B, 0x64}},
      {"ABcdEf", {0xAB, 0xCD, 0xEF}},
      {"123", {0x12}},  // a lone last digit writes nothing
      {"1z", {0x01}},   // reading stops at the first non-digit
      {"zz0f", {0x00, 0x0F}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.bytes.size() + 1, 0xEE);
    CUtility::HexToBytes(c.hex, out.data());
    EXPECT_EQ(c.bytes, std::vector<uint8_t>(out.begin(), out.end() - 1)) << c.hex;
    EXPECT_EQ(0xEE, out.back()) << c.hex;
  }
}

}  // namespace
