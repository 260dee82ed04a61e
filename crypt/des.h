// Single DES (FIPS 46-3) and CBC with RFC 1423 / PKCS #5 padding: what the
// wire envelope needs, nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crypto {

constexpr size_t kDesBlockSize = 8;

// One DES key: its 16 round keys, scheduled once.
class CDes {
 public:
  // key: 8 bytes; the parity bit of each byte is ignored.
  explicit CDes(const uint8_t* key);

  void EncryptBlock(const uint8_t* in, uint8_t* out) const;
  void DecryptBlock(const uint8_t* in, uint8_t* out) const;

  // Pads n bytes at in (p = 8 - n % 8 bytes of value p) and enciphers them in
  // CBC mode into out, which holds CbcPaddedSize(n) bytes; in and out may be
  // the same buffer if it has room for the pad.
  void CbcEncryptPadded(const uint8_t* iv, const uint8_t* in, size_t n, uint8_t* out) const;

  // Deciphers the whole blocks of n bytes (a trailing partial block is
  // ignored) in CBC mode into out (may equal in) and drops as many bytes as
  // the last byte says: none for 0, all of them for a value above their
  // count; the other pad bytes are not checked. A cipher that pads with
  // zeros still reads, and a wrong key or damaged data is caught by the gzip
  // reader behind this. Fails, leaving *plainSize alone, only when there is
  // no whole block.
  bool CbcDecryptUnpad(const uint8_t* iv, const uint8_t* in, size_t n, uint8_t* out, size_t* plainSize) const;

 private:
  void Crypt(const uint8_t* in, uint8_t* out, bool decrypt) const;

  // Round key r as two words of four 6-bit groups each (see des.cpp).
  uint32_t keyA_[16];
  uint32_t keyB_[16];
};

constexpr size_t CbcPaddedSize(size_t n) {
  return (n / kDesBlockSize + 1) * kDesBlockSize;
}

}  // namespace crypto
