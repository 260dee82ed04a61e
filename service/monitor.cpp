#include "service/monitor.h"

#include "client/signature.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "transport/utility.h"

uint32_t dwTimeout = kOnlineTimeoutMs;

namespace {
const char* const kFn = "ProcMonitorThread()";
}

void CMonitorSteps::Sleep(uint32_t milliseconds) {
  platform::Env::Default()->Sleep(milliseconds);
}
std::string CMonitorSteps::ReadTestSetting(const std::string& valueName) {
  return GetRegValue_String(kServiceKey, valueName, false);
}
void CMonitorSteps::FixUpComputerIDRegKey() {
  CUtility::FixUpComputerIDRegKey();
}
bool CMonitorSteps::InternetGetConnectedState() {
  return platform::Env::Default()->InternetGetConnectedState();
}
bool CMonitorSteps::IsTimeToCheckInterval() {
  return ClientInfo.IsTimeToCheckInterval();
}
int CMonitorSteps::getUpdateFreq() {
  return ClientInfo.getUpdateFreq();
}
bool CMonitorSteps::IsTimeToCheckWebfarm() {
  return ClientInfo.IsTimeToCheckWebfarm();
}
std::string CMonitorSteps::getMetadataVer() {
  return ClientInfo.getMetadataVer();
}
bool CMonitorSteps::IsFirstCallDueAgain() {
  return ClientInfo.IsFirstCallDueAgain();
}
bool CMonitorSteps::IsLastCheckFarAhead() {
  return ClientInfo.IsLastCheckFarAhead();
}
std::string CMonitorSteps::MakeFirstCall() {
  return ClientInfo.MakeFirstCall();
}
void CMonitorSteps::UpdateCheck(const std::string& url, UpdateResultRecord& result) {
  ClientInfo.UpdateCheck(url, result);
}
void CMonitorSteps::setLastCheck() {
  ClientInfo.setLastCheck();
}
bool CMonitorSteps::IsNewMetadata(const std::string& mvUrl) {
  return ClientInfo.IsNewMetadata(mvUrl);
}
bool CMonitorSteps::LoadMetadataFromServer(const std::string& url) {
  return ClientInfo.LoadMetadataFromServer(url);
}
std::string CMonitorSteps::GetSetting(int row) {
  return ClientInfo.GetSetting(row);
}
int CMonitorSteps::UploadLogFiles(const std::string& url, LogTypes kind) {
  return ClientInfo.UploadLogFiles(url, kind);
}
void CMonitorSteps::UpdateDefinitionFile() {
  ClientInfo.UpdateDefinitionFile();
}

namespace {

// Steps 6 to 13: the work of a cycle that found a connection.
void RunOnlineSteps(CMonitorSteps& steps, UpdateResultRecord& result) {
  // The frequency, when set, overrides the interval test; both are asked.
  bool due = steps.IsTimeToCheckInterval();
  if (steps.getUpdateFreq() > 0) due = steps.IsTimeToCheckWebfarm();
  if (due) {
    std::string strMvUrl;
    std::string mv = steps.getMetadataVer();
    // Checks that cannot reach the web farm lead back to a first call.
    if (!mv.empty() && steps.IsFirstCallDueAgain()) mv.clear();
    if (mv.empty()) {
      WriteLog(kFn, "getMetadataVer returned blank.  Need to make first call...");
      strMvUrl = steps.MakeFirstCall();
    } else {
      steps.UpdateCheck(steps.GetSetting(kUpdateCheckUrl), result);
      strMvUrl = result.mv_url;
    }
    // A LastCheck far ahead of the clock made this check due; this check
    // rewrites it, answered or not, or every cycle would be due.
    if (!result.code.empty() || steps.IsLastCheckFarAhead()) steps.setLastCheck();
    if (!strMvUrl.empty() && steps.IsNewMetadata(strMvUrl)) steps.LoadMetadataFromServer(strMvUrl);
    if (result.upload_logs) {
      std::string url = steps.GetSetting(kUsgLogUrl);
      WriteLogF(kFn, "strUsageUrl: %s", url.c_str());
      if (!url.empty()) steps.UploadLogFiles(url, LogTypes::Usage);
    }
    if (result.crash_logs) {
      std::string url = steps.GetSetting(kCrashLogUrl);
      WriteLogF(kFn, "strUsageUrl: %s", url.c_str());
      if (!url.empty()) steps.UploadLogFiles(url, LogTypes::Inkora_Crash);
    }
    steps.UpdateDefinitionFile();
  }
  if (strTestSendNow == "1") {
    WriteLog(kFn, "Found TestSendNow -- do bulk testing...");
    const struct {
      int row;
      LogTypes kind;
    } bulk[] = {{kPostInstUrl, LogTypes::Installer},
                {kCrashLogUrl, LogTypes::Inkora_Crash},
                {kUsgLogUrl, LogTypes::Usage}};
    for (const auto& entry : bulk) {
      std::string url = steps.GetSetting(entry.row);
      if (!url.empty()) steps.UploadLogFiles(url, entry.kind);
    }
  }
}

}  // namespace

void RunMonitorCycle(CMonitorSteps& steps, UpdateResultRecord& result) {
  WriteLog("", "");
  WriteLogF(kFn, "Sleeping for timeout period:  %d seconds.   (%d minutes)",
            static_cast<int>(dwTimeout / 1000), static_cast<int>(dwTimeout / 60000));
  steps.Sleep(dwTimeout);
  strTestPath = steps.ReadTestSetting(RegValueNames[kTestPath]);
  strTestSendNow = steps.ReadTestSetting(RegValueNames[kTestSendNow]);
  steps.FixUpComputerIDRegKey();
  if (steps.InternetGetConnectedState()) {
    RunOnlineSteps(steps, result);
  } else {
    WriteLog(kFn, "No internet connection.  Extend the sleep timer length.");
    dwTimeout = kOfflineTimeoutMs;
  }
  // The installer logs go every cycle; the upload reports a missing
  // connection or URL itself.
  steps.UploadLogFiles(steps.GetSetting(kPostInstUrl), LogTypes::Installer);
}

void ProcMonitorThread(void* /*argument*/) {
  WriteLog(kFn, "---START---");
  CUpdateSignature::LogState(kFn);
  CMonitorSteps steps;
  for (;;) RunMonitorCycle(steps, UpdateResult);
}
