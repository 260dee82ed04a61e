// CUtility: the stateless helpers of the updater. The transform, URL, HTTP and
// version operations live in transport/, the file and identity operations in
// files/; the class is one namespace for both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class UrlTypes : int32_t { Submit = 0 };

// Upper bound for any answer body and any inflated answer: far above what the
// web farm sends, low enough that a hostile answer cannot exhaust memory.
constexpr size_t kMaxAnswerBytes = 32u * 1024 * 1024;

class CUtility {
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

  // --- Files ------------------------------------------------------------------------
  static int FindFiles(std::string folder, std::string extension, std::vector<std::string>& list,
                       bool fullPath);
  static bool CreateDirectoryForFile(std::string path);
  static bool RenameFile(std::string source, std::string destination);
  static bool WriteToFile(std::string path, std::string text);
  static std::string ReadFromFile(std::string path);
  static std::string GetUsageLogsFolder();
  static int GetUsageLogFiles(std::vector<std::string>& list);
  static int GetCrashLogFilesEx(std::vector<std::string>& list);
  static int GetXmlFiles(std::vector<std::string>& list);
  static bool FileExists(std::string path);
  static bool WriteTextFile(std::string path, std::string text);
  static std::string GetVersionFromText(std::string path, std::string text);

  // --- Identity repair ----------------------------------------------------------------
  static void FixUpComputerIDRegKey();
  static void FixUpLogFile(std::string path);
  static bool IsLogFilePopulated(const std::string& text);
  static bool IsValidGuid(const std::string& text);
};

// Free forms used by the client code.
inline int CompareVersions(const std::string& a, const std::string& b) {
  return CUtility::CompareVersions(a, b);
}
inline bool IsNewerVersion(const std::string& a, const std::string& b) {
  return CUtility::IsNewerVersion(a, b);
}
