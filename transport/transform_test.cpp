// The wire envelope, and against openssl and gzip where they are installed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
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

class Transform : public settings_testing::SettingsFixture {
 protected:
  static Bytes Member(const std::string& text) {
    Bytes m;
    crypto::GzipCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &m);
    return m;
  }
};

std::string JsonLike(size_t n, unsigned seed = 1) {
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < n) s += "{\"cid\":\"" + std::to_string(random()) + "\",\"os\":\"Windows 10\",\"pn\":12},";
  return s.substr(0, n);
}

// Each call as "result size", the size being what the call left in its in-out argument.
TEST_F(Transform, SizeProtocolsOfTheSingleSteps) {
  for (uint32_t n : {0u, 1u, 7u, 8u, 100u}) {
    SCOPED_TRACE(n);
    Bytes data(n), buffer(n + 1, 0xEE);
    for (uint32_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 13 + 1);
    std::string sealed;
    ASSERT_TRUE(CTransportUtility::DES_Encrypt(sealed, data.data(), n));
    const std::pair<bool, uint32_t> calls[] = {
        {false, n ? 0 : 99}, {false, n + 1}, {true, n - 1}, {true, n + 1}};
    std::string results;
    for (auto [to, size] : calls) {  // nothing inside leaves the size as it was
      const uint32_t given = size;
      results += std::to_string(CTransportUtility::DES_Decrypt(sealed, to ? buffer.data() : nullptr, size));
      results += " " + std::to_string(size) + "|";
      EXPECT_TRUE(given >= n || buffer[0] == 0xEE);
    }
    const std::string N = std::to_string(n), N1 = std::to_string(n + 1);
    EXPECT_EQ(n == 0 ? "0 99|0 1|1 0|1 0|" : "0 " + N + "|0 " + N1 + "|0 " + N + "|1 " + N + "|", results);
    EXPECT_EQ(data, Bytes(buffer.begin(), buffer.end() - 1));
    EXPECT_EQ(0xEE, buffer[n]);
  }
  const std::string text = JsonLike(500);
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const int32_t n = static_cast<int32_t>(text.size()), needed = static_cast<int32_t>(Member(text).size());
  std::vector<unsigned char> buffer(static_cast<size_t>(needed) + 1, 0xEE);
  auto compress = [&](const unsigned char* from, int32_t length, unsigned char* to, int32_t size) {
    const bool ok = CTransportUtility::GZip_Compress(from, length, to, size);
    return std::to_string(ok) + " " + std::to_string(size) + "|";
  };
  const std::string N = " " + std::to_string(needed) + "|";
  EXPECT_EQ("0 -7|0 -7|0" + N + "0" + N, compress(nullptr, n, nullptr, -7) + compress(data, 0, nullptr, -7) +
                                             compress(data, n, nullptr, 0) +
                                             compress(data, n, buffer.data(), needed - 1));
  EXPECT_EQ(0xEE, buffer[0]);
  EXPECT_EQ("1" + N, compress(data, n, buffer.data(), needed));
  EXPECT_EQ(0xEE, buffer.back());
  auto uncompress = [&](const unsigned char* from, int32_t length) {
    std::string out = "untouched";
    uint32_t size = 5;
    const bool ok = CTransportUtility::GZip_Uncompress(out, from, length, size);
    return std::to_string(ok) + " " + std::to_string(size) + " " + (out == text ? "text" : out) + "|";
  };
  EXPECT_EQ("0 5 untouched|0 5 untouched|0 5 untouched|1 500 text|",
            uncompress(nullptr, needed) + uncompress(buffer.data(), 0) +
                uncompress(buffer.data(), needed - 1) + uncompress(buffer.data(), needed));
  std::string kept = "untouched";  // nothing to send or read, or no IV: nothing goes out
  EXPECT_FALSE(CTransportUtility::TransformDataToSend("", kept));
  EXPECT_FALSE(CTransportUtility::TransformData_Decrypt("", kept));
  env_->system.randomError = platform::kErrorNotSupported;
  EXPECT_FALSE(CTransportUtility::TransformDataToSend("{}", kept));
  EXPECT_FALSE(CTransportUtility::DES_Encrypt(kept, reinterpret_cast<const unsigned char*>("ab"), 2));
  EXPECT_EQ("untouched", kept);
}

// The IV and whole blocks (padded, or not, by the caller) enciphered in CBC
// mode under key, as base64: an answer from a farm with a cipher of its own.
std::string Sealed(const uint8_t* key, Bytes plain, const Bytes& tail = {}) {
  plain.insert(plain.end(), tail.begin(), tail.end());
  Bytes envelope(8 + crypto::CbcPaddedSize(plain.size()), 1);  // the IV: eight bytes of 1
  crypto::CDes(key).CbcEncryptPadded(envelope.data(), plain.data(), plain.size(), envelope.data() + 8);
  envelope.resize(8 + plain.size() / 8 * 8);  // the pad block goes: CBC made the others first
  std::string text;
  crypto::Base64Encode(envelope.data(), envelope.size(), &text);
  return text;
}

