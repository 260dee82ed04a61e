#include "client/signature.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "crypt/ecdsa_encoding.h"
#include "files/utility.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace {

// The build's keys, written by CMake from INKORA_UPDATE_KEYS; the last entry
// only ends the list.
const char* const kBuiltInKeys[] = {
#include "update_keys.inc"
    nullptr};

std::atomic<const std::vector<std::string>*> g_testKeys{nullptr};

std::string Periods(std::string version) {
  std::replace(version.begin(), version.end(), '-', '.');
  return version;
}

}  // namespace

const std::vector<std::string>& CUpdateSignature::Keys() {
  if (const std::vector<std::string>* keys = g_testKeys.load()) return *keys;
  static const std::vector<std::string> builtIn(
      kBuiltInKeys, kBuiltInKeys + (sizeof kBuiltInKeys / sizeof *kBuiltInKeys - 1));
  return builtIn;
}

const std::vector<std::string>* CUpdateSignature::SetKeys(const std::vector<std::string>* keys) {
  return g_testKeys.exchange(keys);
}

void CUpdateSignature::LogState(const char* label) {
  const size_t n = Keys().size();
  if (n == 0) {
    WriteLog(label, "Update signatures are not checked: this build holds no vendor key");
  } else {
    WriteLogF(label, "Update signatures are checked against %d built-in key(s)", static_cast<int>(n));
  }
}

bool CUpdateSignature::Verify(const char* label, const std::string& url, const std::string& bytes) {
  const std::vector<std::string>& keys = Keys();
  if (keys.empty()) return true;
  const std::string signatureUrl = url + ".sig";
  std::string text;
  if (!CUtility::SendWebRequest_GET(signatureUrl, text) || text.empty()) {
    WriteLogF(label, "Refused %s: no signature at %s", url.c_str(), signatureUrl.c_str());
    return false;
  }
  std::string rs, reason;
  if (!crypto::P256SignatureFromBase64(text, &rs, &reason)) {
    WriteLogF(label, "Refused %s: malformed signature (%s)", url.c_str(), reason.c_str());
    return false;
  }
  // Any key of the build will do: a vendor rolling to a new key ships both.
  platform::Status failure = platform::kSuccess;
  for (size_t i = 0; i < keys.size(); ++i) {
    std::string xy;
    platform::Status status = platform::kErrorInvalidData;
    std::unique_ptr<platform::SignatureKey> key;
    if (crypto::P256PointFromPem(keys[i], &xy, &reason))
      status = platform::Env::Default()->system()->ImportEcdsaP256Key(xy, &key);
    if (status == platform::kSuccess) status = key->VerifySha256(bytes, rs);
    if (status == platform::kSuccess) {
      WriteLogF(label, "Signature of %s verified with key %d", url.c_str(), static_cast<int>(i + 1));
      return true;
    }
    if (status != platform::kErrorBadSignature && failure == platform::kSuccess) failure = status;
  }
  if (failure != platform::kSuccess) {
    WriteLogF(label, "Refused %s: the signature could not be checked, error %u", url.c_str(), failure);
  } else {
    WriteLogF(
        label,
        "Refused %s: the signature does not fit it under any built-in key (another key, or other bytes)",
        url.c_str());
  }
  return false;
}

bool CUpdateSignature::IsNewerThanStored(const char* label, const json::Object& document) {
  if (Keys().empty()) return true;
  std::string version;
  const auto member = document.Find("mv_ver");
  if (member != document.End() && member->element.Type() == json::kStringType)
    version = json::json_cast<const json::String&>(member->element).Value();
  const std::string stored = GetRegValue_String(kServiceKey, RegValueNames[kMetadataVer], false);
  if (CompareVersions(Periods(stored), Periods(version)) == 1) return true;
  WriteLogF(label, "Refused metadata version \"%s\": not newer than the stored \"%s\"", version.c_str(),
            stored.c_str());
  return false;
}
