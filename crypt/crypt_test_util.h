// Hex helpers shared by the crypt tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crypt_testing {

inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

inline std::string ToHex(const uint8_t* data, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}
inline std::string ToHex(const std::vector<uint8_t>& v) {
  return ToHex(v.data(), v.size());
}

}  // namespace crypt_testing
