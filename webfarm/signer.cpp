#include "webfarm/signer.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "crypt/base64.h"

namespace webfarm {

namespace {

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
         std::string(group) == "prime256v1";
}

}  // namespace

std::unique_ptr<CSigner> CSigner::FromPemFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  ERR_clear_error();
  if (key == nullptr || !IsP256(key)) {
    EVP_PKEY_free(key);
    *error = path + " holds no P-256 private key";
    return nullptr;
  }
  return std::unique_ptr<CSigner>(new CSigner(key));
}

std::unique_ptr<CSigner> CSigner::Generate() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  return key ? std::unique_ptr<CSigner>(new CSigner(key)) : nullptr;
}

CSigner::~CSigner() {
  EVP_PKEY_free(m_key);
}

std::string CSigner::Sign(const std::string& bytes) const {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  std::string der(EVP_PKEY_get_size(m_key), '\0');
  size_t length = der.size();
  const bool ok = context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, m_key) == 1 &&
                  EVP_DigestSign(context, reinterpret_cast<unsigned char*>(&der[0]), &length,
                                 reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  EVP_MD_CTX_free(context);
  if (!ok) return std::string();
  std::string text;
  crypto::Base64Encode(reinterpret_cast<const uint8_t*>(der.data()), length, &text);
  return text;
}

std::string CSigner::PublicPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  std::string pem;
  char* data = nullptr;
  if (bio && PEM_write_bio_PUBKEY(bio, m_key) == 1) {
    const long n = BIO_get_mem_data(bio, &data);
    if (n > 0) pem.assign(data, static_cast<size_t>(n));
  }
  BIO_free(bio);
  return pem;
}

}  // namespace webfarm
