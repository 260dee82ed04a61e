#include "crypt/des.h"

#include <cstring>

namespace crypto {
namespace {

// FIPS 46-3 tables. Bit numbers count from 1 at the most significant bit.
constexpr uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                              35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                              46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
constexpr uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// kSP[i][g]: the S-box i output for the 6-bit group g, already moved through
// the permutation P, so a round is eight lookups and ORs.
struct SpTables {
  uint32_t t[8][64];
  SpTables() {
    for (int i = 0; i < 8; ++i) {
      for (int g = 0; g < 64; ++g) {
        int row = ((g >> 4) & 2) | (g & 1);
        int col = (g >> 1) & 15;
        uint32_t s = static_cast<uint32_t>(kS[i][row * 16 + col]) << (28 - 4 * i);
        uint32_t p = 0;
        for (int j = 0; j < 32; ++j) {
          if ((s >> (32 - kP[j])) & 1u) p |= 1u << (31 - j);
        }
        t[i][g] = p;
      }
    }
  }
};
const SpTables kSP;

inline uint32_t Rotr(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

inline uint32_t Load32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline void Store32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Swaps the bits of a selected by mask m (shifted by n) with those of b.
inline void PermOp(uint32_t& a, uint32_t& b, int n, uint32_t m) {
  uint32_t t = ((a >> n) ^ b) & m;
  b ^= t;
  a ^= t << n;
}
// The initial permutation IP on the halves l (bits 1-32) and r (33-64), and
// its inverse; each step is its own inverse, so FP runs them backwards.
inline void InitialPermutation(uint32_t& l, uint32_t& r) {
  PermOp(l, r, 4, 0x0f0f0f0fu);
  PermOp(l, r, 16, 0x0000ffffu);
  PermOp(r, l, 2, 0x33333333u);
  PermOp(r, l, 8, 0x00ff00ffu);
  PermOp(l, r, 1, 0x55555555u);
}
inline void FinalPermutation(uint32_t& l, uint32_t& r) {
  PermOp(l, r, 1, 0x55555555u);
  PermOp(r, l, 8, 0x00ff00ffu);
  PermOp(r, l, 2, 0x33333333u);
  PermOp(l, r, 16, 0x0000ffffu);
  PermOp(l, r, 4, 0x0f0f0f0fu);
}

// The expansion E takes group i from bits 4i .. 4i+5 of r (bit 0 being bit
// 32). Rotating r right by 27 puts group 0 in byte 0, group 6 in byte 1,
// group 4 in byte 2 and group 2 in byte 3; rotating by 23 does the same for
// groups 1, 7, 5 and 3. The round keys are stored in that layout.
inline uint32_t F(uint32_t r, uint32_t ka, uint32_t kb) {
  uint32_t a = Rotr(r, 27) ^ ka;
  uint32_t b = Rotr(r, 23) ^ kb;
  return kSP.t[0][a & 63] | kSP.t[6][(a >> 8) & 63] | kSP.t[4][(a >> 16) & 63] | kSP.t[2][(a >> 24) & 63] |
         kSP.t[1][b & 63] | kSP.t[7][(b >> 8) & 63] | kSP.t[5][(b >> 16) & 63] | kSP.t[3][(b >> 24) & 63];
}

}  // namespace

CDes::CDes(const uint8_t* key) {
  uint64_t k = 0;
  for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
  uint32_t c = 0, d = 0;  // 28 bits each
  for (int i = 0; i < 28; ++i) {
    c = (c << 1) | static_cast<uint32_t>((k >> (64 - kPC1[i])) & 1u);
    d = (d << 1) | static_cast<uint32_t>((k >> (64 - kPC1[i + 28])) & 1u);
  }
  for (int r = 0; r < 16; ++r) {
    for (int s = 0; s < kShifts[r]; ++s) {
      c = ((c << 1) | (c >> 27)) & 0x0fffffffu;
      d = ((d << 1) | (d >> 27)) & 0x0fffffffu;
    }
    uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;  // bits 1..56 of C D
    uint8_t group[8] = {};
    for (int j = 0; j < 48; ++j) {
      uint32_t bit = static_cast<uint32_t>((cd >> (56 - kPC2[j])) & 1u);
      group[j / 6] = static_cast<uint8_t>((group[j / 6] << 1) | bit);
    }
    keyA_[r] = group[0] | (static_cast<uint32_t>(group[6]) << 8) | (static_cast<uint32_t>(group[4]) << 16) |
               (static_cast<uint32_t>(group[2]) << 24);
    keyB_[r] = group[1] | (static_cast<uint32_t>(group[7]) << 8) | (static_cast<uint32_t>(group[5]) << 16) |
               (static_cast<uint32_t>(group[3]) << 24);
  }
}

void CDes::Crypt(const uint8_t* in, uint8_t* out, bool decrypt) const {
  uint32_t l = Load32(in), r = Load32(in + 4);
  InitialPermutation(l, r);
  if (!decrypt) {
    for (int i = 0; i < 16; i += 2) {
      l ^= F(r, keyA_[i], keyB_[i]);
      r ^= F(l, keyA_[i + 1], keyB_[i + 1]);
    }
  } else {
    for (int i = 15; i > 0; i -= 2) {
      l ^= F(r, keyA_[i], keyB_[i]);
      r ^= F(l, keyA_[i - 1], keyB_[i - 1]);
    }
  }
  // The output block is R16 L16.
  FinalPermutation(r, l);
  Store32(r, out);
  Store32(l, out + 4);
}

void CDes::EncryptBlock(const uint8_t* in, uint8_t* out) const {
  Crypt(in, out, false);
}
void CDes::DecryptBlock(const uint8_t* in, uint8_t* out) const {
  Crypt(in, out, true);
}

void CDes::CbcEncryptPadded(const uint8_t* iv, const uint8_t* in, size_t n, uint8_t* out) const {
  uint8_t chain[kDesBlockSize];
  std::memcpy(chain, iv, kDesBlockSize);
  size_t whole = n - n % kDesBlockSize;
  for (size_t at = 0; at < whole; at += kDesBlockSize) {
    for (size_t j = 0; j < kDesBlockSize; ++j) chain[j] ^= in[at + j];
    Crypt(chain, chain, false);
    std::memcpy(out + at, chain, kDesBlockSize);
  }
  // The last block: the rest of the data, then p bytes of value p (1..8).
  size_t rest = n - whole;
  uint8_t pad = static_cast<uint8_t>(kDesBlockSize - rest);
  uint8_t last[kDesBlockSize];
  if (rest > 0) std::memcpy(last, in + whole, rest);  // in may be null when n is 0
  std::memset(last + rest, pad, pad);
  for (size_t j = 0; j < kDesBlockSize; ++j) chain[j] ^= last[j];
  Crypt(chain, out + whole, false);
}

bool CDes::CbcDecryptUnpad(const uint8_t* iv, const uint8_t* in, size_t n, uint8_t* out,
                           size_t* plainSize) const {
  size_t whole = n - n % kDesBlockSize;
  if (whole == 0) return false;
  uint8_t chain[kDesBlockSize], saved[kDesBlockSize], block[kDesBlockSize];
  std::memcpy(chain, iv, kDesBlockSize);
  for (size_t at = 0; at < whole; at += kDesBlockSize) {
    std::memcpy(saved, in + at, kDesBlockSize);  // in may be out
    Crypt(saved, block, true);
    for (size_t j = 0; j < kDesBlockSize; ++j) out[at + j] = block[j] ^ chain[j];
    std::memcpy(chain, saved, kDesBlockSize);
  }
  const size_t pad = out[whole - 1];
  *plainSize = pad > whole ? 0 : whole - pad;
  return true;
}

}  // namespace crypto
