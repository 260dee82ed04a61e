// ECDSA P-256 signatures checked with CNG (bcrypt.dll).
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000);

// An NTSTATUS that is no answer about the signature, passed on as it is: the
// caller logs the number.
Status FromNtStatus(NTSTATUS status) {
  return status == 0 ? kSuccess : static_cast<Status>(status);
}

// SHA-256 of data through a CNG hash object (the system keeps its memory).
NTSTATUS Sha256(const std::string& data, UCHAR digest[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (status != 0) return status;
  BCRYPT_HASH_HANDLE hash = nullptr;
  status = ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
  const UCHAR* p = reinterpret_cast<const UCHAR*>(data.data());
  for (size_t left = data.size(); status == 0 && left > 0;) {
    const ULONG chunk = static_cast<ULONG>(std::min<size_t>(left, std::numeric_limits<ULONG>::max()));
    status = ::BCryptHashData(hash, const_cast<PUCHAR>(p), chunk, 0);
    p += chunk;
    left -= chunk;
  }
  if (status == 0) status = ::BCryptFinishHash(hash, digest, 32, 0);
  if (hash != nullptr) ::BCryptDestroyHash(hash);
  ::BCryptCloseAlgorithmProvider(algorithm, 0);
  return status;
}

class CngKey : public SignatureKey {
 public:
  CngKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE key) : algorithm_(algorithm), key_(key) {}
  ~CngKey() override {
    ::BCryptDestroyKey(key_);
    ::BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  CngKey(const CngKey&) = delete;
  CngKey& operator=(const CngKey&) = delete;

  Status VerifySha256(const std::string& data, const std::string& rs) override {
    if (rs.size() != 64) return kErrorInvalidParameter;
    UCHAR digest[32];
    NTSTATUS status = Sha256(data, digest);
    if (status != 0) return FromNtStatus(status);
    UCHAR signature[64];
    std::memcpy(signature, rs.data(), sizeof signature);
    status = ::BCryptVerifySignature(key_, nullptr, digest, sizeof digest, signature, sizeof signature, 0);
    return status == kStatusInvalidSignature ? kErrorBadSignature : FromNtStatus(status);
  }

 private:
  BCRYPT_ALG_HANDLE algorithm_;
  BCRYPT_KEY_HANDLE key_;
};

}  // namespace

Status ImportCngKey(const std::string& xy, std::unique_ptr<SignatureKey>* key) {
  if (xy.size() != 64) return kErrorInvalidParameter;
  UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  BCRYPT_ECCKEY_BLOB header;
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = 32;
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, xy.data(), 64);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (status != 0) return FromNtStatus(status);
  BCRYPT_KEY_HANDLE handle = nullptr;
  status = ::BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &handle, blob, sizeof blob, 0);
  if (status != 0) {
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return kErrorInvalidData;
  }
  key->reset(new CngKey(algorithm, handle));
  return kSuccess;
}

}  // namespace platform
