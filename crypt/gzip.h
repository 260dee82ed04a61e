// One gzip member (RFC 1952) over zlib's raw DEFLATE, and its reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crypto {

constexpr size_t kGzipHeaderSize = 10;
constexpr size_t kGzipTrailerSize = 8;

// CRC-32 of RFC 1952 (the zlib one).
uint32_t Crc32(const uint8_t* data, size_t n);

// Appends one member: the fixed header (no flags, MTIME 0, XFL 0, OS 0x0B),
// DEFLATE level 6, CRC-32 and ISIZE. False (out restored) if zlib fails.
bool GzipCompress(const uint8_t* data, size_t n, std::vector<uint8_t>* out);

// Why the data was refused (the tests tell the cases apart; callers only
// see failure).
enum class GzipError {
  kNone,
  kNotGzip,    // no member header at the start
  kBadHeader,  // unknown method, reserved flags, or header fields cut off
  kBadData,    // the DEFLATE stream is invalid
  kTruncated,  // the data ends inside the stream or the trailer
  kBadCrc,     // the CRC-32 of the inflated bytes does not match
  kBadLength,  // ISIZE does not match
  kTooLarge,   // the inflated bytes would pass maxOut
  kNoMemory,
};

// Inflates the members at data. The first must be whole and sound; further
// members are read while the next bytes start with the gzip magic, and the
// first of them that is not sound ends the data as if it were not there, so
// what the good members gave is the result. Only a member that would take the
// inflated bytes past maxOut, or a lack of memory, fails the whole. On
// failure out is left empty.
GzipError GzipUncompress(const uint8_t* data, size_t n, size_t maxOut, std::string* out);

}  // namespace crypto
