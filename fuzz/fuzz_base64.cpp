// The base64 reader on any text, and the writer against it: what the reader
// gives, written and read again, is the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypt/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes;
  crypto::Base64Decode(reinterpret_cast<const char*>(data), size, &bytes);
  if (bytes.size() > size * 3 / 4 + 2) std::abort();
  std::string text;
  crypto::Base64Encode(bytes.data(), bytes.size(), &text);
  if (text.size() != crypto::Base64EncodedSize(bytes.size())) std::abort();
  std::vector<uint8_t> again;
  crypto::Base64Decode(text.data(), text.size(), &again);
  if (again != bytes) std::abort();
  // The raw input as bytes round-trips too.
  std::string direct;
  crypto::Base64Encode(data, size, &direct);
  std::vector<uint8_t> back;
  crypto::Base64Decode(direct.data(), direct.size(), &back);
  if (back.size() != size || (size > 0 && std::vector<uint8_t>(data, data + size) != back)) std::abort();
  return 0;
}
