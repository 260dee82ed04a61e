// Upload of the product's usage, crash and installer logs, and the refresh of
// the per-profile symbol files from the definition URL.
#include "client/upload.h"

#include "client/client_info.h"
#include "client/signature.h"
#include "files/path_helpers.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "transport/utility.h"

namespace {

const char kUploadDataFn[] = "CClientInfo::UploadLogData()";
const char kUploadFilesFn[] = "CClientInfo::UploadLogFiles()";

// A usage or installer log that the web farm is done with gets the extension
// ".old"; when that cannot be done it is deleted so it is not sent twice.
void RetireSentLog(const char* label, const std::string& path) {
  std::string oldPath = path;
  if (files::PathRenameExtension(oldPath, ".old") && CUtility::RenameFile(path, oldPath)) return;
  platform::Status status = platform::Env::Default()->DeleteFile(path);
  if (status != platform::kSuccess) {
    WriteLogF(label, "Failed to delete %s, error code = %d", path.c_str(), static_cast<int>(status));
  }
}

std::string StripLineBreaksAndTabs(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\t') out += c;
  }
  return out;
}

// Usage and installer logs: repair, read, send, retire when done.
int UploadRenamedKind(CClientInfo& client, const std::string& url, const char* label,
                      const std::vector<std::string>& list, bool stripLineBreaks) {
  int count = 0;
  for (const std::string& path : list) {
    WriteLog(label, path);
    CUtility::FixUpLogFile(path);
    std::string text = CUtility::ReadFromFile(path);
    WriteLog(label, text);
    if (!CUtility::IsLogFilePopulated(text)) continue;  // still lacks its identifiers: stays for later
    if (stripLineBreaks) text = StripLineBreaksAndTabs(text);
    if (client.UploadLogData(url, text)) {
      RetireSentLog(label, path);
      ++count;
    } else {
      WriteLog(label, "Failed to upload the log.  Will try again later.");
    }
  }
  return count;
}

int UploadCrashLogs(CClientInfo& client, const std::string& url, const char* label) {
  std::vector<std::string> list;
  if (CUtility::GetCrashLogFilesEx(list) <= 0 || list.empty()) return 0;
  int count = 0;
  for (const std::string& path : list) {
    WriteLog(label, path);
    CUtility::FixUpLogFile(path);
    std::string text = CUtility::ReadFromFile(path);
    WriteLog(label, text);
    if (!CUtility::IsLogFilePopulated(text)) continue;
    // A crash log is the only copy: it goes only once the web farm is done with it.
    if (!client.UploadLogData(url, text)) {
      WriteLog(label, "Failed to upload the log.  Will try again later.");
      continue;
    }
    WriteLog(label, "Deleting crash log file");
    platform::Status status = platform::Env::Default()->DeleteFile(path);
    if (status != platform::kSuccess) {
      WriteLogF(label, "Failed to delete %s, error code = %d", path.c_str(), static_cast<int>(status));
    }
    ++count;
  }
  return count;
}

}  // namespace

UploadOutcome UploadLogDataOutcome(CClientInfo& client, const std::string& url, const std::string& text) {
  std::string encoded;
  if (!CUtility::TransformDataToSend(text, encoded)) {
    WriteLog(kUploadDataFn, "CUtility::TransformDataToSend() -- FAILED");
    return UploadOutcome::kNeverSendable;
  }
  std::string form = "query=" + encoded;
  encoded.clear();
  encoded.shrink_to_fit();
  WriteLog(kUploadDataFn, form);

  std::string strRetData;
  if (!CUtility::SendWebRequest_POST(false, url, std::move(form), strRetData)) {
    WriteLog(kUploadDataFn, "Failed to POST data to the site");
    return UploadOutcome::kRetryLater;
  }
  WriteLogF(kUploadDataFn, "Server - strRetData: %s", strRetData.c_str());

  // An empty or undecipherable answer does not show that the web farm has the
  // file (a proxy page, a cut connection): the file waits for a later pass.
  std::string decrypted;
  if (strRetData.empty() || !CUtility::TransformData_Decrypt(strRetData, decrypted)) {
    WriteLog(kUploadDataFn, "CUtility::TransformData_Decrypt() -- FAILED");
    return UploadOutcome::kRetryLater;
  }
  WriteLogF(kUploadDataFn, "Server - Decrypted: %s", decrypted.c_str());

  ServerResult result;
  if (!client.ParseResult(decrypted, result)) {
    WriteLog(kUploadDataFn, "CClientInfo::ParseResult() -- FAILED");
    return UploadOutcome::kRetryLater;
  }
  if (result.code <= 0) return UploadOutcome::kDone;
  WriteLog(kUploadDataFn, result.msg);
  if (result.code < 100) {
    WriteLog(kUploadDataFn, "Bucket 1.  1-99 - retry later");
    return UploadOutcome::kRetryLater;
  }
  WriteLog(kUploadDataFn, result.code < 1000 ? "Bucket 2.  100-999" : "Bucket 3.  1000+");
  return UploadOutcome::kDone;
}

