// The HTTP client: WinINet on Windows, libcurl on POSIX, in WinINet's shapes. A
// GET is one handle opened on the whole URL; a POST is a handle opened on host,
// port and path, then sent with its form. https peers are always verified (the
// system's trust store, or a test CA file); nothing falls back to http.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace platform {

// Request flags, with the WinINet values.
enum : uint32_t {
  kInternetFlagSecure = 0x00800000,
  kInternetFlagPragmaNoCache = 0x00000100,
  kInternetFlagNoCacheWrite = 0x04000000,
  kInternetFlagReload = 0x80000000,
};

// One request. Destroying it closes it (InternetCloseHandle).
class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // Sends the request with extra header lines and its body; only for a
  // request made by HttpSession::OpenRequest. (HttpSendRequestA)
  virtual Status Send(const std::string& headers, const std::string& data) = 0;
  // The status code of the answer, e.g. 200. (HttpQueryInfoA, STATUS_CODE)
  virtual Status QueryStatusCode(uint32_t* code) = 0;
  // The length the answer announced; kErrorHttpHeaderNotFound when it
  // announced none. (HttpQueryInfoA, CONTENT_LENGTH)
  virtual Status QueryContentLength(uint64_t* length) = 0;
  // Up to size bytes of the body; *read == 0 with kSuccess at its end. A body
  // cut short on the way, a broken connection or a passed deadline is an
  // error, never an end. (InternetReadFile)
  virtual Status Read(void* buffer, uint32_t size, uint32_t* read) = 0;
};

// The requests of one client, with their time-outs. (InternetOpenA; for a POST
// also InternetConnectA)
class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // The time-outs of later requests, in milliseconds: to connect, and to wait
  // for the next byte. (InternetSetOption)
  virtual Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) = 0;
  // Tests: https peers are verified against the CA certificates of this PEM
  // file instead of the system's store. WinINet has no such setting.
  virtual Status SetCaFile(const std::string& path) {
    (void)path;
    return kErrorNotSupported;
  }
  // A total deadline, in milliseconds from now, for everything still to be
  // done on this session: a request that is not over by then is cut (on
  // Windows a watchdog closes its handles) and fails with kErrorTimeout, however
  // steadily its bytes come in.
  virtual Status SetDeadline(uint32_t totalMs) {
    (void)totalMs;
    return kErrorNotSupported;
  }
  // A GET of the whole URL with the extra header text, carried out before it
  // returns: the request's answer is then read. (InternetOpenUrlA)
  virtual Status OpenUrl(const std::string& url, const std::string& headers, uint32_t flags,
                         std::unique_ptr<HttpRequest>* request) = 0;
  // A request of verb on path at host and port, with accept "*/*", to be sent
  // by HttpRequest::Send. (InternetConnectA + HttpOpenRequestA)
  virtual Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb,
                             const std::string& path, uint32_t flags,
                             std::unique_ptr<HttpRequest>* request) = 0;
};

// The parts of a URL, as InternetCrackUrlA gives them.
struct UrlComponents {
  std::string scheme;
  int32_t schemeNumber = 0;  // INTERNET_SCHEME_HTTP 3, HTTPS 4, unknown -1
  std::string host;
  uint16_t port = 0;       // the default port of the scheme when none is written
  bool portGiven = false;  // a port was written in the URL
  std::string user;
  std::string password;
  std::string path;
  std::string extra;  // query and fragment with their "?" or "#"
};

class Http {
 public:
  virtual ~Http() = default;
  // A session that announces itself as agent and goes through the system's
  // proxy settings. (InternetOpenA, INTERNET_OPEN_TYPE_PRECONFIG)
  virtual Status OpenSession(const std::string& agent, std::unique_ptr<HttpSession>* session) = 0;
  // Whether the machine has a connection to speak of; never waits on the
  // network. (InternetGetConnectedState)
  virtual bool IsConnected() = 0;
  // Splits an http or https URL; kErrorInternetInvalidUrl when the text is no
  // URL. (InternetCrackUrlA)
  virtual Status SplitUrl(const std::string& url, UrlComponents* parts) = 0;
};

// Forwards every call to another Http; a test derives from it to play the web farm.
class HttpWrapper : public Http {
 public:
  explicit HttpWrapper(Http* target) : target_(target) {}
  Http* target() const { return target_; }
  Status OpenSession(const std::string& a, std::unique_ptr<HttpSession>* s) override {
    return target_->OpenSession(a, s);
  }
  bool IsConnected() override { return target_->IsConnected(); }
  Status SplitUrl(const std::string& u, UrlComponents* p) override { return target_->SplitUrl(u, p); }

 private:
  Http* target_;
};

}  // namespace platform
