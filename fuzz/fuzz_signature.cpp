// The readers of update signatures and keys on any bytes: nothing but the one
// shortest DER form of r and s is taken, so a signature taken and written out
// again is the same bytes; the text and PEM readers never take more than that.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypt/ecdsa_encoding.h"

namespace {

void AppendInteger(const std::string& value, std::string* der) {
  size_t skip = 0;
  while (skip + 1 < value.size() && value[skip] == 0) ++skip;
  std::string body = value.substr(skip);
  if (static_cast<uint8_t>(body[0]) & 0x80) body.insert(body.begin(), '\0');
  der->push_back(0x02);
  der->push_back(static_cast<char>(body.size()));
  der->append(body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string rs, reason;
  if (crypto::P256SignatureFromDer(data, size, &rs, &reason)) {
    if (rs.size() != crypto::kP256SignatureSize) std::abort();
    std::string body, der = "\x30";
    AppendInteger(rs.substr(0, 32), &body);
    AppendInteger(rs.substr(32), &body);
    der.push_back(static_cast<char>(body.size()));
    der.append(body);
    if (der != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  } else if (reason.empty()) {
    std::abort();  // every refusal names its reason
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (crypto::P256SignatureFromBase64(text, &rs, &reason) && rs.size() != crypto::kP256SignatureSize)
    std::abort();
  std::string xy;
  if (crypto::P256PointFromPem(text, &xy, &reason) && xy.size() != crypto::kP256PointSize) std::abort();
  return 0;
}
