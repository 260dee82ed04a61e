// HTTP over libcurl with the handle shapes of WinINet: a request is carried
// out whole when it is opened (GET) or sent (POST), its body kept in memory up
// to a cap, and then read out in chunks.
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/posix/posix_env.h"

namespace platform {
namespace {

// A body past this is not kept: the reader sees more than any answer may hold
// and fails the request (the transport's own cap is 32 MiB).
constexpr size_t kBodyCap = 32u * 1024 * 1024 + 1;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
  std::string body;
  bool overflow = false;
  long status = 0;
  bool haveStatus = false;
  curl_off_t contentLength = -1;
  CURLcode result = CURLE_OK;
  // Receive time-out as WinINet has it: no byte moved either way for idleMs.
  uint32_t idleMs = 60000;
  curl_off_t lastDown = 0, lastUp = 0;
  std::chrono::steady_clock::time_point lastMove = std::chrono::steady_clock::now();
  bool stalled = false;
};

int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  Transfer* t = static_cast<Transfer*>(user);
  const auto now = std::chrono::steady_clock::now();
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

Status FromCurl(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return kSuccess;
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
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

class CurlRequest : public HttpRequest {
 public:
  CurlRequest(uint32_t connectMs, uint32_t receiveMs) : connectMs_(connectMs), receiveMs_(receiveMs) {}

  // GET of a whole URL, or the POST prepared by OpenRequest.
  Status Perform(const std::string& url, const std::string& headers, const std::string* postData) {
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
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectMs_));
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
    long code = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK && code != 0) {
      t_.status = code;
      t_.haveStatus = true;
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
      t_.contentLength = length;
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    performed_ = true;
    // No answer at all is a failed open, as InternetOpenUrlA fails.
    if (!t_.haveStatus) return FromCurl(t_.result == CURLE_OK ? CURLE_GOT_NOTHING : t_.result);
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
    return FromCurl(t_.result);
  }

  std::string agent_;

 private:
  uint32_t connectMs_, receiveMs_;
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
  Status OpenUrl(const std::string& url, const std::string& headers, uint32_t,
                 std::unique_ptr<HttpRequest>* request) override {
    std::unique_ptr<CurlRequest> r(new CurlRequest(connectMs_, receiveMs_));
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
    std::unique_ptr<CurlRequest> r(new CurlRequest(connectMs_, receiveMs_));
    r->SetTarget(url, agent_);
    *request = std::move(r);
    return kSuccess;
  }

 private:
  std::string agent_;
  uint32_t connectMs_ = 60000, receiveMs_ = 60000;
};

}  // namespace

Status PosixInternetOpen(const std::string& agent, std::unique_ptr<HttpSession>* session) {
  GlobalInit();
  session->reset(new CurlSession(agent));
  return kSuccess;
}

}  // namespace platform
