#include "service/monitor.h"

#include "client/signature.h"
#include "files/utility.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"

uint32_t dwTimeout = kOnlineTimeoutMs;

namespace {

const char* const kFn = "ProcMonitorThread()";

// Steps 6 to 13: the work of a cycle that found a connection.
void RunOnlineSteps(CClientInfo& client, UpdateResultRecord& result) {
  // The frequency, when set, overrides the interval test; both are asked.
  bool due = client.IsTimeToCheckInterval();
  if (client.getUpdateFreq() > 0) due = client.IsTimeToCheckWebfarm();
  if (due) {
    std::string strMvUrl;
    std::string mv = client.getMetadataVer();
    // Checks that cannot reach the web farm lead back to a first call.
    if (!mv.empty() && client.IsFirstCallDueAgain()) mv.clear();
    if (mv.empty()) {
      WriteLog(kFn, "getMetadataVer returned blank.  Need to make first call...");
      strMvUrl = client.MakeFirstCall();
    } else {
      client.UpdateCheck(client.GetSetting(kUpdateCheckUrl), result);
      strMvUrl = result.mv_url;
    }
    // A LastCheck far ahead of the clock made this check due; this check
    // rewrites it, answered or not, or every cycle would be due.
    if (!result.code.empty() || client.IsLastCheckFarAhead()) client.setLastCheck();
    if (!strMvUrl.empty() && client.IsNewMetadata(strMvUrl)) client.LoadMetadataFromServer(strMvUrl);
    if (result.upload_logs) {
      std::string url = client.GetSetting(kUsgLogUrl);
      WriteLogF(kFn, "strUsageUrl: %s", url.c_str());
      if (!url.empty()) client.UploadLogFiles(url, LogTypes::Usage);
    }
    if (result.crash_logs) {
      std::string url = client.GetSetting(kCrashLogUrl);
      WriteLogF(kFn, "strUsageUrl: %s", url.c_str());
      if (!url.empty()) client.UploadLogFiles(url, LogTypes::Inkora_Crash);
    }
    client.UpdateDefinitionFile();
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
      std::string url = client.GetSetting(entry.row);
      if (!url.empty()) client.UploadLogFiles(url, entry.kind);
    }
  }
}

}  // namespace

void RunMonitorCycle(UpdateResultRecord& result) {
  WriteLog("", "");
  WriteLogF(kFn, "Sleeping for timeout period:  %d seconds.   (%d minutes)",
            static_cast<int>(dwTimeout / 1000), static_cast<int>(dwTimeout / 60000));
  platform::Env::Default()->clock()->Sleep(dwTimeout);
  strTestPath = GetRegValue_String(kServiceKey, RegValueNames[kTestPath], false);
  strTestSendNow = GetRegValue_String(kServiceKey, RegValueNames[kTestSendNow], false);
  CUtility::FixUpComputerIDRegKey();
  if (CUtility::IsInternetConnected()) {
    RunOnlineSteps(ClientInfo, result);
  } else {
    WriteLog(kFn, "No internet connection.  Extend the sleep timer length.");
    dwTimeout = kOfflineTimeoutMs;
  }
  // The installer logs go every cycle; the upload reports a missing
  // connection or URL itself.
  ClientInfo.UploadLogFiles(ClientInfo.GetSetting(kPostInstUrl), LogTypes::Installer);
}

void ProcMonitorThread(void* /*argument*/) {
  WriteLog(kFn, "---START---");
  CUpdateSignature::LogState(kFn);
  for (;;) RunMonitorCycle(UpdateResult);
}
