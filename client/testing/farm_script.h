// The answers of the web farm the fake HTTP layer plays, and the keys its signatures are checked against.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/signature.h"
#include "files/utility.h"
#include "platform/testing/fake_env.h"

namespace client_testing {

using platform_testing::Reply;

inline std::string UrlDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool escape = text[i] == '%' && i + 2 < text.size();
    out += escape ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
    i += escape ? 2 : 0;
  }
  return out;
}

// An answer in the envelope: the request transform without its URL encoding.
inline std::string Sealed(const std::string& json) {
  std::string encoded;
  CUtility::TransformDataToSend(json, encoded);
  return UrlDecode(encoded);
}
inline Reply Answer(const std::string& json) {
  return Reply::Body(Sealed(json));
}

// The deciphered "query" field of a request (in its URL or its form), or "<none>".
inline std::string Opened(const platform_testing::HttpCall& call) {
  const std::string& text = call.verb == "GET" ? call.url : call.data;
  const size_t at = text.find("query=");
  std::string json;
  const bool ok =
      at != std::string::npos && CUtility::TransformData_Decrypt(UrlDecode(text.substr(at + 6)), json);
  return ok ? json : "<none>";
}

// The vendor keys in place of the build's, for the lifetime of the object.
struct ScopedUpdateKeys {
  explicit ScopedUpdateKeys(std::vector<std::string> k)
      : keys(std::move(k)), previous(CUpdateSignature::SetKeys(&keys)) {}
  ~ScopedUpdateKeys() { CUpdateSignature::SetKeys(previous); }
  const std::vector<std::string> keys;
  const std::vector<std::string>* const previous;
};

}  // namespace client_testing
