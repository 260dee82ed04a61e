// Dotted version texts compared component by component, numerically.
#include <climits>
#include <cstdint>

#include "transport/utility.h"

namespace {

constexpr size_t kMaxVersionText = 259;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atoi as the Windows runtime does it (saturating at the int range rather
// than wrapping), read as an unsigned 32-bit number: "-1" is 4294967295.
uint32_t ReadComponent(const std::string& s, size_t at) {
  while (at < s.size() && IsBlank(s[at])) ++at;
  bool negative = false;
  if (at < s.size() && (s[at] == '+' || s[at] == '-')) negative = s[at++] == '-';
  int64_t value = 0;
  for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at) {
    value = value * 10 + (s[at] - '0');
    if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<uint32_t>(static_cast<int32_t>(value));
}

// The part of a text that takes part: up to its first NUL, at most 259 bytes.
std::string Significant(const std::string& text) {
  size_t n = text.find('\0');
  if (n == std::string::npos) n = text.size();
  if (n > kMaxVersionText) n = kMaxVersionText;
  return text.substr(0, n);
}

}  // namespace

int CTransportUtility::CompareVersions(const std::string& current, const std::string& candidate) {
  std::string cur = Significant(current), cand = Significant(candidate);
  if (cur.empty() && cand.empty()) return 0;
  if (cand.empty()) return 2;
  if (cur.empty()) return 1;
  size_t a = 0, b = 0;  // starts of the components of cand and cur
  for (;;) {
    uint32_t nCand = ReadComponent(cand, a);
    uint32_t nCur = ReadComponent(cur, b);
    if (nCand > nCur) return 1;
    if (nCand < nCur) return 2;
    size_t dotA = cand.find('.', a), dotB = cur.find('.', b);
    if (dotA == std::string::npos || dotB == std::string::npos) return 0;
    a = dotA + 1;
    b = dotB + 1;
  }
}

bool CTransportUtility::IsNewerVersion(const std::string& current, const std::string& candidate) {
  return CompareVersions(current, candidate) == 1;
}
