// HTTP requests to the web farm and the first call's submit URL. Every call
// opens and closes its own handles (RAII: a request closes before its session).
#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"
#include "transport/url_string.h"
#include "transport/utility.h"

namespace {

const char kAgent[] = "InkoraUpdater";
constexpr int32_t kSchemeHttps = 4;  // INTERNET_SCHEME_HTTPS
const char kGetHeaders[] = "Accept: */*\r\n\r\n";
const char kPostHeaders[] = "Content-Type: application/x-www-form-urlencoded";

// Time-outs, so a web farm that accepts and then says nothing cannot hold the
// monitor thread for good, and a total deadline per request, so one that
// sends a byte now and then cannot either. An upload's deadline grows with its
// size (it may go as slowly as 16 KiB a second). "HttpTimeoutMs" (REG_DWORD,
// service key; tests only) replaces all three when set.
constexpr uint32_t kConnectTimeoutMs = 15000;
constexpr uint32_t kReceiveTimeoutMs = 30000;
constexpr uint32_t kDeadlineMs = 5 * 60 * 1000;
constexpr uint64_t kSlowestUploadBytesPerSecond = 16 * 1024;
constexpr uint32_t kLongestDeadlineMs = 60 * 60 * 1000;

// "HttpCaFile" (REG_SZ, service key; tests only) names a PEM file of CAs that
// https peers are verified against instead of the system's store. Returns
// the deadline in milliseconds.
uint32_t ApplyTimeouts(platform::HttpSession& session, size_t bytesToSend) {
  const uint32_t overrideMs = GetRegValue_DWORD(kServiceKey, "HttpTimeoutMs");
  session.SetTimeouts(overrideMs ? overrideMs : kConnectTimeoutMs,
                      overrideMs ? overrideMs : kReceiveTimeoutMs);
  const uint64_t grown = kDeadlineMs + bytesToSend / kSlowestUploadBytesPerSecond * 1000;
  const uint32_t deadlineMs =
      overrideMs ? overrideMs : static_cast<uint32_t>(std::min<uint64_t>(grown, kLongestDeadlineMs));
  session.SetDeadline(deadlineMs);
  const std::string caFile = GetRegValue_String(kServiceKey, "HttpCaFile", false);
  if (!caFile.empty()) session.SetCaFile(caFile);
  return deadlineMs;
}

// A request the session's deadline cut: it fails, whatever it read so far.
bool CutAtDeadline(platform::Status status, const char* label, const std::string& url, uint32_t deadlineMs) {
  if (status != platform::kErrorTimeout) return false;
  WriteLogF(label, "The request to %s was cut at its deadline of %u ms", url.c_str(), deadlineMs);
  return true;
}

// A TLS failure of an https request, logged as such: the request fails and is
// never retried over plain http.
bool RefusedSecure(platform::Status status, const char* label, const std::string& url) {
  switch (status) {
    case platform::kErrorInternetSecCertDateInvalid:
    case platform::kErrorInternetSecCertCnInvalid:
    case platform::kErrorInternetInvalidCa:
    case platform::kErrorInternetSecCertErrors:
    case platform::kErrorInternetSecCertRevFailed:
    case platform::kErrorInternetSecInvalidCert:
    case platform::kErrorInternetSecCertRevoked:
      WriteLogF(label, "The certificate of %s failed verification: error %u", url.c_str(), status);
      return true;
    case platform::kErrorInternetSecureFailure:
    case platform::kErrorInternetHttpsToHttpOnRedir:
      WriteLogF(label, "No secure connection to %s: error %u", url.c_str(), status);
      return true;
    default:
      return false;
  }
}

// A status that is known and not 200 stops the request.
bool StatusRefuses(platform::HttpRequest& request, const char* label, const std::string& url) {
  uint32_t code = 0;
  if (request.QueryStatusCode(&code) != platform::kSuccess || code == 200) return false;
  WriteLogF(label, "Failed to connect with webpage %s.  HTTP error %i", url.c_str(), static_cast<int>(code));
  return true;
}

// Reads the body in chunks of at most 1023 bytes, each cut at its first NUL.
// A body above the answer bound, a read that fails mid-body and a body shorter
// than its announced length are failures: the bytes are incomplete or hostile,
// so none of them is handed on.
bool ReadBody(platform::HttpRequest& request, const char* label, const std::string& url, uint32_t deadlineMs,
              std::string& body) {
  char chunk[1024];
  uint64_t received = 0;
  for (;;) {
    std::memset(chunk, 0, sizeof chunk);
    uint32_t read = 0;
    const platform::Status status = request.Read(chunk, sizeof chunk - 1, &read);
    if (status != platform::kSuccess) {
      if (!CutAtDeadline(status, label, url, deadlineMs))
        WriteLogF(label, "Reading the answer of %s failed after %llu bytes: error %u", url.c_str(),
                  static_cast<unsigned long long>(received), status);
      body.clear();
      return false;
    }
    if (read == 0) break;
    received += read;
    if (received > kMaxAnswerBytes) {
      WriteLogF(label, "The answer of %s is larger than %u bytes: refused", url.c_str(),
                static_cast<unsigned>(kMaxAnswerBytes));
      body.clear();
      return false;
    }
    chunk[read] = '\0';
    body.append(chunk, std::strlen(chunk));
  }
  uint64_t announced = 0;
  if (request.QueryContentLength(&announced) == platform::kSuccess && received < announced) {
    WriteLogF(label, "The answer of %s ended after %llu of %llu bytes", url.c_str(),
              static_cast<unsigned long long>(received), static_cast<unsigned long long>(announced));
    body.clear();
    return false;
  }
  return true;
}

}  // namespace

