// Time to check one update signature: the updater's way (the signature text
// read, the built-in key imported, the document hashed and verified through
// the platform layer) against libcrypto alone with the key already loaded.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "crypt/base64.h"
#include "crypt/ecdsa_encoding.h"
#include "platform/env.h"

namespace {

struct Signed {
  EVP_PKEY* key = nullptr;
  std::string document, der, text, xy;
  Signed(size_t size) : document(size, 'm') {
    key = EVP_EC_gen("P-256");
    unsigned char point[65];
    size_t n = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &n);
    xy.assign(reinterpret_cast<char*>(point + 1), 64);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    der.resize(80);
    size_t length = der.size();
    EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key);
    EVP_DigestSign(context, reinterpret_cast<unsigned char*>(&der[0]), &length,
                   reinterpret_cast<const unsigned char*>(document.data()), document.size());
    EVP_MD_CTX_free(context);
    der.resize(length);
    crypto::Base64Encode(reinterpret_cast<const uint8_t*>(der.data()), der.size(), &text);
  }
  ~Signed() { EVP_PKEY_free(key); }
};

void BM_VerifyOurs(benchmark::State& state) {
  Signed s(static_cast<size_t>(state.range(0)));
  platform::Env* env = platform::Env::Default();
  for (auto _ : state) {
    std::string rs, reason;
    std::unique_ptr<platform::SignatureKey> key;
    if (!crypto::P256SignatureFromBase64(s.text, &rs, &reason) ||
        env->system()->ImportEcdsaP256Key(s.xy, &key) != 0 || key->VerifySha256(s.document, rs) != 0)
      std::abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_VerifyLibcrypto(benchmark::State& state) {
  Signed s(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, s.key) != 1 ||
        EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(s.der.data()), s.der.size(),
                         reinterpret_cast<const unsigned char*>(s.document.data()), s.document.size()) != 1)
      std::abort();
    EVP_MD_CTX_free(context);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// A metadata document (1 KB) and a large definition file (1 MB).
BENCHMARK(BM_VerifyOurs)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VerifyLibcrypto)->Arg(1 << 10)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
