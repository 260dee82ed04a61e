// HTTP over libcurl with the handle shapes of WinINet: a request is carried
// out whole when it is opened (GET) or sent (POST), its body kept in memory up
// to a cap, and then read out in chunks. The machine counts as connected while
// an interface is up and no "offline" file lies under the root.
#include <curl/curl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/ascii.h"
#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

// A body past this is not kept: the reader sees more than any answer may hold
// and fails the request (the transport's own cap is 32 MiB).
constexpr size_t kBodyCap = 32u * 1024 * 1024 + 1;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using SteadyClock = std::chrono::steady_clock;
// The session's deadline; the largest time point when none is set.
using Deadline = SteadyClock::time_point;

struct Transfer {
  std::string body;
  bool overflow = false;
  long status = 0;
  bool haveStatus = false;
  curl_off_t contentLength = -1;
  CURLcode result = CURLE_OK;
  long verifyResult = 0;  // the TLS library's verdict on the peer's chain (X509_V_*)
  // Receive time-out as WinINet has it: no byte moved either way for idleMs.
  uint32_t idleMs = 60000;
  curl_off_t lastDown = 0, lastUp = 0;
  std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
  bool stalled = false;
  Deadline deadline = Deadline::max();
  bool cut = false;  // the deadline passed before the transfer ended
};

int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  Transfer* t = static_cast<Transfer*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (now >= t->deadline) {
    t->cut = true;
    return 1;  // abort: CURLE_ABORTED_BY_CALLBACK
  }
  if (dlnow != t->lastDown || ulnow != t->lastUp) {
    t->lastDown = dlnow;
    t->lastUp = ulnow;
    t->lastMove = now;
    return 0;
  }
  if (now - t->lastMove > std::chrono::milliseconds(t->idleMs)) {
    t->stalled = true;
    return 1;  // abort: CURLE_ABORTED_BY_CALLBACK
  }
  return 0;
}

size_t OnData(char* data, size_t size, size_t count, void* user) {
  Transfer* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (t->body.size() + n > kBodyCap) {
    t->body.append(data, kBodyCap - t->body.size());
    t->overflow = true;
    return 0;  // stop the transfer
  }
  t->body.append(data, n);
  return n;
}

// Verdicts of OpenSSL's chain check (X509_V_ERR_*) that have a WinINet code
// of their own; every other failed check is a CA the store does not trust.
enum : long {
  kX509Unspecified = 1,
  kX509CertNotYetValid = 9,
  kX509CertHasExpired = 10,
  kX509CertRevoked = 23,
  kX509HostnameMismatch = 62,
  kX509IpAddressMismatch = 64,
};

Status FromCertificate(long verifyResult) {
  switch (verifyResult) {
    case kX509CertNotYetValid:
    case kX509CertHasExpired:
      return kErrorInternetSecCertDateInvalid;
    case kX509CertRevoked:
      return kErrorInternetSecCertRevoked;
    // The chain is good and curl's own check of the name failed: it leaves 0
    // or X509_V_ERR_UNSPECIFIED (1), by version.
    case 0:
    case kX509Unspecified:
    case kX509HostnameMismatch:
    case kX509IpAddressMismatch:
      return kErrorInternetSecCertCnInvalid;
    default:
      return kErrorInternetInvalidCa;
  }
}

// secure: the request was for an https URL, so an unsupported scheme can only
// be a redirect that would leave TLS.
Status FromCurl(CURLcode code, long verifyResult, bool secure) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
      return FromCertificate(verifyResult);
    case CURLE_SSL_CACERT_BADFILE:  // no trust anchor could be loaded
    case CURLE_SSL_ISSUER_ERROR:
      return kErrorInternetInvalidCa;
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return kErrorInternetSecInvalidCert;
    case CURLE_SSL_CONNECT_ERROR:
      return kErrorInternetSecureFailure;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return secure ? kErrorInternetHttpsToHttpOnRedir : kErrorInternetInvalidUrl;
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kErrorInternetNameNotResolved;
    case CURLE_PROXY:
      return kErrorInternetCannotConnect;
    case CURLE_OK:
      return kSuccess;
    case CURLE_URL_MALFORMAT:
      return kErrorInternetInvalidUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
      return kErrorInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kErrorInternetCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
      return kErrorInternetTimeout;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return kErrorInternetConnectionReset;
    case CURLE_WRITE_ERROR:
      return kErrorInsufficientBuffer;
    default:
      return kErrorHttpInvalidServerResponse;
  }
}

