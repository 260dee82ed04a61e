// The wire envelope: gzip member, RFC 1423 pad, DES-CBC under the fixed key
// with a fresh IV in front, base64, and for requests percent-encoding.
#include <cstring>
#include <new>
#include <vector>

#include "crypt/base64.h"
#include "crypt/des.h"
#include "crypt/gzip.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"
#include "transport/url_string.h"
#include "transport/utility.h"

namespace {

// The web farm's key, as the hex text it is configured with.
const char kKeyHex[] = "5e83c0d7a91f2b64";
constexpr size_t kIvSize = crypto::kDesBlockSize;

const char kEncryptLabel[] = "TransformData_Encrypt()";
const char kDesEncryptLabel[] = "CUtility::DES_Encrypt()";
const char kDesDecryptLabel[] = "CUtility::DES_Decrypt()";
const char kCompressLabel[] = "GZip_Compress()";
const char kCompressGate[] = "---GZip_Compress() -- GATE003----";

const crypto::CDes& Cipher() {
  static const crypto::CDes des = [] {
    unsigned char key[8];
    CTransportUtility::HexToBytes(kKeyHex, key);
    return crypto::CDes(key);
  }();
  return des;
}

// envelope holds kIvSize free bytes, then the gzip member of memberSize
// bytes. Draws the IV into the free bytes, pads and enciphers the member in
// place and appends the base64 text to out.
bool SealEnvelope(std::vector<uint8_t>& envelope, size_t memberSize, std::string& out, bool debug) {
  platform::Status status = platform::Env::Default()->system()->GenRandom(envelope.data(), kIvSize);
  if (status != platform::kSuccess) {
    // A predictable IV would leak equal prefixes of messages: send nothing.
    WriteLogF(kDesEncryptLabel, "GenRandom failed, error code = %u\n", status);
    return false;
  }
  envelope.resize(kIvSize + crypto::CbcPaddedSize(memberSize));
  Cipher().CbcEncryptPadded(envelope.data(), envelope.data() + kIvSize, memberSize,
                            envelope.data() + kIvSize);
  crypto::Base64Encode(envelope.data(), envelope.size(), &out);
  if (debug) WriteLog(kDesEncryptLabel, "Base64 Result: " + out);
  return true;
}

// Base64 text in, plain bytes (the gzip member) out.
bool OpenEnvelope(const std::string& text, std::vector<uint8_t>& plain) {
  if (text.size() > kMaxAnswerBytes) {
    WriteLogF(kDesDecryptLabel, "answer of %llu bytes is over the limit of %llu\n",
              static_cast<unsigned long long>(text.size()), static_cast<unsigned long long>(kMaxAnswerBytes));
    return false;
  }
  std::vector<uint8_t> bytes;
  crypto::Base64Decode(text.data(), text.size(), &bytes);
  // No block after the IV, nothing to decipher. A wrong key or a damaged
  // answer deciphers to bytes that the gzip reader refuses. Neither is logged:
  // the caller's failure line says it.
  if (bytes.size() < kIvSize + crypto::kDesBlockSize) return false;
  size_t plainSize = 0;
  if (!Cipher().CbcDecryptUnpad(bytes.data(), bytes.data() + kIvSize, bytes.size() - kIvSize,
                                bytes.data() + kIvSize, &plainSize)) {
    return false;
  }
  bytes.erase(bytes.begin(), bytes.begin() + kIvSize);
  bytes.resize(plainSize);
  plain.swap(bytes);
  return true;
}

// Why the bytes are refused is not logged: the caller's failure line says it.
bool Inflate(const unsigned char* data, size_t length, std::string& out) {
  return crypto::GzipUncompress(data, length, kMaxAnswerBytes, &out) == crypto::GzipError::kNone;
}

}  // namespace

