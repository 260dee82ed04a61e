#include "crypt/gzip.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using crypto::GzipError;

std::vector<uint8_t> Gzip(const std::string& s) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(crypto::GzipCompress(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &out));
  return out;
}
GzipError Gunzip(const std::vector<uint8_t>& v, std::string* out, size_t maxOut = 1u << 20) {
  return crypto::GzipUncompress(v.data(), v.size(), maxOut, out);
}
uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}

std::string JsonLike(size_t n) {
  std::string s;
  std::mt19937 random(1);
  while (s.size() < n)
    s += "{\"cid\":\"" + std::to_string(random()) + "\",\"ver\":\"1.0.13.0\",\"loc\":\"en-US\"},";
  s.resize(n);
  return s;
}

TEST(Gzip, CheckValueOfCrc32) {
  const std::string s = "123456789";
  EXPECT_EQ(0xCBF43926u, crypto::Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
  EXPECT_EQ(0u, crypto::Crc32(nullptr, 0));
}

TEST(Gzip, FixedHeaderAndTrailer) {
  for (size_t n : {0u, 1u, 100u, 70000u}) {
    std::string text = JsonLike(n);
    std::vector<uint8_t> m = Gzip(text);
    ASSERT_GE(m.size(), 18u);
    const std::vector<uint8_t> header = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x0B};
    EXPECT_EQ(header, std::vector<uint8_t>(m.begin(), m.begin() + 10));
    EXPECT_EQ(crypto::Crc32(reinterpret_cast<const uint8_t*>(text.data()), n), Le32(m, m.size() - 8));
    EXPECT_EQ(n, Le32(m, m.size() - 4));
    std::string back;
    EXPECT_EQ(GzipError::kNone, Gunzip(m, &back));
    EXPECT_EQ(text, back);
  }
}

TEST(Gzip, StreamReuseAcrossCallsStaysClean) {
  // The per-thread stream is reset between members: alternate sizes and
  // contents must each read back alone.
  std::mt19937 random(3);
  for (int i = 0; i < 50; ++i) {
    std::string s(random() % 5000, '\0');
    for (char& c : s) c = static_cast<char>(i % 2 ? random() : 'a' + random() % 3);
    std::string back;
    ASSERT_EQ(GzipError::kNone, Gunzip(Gzip(s), &back));
    ASSERT_EQ(s, back);
  }
}

TEST(Gzip, MembersAndTrailingBytes) {
  std::vector<uint8_t> a = Gzip("first "), b = Gzip("second");
  std::vector<uint8_t> both = a;
  both.insert(both.end(), b.begin(), b.end());
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    GzipError error;
    std::string text;
  };
  std::vector<uint8_t> trailing = a, badSecond = both, shortSecond = both;
  trailing.insert(trailing.end(), {0, 0, 0, 0x55});
  badSecond[badSecond.size() - 6] ^= 1;  // the second member's CRC
  shortSecond.resize(shortSecond.size() - 3);
  std::vector<uint8_t> magicOnly = a;
  magicOnly.insert(magicOnly.end(), {0x1F, 0x8B});
  const Case cases[] = {
      {"two members", both, GzipError::kNone, "first second"},
      {"trailing bytes ignored", trailing, GzipError::kNone, "first "},
      {"damaged second member", badSecond, GzipError::kBadCrc, ""},
      {"cut second member", shortSecond, GzipError::kTruncated, ""},
      {"second header cut", magicOnly, GzipError::kTruncated, ""},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(c.error, Gunzip(c.data, &out)) << c.name;
    EXPECT_EQ(c.text, out) << c.name;
  }
}

// A member with optional header fields in front of the same DEFLATE data.
std::vector<uint8_t> WithFields(const std::vector<uint8_t>& m, uint8_t flags,
                                const std::vector<uint8_t>& fields) {
  std::vector<uint8_t> out(m.begin(), m.begin() + 10);
  out[3] = flags;
  out.insert(out.end(), fields.begin(), fields.end());
  out.insert(out.end(), m.begin() + 10, m.end());
  return out;
}

