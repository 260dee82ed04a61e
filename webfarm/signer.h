// The web farm's signatures: ECDSA P-256 over SHA-256, the DER signature as
// base64 text, as "openssl dgst -sha256 -sign KEY | openssl base64 -A" makes it.
#pragma once

#include <memory>
#include <string>

typedef struct evp_pkey_st EVP_PKEY;

namespace webfarm {

class CSigner {
 public:
  // The P-256 private key of a PEM file; null, with the reason, for anything else.
  static std::unique_ptr<CSigner> FromPemFile(const std::string& path, std::string* error);
  // A key made now, for signatures the updater must refuse.
  static std::unique_ptr<CSigner> Generate();
  ~CSigner();
  CSigner(const CSigner&) = delete;
  CSigner& operator=(const CSigner&) = delete;

  // The signature of bytes; empty when libcrypto fails.
  std::string Sign(const std::string& bytes) const;
  // The public half as a "-----BEGIN PUBLIC KEY-----" block.
  std::string PublicPem() const;

 private:
  explicit CSigner(EVP_PKEY* key) : m_key(key) {}
  EVP_PKEY* m_key;
};

}  // namespace webfarm
