// The encodings of ECDSA P-256 keys and signatures as the vendor's tools write
// them: a PEM public key ("openssl pkey -pubout"), and the DER signature of
// "openssl dgst -sha256 -sign" carried as base64 text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace crypto {

constexpr size_t kP256PointSize = 64;      // X then Y, 32 bytes each, big-endian
constexpr size_t kP256SignatureSize = 64;  // r then s, 32 bytes each, big-endian

// The point of a "-----BEGIN PUBLIC KEY-----" block holding an uncompressed
// P-256 key. False, with the reason, for anything else.
bool P256PointFromPem(const std::string& pem, std::string* xy, std::string* reason);

// r and s of a DER ECDSA-Sig-Value: a SEQUENCE of two INTEGERs in their
// shortest form, nothing after it, each integer from 1 to the group order
// less one. False, with the reason and its byte offset, for anything else.
bool P256SignatureFromDer(const uint8_t* der, size_t n, std::string* rs, std::string* reason);

// The same from base64 text. Line breaks and blanks may stand anywhere
// ("openssl base64" wraps at 64 letters); every other character, padding that
// is not the canonical one, and a text above 1 KiB are refused.
bool P256SignatureFromBase64(const std::string& text, std::string* rs, std::string* reason);

}  // namespace crypto
