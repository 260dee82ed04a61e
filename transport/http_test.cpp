// The HTTP transport over a fault-injecting fake of the platform's HTTP calls:
// every failure point, the parameters each call is given, the order in which
// handles close, the read rules and the submit URL.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/env.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "transport/utility.h"

namespace {

using platform::Status;

// What one fake request handle does.
struct Reply {
  Status open = platform::kSuccess;  // OpenUrl / OpenRequest
  Status statusQuery = platform::kSuccess;
  uint32_t code = 200;
  Status lengthQuery = platform::kSuccess;
  int64_t announced = -1;  // Content-Length; -1: the body's size
  std::string body;
  size_t failAt = std::string::npos;  // bytes served before the read error
  Status readError = platform::kErrorInternetConnectionReset;
  bool throwAtFail = false;  // throw instead of failing
  Status send = platform::kSuccess;
};

struct Plan {
  Status internetOpen = platform::kSuccess;
  Reply get;   // the GET, or the POST's status probe
  Reply post;  // the POST request
  bool connected = true;
  std::vector<std::string> events;
  uint32_t largestRead = 0;
};

class FakeRequest : public platform::HttpRequest {
 public:
  FakeRequest(Plan* plan, const Reply& reply, std::string name)
      : plan_(plan), reply_(reply), name_(std::move(name)) {}
  ~FakeRequest() override { plan_->events.push_back("close " + name_); }
  Status Send(const std::string& headers, const std::string& data) override {
    plan_->events.push_back("send [" + headers + "] [" + data + "]");
    return reply_.send;
  }
  Status QueryStatusCode(uint32_t* code) override {
    if (reply_.statusQuery == platform::kSuccess) *code = reply_.code;
    return reply_.statusQuery;
  }
  Status QueryContentLength(uint64_t* length) override {
    if (reply_.lengthQuery == platform::kSuccess) {
      *length = reply_.announced < 0 ? reply_.body.size() : static_cast<uint64_t>(reply_.announced);
    }
    return reply_.lengthQuery;
  }
  Status Read(void* buffer, uint32_t size, uint32_t* read) override {
    if (size > plan_->largestRead) plan_->largestRead = size;
    *read = 0;
    if (pos_ >= reply_.failAt) {
      if (reply_.throwAtFail) throw std::runtime_error("broken");
      return reply_.readError;
    }
    size_t end = std::min(reply_.body.size(), reply_.failAt);
    size_t n = std::min<size_t>(size, end - pos_);
    std::memcpy(buffer, reply_.body.data() + pos_, n);
    pos_ += n;
    *read = static_cast<uint32_t>(n);
    return platform::kSuccess;
  }

 private:
  Plan* plan_;
  Reply reply_;
  std::string name_;
  size_t pos_ = 0;
};

class FakeSession : public platform::HttpSession {
 public:
  explicit FakeSession(Plan* plan) : plan_(plan) {}
  ~FakeSession() override { plan_->events.push_back("close session"); }
  Status SetTimeouts(uint32_t connectMs, uint32_t receiveMs) override {
    plan_->events.push_back("timeouts " + std::to_string(connectMs) + " " + std::to_string(receiveMs));
    return platform::kSuccess;
  }
  Status OpenUrl(const std::string& url, const std::string& headers, uint32_t flags,
                 std::unique_ptr<platform::HttpRequest>* request) override {
    plan_->events.push_back("open url " + url + " [" + headers + "] " + Hex(flags));
    if (plan_->get.open != platform::kSuccess) return plan_->get.open;
    request->reset(new FakeRequest(plan_, plan_->get, "url"));
    return platform::kSuccess;
  }
  Status OpenRequest(const std::string& host, uint16_t port, const std::string& verb, const std::string& path,
                     uint32_t flags, std::unique_ptr<platform::HttpRequest>* request) override {
    plan_->events.push_back("open request " + host + ":" + std::to_string(port) + " " + verb + " " + path +
                            " " + Hex(flags));
    if (plan_->post.open != platform::kSuccess) return plan_->post.open;
    request->reset(new FakeRequest(plan_, plan_->post, "request"));
    return platform::kSuccess;
  }

 private:
  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
  }
  Plan* plan_;
};

class FakeHttpEnv : public platform::EnvWrapper {
 public:
  FakeHttpEnv(platform::Env* target, Plan* plan) : EnvWrapper(target), plan_(plan) {}
  Status InternetOpen(const std::string& agent, std::unique_ptr<platform::HttpSession>* session) override {
    plan_->events.push_back("internet open " + agent);
    if (plan_->internetOpen != platform::kSuccess) return plan_->internetOpen;
    session->reset(new FakeSession(plan_));
    return platform::kSuccess;
  }
  bool InternetGetConnectedState() override { return plan_->connected; }

