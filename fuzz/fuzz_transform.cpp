// Answers from the web farm through the envelope reader. The first byte picks
// the entry: 0 the answer text as it arrives; 1 raw bytes to the gzip reader;
// 2 bytes enciphered under the real key first, so they reach the gzip reader
// through the whole pipeline; 3 the two-call size protocol of DES_Decrypt.
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crypt/base64.h"
#include "crypt/des.h"
#include "platform/env.h"
#include "transport/utility.h"

namespace {

std::string Envelope(const uint8_t* data, size_t n) {
  static const uint8_t kKey[8] = {0x5e, 0x83, 0xc0, 0xd7, 0xa9, 0x1f, 0x2b, 0x64};
  static const crypto::CDes des(kKey);
  std::vector<uint8_t> env(8 + crypto::CbcPaddedSize(n), 0x33);
  des.CbcEncryptPadded(env.data(), data, n, env.data() + 8);
  std::string text;
  crypto::Base64Encode(env.data(), env.size(), &text);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A private, empty hive: the log stays off and nothing outside is touched.
  static std::unique_ptr<platform::Env> env = platform::NewIsolatedEnv(
      (std::filesystem::temp_directory_path() / ("inkora-fuzz-transform-" + std::to_string(::getpid())))
          .string());
  platform::Env::SetDefault(env.get());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0] % 4;
  ++data;
  --size;
  std::string out;
  switch (mode) {
    case 0:
      CTransportUtility::TransformData_Decrypt(std::string(reinterpret_cast<const char*>(data), size), out);
      break;
    case 1: {
      uint32_t n = 0;
      if (CTransportUtility::GZip_Uncompress(out, data, static_cast<int32_t>(size), n) && n != out.size())
        std::abort();
      break;
    }
    case 2:
      CTransportUtility::TransformData_Decrypt(Envelope(data, size), out);
      break;
    case 3: {
      std::string text(reinterpret_cast<const char*>(data), size);
      uint32_t need = 0;
      if (CTransportUtility::DES_Decrypt(text, nullptr, need)) std::abort();  // no buffer never succeeds
      if (need > kMaxAnswerBytes) std::abort();
      std::vector<unsigned char> buffer(need);
      uint32_t got = need;
      if (need > 0 && (!CTransportUtility::DES_Decrypt(text, buffer.data(), got) || got != need))
        std::abort();
      break;
    }
  }
  if (out.size() > kMaxAnswerBytes) std::abort();
  return 0;
}