bool CClientInfo::UploadLogData(const std::string& url, const std::string& text) {
  return UploadLogDataOutcome(*this, url, text) != UploadOutcome::kRetryLater;
}

int CClientInfo::UploadLogFiles(const std::string& url, LogTypes kind) {
  if (!CUtility::IsInternetConnected()) {
    WriteLog(kUploadFilesFn, "Error: No Internet Connection.");
    return 0;
  }
  if (url.empty()) {
    WriteLog(kUploadFilesFn, "Error: No submit Url.");
    return 0;
  }
  int count = 0;
  switch (kind) {
    case LogTypes::Inkora_Crash: {
      const char* label = "CClientInfo::UploadLogFiles() -- LogTypes::Inkora_Crash  ";
      WriteLog(label, "Inside of UploadLogFiles - Inkora_Crash");
      count = UploadCrashLogs(*this, url, label);
      break;
    }
    case LogTypes::Usage: {
      const char* label = "CClientInfo::UploadLogFiles() -- LogTypes::Usage  ";
      WriteLog(label, "Inside of UploadLogFiles - Usage");
      std::vector<std::string> list;
      if (CUtility::GetUsageLogFiles(list) > 0 && !list.empty()) {
        count = UploadRenamedKind(*this, url, label, list, false);
      }
      break;
    }
    case LogTypes::Installer: {
      const char* label = "CClientInfo::UploadLogFiles() -- LogTypes::Installer  ";
      WriteLog(label, "Inside of UploadLogFiles - Installer");
      std::vector<std::string> list;
      if (!getInstallerLogs(list)) {
        WriteLog(label, "No installer files available.\n");
      } else {
        count = UploadRenamedKind(*this, url, label, list, true);
      }
      break;
    }
  }
  WriteLog("", "");
  return count;
}

bool CClientInfo::getInstallerLogs(std::vector<std::string>& list) {
  const char* const kFn = "CClientInfo::getInstallerLogs()";
  WriteLog(kFn, "---START--");
  std::string folder = strTestPath.empty() ? CUtility::GetUsageLogsFolder() : strTestPath;
  std::vector<std::string> names;
  CUtility::FindFiles(folder, "log", names, false);
  std::string listing;
  if (!names.empty()) {
    // One separator between folder and name, whichever the folder ends with.
    if (!folder.empty() && !files::IsPathSeparator(folder.back())) folder += "\\";
    for (const std::string& name : names) {
      listing += "\n" + name;
      if (name.find("InkoraInstall") != std::string::npos) list.push_back(folder + name);
    }
  }
  WriteLog(kFn, listing);
  WriteLog(kFn, "---END--");
  return !list.empty();
}

void CClientInfo::UpdateDefinitionFile() {
  std::string content;
  const std::string url = GetSetting(kDefinitionUrl);
  // Only a complete download is written: the transport fails a short or broken body.
  if (!CUtility::SendWebRequest_GET(url, content)) return;
  if (!CUpdateSignature::Verify("CClientInfo::UpdateDefinitionFile()", url, content)) return;
  const std::string newVer = CUtility::GetVersionFromText("", content);
  if (newVer.empty()) return;
  std::vector<std::string> list;
  CUtility::GetXmlFiles(list);
  for (const std::string& path : list) {
    const std::string curVer = CUtility::GetVersionFromText(path, "");
    if (IsNewerVersion(curVer, newVer)) CUtility::WriteToFile(path, content);
  }
}
