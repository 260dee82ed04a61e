#include "transport/url_string.h"

#include "platform/env.h"

namespace {

// The punctuation escaped, in the order the reserved set lists it.
const char kPunctuation[] = "%=\"<>\\^[]`+$,@:;/!#?&'";

}  // namespace

CUrlString::CUrlString() : strReserved(kPunctuation) {
  for (int c = 0x01; c <= 0x20; ++c) strReserved.push_back(static_cast<char>(c));
  for (int c = 0x7C; c <= 0xFF; ++c) strReserved.push_back(static_cast<char>(c));
}

std::string CUrlString::Encode(std::string text) const {
  // One left-to-right pass gives the same text as escaping member by member
  // in the set's order, since "%" comes first and escapes hold no other
  // reserved byte.
  bool escaped[256] = {};
  for (char c : strReserved) escaped[static_cast<unsigned char>(c)] = true;
  size_t extra = 0;
  for (char c : text) extra += escaped[static_cast<unsigned char>(c)] ? 2 : 0;
  if (extra == 0) return text;
  static const char kHex[] = "0123456789ABCDEF";
  std::string out(text.size() + extra, '\0');
  char* o = &out[0];
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (escaped[u]) {
      o[0] = '%';
      o[1] = kHex[u >> 4];
      o[2] = kHex[u & 15];
      o += 3;
    } else {
      *o++ = c;
    }
  }
  return out;
}

UrlParts::UrlParts(const std::string& url) {
  CrackUrl(url);
}

bool UrlParts::CrackUrl(const std::string& url) {
  platform::UrlComponents parts;
  platform::Status status = platform::Env::Default()->http()->SplitUrl(url, &parts);
  scheme = parts.scheme;
  nScheme = parts.schemeNumber;
  host = parts.host;
  nPort = parts.port;
  bPortGiven = parts.portGiven;
  user = parts.user;
  password = parts.password;
  path = parts.path;
  extra = parts.extra;
  return status == platform::kSuccess;
}
