// The HTTP transport over the faked HTTP layer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "platform/testing/fake_env.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"
#include "transport/utility.h"

namespace {

using platform_testing::Reply;

const char kUrl[] = "http://farm.example/Teko/metadata/1-0-7";

class Http : public settings_testing::SettingsFixture {
 protected:
  platform_testing::FakeHttp& http() { return env_->http; }
  bool Request(bool post, std::vector<Reply> replies, std::string* body) {
    http() = platform_testing::FakeHttp(http().target());
    http().replies.assign(replies.begin(), replies.end());
    ClearLog();
    return post ? CTransportUtility::SendWebRequest_POST(false, kUrl, "query=a%2Bb", *body)
                : CTransportUtility::SendWebRequest_GET(kUrl, *body);
  }
};

TEST_F(Http, EachFailureKindGivesItsResultAndNoPartialBody) {
  using R = Reply;
  auto set = [](Reply r, auto field, auto value) {
    r.*field = value;
    return r;
  };
  const platform::Status kNoHeader = platform::kErrorHttpHeaderNotFound,
                         kReset = platform::kErrorInternetConnectionReset,
                         kBadCert = platform::kErrorInternetSecInvalidCert,
                         kNoTls = platform::kErrorInternetSecureFailure, kCut = platform::kErrorTimeout;
  const std::string big(3000, 'x'), most(kMaxAnswerBytes, 'A'), half = big.substr(0, 1500);
  const std::string nul = std::string(10, 'a') + '\0' + std::string(1012, 'b') + "tail";
  const Reply ok = R::Body("OK"), thrown = set(R::Broken(big), &R::throwAtFail, true);
  const struct {
    const char* name;
    bool post;
    std::vector<Reply> replies;  // a POST opens its request, then the status probe
    bool ok;
    std::string body;
    const char* logged = nullptr;  // nothing logged
  } cases[] = {
      {"answer", false, {R::Body(big)}, true, big, nullptr},
      {"refused", false, {R::Refused()}, true, "", "Cannot open"},
      {"success without a handle", false, {set(ok, &R::noHandle, true)}, true, "", "Cannot open"},
      {"bad certificate", false, {set(ok, &R::open, kBadCert)}, false, "", "failed verification"},
      {"status 404", false, {R::Body("<html/>", 404)}, false, "", "HTTP error 404"},
      {"no status: read anyway", false, {set(R::Body("answer"), &R::statusQuery, kNoHeader)}, true, "answer"},
      {"no length announced", false, {set(R::Body("answer"), &R::lengthQuery, kNoHeader)}, true, "answer"},
      {"longer than announced", false, {set(R::Body("0123"), &R::announced, int64_t{2})}, true, "0123"},
      {"short body", false, {R::Truncated(big)}, false, "", "ended after 1500 of 3000 bytes"},
      {"broken read", false, {R::Broken(big)}, false, "", "failed after 1500 bytes"},
      {"NUL ends its chunk only", false, {R::Body(nul)}, true, std::string(10, 'a') + "tail"},
      {"exception keeps what came", false, {thrown}, true, half, "--EXCEPTION--"},
      {"largest answer", false, {R::Body(most)}, true, most},
      {"oversized", false, {R::Body(most + "A")}, false, "", "refused"},
      {"opening cut at the deadline", false, {set(ok, &R::open, kCut)}, false, "", "deadline of 300000 ms"},
      {"reading cut at the deadline", false, {R::Broken(big, kCut)}, false, "", "deadline of 300000 ms"},
      {"post cut while sending", true, {set(ok, &R::send, kCut), ok}, false, "", "deadline of 300000 ms"},
      {"post answer", true, {R::Body(big), ok}, true, big},
      {"probe 404 stops it", true, {R::Body("x"), R::Body("", 404)}, false, "", "HTTP error 404"},
      {"probe refused: posted anyway", true, {R::Body("answer"), R::Refused()}, true, "answer"},
      {"request cannot open", true, {R::Refused(), ok}, true, "", "Cannot open a request"},
      {"send fails", true, {set(ok, &R::send, kReset), ok}, true, "", "failed: error 12031"},
      {"probe: no TLS", true, {ok, set(ok, &R::open, kNoTls)}, false, "", "No secure connection"},
      {"post exception keeps what came", true, {thrown, ok}, true, half},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body = "stale";
    EXPECT_EQ(c.ok, Request(c.post, c.replies, &body));
    EXPECT_TRUE(c.body == body) << body.size();
    if (c.logged == nullptr) {
      EXPECT_EQ("", LogLines());
    } else {
      EXPECT_EQ(1u, CountLogged(c.logged)) << LogLines();
    }
    EXPECT_LE(http().largestRead, 1023u);
  }
  env_->http.openError = platform::kErrorNotEnoughMemory;
  std::string body = "stale";
  EXPECT_FALSE(CTransportUtility::SendWebRequest_GET(kUrl, body));
  EXPECT_FALSE(CTransportUtility::SendWebRequest_POST(false, kUrl, "", body));
  EXPECT_EQ("", body);
}

std::string Hex(uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

// An https URL posted without the secure switch still goes over TLS to its own port.
TEST_F(Http, RequestsCarryTheirPortFlagsAndTimeouts) {
  const std::string url = "https://farm.example:8443/uc";
  http().replies = {Reply::Body("answer"), Reply::Body("OK"), Reply::Body("got")};
  std::string body;
  ASSERT_TRUE(CTransportUtility::SendWebRequest_POST(false, url, "q", body));
  ASSERT_TRUE(CTransportUtility::SendWebRequest_GET(url, body));
  ASSERT_EQ(3u, http().calls.size());
  const auto &post = http().calls[0], &probe = http().calls[1], &get = http().calls[2];
  EXPECT_EQ("POST farm.example:8443 /uc 00800100 q Content-Type: application/x-www-form-urlencoded | " + url +
                " 80000000 | " + url + " Accept: */*\r\n\r\n 04000000",
            post.verb + " " + post.host + ":" + std::to_string(post.port) + " " + post.path + " " +
                Hex(post.flags) + " " + post.data + " " + post.headers + " | " + probe.url + probe.headers +
                " " + Hex(probe.flags) + " | " + get.url + " " + get.headers + " " + Hex(get.flags));
  for (const auto& call : http().calls)
    EXPECT_EQ("15000 30000 300000", std::to_string(call.connectMs) + " " + std::to_string(call.receiveMs) +
                                        " " + std::to_string(call.deadlineMs));
  // An upload's deadline grows a second per 16 KiB, up to an hour; the test value replaces every time-out.
  const std::tuple<uint32_t, size_t, const char*> uploads[] = {{0, 1 << 20, "15000 30000 364000"},
                                                               {0, 100 << 20, "15000 30000 3600000"},
                                                               {1500, 1 << 20, "1500 1500 1500"}};
  for (const auto& [given, size, expected] : uploads) {
    SetServiceDword("HttpTimeoutMs", given);
    CTransportUtility::SendWebRequest_POST(false, url, std::string(size, 'q'), body);
    const auto& call = http().calls.back();
    EXPECT_EQ(expected, std::to_string(call.connectMs) + " " + std::to_string(call.receiveMs) + " " +
                            std::to_string(call.deadlineMs));
  }
}

TEST_F(Http, SubmitUrlFollowsTheChosenWebFarm) {
  SetService("StagingHost", "staging.example");
  SetService("TestHost", "test.example");
  SetService("ProductionHost", "www.example");
  for (const char* farm : {"0www", "1staging", "2test"}) {
    SetService("UseStaging", std::string(farm, 1));
    const std::string base = std::string("http://") + (farm + 1) + ".example";
    EXPECT_EQ(base + "/Teko/UC.hsh?query=a%2B",
              CTransportUtility::BuildSubmitUrl_GET("a%2B", UrlTypes::Submit));
    EXPECT_EQ(base, CTransportUtility::BuildSubmitUrl_GET("a", UrlTypes{1}));
  }
  EXPECT_TRUE(http().calls.empty());
}

}  // namespace
