// URL splitting with the results InternetCrackUrlA gives for http and https.
#include <cstdlib>

#include "platform/ascii.h"
#include "platform/posix/posix_env.h"

namespace platform {

Status PosixCrackUrl(const std::string& url, UrlComponents* parts) {
  *parts = UrlComponents();
  size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0) return kErrorInternetInvalidUrl;
  parts->scheme = url.substr(0, colon);
  const std::string lower = AsciiLower(parts->scheme);
  uint16_t defaultPort = 0;
  if (lower == "http") {
    parts->schemeNumber = 3;
    defaultPort = 80;
  } else if (lower == "https") {
    parts->schemeNumber = 4;
    defaultPort = 443;
  } else if (lower == "ftp") {
    parts->schemeNumber = 1;
    defaultPort = 21;
  } else {
    parts->schemeNumber = -1;
  }
  size_t start = colon + 3;
  size_t pathStart = url.find_first_of("/?#", start);
  std::string authority =
      url.substr(start, pathStart == std::string::npos ? std::string::npos : pathStart - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    std::string userInfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    size_t c = userInfo.find(':');
    parts->user = userInfo.substr(0, c);
    if (c != std::string::npos) parts->password = userInfo.substr(c + 1);
  }
  // A port follows the host, so after the "]" of an IPv6 literal.
  size_t portColon = authority.rfind(':');
  size_t literalEnd = authority.rfind(']');
  if (portColon != std::string::npos && (literalEnd == std::string::npos || portColon > literalEnd)) {
    std::string digits = authority.substr(portColon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
      return kErrorInternetInvalidUrl;
    unsigned long port = std::strtoul(digits.c_str(), nullptr, 10);
    if (port > 65535) return kErrorInternetInvalidUrl;
    parts->port = static_cast<uint16_t>(port);
    parts->portGiven = true;
    authority.resize(portColon);
  } else {
    parts->port = defaultPort;
  }
  if (authority.empty()) return kErrorInternetInvalidUrl;
  parts->host = authority;
  if (pathStart == std::string::npos) return kSuccess;
  std::string rest = url.substr(pathStart);
  size_t extra = rest.find_first_of("?#");
  parts->path = rest.substr(0, extra);
  if (extra != std::string::npos) parts->extra = rest.substr(extra);
  return kSuccess;
}

}  // namespace platform