 private:
  Plan* plan_;
};

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() / ("inkora-http-" + std::to_string(random()));
    std::filesystem::create_directories(dir_);
    base_ = platform::NewIsolatedEnv(dir_.string());
    fake_.reset(new FakeHttpEnv(base_.get(), &plan_));
    scoped_.reset(new platform::ScopedDefaultEnv(fake_.get()));
    base_->RegDeleteTree(kServiceKey, platform::kKeyWow64_32Key);
    logPath_ = (dir_ / "http-test.log").string();
    SetFixedField(szLogPath, sizeof szLogPath, logPath_);
    SetDword("debug", 1);
  }
  void TearDown() override {
    base_->RegDeleteTree(kServiceKey, platform::kKeyWow64_32Key);
    scoped_.reset();
    fake_.reset();
    base_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void SetDword(const std::string& name, uint32_t value) {
    std::unique_ptr<platform::RegKey> key;
    ASSERT_EQ(platform::kSuccess,
              base_->RegCreateKey(kServiceKey, platform::kKeyAllAccess | platform::kKeyWow64_32Key, &key));
    ASSERT_EQ(platform::kSuccess, key->SetValue(name, platform::kRegDword, &value, sizeof value));
  }
  // The log without its CR LF line ends and time stamps' variance.
  std::string Log() {
    std::string data, text;
    base_->ReadFile(logPath_, &data, 1u << 30);
    for (size_t i = 0; i < data.size(); ++i) {
      if (data[i] != '\r' || i + 1 >= data.size() || data[i + 1] != '\n') text.push_back(data[i]);
    }
    return text;
  }
  void ClearLog() { base_->DeleteFile(logPath_); }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  Plan plan_;
  std::filesystem::path dir_;
  std::string logPath_;
  std::unique_ptr<platform::Env> base_;
  std::unique_ptr<FakeHttpEnv> fake_;
  std::unique_ptr<platform::ScopedDefaultEnv> scoped_;
};

const char kUrl[] = "http://farm.example/Teko/metadata/1-0-7";

Reply Body(const std::string& body) {
  Reply r;
  r.body = body;
  return r;
}
Reply HttpStatus(uint32_t code) {
  Reply r;
  r.code = code;
  r.body = "<html>error</html>";
  return r;
}
Reply Cut(const std::string& body, size_t at, bool throwing = false) {
  Reply r = Body(body);
  r.failAt = at;
  r.throwAtFail = throwing;
  return r;
}

// A body whose first 1023-byte chunk holds a NUL after ten bytes.
std::string NulBody() {
  return std::string(10, 'a') + '\0' + std::string(1012, 'b') + "tail";
}
std::string Pattern(size_t n) {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
  return s;
}

// ---------------------------------------------------------------------------
// GET

struct GetCase {
  const char* name;
  Status internetOpen;
  Reply reply;
  bool result;
  std::string body;
  std::string logged;  // "" when nothing may be logged
};