bool IsHttps(const std::string& url) {
  return StartsWithNoCase(url, "https://");
}

class CurlRequest : public HttpRequest {
 public:
  CurlRequest(uint32_t connectMs, uint32_t receiveMs, std::string caFile, Deadline deadline)
      : connectMs_(connectMs), receiveMs_(receiveMs), caFile_(std::move(caFile)), deadline_(deadline) {}

  // GET of a whole URL, or the POST prepared by OpenRequest.
  Status Perform(const std::string& url, const std::string& headers, const std::string* postData) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline_ - SteadyClock::now()).count();
    if (left <= 0) {
      performed_ = true;
      t_.cut = true;
      return kErrorTimeout;
    }
    CURL* curl = curl_easy_init();
    if (curl == nullptr) return kErrorNotEnoughMemory;
    struct curl_slist* list = nullptr;
    size_t start = 0;
    while (start < headers.size()) {  // "Name: value\r\n..." lines
      size_t end = headers.find("\r\n", start);
      std::string line = headers.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!line.empty()) list = curl_slist_append(list, line.c_str());
      if (end == std::string::npos) break;
      start = end + 2;
    }
    list = curl_slist_append(list, "Expect:");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent_.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // An https request stays on TLS: no redirect may take it to plain http.
    const bool secure = IsHttps(url);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    // The peer's chain against the trust store and its name against the host,
    // whatever the library's defaults are.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile_.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
    // Proxies: libcurl reads http_proxy, https_proxy and no_proxy itself.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs_));
    // The whole transfer ends at the deadline, however steadily bytes come:
    // the progress callback (called at least once a second) ends it, and
    // libcurl's own time-out stands behind, a little later, should it not.
    t_.deadline = deadline_;
    if (deadline_ != Deadline::max())
      curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left + 2000));
    // A receive time-out: a server that sends nothing for that long ends the
    // transfer. The low-speed check of curl averages over seconds and counts
    // the upload, so a server that stalls after taking a POST slips past it.
    t_.idleMs = receiveMs_;
    t_.lastMove = std::chrono::steady_clock::now();
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t_);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t_);
    if (postData != nullptr) {
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postData->data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData->size()));
    }
    t_.result = curl_easy_perform(curl);
    t_.cut = t_.cut || (t_.result == CURLE_OPERATION_TIMEDOUT && SteadyClock::now() >= deadline_);
    long code = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code != 0) {
      t_.status = code;
      t_.haveStatus = true;
    }
    // A proxy that refuses the tunnel of an https request: its answer stands
    // for the request's, as WinINet reports it.
    long connectCode = 0;
    if (!t_.haveStatus && curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectCode) == CURLE_OK &&
        connectCode >= 300) {
      t_.status = connectCode;
      t_.haveStatus = true;
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
      t_.contentLength = length;
    if (curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &t_.verifyResult) != CURLE_OK) t_.verifyResult = 0;
    secure_ = secure;
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    performed_ = true;
    // No answer at all is a failed open, as InternetOpenUrlA fails.
    if (!t_.haveStatus && t_.cut) return kErrorTimeout;
    if (!t_.haveStatus)
      return FromCurl(t_.result == CURLE_OK ? CURLE_GOT_NOTHING : t_.result, t_.verifyResult, secure);
    return kSuccess;
  }

  void SetTarget(std::string url, std::string agent) {
    url_ = std::move(url);
    agent_ = std::move(agent);
  }

  Status Send(const std::string& headers, const std::string& data) override {
    if (url_.empty() || performed_) return kErrorInvalidHandle;
    return Perform(url_, headers, &data);
  }
  Status QueryStatusCode(uint32_t* code) override {
    if (!t_.haveStatus) return kErrorHttpHeaderNotFound;
    *code = static_cast<uint32_t>(t_.status);
    return kSuccess;
  }
  Status QueryContentLength(uint64_t* length) override {
    if (!t_.haveStatus || t_.contentLength < 0) return kErrorHttpHeaderNotFound;
    *length = static_cast<uint64_t>(t_.contentLength);
    return kSuccess;
  }
  Status Read(void* buffer, uint32_t size, uint32_t* read) override {
    *read = 0;
    if (!performed_) return kErrorInvalidHandle;
    if (offset_ < t_.body.size()) {
      size_t n = std::min<size_t>(size, t_.body.size() - offset_);
      std::memcpy(buffer, t_.body.data() + offset_, n);
      offset_ += n;
      *read = static_cast<uint32_t>(n);
      return kSuccess;
    }
    // Every byte that came is read: now say how the transfer ended.
    if (t_.overflow) return kErrorInsufficientBuffer;
    if (t_.cut) return kErrorTimeout;
    return FromCurl(t_.result, t_.verifyResult, secure_);
  }

  std::string agent_;

 private:
  uint32_t connectMs_, receiveMs_;
  std::string caFile_;
  Deadline deadline_;
  bool secure_ = false;
  std::string url_;
  Transfer t_;
  size_t offset_ = 0;
  bool performed_ = false;
};

