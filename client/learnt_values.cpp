// What a value learnt from an answer must be before it is stored.
#include "client/learnt_values.h"

#include "platform/ascii.h"
#include "settings/registry.h"

namespace learnt_values {

bool IsUsableUrl(const std::string& url) {
  if (url.size() > kMaxSettingChars) return false;
  for (char c : url) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  const size_t rest = platform::StartsWithNoCase(url, "http://")    ? 7
                      : platform::StartsWithNoCase(url, "https://") ? 8
                                                                    : 0;
  return rest > 0 && url.size() > rest && url[rest] != '/';
}

bool IsDottedVersion(const std::string& text) {
  if (text.empty() || text.size() > kMaxSettingChars) return false;
  bool digitBefore = false;
  for (char c : text) {
    if (c == '.' && digitBefore) {
      digitBefore = false;
    } else if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else {
      return false;
    }
  }
  return digitBefore;
}

std::string VersionOfUrl(const std::string& url) {
  const size_t slash = url.rfind('/');
  std::string version = slash == std::string::npos ? url : url.substr(slash + 1);
  for (char& c : version) {
    if (c == '-') c = '.';
  }
  return version;
}

}  // namespace learnt_values