TEST_F(HttpTest, GetFailurePointsAndReadRules) {
  Reply refused;
  refused.open = platform::kErrorInternetCannotConnect;
  Reply noStatus = Body("answer");
  noStatus.statusQuery = platform::kErrorHttpHeaderNotFound;
  Reply noLength = Body("answer");
  noLength.lengthQuery = platform::kErrorHttpHeaderNotFound;
  Reply shortBody = Body("0123456789");
  shortBody.announced = 11;
  Reply longer = Body("0123456789");
  longer.announced = 4;  // a length below what came is no loss of data
  const std::string big = Pattern(3000);

  const std::vector<GetCase> cases = {
      {"no root handle", platform::kErrorNotEnoughMemory, Body("x"), false, "", ""},
      {"unreachable", platform::kSuccess, refused, true, "", "SendWebRequest_GET()-Cannot open "},
      {"404", platform::kSuccess, HttpStatus(404), false, "",
       "\t    SendWebRequest_GET()-Failed to connect with webpage http://farm.example/Teko/metadata/1-0-7.  "
       "HTTP error 404"},
      {"500", platform::kSuccess, HttpStatus(500), false, "",
       "webpage http://farm.example/Teko/metadata/1-0-7.  HTTP error 500"},
      {"301 not followed", platform::kSuccess, HttpStatus(301), false, "", "HTTP error 301"},
      {"no status: read anyway", platform::kSuccess, noStatus, true, "answer", ""},
      {"no length announced", platform::kSuccess, noLength, true, "answer", ""},
      {"small body", platform::kSuccess, Body("answer"), true, "answer", ""},
      {"empty body", platform::kSuccess, Body(""), true, "", ""},
      {"several chunks in order", platform::kSuccess, Body(big), true, big, ""},
      {"NUL cuts its chunk only", platform::kSuccess, Body(NulBody()), true, std::string(10, 'a') + "tail",
       ""},
      {"NUL first", platform::kSuccess, Body(std::string(1, '\0') + "rest"), true, "", ""},
      {"read error mid-body", platform::kSuccess, Cut(big, 2046), false, "",
       "SendWebRequest_GET()-Reading the answer of http://farm.example/Teko/metadata/1-0-7 failed after 2046 "
       "bytes: error 12031"},
      {"read error at once", platform::kSuccess, Cut(big, 0), false, "", "failed after 0 bytes"},
      {"shorter than announced", platform::kSuccess, shortBody, false, "",
       "SendWebRequest_GET()-The answer of http://farm.example/Teko/metadata/1-0-7 ended after 10 of 11 "
       "bytes"},
      {"longer than announced", platform::kSuccess, longer, true, "0123456789", ""},
      {"exception keeps what came", platform::kSuccess, Cut(big, 1023, true), true, big.substr(0, 1023),
       "SendWebRequest_GET()---EXCEPTION--"},
  };
  for (const GetCase& c : cases) {
    SCOPED_TRACE(c.name);
    plan_ = Plan();
    plan_.internetOpen = c.internetOpen;
    plan_.get = c.reply;
    ClearLog();
    std::string body = "stale";
    EXPECT_EQ(c.result, CUtility::SendWebRequest_GET(kUrl, body));
    EXPECT_EQ(c.body, body);
    const std::string log = Log();
    if (c.logged.empty()) {
      EXPECT_EQ("", log);
    } else {
      EXPECT_EQ(1u, Count(log, c.logged)) << log;
    }
    EXPECT_LE(plan_.largestRead, 1023u);
    // Every handle that opened closed, the URL before the session.
    const auto& ev = plan_.events;
    if (c.internetOpen == platform::kSuccess) {
      ASSERT_FALSE(ev.empty());
      EXPECT_EQ("close session", ev.back());
      if (c.reply.open == platform::kSuccess) {
        EXPECT_EQ("close url", ev[ev.size() - 2]);
      }
    } else {
      EXPECT_EQ(std::vector<std::string>{"internet open InkoraUpdater"}, ev);
    }
  }
}

TEST_F(HttpTest, GetCallsInOrderWithItsParameters) {
  plan_.get = Body("answer");
  std::string body;
  ASSERT_TRUE(CUtility::SendWebRequest_GET(kUrl, body));
  const std::vector<std::string> expected = {
      "internet open InkoraUpdater",
      "timeouts 15000 30000",
      std::string("open url ") + kUrl + " [Accept: */*\r\n\r\n] 04000000",
      "close url",
      "close session",
  };
  EXPECT_EQ(expected, plan_.events);
}

TEST_F(HttpTest, AnswerBoundOnBothRequests) {
  struct Case {
    size_t size;
    bool post;
    bool result;
  };
  const Case cases[] = {
      {kMaxAnswerBytes, false, true},
      {kMaxAnswerBytes + 1, false, false},
      {kMaxAnswerBytes, true, true},
      {kMaxAnswerBytes + 1, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + (c.post ? " POST" : " GET"));
    plan_ = Plan();
    (c.post ? plan_.post : plan_.get) = Body(std::string(c.size, 'A'));
    if (c.post) plan_.get = Body("OK");
    ClearLog();
    std::string body;
    const bool result = c.post ? CUtility::SendWebRequest_POST(false, kUrl, "query=x", body)
                               : CUtility::SendWebRequest_GET(kUrl, body);
    EXPECT_EQ(c.result, result);
    EXPECT_EQ(c.result ? c.size : 0u, body.size());
    const std::string line = std::string(c.post ? "SendWebRequest_POST()" : "SendWebRequest_GET()") +
                             "-The answer of " + kUrl + " is larger than 33554432 bytes: refused";
    EXPECT_EQ(c.result ? 0u : 1u, Count(Log(), line));
  }
}

// ---------------------------------------------------------------------------
// POST

struct PostCase {
  const char* name;
  Status internetOpen;
  Reply probe;
  Reply post;
  bool result;
  std::string body;
  bool sent;
  std::string logged;
};

