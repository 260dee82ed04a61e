// CUtility: the stateless helpers of the updater, one class for both halves:
// the transform, HTTP and version operations of transport/ (CTransportUtility)
// and the file and identity operations defined in files/.
#pragma once

#include <string>
#include <vector>

#include "transport/utility.h"

class CUtility : public CTransportUtility {
 public:
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
