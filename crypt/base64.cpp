#include "crypt/base64.h"

namespace crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr uint8_t kSkip = 0x40;
constexpr uint8_t kStop = 0x80;

struct DecodeTable {
  uint8_t v[256];
  DecodeTable() {
    for (int c = 0; c < 256; ++c) v[c] = kSkip;
    for (int i = 0; i < 64; ++i) v[static_cast<uint8_t>(kAlphabet[i])] = static_cast<uint8_t>(i);
    v[static_cast<uint8_t>('=')] = kStop;
    v[0] = kStop;
  }
};
const DecodeTable kDecode;

}  // namespace

void Base64Encode(const uint8_t* data, size_t n, std::string* out) {
  size_t start = out->size();
  out->resize(start + Base64EncodedSize(n));
  char* o = &(*out)[start];
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v =
        (static_cast<uint32_t>(data[i]) << 16) | (static_cast<uint32_t>(data[i + 1]) << 8) | data[i + 2];
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = kAlphabet[v & 63];
    o += 4;
  }
  size_t rest = n - i;
  if (rest > 0) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 16;
    if (rest == 2) v |= static_cast<uint32_t>(data[i + 1]) << 8;
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
}

void Base64Decode(const char* text, size_t n, std::vector<uint8_t>* out) {
  size_t start = out->size();
  out->resize(start + n / 4 * 3 + 3);
  uint8_t* o = out->data() + start;
  uint32_t acc = 0;
  int have = 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t v = kDecode.v[static_cast<uint8_t>(text[i])];
    if (v & kStop) break;
    if (v & kSkip) continue;
    acc = (acc << 6) | v;
    if (++have == 4) {
      o[0] = static_cast<uint8_t>(acc >> 16);
      o[1] = static_cast<uint8_t>(acc >> 8);
      o[2] = static_cast<uint8_t>(acc);
      o += 3;
      have = 0;
      acc = 0;
    }
  }
  if (have >= 2) {
    *o++ = static_cast<uint8_t>(acc >> (6 * have - 8));
    if (have == 3) *o++ = static_cast<uint8_t>(acc >> 2);
  }
  out->resize(static_cast<size_t>(o - out->data()));
}

}  // namespace crypto
