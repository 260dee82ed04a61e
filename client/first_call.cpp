// The first call, the metadata load and the readers of answer members.
#include <exception>
#include <string>
#include <utility>

#include "client/client_info.h"
#include "client/learnt_values.h"
#include "client/numbers.h"
#include "client/signature.h"
#include "files/utility.h"
#include "json/elements.h"
#include "json/reader.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace {

const char kGetRespFn[] = "CClientInfo::getResp()";
const char kFirstCallFn[] = "CClientInfo::MakeFirstCall()";
const char kIsNewFn[] = "CClientInfo::IsNewMetadata()";
const char kLoadFn[] = "CClientInfo::LoadMetadataFromServer()";

// The members of the metadata document, in the order of the dump.
const char* const kMetadataKeys[] = {"mv_ver",  "sv_ver",  "in_ver",   "df_ver",  "uc_url",
                                     "puc_url", "log_url", "log_diag", "uc_freq", "in_url",
                                     "sv_url",  "df_url",  "cr_url"};

std::string DashesToPeriods(std::string text) {
  for (char& c : text) {
    if (c == '-') c = '.';
  }
  return text;
}

// A URL of the metadata is stored when usable, or empty (the web farm
// switching a service off); anything else is logged and the stored one kept.
void StoreUrl(CClientInfo& client, int row, const std::string& value) {
  if (value.empty() || learnt_values::IsUsableUrl(value)) {
    client.SetSetting(row, value);
    return;
  }
  WriteLogF(kLoadFn, "%s refused (%u characters, not a usable http or https URL) -- the stored one is kept",
            RegValueNames[row], static_cast<unsigned>(value.size()));
}

}  // namespace

std::string CClientInfo::getResp(const std::string& text, const std::string& key) {
  ServerAnswer answer(text);
  return getResp(answer, key);
}

std::string CClientInfo::getResp(ServerAnswer& answer, const std::string& key) {
  if (!answer.read.ok) {
    WriteLogF(kGetRespFn, "ERROR: %s", answer.read.error.c_str());
    return std::string();
  }
  return getResp(answer.read.object, key);
}

std::string CClientInfo::getResp(json::Object& object, const std::string& key) {
  try {
    return json::json_cast<json::String&>(object[key]).Value();
  } catch (const std::exception& e) {
    WriteLogF(kGetRespFn, "ERROR: %s", e.what());
    return std::string();
  }
}

int CClientInfo::getResp(const std::string& key, json::Object& object) {
  try {
    return client_numbers::TruncateToInt32(json::json_cast<json::Number&>(object[key]).Value());
  } catch (const std::exception& e) {
    WriteLogF(kGetRespFn, "ERROR: %s", e.what());
    return 0;
  }
}

bool CClientInfo::ParseResult(const std::string& text, ServerResult& out) {
  ServerAnswer answer(text);
  return ParseResult(answer, out);
}

bool CClientInfo::ParseResult(ServerAnswer& answer, ServerResult& out) {
  if (answer.empty) return false;
  out.code = client_numbers::ParseDecimalInt32(getResp(answer, "code"));
  out.msg = getResp(answer, "msg");
  return true;
}

std::string CClientInfo::MakeFirstCall() {
  std::string encoded;
  if (!CUtility::TransformDataToSend(BuildFirstCallData(), encoded)) {
    WriteLog(kFirstCallFn, "CUtility::TransformDataToSend() -- FAILED");
    return std::string();
  }
  const std::string url = CUtility::BuildSubmitUrl_GET(encoded, UrlTypes::Submit);
  WriteLog(kFirstCallFn, url);

  // A failed request leaves strData empty, which the decryption rejects.
  std::string strData;
  CUtility::SendWebRequest_GET(url, strData);
  WriteLogF(kFirstCallFn, "Server - strData: %s", strData.c_str());

  std::string decrypted;
  if (!CUtility::TransformData_Decrypt(strData, decrypted)) {
    WriteLog(kFirstCallFn, "CUtility::TransformData_Decrypt() -- FAILED");
    return std::string();
  }
  WriteLogF(kFirstCallFn, "Server - Decrypted: %s", decrypted.c_str());

  ServerAnswer answer(decrypted);
  ServerResult result;
  ParseResult(answer, result);
  // The first call fails only on a positive code; 0 and below carry the URL.
  if (result.code > 0) {
    WriteLog(kFirstCallFn, result.msg);
    return std::string();
  }
  return getResp(answer, "mv_url");
}

bool CClientInfo::IsNewMetadata(const std::string& mvUrl) {
  if (mvUrl.empty()) return false;
  const std::string webVer = learnt_values::VersionOfUrl(mvUrl);
  const std::string localVer = DashesToPeriods(getMetadataVer());
  WriteLogF(kIsNewFn, "strCurrentVer version from web - with dashes replaced with periods:   \t%s",
            webVer.c_str());
  WriteLogF(kIsNewFn, "Computers current metadata ver - with dashes replaced with periods:   \t%s",
            localVer.c_str());
  return CompareVersions(localVer, webVer) == 1;
}

