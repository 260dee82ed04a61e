// Where the product leaves its usage and crash logs and its symbol files.
#include <string_view>

#include "files/path_helpers.h"
#include "files/utility.h"
#include "files/vista_compat.h"
#include "platform/ascii.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/process_state.h"

namespace {

const char kLogFolder[] = "Quorvex\\Inkora\\Customer Improvement\\togo\\";
const char kSymbolFileName[] = "xml_symbols.xml";
// Per-profile folder: index 0 before major version 6, index 1 from 6 on.
const char kProfileFolders[2][260] = {
    "\\Application Data\\Quorvex\\Inkora\\",
    "\\AppData\\Roaming\\Quorvex\\Inkora\\",
};

// Where the folder name first stands in a path, in any letter case (Windows
// folder names are case-insensitive: Wine's profiles folder is "C:\\users").
size_t FindFolderName(const std::string& path, const std::string& name) {
  for (size_t at = 0; at + name.size() <= path.size(); ++at) {
    if (platform::EqualsNoCase(std::string_view(path).substr(at, name.size()), name)) return at;
  }
  return std::string::npos;
}

struct LogKindTexts {
  const char* extension;
  const char* beginLabel;  // "Begin" and the error entry
  const char* foundLabel;  // the found / not found entries
  const char* errorText;
  const char* foundText;
  const char* noneText;
};

const LogKindTexts kUsageTexts = {
    "jlog",
    "CUtility::GetUsageLogFiles()",
    "CUtility::GetUsageLogFiles()",
    "Error: Could not get app path.  SHGetFolderPath failed.  (%d)\n",
    "--Found Usage Log Files-- Count : %d\n",
    "No Usage Log Files Found...\n",
};

const LogKindTexts kCrashTexts = {
    "err",
    "CUtility::GetCrashLogFilesEx()",
    "GetCrashLogFilesEx()",
    "Error: Could not get app path.  SHGetFolderPath failed.  (%d)",
    "--Found Crash Log Files-- Count : %d\n",
    "No Crash Log Files Found...",
};

int FindLogFiles(const LogKindTexts& kind, std::vector<std::string>& list) {
  WriteLog(kind.beginLabel, "Begin");
  if (!strTestPath.empty()) {
    CUtility::FindFiles(strTestPath, kind.extension, list, true);
    return static_cast<int>(list.size());
  }
  std::string folder;
  platform::Status status =
      platform::Env::Default()->files()->GetKnownFolder(platform::KnownFolder::kCommonAppData, &folder);
  if (status != platform::kSuccess) {
    WriteLogF(kind.beginLabel, kind.errorText, static_cast<int>(status));
    return 0;
  }
  if (!files::PathAppend(folder, kLogFolder)) {
    WriteLogF(kind.beginLabel, "Error: log folder path too long: %s", folder.c_str());
    return 0;
  }
  CUtility::FindFiles(folder, kind.extension, list, true);
  if (list.empty()) {
    WriteLog(kind.foundLabel, kind.noneText);
    return 0;
  }
  std::string entry = StrFormat(kind.foundText, static_cast<int>(list.size()));
  for (size_t i = 0; i < list.size(); ++i) {
    if (i > 0) entry += "\n";
    entry += "\t" + list[i];
  }
  WriteLog(kind.foundLabel, entry);
  return static_cast<int>(list.size());
}

}  // namespace

std::string CUtility::GetUsageLogsFolder() {
  std::string folder;
  if (platform::Env::Default()->files()->GetKnownFolder(platform::KnownFolder::kCommonAppDataCurrent,
                                                        &folder) != platform::kSuccess) {
    return std::string();
  }
  if (!files::PathAppend(folder, kLogFolder)) return std::string();
  return folder;
}

int CUtility::GetUsageLogFiles(std::vector<std::string>& list) {
  return FindLogFiles(kUsageTexts, list);
}

int CUtility::GetCrashLogFilesEx(std::vector<std::string>& list) {
  return FindLogFiles(kCrashTexts, list);
}

int CUtility::GetXmlFiles(std::vector<std::string>& list) {
  const bool isVista = CVistaCompat::GetMajorOSVersion() >= 6;
  std::string root;
  if (isVista) {
    WriteLog("GetXmlFiles()", "Got Vista/Win7");
    std::string publicDocuments = CVistaCompat::GetPublicDocumentsPath();
    WriteLogF("GetXmlFiles()", "FOLDERID_PublicDocuments: %s", publicDocuments.c_str());
    // "...\Users\Public\Documents" -> "...\Users\".
    size_t users = FindFolderName(publicDocuments, "Users");
    if (users == std::string::npos) {
      WriteLog("GetXmlFiles()", "Error: no Users folder in the public documents path.");
      return 0;
    }
    root = publicDocuments.substr(0, users + 6);
  } else {
    std::string commonAppData;
    if (platform::Env::Default()->files()->GetKnownFolder(platform::KnownFolder::kCommonAppData,
                                                          &commonAppData) != platform::kSuccess) {
      WriteLog("GetXmlFiles()", "Error: Could not get app path.  SHGetFolderPath failed.");
      return 0;
    }
    // "...\Documents and Settings\All Users\Application Data" -> "...\Documents and Settings\".
    size_t allUsers = FindFolderName(commonAppData, "All Users");
    if (allUsers == std::string::npos) {
      WriteLog("GetXmlFiles()", "Error: no All Users folder in the application data path.");
      return 0;
    }
    root = commonAppData.substr(0, allUsers);
  }
  WriteLogF("GetXmlFiles()", "strPath: %s", root.c_str());

  std::vector<std::string> profiles;
  FindFiles(root, "", profiles, false);
  if (profiles.empty()) {
    WriteLog("GetXmlFiles()", "Can't find Directories....");
    return 0;
  }
  std::string found = "--Found Files--\n";
  for (const std::string& name : profiles) {
    std::string candidate = root + name + kProfileFolders[isVista ? 1 : 0] + kSymbolFileName;
    if (FileExists(candidate)) list.push_back(candidate);
    found += candidate + "\n";
  }
  WriteLog("GetXmlFiles()", found);
  return 0;
}