// The last byte says how many to drop: none for 0, all past the length, the
// bytes before it unchecked. A wrong key or damaged bytes are then refused by
// the gzip reader. Answers log nothing, read or refused; a request logs the
// line of the size protocol's first call before the caller's.
TEST_F(Transform, PadBytesAndWhatTheLogHolds) {
  std::string request;
  ASSERT_TRUE(CTransportUtility::TransformDataToSend("{}", request));
  const std::string log = LogLines();
  EXPECT_LT(log.find(" GZip_Compress()----GZip_Compress() -- GATE003----\n"), log.find("Need More Buffer"));
  const uint8_t otherKey[8] = {0x5e, 0x83, 0xc0, 0xd7, 0xa9, 0x1f, 0x2b, 0x66};  // not just the parity bit
  const Bytes member = Member("{}"), whole = Member("{\"code\":\"0\"}");
  ASSERT_EQ(22u, member.size());
  ASSERT_EQ(32u, whole.size());          // no pad: its last byte, the top one of ISIZE, is 0
  const uint32_t kNone = 99, kAny = 98;  // nothing deciphered; not looked at
  const struct {
    std::string body;
    uint32_t kept;     // the plain bytes DES_Decrypt gives
    std::string text;  // "-": refused
  } cases[] = {
      {Sealed(kKey, member, {0, 0}), 24, "{}"},
      {Sealed(kKey, member, {5, 2}), 22, "{}"},
      {Sealed(kKey, whole), 32, "{\"code\":\"0\"}"},
      {Sealed(kKey, member, {1, 25}), 0, "-"},
      {Sealed(kKey, Bytes(8, 8)), 0, "-"},
      {Sealed(otherKey, member, {2, 2}), kAny, "-"},
      {Sealed(kKey, Bytes(16, 1)), 15, "-"},
      // Exactly as long as an answer may be: line breaks are skipped.
      {Sealed(kKey, member, {0, 0}) + std::string(kMaxAnswerBytes - 44, '\n'), 24, "{}"},
      {"AQEBAQEBAQE=", kNone, "-"},      // the IV alone
      {"AQEBAQEBAQEJCgsM", kNone, "-"},  // and part of a block
  };
  for (const auto& c : cases) {
    ClearLog();
    const std::string shown = c.body.substr(0, 60);  // the row at the limit is 32 MiB
    Bytes plain(40);
    uint32_t size = 40;
    const bool deciphered = CTransportUtility::DES_Decrypt(c.body, plain.data(), size);
    EXPECT_EQ(c.kept, c.kept == kAny || !deciphered ? c.kept : size) << shown;
    EXPECT_EQ(c.kept != kNone, deciphered) << shown;
    std::string out = "-";
    EXPECT_EQ(c.text != "-", CTransportUtility::TransformData_Decrypt(c.body, out)) << shown;
    EXPECT_EQ(c.text, out) << shown;
    EXPECT_EQ("", LogText()) << shown;
  }
}

#if !defined(_WIN32)

// The base64 text of a request, its three escapes undone; false when anything
// but letters, digits and those escapes went out.
bool Unescape(const std::string& request, std::string* base64) {
  for (size_t at = 0; at < request.size(); ++at) {
    const std::string esc = request.substr(at, 3);
    const bool escaped = esc == "%2B" || esc == "%2F" || esc == "%3D";
    if (!escaped && !std::isalnum(static_cast<unsigned char>(request[at]))) return false;
    *base64 += !escaped ? request[at] : esc == "%2B" ? '+' : esc == "%2F" ? '/' : '=';
    at += escaped ? 2 : 0;
  }
  return true;
}

// Requests (letters, digits, three escapes) pass openssl and "gzip -t"; answers
// made by gzip (with and without a name) and openssl read back.
TEST_F(Transform, RequestsAndAnswersAgainstOpensslAndGzip) {
  const std::string des = "openssl enc -des-cbc -provider legacy -provider default -K 5e83c0d7a91f2b64 -iv ";
  const auto run = [this](const std::string& command) {  // in the test's folder
    return std::system(("cd '" + tmp_ + "' && (" + command + ") >/dev/null 2>&1").c_str()) == 0;
  };
  const auto file = [this](const char* name) { return tmp_ + "/" + name; };
  if (!run("gzip --version") || !run("printf 12345678 | " + des + "0000000000000000 -out probe"))
    GTEST_SKIP() << "openssl with the legacy provider, or gzip, is not available";
  for (size_t n : {1, 77, 4096, 200000}) {
    const std::string text = JsonLike(n, static_cast<unsigned>(n));
    SCOPED_TRACE(n);
    std::string request, again, base64, out;
    ASSERT_TRUE(CTransportUtility::TransformDataToSend(text, request));
    ASSERT_TRUE(CTransportUtility::TransformDataToSend(text, again));
    EXPECT_NE(request, again);  // a fresh IV each time
    ASSERT_TRUE(Unescape(request, &base64));
    Put(file("b64"), base64);
    ASSERT_TRUE(
        run("openssl base64 -d -A -in b64 -out env && head -c 8 env | od -An -tx1 | tr -d ' \\n' > iv"));
    ASSERT_TRUE(run("tail -c +9 env > cipher && " + des + "$(cat iv) -d -in cipher -out member.gz"));
    ASSERT_TRUE(run("gzip -t member.gz && gzip -dc member.gz > plain"));
    EXPECT_TRUE(text == Get(file("plain")));  // large texts: no dump on failure
    // Line-broken base64 of IV and cipher text, as a web server may send it.
    const char* gzip = n == 1 ? "gzip -6 -n -c" : n == 77 ? "gzip -9 -n -c" : "gzip -6 -c";
    ASSERT_TRUE(run(std::string(gzip) + " plain | " + des + "0f1e2d3c4b5a6978 -out cipher && (printf " +
                    "'\\017\\036\\055\\074\\113\\132\\151\\170'; cat cipher) | openssl base64 -out b64"));
    ASSERT_TRUE(CTransportUtility::TransformData_Decrypt(Get(file("b64")), out));
    EXPECT_TRUE(text == out);
  }
}

#endif  // !_WIN32

}  // namespace
