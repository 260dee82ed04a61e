// The regular update check: post the update-check payload, fill the result
// record from a successful answer.
#include <exception>
#include <string>

#include "client/client_info.h"
#include "json/elements.h"
#include "json/reader.h"
#include "settings/log.h"
#include "transport/utility.h"

namespace {

const char kFn[] = "CClientInfo::UpdateCheck()";

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// An answer counts only when it is a JSON object: a text that deciphers to
// something else (empty, cut short, not JSON) says nothing about what the web
// farm wants and must not overwrite the last good record.
bool IsJsonObject(const std::string& text) {
  try {
    json::Object parsed;
    json::Reader::Read(parsed, text.c_str());
    json::Element& root = parsed;
    (void)json::json_cast<json::Object&>(root);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

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

  ServerResult parsed;
  ParseResult(decrypted, parsed);
  if (parsed.code != 0) {
    WriteLog(kFn, parsed.msg);
  } else if (!IsJsonObject(decrypted)) {
    WriteLog(kFn, "The answer is not a JSON object -- the last result is kept");
  } else {
    result.mv_url = getResp(decrypted, "mv_url");
    result.upload_logs = EqualsIgnoringCase(getResp(decrypted, "upload_logs"), "true");
    result.crash_logs = EqualsIgnoringCase(getResp(decrypted, "crash_logs"), "true");
    result.code = getResp(decrypted, "code");
    setLastGoodCheck();
  }
  WriteLog(kFn, "---END---");
}
