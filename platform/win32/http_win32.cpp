// The HTTP client over WinINet, and URL splitting with InternetCrackUrlA.
// https is verified by WinINet against the machine's certificate store: no
// INTERNET_FLAG_IGNORE_CERT_* or IGNORE_REDIRECT_TO_HTTP flag is ever passed,
// so a bad certificate or a redirect to http fails the call with its
// ERROR_INTERNET_SEC_* / _INVALID_CA / _HTTPS_TO_HTTP_ON_REDIR code. Proxies are
// the system's (INTERNET_OPEN_TYPE_PRECONFIG).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

// The open handles of one session. Each is closed once: by its owner, or by
// the watchdog at the session's deadline, which closes them all from its own
// thread (the way to end a blocking WinINet call) and every later one at once.
class HandleTable {
 public:
  // False, the handle closed, when the deadline has passed already.
  bool Adopt(HINTERNET h) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fired_) {
      ::InternetCloseHandle(h);
      return false;
    }
    open_.push_back(h);
    return true;
  }
  void Close(HINTERNET h) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(open_.begin(), open_.end(), h);
    if (it == open_.end()) return;  // the watchdog has closed it
    open_.erase(it);
    ::InternetCloseHandle(h);
  }
  bool fired() {
    std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
  }
  // The watchdog: waits for the deadline or Stop; at the deadline closes
  // every handle still open, the newest (the request) first.
  void Watch(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_until(lock, deadline, [this] { return stopping_; })) return;
    fired_ = true;
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) ::InternetCloseHandle(*it);
    open_.clear();
  }
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<HINTERNET> open_;
  bool fired_ = false, stopping_ = false;
};

// An HINTERNET of a session's table, closed through it.
class InternetHandle {
 public:
  InternetHandle(std::shared_ptr<HandleTable> table, HINTERNET h) : table_(std::move(table)), h_(h) {}
  ~InternetHandle() { Reset(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return h_; }
  void Reset() {
    if (h_ != nullptr) table_->Close(h_);
    h_ = nullptr;
  }
  // The code of the call that just failed on a handle of this session: a cut
  // by the watchdog is the deadline, whatever WinINet says of its handle.
  Status Failed() {
    const Status s = StatusFromLastError();
    return table_->fired() ? kErrorTimeout : s;
  }

 private:
  std::shared_ptr<HandleTable> table_;
  HINTERNET h_;
};

// A request, and for POST the connection it was opened on (closed after it).
class Win32HttpRequest : public HttpRequest {
 public:
  Win32HttpRequest(const std::shared_ptr<HandleTable>& table, HINTERNET request, HINTERNET connection)
      : connection_(table, connection), request_(table, request) {}
  ~Win32HttpRequest() override { request_.Reset(); }  // connection_ closes after, as a member

  Status Send(const std::string& headers, const std::string& data) override {
    if (connection_.get() == nullptr)
      return kErrorInvalidHandle;  // InternetOpenUrlA's handles have sent already
    if (data.size() > std::numeric_limits<DWORD>::max() || headers.size() > std::numeric_limits<DWORD>::max())
      return kErrorInvalidParameter;
    BOOL ok = ::HttpSendRequestA(
        request_.get(), headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
        data.empty() ? nullptr : const_cast<char*>(data.data()), static_cast<DWORD>(data.size()));
    return ok ? kSuccess : request_.Failed();
  }

  Status QueryStatusCode(uint32_t* code) override {
    DWORD value = 0, length = sizeof(value);
    if (!::HttpQueryInfoA(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length,
                          nullptr))
      return request_.Failed();
    *code = value;
    return kSuccess;
  }

