// Base64 (RFC 4648 section 4) as the web farm writes and reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crypto {

constexpr size_t Base64EncodedSize(size_t n) {
  return (n + 2) / 3 * 4;
}

// The standard alphabet, "=" padding, no line breaks. Appends to out.
void Base64Encode(const uint8_t* data, size_t n, std::string* out);

// The lenient reader of answer bodies: carriage return, line feed, tab,
// blank and every character that is not a base64 letter are skipped; the
// first "=" or NUL ends the data. A last group of two or three letters gives
// one or two bytes; a lone last letter carries no whole byte and is dropped.
// Appends to out.
void Base64Decode(const char* text, size_t n, std::vector<uint8_t>* out);

}  // namespace crypto
