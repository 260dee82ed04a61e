// Upload of the product's usage, crash and installer logs, and the refresh of
// the per-profile symbol files from the definition URL.
#include "client/upload.h"

#include <algorithm>
#include <cstring>

#include "client/client_info.h"
#include "client/signature.h"
#include "files/file_helpers.h"
#include "files/path_helpers.h"
#include "files/utility.h"
#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"

namespace {

const char kUploadDataFn[] = "CClientInfo::UploadLogData()";
const char kUploadFilesFn[] = "CClientInfo::UploadLogFiles()";

// Retires a log the web farm took: a crash log is deleted; a usage or
// installer log gets the extension ".old", or is deleted when that cannot be
// done. False when the file is still there.
bool RetireSentLog(const char* label, const std::string& path, bool crash) {
  if (crash) {
    WriteLog(label, "Deleting crash log file");
  } else {
    std::string oldPath = path;
    if (files::PathRenameExtension(oldPath, ".old") && CUtility::RenameFile(path, oldPath)) return true;
  }
  platform::Status status = files::DeleteFile(path);
  if (status == platform::kSuccess) return true;
  WriteLogF(label, "Failed to delete %s, error code = %d", path.c_str(), static_cast<int>(status));
  return false;
}

// Whether the log was sent before, could not be retired and has not changed
// since; a changed one is forgotten and goes again.
bool SentBefore(std::vector<SentLog>& sent, const std::string& path) {
  auto it = std::find_if(sent.begin(), sent.end(), [&](const SentLog& log) { return log.path == path; });
  if (it == sent.end()) return false;
  platform::FileIdentity now;
  if (files::IdentifyFile(path, &now) == platform::kSuccess && now == it->identity) return true;
  sent.erase(it);
  return false;
}

void RememberSent(std::vector<SentLog>& sent, const std::string& path,
                  const platform::FileIdentity& identity) {
  if (sent.size() >= CClientInfo::kMaxSentLogs) sent.erase(sent.begin());
  sent.push_back(SentLog{path, identity});
}

std::string StripLineBreaksAndTabs(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\t') out += c;
  }
  return out;
}

// The logs of one kind: repaired, read, sent, and retired only once the web
// farm has taken their text. A log that cannot be read whole stays unsent.
int UploadKind(CClientInfo& client, const std::string& url, const char* label,
               const std::vector<std::string>& list, LogTypes kind) {
  int count = 0;
  for (const std::string& path : list) {
    WriteLog(label, path);
    if (SentBefore(client.sentLogs, path)) {
      WriteLog(label, "Sent before and unchanged since: not sent again.");
      continue;
    }
    CUtility::FixUpLogFile(path);
    std::string text;
    platform::FileIdentity identity;
    platform::Status status = files::ReadWholeFile(path, &text, &identity);
    if (status != platform::kSuccess) {
      WriteLogF(label, "Cannot read the log, error code = %d.  It stays, not sent.",
                static_cast<int>(status));
      continue;
    }
    const size_t size = text.size();
    text.resize(strnlen(text.c_str(), text.size()));  // the text ends at the first NUL byte
    if (text.empty() && size > 0) {
      WriteLog(label, "The log reads as empty but is not.  It stays, not sent.");
      continue;
    }
    WriteLog(label, text);
    if (!CUtility::IsLogFilePopulated(text)) continue;  // still lacks its identifiers: stays for later
    if (kind == LogTypes::Installer) text = StripLineBreaksAndTabs(text);
    // Only an empty file, which there is nothing to send of, goes without the web farm.
    const UploadOutcome outcome = UploadLogDataOutcome(client, url, text);
    if (outcome == UploadOutcome::kRetryLater || (outcome == UploadOutcome::kNeverSendable && size > 0)) {
      WriteLog(label, "Failed to upload the log.  Will try again later.");
      continue;
    }
    if (!RetireSentLog(label, path, kind == LogTypes::Inkora_Crash))
      RememberSent(client.sentLogs, path, identity);
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
      std::vector<std::string> list;
      if (CUtility::GetCrashLogFilesEx(list) > 0 && !list.empty())
        count = UploadKind(*this, url, label, list, kind);
      break;
    }
    case LogTypes::Usage: {
      const char* label = "CClientInfo::UploadLogFiles() -- LogTypes::Usage  ";
      WriteLog(label, "Inside of UploadLogFiles - Usage");
      std::vector<std::string> list;
      if (CUtility::GetUsageLogFiles(list) > 0 && !list.empty())
        count = UploadKind(*this, url, label, list, kind);
      break;
    }
    case LogTypes::Installer: {
      const char* label = "CClientInfo::UploadLogFiles() -- LogTypes::Installer  ";
      WriteLog(label, "Inside of UploadLogFiles - Installer");
      std::vector<std::string> list;
      if (!getInstallerLogs(list)) {
        WriteLog(label, "No installer files available.\n");
      } else {
        count = UploadKind(*this, url, label, list, kind);
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