std::string CTransportUtility::BuildSubmitUrl_GET(std::string payload, UrlTypes type) {
  std::string url = "http://";
  if (IsStagingWebFarm()) {
    url += GetStagingHost();
  } else if (IsTestWebFarm()) {
    url += GetTestHost();
  } else {
    url += GetProductionHost();
  }
  if (type != UrlTypes::Submit) {
    WriteLog("CUtility::BuildSubmitUrl_GET()", "Unknown UrlTypes");
    return url;
  }
  return url + "/Teko/UC.hsh?query=" + payload;
}

bool CTransportUtility::SendWebRequest_GET(std::string url, std::string& body) {
  static const char kLabel[] = "SendWebRequest_GET()";
  body = "";
  std::unique_ptr<platform::HttpSession> session;
  if (platform::Env::Default()->http()->OpenSession(kAgent, &session) != platform::kSuccess || !session)
    return false;
  try {
    const uint32_t deadlineMs = ApplyTimeouts(*session, 0);
    std::unique_ptr<platform::HttpRequest> request;
    const platform::Status opened =
        session->OpenUrl(url, kGetHeaders, platform::kInternetFlagNoCacheWrite, &request);
    if (RefusedSecure(opened, kLabel, url) || CutAtDeadline(opened, kLabel, url, deadlineMs)) return false;
    if (opened != platform::kSuccess || !request) {
      // No connection or no such host: nothing to read; the caller's decoding
      // of the empty body reports it.
      WriteLogF(kLabel, "Cannot open %s: error %u", url.c_str(), opened);
      return true;
    }
    if (StatusRefuses(*request, kLabel, url)) return false;
    return ReadBody(*request, kLabel, url, deadlineMs, body);
  } catch (const std::exception&) {
    WriteLog(kLabel, "--EXCEPTION--");
    return true;
  }
}

bool CTransportUtility::SendWebRequest_POST(bool secure, std::string url, std::string data,
                                            std::string& body) {
  static const char kLabel[] = "SendWebRequest_POST()";
  body = "";
  UrlParts parts(url);
  std::unique_ptr<platform::HttpSession> session;
  if (platform::Env::Default()->http()->OpenSession(kAgent, &session) != platform::kSuccess || !session)
    return false;
  // Declared after the session, so they close first: probe, request, session.
  std::unique_ptr<platform::HttpRequest> request;
  std::unique_ptr<platform::HttpRequest> probe;
  try {
    const uint32_t deadlineMs = ApplyTimeouts(*session, data.size());
    // The port written in the URL when there is one (the loopback web farm of
    // the tests lives on one), else the scheme's default by secure.
    // An https URL is posted over TLS whatever the caller asked: sending it
    // as plain http would hand the payload to anyone on the way.
    secure = secure || parts.nScheme == kSchemeHttps;
    const uint16_t port = parts.bPortGiven ? parts.nPort : static_cast<uint16_t>(secure ? 443 : 80);
    const uint32_t flags = secure ? (platform::kInternetFlagSecure | platform::kInternetFlagPragmaNoCache)
                                  : (platform::kInternetFlagReload | platform::kInternetFlagNoCacheWrite |
                                     platform::kInternetFlagPragmaNoCache);
    session->OpenRequest(parts.host, port, "POST", parts.path, flags, &request);

    // The status probe: a GET of the whole URL; a known status other than 200
    // stops the POST before anything is sent.
    const platform::Status probed = session->OpenUrl(url, "", platform::kInternetFlagReload, &probe);
    if (RefusedSecure(probed, kLabel, url) || CutAtDeadline(probed, kLabel, url, deadlineMs)) return false;
    if (probed == platform::kSuccess && probe && StatusRefuses(*probe, kLabel, url)) return false;
    if (!request) {
      WriteLogF(kLabel, "Cannot open a request to %s", url.c_str());
      return true;
    }
    const platform::Status sent = request->Send(kPostHeaders, data);
    if (RefusedSecure(sent, kLabel, url) || CutAtDeadline(sent, kLabel, url, deadlineMs)) return false;
    if (sent != platform::kSuccess) {
      WriteLogF(kLabel, "Sending to %s failed: error %u", url.c_str(), sent);
      return true;
    }
    return ReadBody(*request, kLabel, url, deadlineMs, body);
  } catch (const std::exception&) {
    return true;
  }
}

bool CTransportUtility::IsInternetConnected() {
  return platform::Env::Default()->http()->IsConnected();
}
