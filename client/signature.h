// Only what the vendor signed reaches the product. A build with the vendor's
// public keys takes a metadata document or a definition file only when the
// detached signature beside it (its URL with ".sig" appended: base64 of the
// DER signature "openssl dgst -sha256 -sign" writes) is one of its exact bytes
// by one of those keys, and a metadata document only when its version is
// newer than the stored one. A build without keys checks nothing.
#pragma once

#include <string>
#include <vector>

#include "json/elements.h"

class CUpdateSignature {
 public:
  // The PEM public keys documents must be signed with: the build's, or those
  // a test put in place. Empty: signatures are not checked.
  static const std::vector<std::string>& Keys();
  // Logs, once per start, whether signatures are checked and against how many keys.
  static void LogState(const char* label);
  // True when no key is built in, or when url + ".sig" signs bytes under one
  // of the keys. A refusal is one line under label that names its reason.
  static bool Verify(const char* label, const std::string& url, const std::string& bytes);
  // True when no key is built in, or when the document's "mv_ver" is newer
  // than the stored MetadataVer: a signed old document must not take the
  // client back. A refusal is one line under label.
  static bool IsNewerThanStored(const char* label, const json::Object& document);
  // Tests: keys in place of the build's (nullptr: the build's again). Returns
  // the keys put in place before. Not owned.
  static const std::vector<std::string>* SetKeys(const std::vector<std::string>* keys);
};
