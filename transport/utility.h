// The transport half of CUtility, the stateless helpers of the updater: the
// transform, HTTP and version operations. CUtility (files/utility.h) adds the
// file and identity operations of files/; code below files/ calls these by
// this class's name.
#pragma once

#include <cstdint>
#include <string>

enum class UrlTypes : int32_t { Submit = 0 };

// Upper bound for any answer body and any inflated answer: far above what the
// web farm sends, low enough that a hostile answer cannot exhaust memory.
constexpr size_t kMaxAnswerBytes = 32u * 1024 * 1024;

class CTransportUtility {
 public:
  // --- Data transform pipeline -------------------------------------------------
  static bool TransformDataToSend(std::string text, std::string& out);
  static bool TransformData_Decrypt(std::string text, std::string& out);
  static bool DES_Encrypt(std::string& out, const unsigned char* data, size_t length);
  static bool DES_Decrypt(std::string text, unsigned char* buffer, uint32_t& size);
  static bool GZip_Compress(const unsigned char* data, int32_t length, unsigned char* buffer, int32_t& size);
  static bool GZip_Uncompress(std::string& out, const unsigned char* data, int32_t length, uint32_t& size);
  static void HexToBytes(const std::string& hex, unsigned char* out);

  // --- HTTP transport and submit URLs --------------------------------------------
  static std::string BuildSubmitUrl_GET(std::string payload, UrlTypes type);
  static bool SendWebRequest_GET(std::string url, std::string& body);
  static bool SendWebRequest_POST(bool secure, std::string url, std::string data, std::string& body);
  static bool IsInternetConnected();

  // --- Version comparison ---------------------------------------------------------
  static int CompareVersions(const std::string& current, const std::string& candidate);
  static bool IsNewerVersion(const std::string& current, const std::string& candidate);
};

// Free forms used by the client code.
inline int CompareVersions(const std::string& a, const std::string& b) {
  return CTransportUtility::CompareVersions(a, b);
}
inline bool IsNewerVersion(const std::string& a, const std::string& b) {
  return CTransportUtility::IsNewerVersion(a, b);
}
