#include "crypt/ecdsa_encoding.h"

#include <cstring>
#include <vector>

#include "crypt/base64.h"

namespace crypto {
namespace {

const char kPemBegin[] = "-----BEGIN PUBLIC KEY-----";
const char kPemEnd[] = "-----END PUBLIC KEY-----";

// The SubjectPublicKeyInfo of a P-256 key up to its point: SEQUENCE {
// SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING of 66 bytes, no unused
// bits, 0x04 for an uncompressed point }.
const uint8_t kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                               0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                               0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// n, the order of the P-256 group: r and s lie in 1 .. n-1.
const uint8_t kOrder[32] = {0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff,
                            0xff, 0xff, 0xff, 0xff, 0xff, 0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17,
                            0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51};

constexpr size_t kMaxSignatureText = 1024;  // a signature is 96 letters; room for line breaks

bool Fail(std::string* reason, size_t at, const std::string& what) {
  *reason = "at byte " + std::to_string(at) + ": " + what;
  return false;
}

// The bytes of a base64 text whose line breaks and blanks are dropped, when
// what is left is exactly the encoding of those bytes: a stray character, a
// missing or extra "=" or stray bits in the last letter all fail.
bool DecodeCanonical(const char* text, size_t n, std::vector<uint8_t>* bytes) {
  std::string letters;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n' && c != ' ' && c != '\t') letters += c;
  }
  Base64Decode(letters.data(), letters.size(), bytes);
  std::string again;
  Base64Encode(bytes->data(), bytes->size(), &again);
  return !letters.empty() && again == letters;
}

// The INTEGER at *at as 32 big-endian bytes, *at moved past it.
bool ReadInteger(const uint8_t* der, size_t end, size_t* at, const std::string& name, uint8_t out[32],
                 std::string* reason) {
  const size_t p = *at;
  if (p + 2 > end) return Fail(reason, p, name + " is missing");
  if (der[p] != 0x02) return Fail(reason, p, name + " is not an INTEGER");
  const size_t length = der[p + 1];
  if (length == 0 || length > 33) return Fail(reason, p + 1, name + " has length " + std::to_string(length));
  if (p + 2 + length > end) return Fail(reason, p + 1, name + " runs past the end");
  const uint8_t* value = der + p + 2;
  if (value[0] & 0x80) return Fail(reason, p + 2, name + " is negative");
  const bool padded = length > 1 && value[0] == 0;
  if (padded && !(value[1] & 0x80)) return Fail(reason, p + 2, name + " is not in its shortest form");
  const size_t size = length - (padded ? 1 : 0);
  if (size > 32) return Fail(reason, p + 2, name + " is longer than 32 bytes");
  std::memset(out, 0, 32);
  std::memcpy(out + 32 - size, value + (padded ? 1 : 0), size);
  static const uint8_t kZero[32] = {};
  if (std::memcmp(out, kZero, 32) == 0) return Fail(reason, p + 2, name + " is zero");
  if (std::memcmp(out, kOrder, 32) >= 0) return Fail(reason, p + 2, name + " is not below the group order");
  *at = p + 2 + length;
  return true;
}

}  // namespace

bool P256PointFromPem(const std::string& pem, std::string* xy, std::string* reason) {
  const size_t begin = pem.find(kPemBegin);
  if (begin == std::string::npos) {
    *reason = "no PUBLIC KEY block";
    return false;
  }
  const size_t body = begin + sizeof(kPemBegin) - 1;
  const size_t end = pem.find(kPemEnd, body);
  if (end == std::string::npos) {
    *reason = "the PUBLIC KEY block has no end line";
    return false;
  }
  std::vector<uint8_t> der;
  if (!DecodeCanonical(pem.data() + body, end - body, &der)) {
    *reason = "the PUBLIC KEY block is not base64";
    return false;
  }
  if (der.size() != sizeof(kSpkiPrefix) + kP256PointSize ||
      std::memcmp(der.data(), kSpkiPrefix, sizeof(kSpkiPrefix)) != 0) {
    *reason = "not an uncompressed P-256 public key";
    return false;
  }
  xy->assign(der.begin() + sizeof(kSpkiPrefix), der.end());
  return true;
}

bool P256SignatureFromDer(const uint8_t* der, size_t n, std::string* rs, std::string* reason) {
  if (n < 2) return Fail(reason, n, "shorter than a SEQUENCE header");
  if (der[0] != 0x30) return Fail(reason, 0, "not a SEQUENCE");
  // A signature is at most 72 bytes: its length has one byte, never the long form.
  if (der[1] & 0x80) return Fail(reason, 1, "a length in the long form");
  if (2u + der[1] != n) {
    return Fail(
        reason, 1,
        "the SEQUENCE holds " + std::to_string(der[1]) + " bytes, " + std::to_string(n - 2) + " follow");
  }
  size_t at = 2;
  uint8_t r[32], s[32];
  if (!ReadInteger(der, n, &at, "r", r, reason) || !ReadInteger(der, n, &at, "s", s, reason)) return false;
  if (at != n) return Fail(reason, at, "bytes after s");
  rs->assign(reinterpret_cast<const char*>(r), 32);
  rs->append(reinterpret_cast<const char*>(s), 32);
  return true;
}

bool P256SignatureFromBase64(const std::string& text, std::string* rs, std::string* reason) {
  if (text.size() > kMaxSignatureText) {
    *reason = std::to_string(text.size()) + " bytes of text";
    return false;
  }
  std::vector<uint8_t> der;
  if (!DecodeCanonical(text.data(), text.size(), &der)) {
    *reason = "not base64";
    return false;
  }
  return P256SignatureFromDer(der.data(), der.size(), rs, reason);
}

}  // namespace crypto
