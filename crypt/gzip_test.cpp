#include "crypt/gzip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using crypto::GzipError;

Bytes Gzip(const std::string& text) {
  Bytes out;
  EXPECT_TRUE(crypto::GzipCompress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &out));
  return out;
}

GzipError Gunzip(const Bytes& member, std::string* out, size_t maxOut = 1u << 20) {
  *out = "stale";
  return crypto::GzipUncompress(member.data(), member.size(), maxOut, out);
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Flipped(Bytes m, size_t at, uint8_t mask) {
  m[at] ^= mask;
  return m;
}

// A member with optional header fields before the same DEFLATE data.
Bytes WithFields(const Bytes& m, uint8_t flags, const Bytes& fields) {
  Bytes out(m.begin(), m.begin() + 10);
  out[3] = flags;
  out.insert(out.end(), fields.begin(), fields.end());
  return Cat(out, Bytes(m.begin() + 10, m.end()));
}

TEST(Gzip, MembersHeaderFieldsTrailingBytesAndTheSizeBound) {
  EXPECT_EQ(crypto::Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
  const Bytes a = Gzip("first "), b = Gzip("second"), ab = Cat(a, b), z = Gzip(std::string(100000, 'z'));
  // A stored block of ten bytes cut after five: all input is used when the output reaches five.
  const Bytes cutStored = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0, 1, 10, 0, 0xF5, 0xFF, 'a', 'b', 'c', 'd', 'e'};
  Bytes lying = Gzip("small");  // an ISIZE that sizes nothing beyond the bound
  for (size_t i = 1; i <= 4; ++i) lying[lying.size() - i] = 0xFF;
  const struct {
    const char* name;
    Bytes data;
    GzipError error;
    std::string text;
    size_t maxOut = 1u << 20;
  } cases[] = {
      {"two members", ab, GzipError::kNone, "first second"},
      {"trailing bytes ignored", Cat(a, {0, 0x1F, 0, 0x55}), GzipError::kNone, "first "},
      {"all fields", WithFields(a, 0x1E, {1, 0, 'x', 'n', 0, 'c', 0, 0, 0}), GzipError::kNone, "first "},
      {"FEXTRA past the end", WithFields(a, 0x04, {0xFF, 0xFF}), GzipError::kTruncated, ""},
      {"FEXTRA length cut", Bytes({0x1F, 0x8B, 8, 0x04, 0, 0, 0, 0, 0, 0, 1}), GzipError::kTruncated, ""},
      {"FNAME without NUL", Bytes({0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 0, 'a', 'b'}), GzipError::kTruncated,
       ""},
      {"FHCRC cut", Bytes({0x1F, 0x8B, 8, 0x02, 0, 0, 0, 0, 0, 0, 1}), GzipError::kTruncated, ""},
      {"reserved DEFLATE block type", Flipped(a, 10, a[10] ^ 0x07), GzipError::kBadData, ""},
      {"method 7", Flipped(a, 2, 0x0F), GzipError::kBadHeader, ""},
      {"reserved flag", Flipped(a, 3, 0x20), GzipError::kBadHeader, ""},
      // A broken member after a sound one ends the data: the sound one is the answer.
      {"damaged CRC of the second member", Flipped(ab, ab.size() - 6, 1), GzipError::kNone, "first "},
      {"cut second member", Bytes(ab.begin(), ab.end() - 3), GzipError::kNone, "first "},
      {"second header cut", Cat(a, {0x1F, 0x8B}), GzipError::kNone, "first "},
      {"second member of method 7", Cat(a, Flipped(b, 2, 0x0F)), GzipError::kNone, "first "},
      {"second member without its ID2", Cat(a, Flipped(b, 1, 0x01)), GzipError::kNone, "first "},
      {"bad data in the third", Cat(ab, Flipped(a, 10, a[10] ^ 0x07)), GzipError::kNone, "first second"},
      {"damaged first, sound second", Cat(Flipped(a, a.size() - 8, 1), b), GzipError::kBadCrc, ""},
      {"no magic", Flipped(a, 1, 0x07), GzipError::kNotGzip, ""},
      {"one byte", Bytes({0x1F}), GzipError::kNotGzip, ""},
      {"inflates to the bound", z, GzipError::kNone, std::string(100000, 'z'), 100000},
      {"over the bound", z, GzipError::kTooLarge, "", 99999},
      {"cut stored block past the bound", cutStored, GzipError::kTooLarge, "", 4},
      {"cut stored block", cutStored, GzipError::kTruncated, "", 5},
      {"nothing allowed", z, GzipError::kTooLarge, "", 0},
      {"two members over the bound", Cat(z, z), GzipError::kTooLarge, "", 150000},
      {"lying ISIZE", lying, GzipError::kBadLength, ""},
      {"empty text, nothing allowed", Gzip(""), GzipError::kNone, "", 0},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Gunzip(c.data, &out, c.maxOut), c.error) << c.name;
    EXPECT_EQ(out, c.text) << c.name;
  }
}

TEST(Gzip, EveryPrefixFailsAndNoChangedByteGivesOtherText) {
  std::string text;
  for (int i = 0; text.size() < 600; ++i)
    text += "{\"cid\":\"" + std::to_string(i * 7919) + "\",\"ver\":\"1.0.13.0\"},";
  const Bytes m = Gzip(text);
  std::string out;
  for (size_t n = 0; n < m.size(); ++n) {
    ASSERT_NE(Gunzip(Bytes(m.begin(), m.begin() + static_cast<long>(n)), &out), GzipError::kNone) << n;
    ASSERT_EQ(out, "") << n;
  }
  for (size_t at = 0; at < m.size(); ++at) {
    for (const uint8_t mask : {0x01, 0x80, 0xFF}) {
      const GzipError e = Gunzip(Flipped(m, at, mask), &out);
      if (at >= 4 && at < 10) {
        ASSERT_EQ(e, GzipError::kNone) << at;  // MTIME, XFL and OS carry nothing
      } else if (e == GzipError::kNone) {
        ASSERT_EQ(out, text) << at;  // only a change DEFLATE cannot see may pass
      }
    }
  }
}

}  // namespace