TEST_F(HttpTest, PostFailurePointsAndHandleOrder) {
  Reply probeRefused;
  probeRefused.open = platform::kErrorInternetCannotConnect;
  Reply probeNoStatus = Body("OK");
  probeNoStatus.statusQuery = platform::kErrorHttpHeaderNotFound;
  Reply noRequest;
  noRequest.open = platform::kErrorInternetCannotConnect;
  Reply sendFails = Body("never read");
  sendFails.send = platform::kErrorInternetConnectionReset;
  Reply shortBody = Body("0123456789");
  shortBody.announced = 20;
  const std::string big = Pattern(2500);

  const std::vector<PostCase> cases = {
      {"no root handle", platform::kErrorNotEnoughMemory, Body("OK"), Body("x"), false, "", false, ""},
      {"probe 404 stops before sending", platform::kSuccess, HttpStatus(404), Body("x"), false, "", false,
       "\t    SendWebRequest_POST()-Failed to connect with webpage http://farm.example/Teko/metadata/1-0-7.  "
       "HTTP error 404"},
      {"probe 500", platform::kSuccess, HttpStatus(500), Body("x"), false, "", false, "HTTP error 500"},
      {"probe unreachable: posted anyway", platform::kSuccess, probeRefused, Body("answer"), true, "answer",
       true, ""},
      {"probe without status", platform::kSuccess, probeNoStatus, Body("answer"), true, "answer", true, ""},
      {"request cannot open", platform::kSuccess, Body("OK"), noRequest, true, "", false,
       "SendWebRequest_POST()-Cannot open a request to "},
      {"send fails", platform::kSuccess, Body("OK"), sendFails, true, "", true,
       "SendWebRequest_POST()-Sending to http://farm.example/Teko/metadata/1-0-7 failed: error 12031"},
      {"answer", platform::kSuccess, Body("OK"), Body(big), true, big, true, ""},
      {"NUL cuts its chunk", platform::kSuccess, Body("OK"), Body(NulBody()), true,
       std::string(10, 'a') + "tail", true, ""},
      {"read error", platform::kSuccess, Body("OK"), Cut(big, 1023), false, "", true,
       "SendWebRequest_POST()-Reading the answer of http://farm.example/Teko/metadata/1-0-7 failed after "
       "1023 bytes"},
      {"short body", platform::kSuccess, Body("OK"), shortBody, false, "", true,
       "ended after 10 of 20 bytes"},
      {"exception: what came, nothing logged", platform::kSuccess, Body("OK"), Cut(big, 2046, true), true,
       big.substr(0, 2046), true, ""},
  };
  for (const PostCase& c : cases) {
    SCOPED_TRACE(c.name);
    plan_ = Plan();
    plan_.internetOpen = c.internetOpen;
    plan_.get = c.probe;
    plan_.post = c.post;
    ClearLog();
    std::string body = "stale";
    EXPECT_EQ(c.result, CUtility::SendWebRequest_POST(false, kUrl, "query=abc", body));
    EXPECT_EQ(c.body, body);
    const std::string log = Log();
    if (c.logged.empty()) {
      EXPECT_EQ("", log);
    } else {
      EXPECT_EQ(1u, Count(log, c.logged)) << log;
    }
    size_t sends = 0;
    for (const auto& e : plan_.events) sends += e.rfind("send ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(c.sent ? 1u : 0u, sends);
    EXPECT_LE(plan_.largestRead, 1023u);
    if (c.internetOpen != platform::kSuccess) {
      EXPECT_EQ(std::vector<std::string>{"internet open InkoraUpdater"}, plan_.events);
      continue;
    }
    // Probe, request, session: the closes come last and in this order.
    std::vector<std::string> closes;
    for (const auto& e : plan_.events)
      if (e.rfind("close ", 0) == 0) closes.push_back(e);
    std::vector<std::string> expected;
    if (c.probe.open == platform::kSuccess) expected.push_back("close url");
    if (c.post.open == platform::kSuccess) expected.push_back("close request");
    expected.push_back("close session");
    EXPECT_EQ(expected, closes);
    EXPECT_EQ(expected, std::vector<std::string>(plan_.events.end() - expected.size(), plan_.events.end()));
  }
}

TEST_F(HttpTest, PostConnectsToTheUrlsPortAndPostsThePathAlone) {
  struct Case {
    bool secure;
    const char* url;
    const char* request;  // host:port verb path flags
    const char* probe;
  };
  const Case cases[] = {
      {false, "http://farm.example/Teko/uc", "farm.example:80 POST /Teko/uc 84000100",
       "http://farm.example/Teko/uc"},
      {false, "http://farm.example:8080/Teko/uc?v=1#top", "farm.example:8080 POST /Teko/uc 84000100",
       "http://farm.example:8080/Teko/uc?v=1#top"},
      {true, "https://farm.example/Teko/uc", "farm.example:443 POST /Teko/uc 00800100",
       "https://farm.example/Teko/uc"},
      {true, "https://farm.example:8443/Teko/uc", "farm.example:8443 POST /Teko/uc 00800100",
       "https://farm.example:8443/Teko/uc"},
      {false, "http://127.0.0.1:49152/Teko/usage", "127.0.0.1:49152 POST /Teko/usage 84000100",
       "http://127.0.0.1:49152/Teko/usage"},
      // The port follows secure, not the scheme, when the URL names none.
      {false, "https://farm.example/Teko/uc", "farm.example:80 POST /Teko/uc 84000100",
       "https://farm.example/Teko/uc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    plan_ = Plan();
    plan_.get = Body("OK");
    plan_.post = Body("answer");
    std::string body;
    ASSERT_TRUE(CUtility::SendWebRequest_POST(c.secure, c.url, "query=a%2Bb", body));
    EXPECT_EQ("answer", body);
    const std::vector<std::string> expected = {
        "internet open InkoraUpdater",
        "timeouts 15000 30000",
        std::string("open request ") + c.request,
        std::string("open url ") + c.probe + " [] 80000000",
        "send [Content-Type: application/x-www-form-urlencoded] [query=a%2Bb]",
        "close url",
        "close request",
        "close session",
    };
    EXPECT_EQ(expected, plan_.events);
  }
}

TEST_F(HttpTest, TimeoutOverrideForTests) {
  const struct {
    uint32_t value;
    const char* expected;
  } cases[] = {{0, "timeouts 15000 30000"}, {250, "timeouts 250 250"}, {1500, "timeouts 1500 1500"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    SetDword("HttpTimeoutMs", c.value);
    plan_ = Plan();
    plan_.get = Body("OK");
    plan_.post = Body("answer");
    std::string body;
    CUtility::SendWebRequest_GET(kUrl, body);
    ASSERT_GE(plan_.events.size(), 2u);
    EXPECT_EQ(c.expected, plan_.events[1]);
    plan_.events.clear();
    CUtility::SendWebRequest_POST(false, kUrl, "query=", body);
    ASSERT_GE(plan_.events.size(), 2u);
    EXPECT_EQ(c.expected, plan_.events[1]);
  }
}

// ---------------------------------------------------------------------------
// Submit URL and connection state

TEST_F(HttpTest, SubmitUrlByWebFarm) {
  SetRegValue_String(kServiceKey, "StagingHost", "staging.farm.example");
  SetRegValue_String(kServiceKey, "TestHost", "test.farm.example");
  SetRegValue_String(kServiceKey, "ProductionHost", "www.farm.example");
  const struct {
    const char* useStaging;  // nullptr: absent
    const char* host;
  } cases[] = {
      {nullptr, "www.farm.example"}, {"", "www.farm.example"},   {"0", "www.farm.example"},
      {"1", "staging.farm.example"}, {"2", "test.farm.example"}, {"3", "www.farm.example"},
      {"12", "www.farm.example"},    {" 1", "www.farm.example"}, {"2 ", "www.farm.example"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.useStaging ? c.useStaging : "(absent)");
    if (c.useStaging) {
      SetRegValue_String(kServiceKey, "UseStaging", c.useStaging);
    } else {
      DeleteRegValue(kServiceKey, "UseStaging");
    }
    ClearLog();
    EXPECT_EQ(std::string("http://") + c.host + "/Teko/UC.hsh?query=abc%2B%3D",
              CUtility::BuildSubmitUrl_GET("abc%2B%3D", UrlTypes::Submit));
    EXPECT_EQ(0u, Count(Log(), "Unknown UrlTypes"));
    ClearLog();
    EXPECT_EQ(std::string("http://") + c.host, CUtility::BuildSubmitUrl_GET("abc", static_cast<UrlTypes>(1)));
    EXPECT_EQ(1u, Count(Log(), "\t    CUtility::BuildSubmitUrl_GET()-Unknown UrlTypes"));
  }
  EXPECT_TRUE(plan_.events.empty());  // building a URL sends nothing
}

TEST_F(HttpTest, ConnectedStateComesFromThePlatform) {
  for (bool connected : {true, false, true}) {
    plan_.connected = connected;
    EXPECT_EQ(connected, CUtility::IsInternetConnected());
  }
}

}  // namespace
