// ECDSA P-256 signatures checked with libcrypto's EVP interface.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>
#include <string>

#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

// EVP verifies the DER form: r and s go back into an ECDSA_SIG.
bool DerOf(const std::string& rs, std::string* der) {
  ECDSA_SIG* sig = ECDSA_SIG_new();
  if (sig == nullptr) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(rs.data());
  BIGNUM* r = BN_bin2bn(bytes, 32, nullptr);
  BIGNUM* s = BN_bin2bn(bytes + 32, 32, nullptr);
  if (r == nullptr || s == nullptr || ECDSA_SIG_set0(sig, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    return false;
  }
  unsigned char* out = nullptr;
  const int n = i2d_ECDSA_SIG(sig, &out);
  ECDSA_SIG_free(sig);
  if (n <= 0) return false;
  der->assign(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
  OPENSSL_free(out);
  return true;
}

class EvpKey : public SignatureKey {
 public:
  explicit EvpKey(EVP_PKEY* key) : key_(key) {}
  ~EvpKey() override { EVP_PKEY_free(key_); }
  EvpKey(const EvpKey&) = delete;
  EvpKey& operator=(const EvpKey&) = delete;

  Status VerifySha256(const std::string& data, const std::string& rs) override {
    if (rs.size() != 64) return kErrorInvalidParameter;
    std::string der;
    if (!DerOf(rs, &der)) return kErrorNotEnoughMemory;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr) return kErrorNotEnoughMemory;
    Status status = kErrorNotSupported;
    if (EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key_) == 1) {
      const int rc = EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                                      reinterpret_cast<const unsigned char*>(data.data()), data.size());
      status = rc == 1 ? kSuccess : kErrorBadSignature;
    }
    EVP_MD_CTX_free(context);
    ERR_clear_error();  // a refused signature leaves its reason on the thread's queue
    return status;
  }

 private:
  EVP_PKEY* key_;
};

}  // namespace

Status ImportEvpKey(const std::string& xy, std::unique_ptr<SignatureKey>* key) {
  if (xy.size() != 64) return kErrorInvalidParameter;
  unsigned char point[65];
  point[0] = 0x04;  // uncompressed
  xy.copy(reinterpret_cast<char*>(point + 1), 64);
  char group[] = "prime256v1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                         OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
                         OSSL_PARAM_construct_end()};
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  if (context == nullptr) return kErrorNotSupported;
  EVP_PKEY* pkey = nullptr;
  // The decoding of the point refuses one that is not on the curve.
  const bool ok = EVP_PKEY_fromdata_init(context) == 1 &&
                  EVP_PKEY_fromdata(context, &pkey, EVP_PKEY_PUBLIC_KEY, params) == 1 && pkey != nullptr;
  EVP_PKEY_CTX_free(context);
  ERR_clear_error();
  if (!ok) return kErrorInvalidData;
  key->reset(new EvpKey(pkey));
  return kSuccess;
}

}  // namespace platform