bool CClientInfo::LoadMetadataFromServer(const std::string& url) {
  WriteLog(kLoadFn, url);
  if (!learnt_values::IsUsableUrl(url)) {
    WriteLog(kLoadFn, "Not a usable http or https URL -- nothing loaded");
    return false;
  }
  std::string response;
  CUtility::SendWebRequest_GET(url, response);

  std::string decrypted;
  if (!CUtility::TransformData_Decrypt(response, decrypted)) {
    WriteLog(kLoadFn, "CUtility::TransformData_Decrypt() -- FAILED");
    return false;
  }
  WriteLog(kLoadFn, decrypted);
  if (!CUpdateSignature::Verify(kLoadFn, url, decrypted)) return false;

  // The whole document is parsed and its root checked before anything is
  // stored, so a bad document leaves every setting and objMetadata as it was.
  json::ObjectRead document = json::Reader::ReadObject(decrypted.c_str());
  if (!document.ok) {
    // A root of another kind is logged as the cast of it to an object fails.
    WriteLogF(kLoadFn, "ERROR: %s", document.otherRoot ? "Bad json_cast" : document.error.c_str());
    return false;
  }
  // A document for another version than its URL names (the one compared
  // with MetadataVer) would pin MetadataVer there for good: none of it counts.
  const std::string named = learnt_values::VersionOfUrl(url);
  if (DashesToPeriods(getResp(document.object, "mv_ver")) != named) {
    WriteLogF(kLoadFn, "mv_ver is not %s, the version its URL names -- nothing stored", named.c_str());
    return false;
  }
  if (!CUpdateSignature::IsNewerThanStored(kLoadFn, document.object)) return false;
  objMetadata = std::move(document.object);

  std::string dump = "\n--Using JSON Obj---\n";
  for (const char* key : kMetadataKeys) {
    const std::string name = key;
    std::string value =
        name == "uc_freq" ? StrFormat("%d", getResp(name, objMetadata)) : getResp(objMetadata, name);
    dump.append(name).append(":").append(value).append("\n");
  }
  WriteLog(kLoadFn, dump);

  int freq = getResp("uc_freq", objMetadata);
  if (freq == 0) freq = 24;
  if (freq > learnt_values::kMaxUpdateFreqHours) {
    WriteLogF(kLoadFn, "uc_freq %d is more than %d hours -- %d is stored", freq,
              learnt_values::kMaxUpdateFreqHours, learnt_values::kMaxUpdateFreqHours);
    freq = learnt_values::kMaxUpdateFreqHours;
  }
  setUpdateFreq(freq);
  setLastCheck();
  setLastGoodCheck();
  setMetadataVer(getResp(objMetadata, "mv_ver"));
  StoreUrl(*this, kPostInstUrl, getResp(objMetadata, "puc_url"));
  StoreUrl(*this, kUpdateCheckUrl, getResp(objMetadata, "uc_url"));
  StoreUrl(*this, kUsgLogUrl, getResp(objMetadata, "log_url"));
  StoreUrl(*this, kCrashLogUrl, getResp(objMetadata, "cr_url"));
  StoreUrl(*this, kDefinitionUrl, getResp(objMetadata, "df_url"));

  const std::string current = getInkoraVersion();
  const std::string candidate = getResp(objMetadata, "in_ver");
  const std::string installer = getResp(objMetadata, "in_url");
  WriteLog("LoadMetadataFromServer()", "\nstrVersionCurr: " + current + "\n" + "strVersionNew: " + candidate);
  // NextVersion and NextVersionURL go together: when either is refused both
  // keep what they hold.
  if (!candidate.empty() && !learnt_values::IsDottedVersion(candidate)) {
    WriteLog(kLoadFn, "in_ver is not a dotted version -- NextVersion is kept");
  } else if (IsNewerVersion(current, candidate) && !current.empty()) {
    WriteLog("LoadMetadataFromServer()", "New version found...");
    if (learnt_values::IsUsableUrl(installer)) {
      SetRegValue_String(kProductKey, RegValueNames[kNextVersion], candidate);
      SetRegValue_String(kProductKey, RegValueNames[kNextVersionURL], installer);
    } else {
      WriteLog(kLoadFn, "in_url is not a usable http or https URL -- NextVersion is kept");
    }
  } else {
    SetRegValue_String(kProductKey, RegValueNames[kNextVersion], "");
    SetRegValue_String(kProductKey, RegValueNames[kNextVersionURL], "");
  }
  return true;
}