  Status QueryContentLength(uint64_t* length) override {
    // As text: the number form is 32 bits wide and reads garbage as 0, which a
    // caller could take for an empty body.
    char text[64] = {0};
    DWORD size = sizeof(text) - 1;
    if (!::HttpQueryInfoA(request_.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
      return StatusFromLastError();
    size_t n = std::strlen(text), i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    if (i == n) return kErrorHttpInvalidServerResponse;
    uint64_t value = 0;
    for (; i < n; ++i) {
      if (text[i] < '0' || text[i] > '9') return kErrorHttpInvalidServerResponse;
      unsigned digit = static_cast<unsigned>(text[i] - '0');
      if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return kErrorHttpInvalidServerResponse;
      value = value * 10 + digit;
    }
    *length = value;
    return kSuccess;
  }

  Status Read(void* buffer, uint32_t size, uint32_t* read) override {
    DWORD got = 0, available = 0;
    *read = 0;
    // No more than has come: Wine's InternetReadFile waits until the whole
    // buffer is filled, so a trickling body would hold one read for as long
    // as it trickles, past the deadline. 0 available is the end (or an error).
    if (!::InternetQueryDataAvailable(request_.get(), &available, 0, 0)) return request_.Failed();
    const DWORD want = available == 0 ? size : std::min<DWORD>(size, available);
    if (!::InternetReadFile(request_.get(), buffer, want, &got)) return request_.Failed();
    if (got == 0 && want > 0) {
      // The end came: a body shorter than its announced length was cut off
      // on the way and must not pass for the whole answer.
      uint64_t announced = 0;
      if (QueryContentLength(&announced) == kSuccess && received_ < announced)
        return kErrorInternetConnectionReset;
      return kSuccess;
    }
    received_ += got;
    *read = got;
    return kSuccess;
  }

 private:
  InternetHandle connection_;  // declared first: destroyed after request_
  InternetHandle request_;
  uint64_t received_ = 0;  // body bytes handed out so far
};

class Win32HttpSession : public HttpSession {
 public:
  explicit Win32HttpSession(HINTERNET root) : table_(std::make_shared<HandleTable>()), root_(table_, root) {
    table_->Adopt(root);
  }
  ~Win32HttpSession() override {
    table_->Stop();
    if (watchdog_.joinable()) watchdog_.join();
  }

  Status SetDeadline(uint32_t totalMs) override {
    if (watchdog_.joinable()) return kErrorInvalidParameter;  // one deadline per session
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    std::shared_ptr<HandleTable> table = table_;
    watchdog_ = std::thread([table, deadline] { table->Watch(deadline); });
    return kSuccess;
  }

  Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) override {
    connectMs_ = connectMs;
    receiveMs_ = receiveMs;
    timeoutsSet_ = true;
    return ApplyTimeouts(root_.get());
  }

  Status OpenUrl(const std::string& url, const std::string& headers, uint32_t flags,
                 std::unique_ptr<HttpRequest>* request) override {
    HINTERNET h = ::InternetOpenUrlA(root_.get(), url.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                     static_cast<DWORD>(headers.size()), flags, 0);
    if (h == nullptr) return root_.Failed();
    if (!table_->Adopt(h)) return kErrorTimeout;
    request->reset(new Win32HttpRequest(table_, h, nullptr));
    return kSuccess;
  }

  Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb, const std::string& path,
                     uint32_t flags, std::unique_ptr<HttpRequest>* request) override {
    // No user name or password: nothing to authenticate with.
    HINTERNET connection =
        ::InternetConnectA(root_.get(), host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (connection == nullptr) return root_.Failed();
    if (!table_->Adopt(connection)) return kErrorTimeout;
    const char* accept[] = {"*/*", nullptr};
    HINTERNET h =
        ::HttpOpenRequestA(connection, verb.c_str(), path.c_str(), nullptr, nullptr, accept, flags, 1);
    if (h == nullptr) {
      const Status s = root_.Failed();
      table_->Close(connection);
      return s;
    }
    if (!table_->Adopt(h)) return kErrorTimeout;
    // Windows hands the root's time-outs down to the handles made from it;
    // Wine's WinINet does not, so the request gets them itself.
    if (timeoutsSet_) ApplyTimeouts(h);
    request->reset(new Win32HttpRequest(table_, h, connection));
    return kSuccess;
  }

 private:
  Status ApplyTimeouts(HINTERNET handle) {
    DWORD connect = connectMs_, receive = receiveMs_;
    if (!::InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect)) ||
        !::InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof(receive)) ||
        !::InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof(receive)))
      return StatusFromLastError();
    return kSuccess;
  }

  std::shared_ptr<HandleTable> table_;  // first: the handles close through it
  InternetHandle root_;
  std::thread watchdog_;
  DWORD connectMs_ = 0, receiveMs_ = 0;
  bool timeoutsSet_ = false;
};

}  // namespace

bool UrlHasExplicitPort(const std::string& url) {
  size_t start = url.find("://");
  if (start == std::string::npos) return false;
  start += 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  size_t bracket = authority.rfind(']');  // an IPv6 literal has colons of its own
  size_t colon = authority.rfind(':');
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) return false;
  std::string digits = authority.substr(colon + 1);
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
}

namespace {

class Win32Http : public Http {
 public:
  Status OpenSession(const std::string& agent, std::unique_ptr<HttpSession>* session) override {
    HINTERNET h = ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (h == nullptr) return StatusFromLastError();
    session->reset(new Win32HttpSession(h));
    return kSuccess;
  }

  bool IsConnected() override {
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) != FALSE;
  }

  Status SplitUrl(const std::string& url, UrlComponents* parts) override {
    *parts = UrlComponents();
    // Every component fits in a buffer as long as the whole URL, plus its NUL.
    if (url.empty() || url.size() >= std::numeric_limits<DWORD>::max() || url.find('\0') != std::string::npos)
      return kErrorInternetInvalidUrl;
    const DWORD n = static_cast<DWORD>(url.size()) + 1;
    std::vector<char> scheme(n), host(n), user(n), password(n), path(n), extra(n);
    URL_COMPONENTSA c;
    std::memset(&c, 0, sizeof(c));
    c.dwStructSize = sizeof(c);
    c.lpszScheme = scheme.data();
    c.dwSchemeLength = n;
    c.lpszHostName = host.data();
    c.dwHostNameLength = n;
    c.lpszUserName = user.data();
    c.dwUserNameLength = n;
    c.lpszPassword = password.data();
    c.dwPasswordLength = n;
    c.lpszUrlPath = path.data();
    c.dwUrlPathLength = n;
    c.lpszExtraInfo = extra.data();
    c.dwExtraInfoLength = n;
    // Whatever the call finds wrong (scheme, syntax, a port out of range), the
    // text is no URL it can use.
    if (!::InternetCrackUrlA(url.c_str(), 0, 0, &c)) return kErrorInternetInvalidUrl;
    // Each text ends at the first NUL the call wrote (the buffers were zeroed).
    parts->scheme = scheme.data();
    parts->schemeNumber = static_cast<int32_t>(c.nScheme);
    parts->host = host.data();
    parts->port = c.nPort;
    parts->portGiven = UrlHasExplicitPort(url);
    parts->user = user.data();
    parts->password = password.data();
    parts->path = path.data();
    parts->extra = extra.data();
    return kSuccess;
  }
};

}  // namespace

std::unique_ptr<Http> NewBackendHttp(const std::string&) {
  return std::make_unique<Win32Http>();
}

}  // namespace platform