TEST(Gzip, HeaderFields) {
  std::vector<uint8_t> m = Gzip("payload");
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    GzipError error;
  };
  std::vector<uint8_t> badMethod = m, reserved = m, notGzip = m;
  badMethod[2] = 7;
  reserved[3] = 0x20;
  notGzip[1] = 0x8C;
  const Case cases[] = {
      {"FEXTRA", WithFields(m, 0x04, {3, 0, 'a', 'b', 'c'}), GzipError::kNone},
      {"FNAME and FCOMMENT", WithFields(m, 0x18, {'n', 0, 'c', 'c', 0}), GzipError::kNone},
      {"FHCRC", WithFields(m, 0x02, {0x12, 0x34}), GzipError::kNone},
      {"all", WithFields(m, 0x1E, {1, 0, 'x', 'n', 0, 'c', 0, 0, 0}), GzipError::kNone},
      {"FEXTRA longer than the data", WithFields(m, 0x04, {0xFF, 0xFF}), GzipError::kTruncated},
      {"FNAME without NUL", std::vector<uint8_t>{0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 0, 'a', 'b'},
       GzipError::kTruncated},
      {"method 7", badMethod, GzipError::kBadHeader},
      {"reserved flag", reserved, GzipError::kBadHeader},
      {"no magic", notGzip, GzipError::kNotGzip},
      {"one byte", std::vector<uint8_t>{0x1F}, GzipError::kNotGzip},
      {"empty", std::vector<uint8_t>{}, GzipError::kNotGzip},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(c.error, Gunzip(c.data, &out)) << c.name;
    EXPECT_EQ(c.error == GzipError::kNone ? "payload" : "", out) << c.name;
  }
}

TEST(Gzip, EveryPrefixFailsAndNoFlippedByteGivesOtherText) {
  const std::string text = JsonLike(600);
  const std::vector<uint8_t> m = Gzip(text);
  for (size_t n = 0; n < m.size(); ++n) {
    std::string out;
    std::vector<uint8_t> cut(m.begin(), m.begin() + static_cast<long>(n));
    ASSERT_NE(GzipError::kNone, Gunzip(cut, &out)) << n;
    ASSERT_TRUE(out.empty());
  }
  for (size_t at = 0; at < m.size(); ++at) {
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> bad = m;
      bad[at] ^= mask;
      std::string out;
      GzipError e = Gunzip(bad, &out);
      // MTIME, XFL and OS carry nothing; every other byte is checked.
      bool harmless = at >= 4 && at < 10;
      if (harmless) {
        ASSERT_EQ(GzipError::kNone, e) << at;
      } else if (e == GzipError::kNone) {
        ASSERT_EQ(text, out) << at;  // only a change DEFLATE cannot see could pass
      }
    }
  }
  std::vector<uint8_t> wrongLength = m;
  wrongLength[m.size() - 4] ^= 1;
  std::string out;
  EXPECT_EQ(GzipError::kBadLength, Gunzip(wrongLength, &out));
  std::vector<uint8_t> wrongCrc = m;
  wrongCrc[m.size() - 8] ^= 1;
  EXPECT_EQ(GzipError::kBadCrc, Gunzip(wrongCrc, &out));
}

TEST(Gzip, InflatedSizeIsBounded) {
  const std::string text(100000, 'z');
  const std::vector<uint8_t> m = Gzip(text);
  struct Case {
    size_t maxOut;
    GzipError error;
  } cases[] = {{100000, GzipError::kNone},
               {99999, GzipError::kTooLarge},
               {1, GzipError::kTooLarge},
               {0, GzipError::kTooLarge},
               {1u << 30, GzipError::kNone}};
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(c.error, Gunzip(m, &out, c.maxOut)) << c.maxOut;
    EXPECT_EQ(c.error == GzipError::kNone ? text.size() : 0u, out.size());
  }
  // Two members that together pass the bound.
  std::vector<uint8_t> two = m;
  two.insert(two.end(), m.begin(), m.end());
  std::string out;
  EXPECT_EQ(GzipError::kTooLarge, Gunzip(two, &out, 150000));
  // A lying ISIZE sizes nothing beyond the bound and still fails cleanly.
  std::vector<uint8_t> lying = Gzip("small");
  for (int i = 1; i <= 4; ++i) lying[lying.size() - static_cast<size_t>(i)] = 0xFF;
  EXPECT_EQ(GzipError::kBadLength, Gunzip(lying, &out));
  EXPECT_EQ(GzipError::kNone, Gunzip(Gzip(""), &out, 0));
}

}  // namespace
