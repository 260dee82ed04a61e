// The system itself: what the machine is (version, processor, edition,
// locale), what it provides to a program (its cryptography: random bytes and
// signature keys), and a message box on the desktop.
//
// Random bytes and signature keys are here and not a concern of their own:
// both are the system's one cryptographic provider (CNG on Windows, the kernel
// and libcrypto on POSIX), two calls too few for an interface of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

// Processor architectures (PROCESSOR_ARCHITECTURE_*).
enum : uint16_t {
  kProcessorIntel = 0,
  kProcessorIa64 = 6,
  kProcessorAmd64 = 9,
  kProcessorArm64 = 12,
};

// The one system metric the updater asks for: non-zero on Windows Server 2003 R2 (SM_SERVERR2).
constexpr int kMetricServerR2 = 89;

// Locale texts (LOCALE_SISO639LANGNAME, LOCALE_SISO3166CTRYNAME): "en", "US".
enum : uint32_t {
  kLocaleLanguage = 0x59,
  kLocaleCountry = 0x5A,
};

enum class VersionRecord { kExtended, kBasic };

// The system's version (OSVERSIONINFOEXA).
struct OsVersionInfo {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t buildNumber = 0;
  uint32_t platformId = 0;  // VER_PLATFORM_WIN32_NT = 2
  std::string csdVersion;   // service-pack text
  // The system's own name where it gives one (Linux: os-release); empty on
  // Windows, which is named by its version numbers.
  std::string productName;
  uint16_t suiteMask = 0;
  uint8_t productType = 0;  // VER_NT_WORKSTATION = 1
};

// An ECDSA P-256 public key held by the system's cryptography (a BCrypt key
// handle, an EVP_PKEY). Destroying it frees it.
class SignatureKey {
 public:
  virtual ~SignatureKey() = default;
  // Whether rs (r then s, 32 bytes each, big-endian) signs the SHA-256 digest
  // of data under this key: kSuccess when it does, kErrorBadSignature when it
  // does not, another code when the system could not tell.
  virtual Status VerifySha256(const std::string& data, const std::string& rs) = 0;
};

class System {
 public:
  virtual ~System() = default;
  // The version with the extended record, or the basic one (no suite mask or
  // product type); false when the system gives neither. (GetVersionExA)
  virtual bool GetVersionEx(OsVersionInfo* info, VersionRecord record) = 0;
  // The processor architecture of the machine, whatever this program was
  // built for: kProcessorAmd64, ... (GetNativeSystemInfo)
  virtual uint16_t GetNativeProcessorArchitecture() = 0;
  // The edition's product type; false where the system has no such call. (GetProductInfo)
  virtual bool GetProductInfo(uint32_t major, uint32_t minor, uint32_t* productType) = 0;
  // A system metric, 0 where the system has none. (GetSystemMetrics)
  virtual int GetSystemMetrics(int index) = 0;
  // A text of the system's default locale (kLocaleLanguage, kLocaleCountry);
  // false when it has none. (GetLocaleInfoA, LOCALE_SYSTEM_DEFAULT)
  virtual bool GetLocaleInfo(uint32_t type, std::string* value) = 0;
  // The user's default language, e.g. 0x0409. (GetUserDefaultLangID)
  virtual uint16_t GetUserDefaultLangID() = 0;
  // Fills the buffer from the system's cryptographic generator; an error,
  // never predictable bytes, when it has none. (BCryptGenRandom / getrandom)
  virtual Status GenRandom(void* buffer, size_t size) = 0;
  // The P-256 key of the uncompressed point xy (X then Y, 32 bytes each).
  // kErrorInvalidParameter for another size, kErrorInvalidData for a point off
  // the curve (Wine's CNG takes such a point; no signature verifies under it).
  // (BCryptImportKeyPair of a BCRYPT_ECCPUBLIC_BLOB / an EVP_PKEY)
  virtual Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* key) = 0;
  // A message box with one OK button where somebody can see it; a service's
  // hidden desktop and backends without one show nothing, and it never waits there.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
};

// Forwards every call to another System; a test derives from it to describe a machine.
class SystemWrapper : public System {
 public:
  explicit SystemWrapper(System* target) : target_(target) {}
  System* target() const { return target_; }
  bool GetVersionEx(OsVersionInfo* i, VersionRecord r) override { return target_->GetVersionEx(i, r); }
  uint16_t GetNativeProcessorArchitecture() override { return target_->GetNativeProcessorArchitecture(); }
  bool GetProductInfo(uint32_t a, uint32_t b, uint32_t* t) override {
    return target_->GetProductInfo(a, b, t);
  }
  int GetSystemMetrics(int i) override { return target_->GetSystemMetrics(i); }
  bool GetLocaleInfo(uint32_t t, std::string* v) override { return target_->GetLocaleInfo(t, v); }
  uint16_t GetUserDefaultLangID() override { return target_->GetUserDefaultLangID(); }
  Status GenRandom(void* b, size_t n) override { return target_->GenRandom(b, n); }
  Status ImportEcdsaP256Key(const std::string& xy, std::unique_ptr<SignatureKey>* k) override {
    return target_->ImportEcdsaP256Key(xy, k);
  }
  void MessageBox(const std::string& t, const std::string& c) override { target_->MessageBox(t, c); }

 private:
  System* target_;
};

}  // namespace platform
