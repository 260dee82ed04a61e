// Number texts of the settings and answers.
#include "client/numbers.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace client_numbers {

namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (c >= 'a' && c <= 'z') {
    v = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'Z') {
    v = c - 'A' + 10;
  }
  return v < base ? v : -1;
}

// strtol-style scan: blanks, sign, optional 0x for base 16, digits. The
// magnitude saturates at 2^32 so any 32-bit value survives and larger ones
// stay recognisably large.
struct Scanned {
  bool negative = false;
  bool digits = false;
  uint64_t magnitude = 0;
};

Scanned Scan(const std::string& text, int base) {
  Scanned s;
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    s.negative = text[i] == '-';
    ++i;
  }
  if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      DigitValue(text[i + 2], 16) >= 0) {
    i += 2;
  }
  constexpr uint64_t kCap = uint64_t{1} << 32;
  for (; i < text.size(); ++i) {
    int d = DigitValue(text[i], base);
    if (d < 0) break;
    s.digits = true;
    s.magnitude = s.magnitude * base + static_cast<uint64_t>(d);
    if (s.magnitude > kCap) s.magnitude = kCap;
  }
  return s;
}

}  // namespace

int32_t ParseDecimalInt32(const std::string& text) {
  Scanned s = Scan(text, 10);
  if (!s.digits) return 0;
  if (s.negative) {
    if (s.magnitude >= uint64_t{1} << 31) return std::numeric_limits<int32_t>::min();
    return -static_cast<int32_t>(s.magnitude);
  }
  if (s.magnitude > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(s.magnitude);
}

int64_t LastCheckTime(const std::string& text, int64_t now) {
  Scanned s = Scan(text, 16);
  if (!s.digits) return 0;
  if (s.negative) return -static_cast<int64_t>(s.magnitude);
  if (s.magnitude > 0xffffffffu) s.magnitude = 0xffffffffu;
  constexpr int64_t kEra = int64_t{1} << 32;
  // A time in the future is believed only up to kSlack ahead (a clock set
  // back); otherwise the value belongs to an earlier era.
  constexpr int64_t kSlack = int64_t{1} << 30;
  int64_t base = now - (((now % kEra) + kEra) % kEra);
  int64_t t = base + static_cast<int64_t>(s.magnitude);
  if (t > now + kSlack) t -= kEra;
  if (t + kEra <= now + kSlack) t += kEra;
  return t;
}

int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

std::string LastCheckText(int64_t seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(static_cast<uint32_t>(seconds)));
  return text;
}

}  // namespace client_numbers
