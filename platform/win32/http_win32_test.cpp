// WinINet against a loopback server inside the test process, and URL cracking.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/win32/win32_test_util.h"

namespace platform {
namespace {

// One request per connection; the responder gives the raw answer bytes.
class LoopbackServer {
 public:
  struct Request {
    std::string head;  // request line and headers
    std::string body;
  };
  using Responder = std::function<std::string(const Request&)>;

  explicit LoopbackServer(Responder responder) : responder_(std::move(responder)) {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    listen_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::listen(listen_, 8);
    int len = sizeof(addr);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() {
    ::closesocket(listen_);  // accept fails and the loop ends
    thread_.join();
    ::WSACleanup();
  }

  uint16_t port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  void Serve() {
    while (true) {
      SOCKET s = ::accept(listen_, nullptr, nullptr);
      if (s == INVALID_SOCKET) return;
      Handle(s);
      ::shutdown(s, SD_SEND);
      ::closesocket(s);
    }
  }
  void Handle(SOCKET s) {
    std::string in;
    char buf[4096];
    size_t headEnd;
    while ((headEnd = in.find("\r\n\r\n")) == std::string::npos) {
      int n = ::recv(s, buf, sizeof(buf), 0);
      if (n <= 0) return;
      in.append(buf, n);
    }
    Request r;
    r.head = in.substr(0, headEnd + 2);
    r.body = in.substr(headEnd + 4);
    size_t cl = Lower(r.head).find("content-length:");
    size_t want = cl == std::string::npos ? 0 : std::strtoul(r.head.c_str() + cl + 15, nullptr, 10);
    while (r.body.size() < want) {
      int n = ::recv(s, buf, sizeof(buf), 0);
      if (n <= 0) break;
      r.body.append(buf, n);
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(r);
    }
    std::string out = responder_(r);
    size_t done = 0;
    while (done < out.size()) {
      int n = ::send(s, out.data() + done, static_cast<int>(out.size() - done), 0);
      if (n <= 0) return;
      done += n;
    }
  }
  static std::string Lower(std::string t) {
    for (char& c : t) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return t;
  }

  Responder responder_;
  SOCKET listen_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::vector<Request> requests_;
};

std::string Answer(const std::string& statusLine, const std::string& body, bool withLength = true) {
  std::string out = "HTTP/1.1 " + statusLine + "\r\nConnection: close\r\n";
  if (withLength) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return out + "\r\n" + body;
}

std::string BigBody() {
  std::string body;
  for (int i = 0; body.size() < 100000; ++i) body += std::to_string(i) + ",";
  return body;
}

std::atomic<int> g_counted{0};

std::string Respond(const LoopbackServer::Request& r) {
  std::string target = r.head.substr(r.head.find(' ') + 1);
  target = target.substr(0, target.find(' '));
  if (target == "/ok") return Answer("200 OK", "hello");
  if (target == "/missing") return Answer("404 Not Found", "nope");
  if (target == "/error") return Answer("500 Internal Server Error", "");
  if (target == "/nolength") return Answer("200 OK", "streamed body", false);
  if (target == "/big") return Answer("200 OK", BigBody());
  if (target == "/nul") return Answer("200 OK", std::string("ab\0cd", 5));
  if (target == "/badlength")
    return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 12x\r\n\r\nbody";
  if (target == "/truncated")
    return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 100\r\n\r\nonly ten b";
  if (target == "/counted") return Answer("200 OK", "n" + std::to_string(++g_counted));
  if (target.rfind("/Teko/UC.hsh", 0) == 0) return Answer("200 OK", "got:" + r.body);
  return Answer("404 Not Found", "");
}

// The whole body, read the way the transport reads it; the last status.
Status ReadAll(HttpRequest* request, std::string* body) {
  char buf[1024];
  while (true) {
    uint32_t got = 0;
    Status s = request->Read(buf, 1023, &got);
    if (s != kSuccess) return s;
    if (got == 0) return kSuccess;
    body->append(buf, got);
  }
}

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kSuccess, env_.InternetOpen("InkoraUpdater", &session_));
    ASSERT_EQ(kSuccess, session_->SetTimeouts(10000, 10000));
  }
  Win32Env env_{std::string()};
  LoopbackServer server_{Respond};
  std::unique_ptr<HttpSession> session_;
};