bool CTransportUtility::TransformDataToSend(std::string text, std::string& out) {
  if (text.empty()) return false;
  // The switch is read once: each read is a registry access, and a small
  // request costs less than a few of those.
  const bool debug = IsDebugLogging() != 0;
  // The member is made once and enciphered in place behind the IV slot; the
  // two-call size protocol of GZip_Compress is for other callers.
  std::vector<uint8_t> envelope;
  bool compressed = false;
  try {
    envelope.reserve(kIvSize + text.size() / 4 + 64);
    envelope.resize(kIvSize);
    compressed = text.size() <= INT32_MAX &&
                 crypto::GzipCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &envelope);
  } catch (const std::bad_alloc&) {
    compressed = false;
  }
  // The lines of the size protocol's first call: log readers know a request by them.
  if (debug && compressed) WriteLog(kCompressLabel, kCompressGate);
  if (debug) WriteLog(kEncryptLabel, "GZip_Compress() FAILED -- Need More Buffer");
  if (!compressed) {
    WriteLog(kEncryptLabel, "GZip_Compress() FAILED -- 002");
    return false;
  }
  std::string base64;
  try {
    if (!SealEnvelope(envelope, envelope.size() - kIvSize, base64, debug)) return false;
    std::vector<uint8_t>().swap(envelope);
    std::string encoded = CUrlString().Encode(std::move(base64));
    if (debug) WriteLog(kEncryptLabel, encoded);
    out.swap(encoded);
  } catch (const std::bad_alloc&) {
    WriteLog(kEncryptLabel, "out of memory");
    return false;
  }
  return true;
}

bool CTransportUtility::TransformData_Decrypt(std::string text, std::string& out) {
  if (text.empty()) return false;
  try {
    std::vector<uint8_t> plain;
    if (!OpenEnvelope(text, plain)) return false;
    std::string().swap(text);
    if (plain.empty()) return false;
    std::string result;
    if (!Inflate(plain.data(), plain.size(), result)) return false;
    out.swap(result);
  } catch (const std::bad_alloc&) {
    WriteLog(kDesDecryptLabel, "out of memory");
    return false;
  }
  return true;
}

bool CTransportUtility::DES_Encrypt(std::string& out, const unsigned char* data, size_t length) {
  std::string base64;
  try {
    std::vector<uint8_t> envelope(kIvSize + crypto::CbcPaddedSize(length));
    if (length > 0) std::memcpy(envelope.data() + kIvSize, data, length);
    if (!SealEnvelope(envelope, length, base64, IsDebugLogging() != 0)) return false;
  } catch (const std::bad_alloc&) {
    WriteLog(kDesEncryptLabel, "out of memory");
    return false;
  }
  out.swap(base64);
  return true;
}

bool CTransportUtility::DES_Decrypt(std::string text, unsigned char* buffer, uint32_t& size) {
  std::vector<uint8_t> plain;
  try {
    if (!OpenEnvelope(text, plain)) return false;
  } catch (const std::bad_alloc&) {
    WriteLog(kDesDecryptLabel, "out of memory");
    return false;
  }
  const uint32_t count = static_cast<uint32_t>(plain.size());  // under kMaxAnswerBytes
  if (size < count) {
    size = count;
    return false;
  }
  // Without a buffer an empty result leaves the size as it was; with one it
  // is handed over like any other.
  if (buffer == nullptr) return false;
  if (count > 0) std::memcpy(buffer, plain.data(), count);
  size = count;
  return true;
}

bool CTransportUtility::GZip_Compress(const unsigned char* data, int32_t length, unsigned char* buffer,
                                      int32_t& size) {
  if (data == nullptr || length <= 0) return false;
  std::vector<uint8_t> member;
  try {
    if (!crypto::GzipCompress(data, static_cast<size_t>(length), &member)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (member.size() > INT32_MAX) return false;
  int32_t have = size;
  size = static_cast<int32_t>(member.size());
  if (buffer == nullptr || have < size) {
    WriteLog(kCompressLabel, kCompressGate);
    return false;
  }
  std::memcpy(buffer, member.data(), member.size());
  return true;
}

bool CTransportUtility::GZip_Uncompress(std::string& out, const unsigned char* data, int32_t length,
                                        uint32_t& size) {
  if (data == nullptr || length < 1) return false;
  std::string result;
  try {
    if (!Inflate(data, static_cast<size_t>(length), result)) return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  size = static_cast<uint32_t>(result.size());
  out.swap(result);
  return true;
}

void CTransportUtility::HexToBytes(const std::string& hex, unsigned char* out) {
  // Each pair is read as strtol(pair, 16) reads it: hex digits up to the
  // first other character, none giving 0.
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    int value = 0;
    if (hi >= 0) value = lo >= 0 ? hi * 16 + lo : hi;
    out[i / 2] = static_cast<unsigned char>(value);
  }
}
