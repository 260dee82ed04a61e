// The regular update check: post the update-check payload, fill the result
// record from a successful answer.
#include <string>

#include "client/client_info.h"
#include "files/utility.h"
#include "platform/ascii.h"
#include "settings/log.h"

namespace {

const char kFn[] = "CClientInfo::UpdateCheck()";

}  // namespace

void CClientInfo::UpdateCheck(const std::string& url, UpdateResultRecord& result) {
  WriteLog(kFn, "---START---");
  WriteLog(kFn, url);

  std::string encoded;
  if (!CUtility::TransformDataToSend(BuildUpdateCheckData(), encoded)) {
    WriteLog(kFn, "CUtility::TransformDataToSend() -- FAILED");
    WriteLog(kFn, "---END---");
    return;
  }
  if (url.empty()) return;

  const std::string form = "query=" + encoded;
  WriteLog(kFn, form);

  std::string strRet;
  if (!CUtility::SendWebRequest_POST(false, url, form, strRet)) {
    WriteLog(kFn, "CUtility::SendWebRequest_POST() -- FAILED");
    WriteLog(kFn, "---END---");
    return;
  }
  WriteLogF(kFn, "Server - strRet: %s", strRet.c_str());

  std::string decrypted;
  if (!CUtility::TransformData_Decrypt(strRet, decrypted)) {
    WriteLog(kFn, "CUtility::TransformData_Decrypt() -- FAILED");
    WriteLog(kFn, "---END---");
    return;
  }
  WriteLogF(kFn, "Server - Decrypted: %s", decrypted.c_str());

  // An answer that is no JSON object reads as code 0 with every member
  // missing: the record is then emptied, so nothing of an older answer (its
  // code, its upload wishes) is acted on again after a check that got nothing.
  ServerAnswer answer(decrypted);
  ServerResult parsed;
  ParseResult(answer, parsed);
  if (parsed.code != 0) {
    WriteLog(kFn, parsed.msg);
  } else {
    result.mv_url = getResp(answer, "mv_url");
    result.upload_logs = platform::EqualsNoCase(getResp(answer, "upload_logs"), "true");
    result.crash_logs = platform::EqualsNoCase(getResp(answer, "crash_logs"), "true");
    result.code = getResp(answer, "code");
    // Only an answer with its code shows a working web farm (as for LastCheck).
    if (!result.code.empty()) setLastGoodCheck();
  }
  WriteLog(kFn, "---END---");
}