TEST_F(HttpTest, GetAnswersGiveStatusLengthAndBody) {
  struct Case {
    const char* path;
    uint32_t status;
    Status lengthStatus;
    uint64_t length;
    Status readStatus;
    std::string body;
  } cases[] = {
      {"/ok", 200, kSuccess, 5, kSuccess, "hello"},
      {"/missing", 404, kSuccess, 4, kSuccess, "nope"},
      {"/error", 500, kSuccess, 0, kSuccess, ""},
      {"/nolength", 200, kErrorHttpHeaderNotFound, 0, kSuccess, "streamed body"},
      {"/big", 200, kSuccess, BigBody().size(), kSuccess, BigBody()},
      {"/nul", 200, kSuccess, 5, kSuccess, std::string("ab\0cd", 5)},
      // A cut-off body is an error, not a short answer.
      {"/truncated", 200, kSuccess, 100, kErrorInternetConnectionReset, "only ten b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::unique_ptr<HttpRequest> request;
    ASSERT_EQ(kSuccess, session_->OpenUrl(server_.Url(c.path), "Accept: */*\r\n\r\n",
                                          kInternetFlagNoCacheWrite | kInternetFlagReload, &request));
    uint32_t status = 0;
    ASSERT_EQ(kSuccess, request->QueryStatusCode(&status));
    EXPECT_EQ(c.status, status);
    uint64_t length = 0;
    EXPECT_EQ(c.lengthStatus, request->QueryContentLength(&length));
    if (c.lengthStatus == kSuccess) {
      EXPECT_EQ(c.length, length);
    }
    std::string body;
    EXPECT_EQ(c.readStatus, ReadAll(request.get(), &body));
    EXPECT_EQ(c.body, body);
  }
  std::vector<LoopbackServer::Request> seen = server_.requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(0u, seen[0].head.rfind("GET /ok HTTP/1.1\r\n", 0));
  EXPECT_NE(std::string::npos, seen[0].head.find("User-Agent: InkoraUpdater\r\n"));
  EXPECT_NE(std::string::npos, seen[0].head.find("Accept: */*\r\n"));
}

TEST_F(HttpTest, GarbledLengthIsRefusedNotReadAsZero) {
  std::unique_ptr<HttpRequest> request;
  Status s = session_->OpenUrl(server_.Url("/badlength"), "", kInternetFlagNoCacheWrite | kInternetFlagReload,
                               &request);
  if (s != kSuccess) GTEST_SKIP() << "WinINet refused the answer outright: " << s;
  uint64_t length = 12345;
  EXPECT_NE(kSuccess, request->QueryContentLength(&length));
  EXPECT_EQ(12345u, length);
}

TEST_F(HttpTest, UncachedGetsReachTheServerEachTime) {
  g_counted = 0;
  for (const char* expected : {"n1", "n2"}) {
    std::unique_ptr<HttpRequest> request;
    ASSERT_EQ(kSuccess, session_->OpenUrl(server_.Url("/counted"), "", kInternetFlagReload, &request));
    std::string body;
    ASSERT_EQ(kSuccess, ReadAll(request.get(), &body));
    EXPECT_EQ(expected, body);
  }
}

TEST_F(HttpTest, FormPostSendsHeaderAndDataToThePath) {
  std::unique_ptr<HttpRequest> request;
  ASSERT_EQ(kSuccess,
            session_->OpenRequest(
                "127.0.0.1", server_.port(), "POST", "/Teko/UC.hsh",
                kInternetFlagReload | kInternetFlagNoCacheWrite | kInternetFlagPragmaNoCache, &request));
  const std::string data = "query=abc%2B%2F%3D";
  ASSERT_EQ(kSuccess, request->Send("Content-Type: application/x-www-form-urlencoded", data));
  uint32_t status = 0;
  ASSERT_EQ(kSuccess, request->QueryStatusCode(&status));
  EXPECT_EQ(200u, status);
  std::string body;
  ASSERT_EQ(kSuccess, ReadAll(request.get(), &body));
  EXPECT_EQ("got:" + data, body);
  std::vector<LoopbackServer::Request> seen = server_.requests();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(0u, seen[0].head.rfind("POST /Teko/UC.hsh HTTP/1.1\r\n", 0));
  EXPECT_NE(std::string::npos, seen[0].head.find("Content-Type: application/x-www-form-urlencoded\r\n"));
  EXPECT_NE(std::string::npos, seen[0].head.find("Accept: */*\r\n"));
  EXPECT_EQ(data, seen[0].body);

  // A handle of InternetOpenUrlA has no request left to send.
  std::unique_ptr<HttpRequest> get;
  ASSERT_EQ(kSuccess, session_->OpenUrl(server_.Url("/ok"), "", kInternetFlagReload, &get));
  EXPECT_EQ(kErrorInvalidHandle, get->Send("", "x"));
}

TEST_F(HttpTest, NobodyListeningIsAConnectFailure) {
  uint16_t closedPort;
  {
    LoopbackServer gone(Respond);
    closedPort = gone.port();
  }
  std::unique_ptr<HttpRequest> request;
  Status s = session_->OpenUrl("http://127.0.0.1:" + std::to_string(closedPort) + "/ok", "",
                               kInternetFlagReload, &request);
  EXPECT_EQ(kErrorInternetCannotConnect, s);
  EXPECT_FALSE(request);
}

// The web farm the dev script runs for the Wine suite, when there is one.
TEST(WebFarmTest, AnswersGetAndPost) {
  const char* base = std::getenv("INKORA_WEBFARM_URL");
  if (base == nullptr || *base == '\0') GTEST_SKIP() << "INKORA_WEBFARM_URL is not set";
  Win32Env env{std::string()};
  UrlComponents parts;
  ASSERT_EQ(kSuccess, env.CrackUrl(base, &parts));
  std::unique_ptr<HttpSession> session;
  ASSERT_EQ(kSuccess, env.InternetOpen("InkoraUpdater", &session));
  std::unique_ptr<HttpRequest> request;
  ASSERT_EQ(kSuccess, session->OpenUrl(std::string(base) + "/Teko/UC.hsh?query=", "Accept: */*\r\n\r\n",
                                       kInternetFlagNoCacheWrite, &request));
  uint32_t status = 0;
  EXPECT_EQ(kSuccess, request->QueryStatusCode(&status));
  EXPECT_GE(status, 200u);
  std::unique_ptr<HttpRequest> post;
  ASSERT_EQ(kSuccess, session->OpenRequest(parts.host, parts.port, "POST", "/Teko/UC.hsh",
                                           kInternetFlagReload | kInternetFlagNoCacheWrite, &post));
  ASSERT_EQ(kSuccess, post->Send("Content-Type: application/x-www-form-urlencoded", "query="));
  EXPECT_EQ(kSuccess, post->QueryStatusCode(&status));
  EXPECT_GE(status, 200u);
}

TEST(CrackUrlTest, ComponentsAsWinInetGivesThem) {
  Win32Env env{std::string()};
  struct Case {
    const char* url;
    Status status;
    int32_t schemeNumber;
    const char* host;
    uint16_t port;
    bool portGiven;
    const char* user;
    const char* password;
    const char* path;
    const char* extra;
  } cases[] = {
      {"http://uc.example.com/Teko/UC.hsh?query=abc", kSuccess, 3, "uc.example.com", 80, false, "", "",
       "/Teko/UC.hsh", "?query=abc"},
      {"http://127.0.0.1:8080/a/b#frag", kSuccess, 3, "127.0.0.1", 8080, true, "", "", "/a/b", "#frag"},
      {"http://h:80/", kSuccess, 3, "h", 80, true, "", "", "/", ""},
      {"https://u:pw@secure.example/p", kSuccess, 4, "secure.example", 443, false, "u", "pw", "/p", ""},
      {"not a url", kErrorInternetInvalidUrl, 0, "", 0, false, "", "", "", ""},
      {"", kErrorInternetInvalidUrl, 0, "", 0, false, "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    UrlComponents parts;
    parts.host = "stale";
    ASSERT_EQ(c.status, env.CrackUrl(c.url, &parts));
    if (c.status != kSuccess) continue;
    EXPECT_EQ(c.schemeNumber, parts.schemeNumber);
    EXPECT_EQ(c.host, parts.host);
    EXPECT_EQ(c.port, parts.port);
    EXPECT_EQ(c.portGiven, parts.portGiven);
    EXPECT_EQ(c.user, parts.user);
    EXPECT_EQ(c.password, parts.password);
    EXPECT_EQ(c.path, parts.path);
    EXPECT_EQ(c.extra, parts.extra);
  }
}

TEST(CrackUrlTest, ExplicitPortIsFoundInTheAuthorityOnly) {
  struct {
    const char* url;
    bool given;
  } cases[] = {
      {"http://h:8080/x", true},  {"http://h/x:80", false},  {"http://u:p@h/x", false},
      {"http://u:p@h:1/x", true}, {"http://[::1]/", false},  {"http://[::1]:9/", true},
      {"http://h:/x", false},     {"http://h:80?x=1", true}, {"h:80", false},
      {"http://h:8a/", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.given, UrlHasExplicitPort(c.url)) << c.url;
}

}  // namespace
}  // namespace platform