class CurlSession : public HttpSession {
 public:
  explicit CurlSession(std::string agent) : agent_(std::move(agent)) {}

  Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) override {
    connectMs_ = connectMs;
    receiveMs_ = receiveMs;
    return kSuccess;
  }
  Status SetCaFile(const std::string& path) override {
    caFile_ = path;
    return kSuccess;
  }
  Status SetDeadline(uint32_t totalMs) override {
    deadline_ = SteadyClock::now() + std::chrono::milliseconds(totalMs);
    return kSuccess;
  }
  Status OpenUrl(const std::string& url, const std::string& headers, uint32_t,
                 std::unique_ptr<HttpRequest>* request) override {
    std::unique_ptr<CurlRequest> r(new CurlRequest(connectMs_, receiveMs_, caFile_, deadline_));
    r->agent_ = agent_;
    Status s = r->Perform(url, headers, nullptr);
    if (s != kSuccess) return s;
    *request = std::move(r);
    return kSuccess;
  }
  Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb, const std::string& path,
                     uint32_t flags, std::unique_ptr<HttpRequest>* request) override {
    if (verb != "POST") return kErrorInvalidParameter;
    bool secure = (flags & kInternetFlagSecure) != 0;
    std::string url = (secure ? "https://" : "http://") + host + ":" + std::to_string(port) +
                      (path.empty() || path[0] != '/' ? "/" : "") + path;
    std::unique_ptr<CurlRequest> r(new CurlRequest(connectMs_, receiveMs_, caFile_, deadline_));
    r->SetTarget(url, agent_);
    *request = std::move(r);
    return kSuccess;
  }

 private:
  std::string agent_;
  uint32_t connectMs_ = 60000, receiveMs_ = 60000;
  std::string caFile_;
  Deadline deadline_ = Deadline::max();
};

class PosixHttp : public Http {
 public:
  explicit PosixHttp(std::string root) : root_(std::move(root)) {}

  Status OpenSession(const std::string& agent, std::unique_ptr<HttpSession>* session) override {
    GlobalInit();
    session->reset(new CurlSession(agent));
    return kSuccess;
  }
  bool IsConnected() override {
    // A root-level "offline" file stands for a machine without a connection.
    if (::access((root_ + "/offline").c_str(), F_OK) == 0) return false;
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return false;
    bool up = false;
    for (struct ifaddrs* a = list; a != nullptr; a = a->ifa_next)
      if ((a->ifa_flags & IFF_UP) != 0) up = true;
    ::freeifaddrs(list);
    return up;
  }
  Status SplitUrl(const std::string& url, UrlComponents* parts) override { return PosixCrackUrl(url, parts); }

 private:
  std::string root_;
};

}  // namespace

std::unique_ptr<Http> NewBackendHttp(const std::string& root) {
  return std::make_unique<PosixHttp>(root);
}

}  // namespace platform
