// The update check: what reaches the web farm, and what each kind of answer
// does to the result record.
#include <gtest/gtest.h>

#include <string>

#include "client/client_info.h"
#include "client/client_test_env.h"
#include "settings/registry.h"

namespace {

using client_testing::Answer;
using client_testing::ClientFixture;
using client_testing::DecodeQuery;

const char kUrl[] = "http://farm.test/Teko/uc.hsh";

class UpdateCheck : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    SetProduct(kComputerID, "{ID}");
    SetProduct(kProductNumber, "P-42");
    SetService(kMetadataVer, "1-0-7");
    client_.getComputerID();
    client_.strOSName = "Windows 7 Ultimate, 64-bit";
    client_.strLocale = "en-us";
  }
  void Check(const Answer& answer) {
    farm_.script.push_back(answer);
    ClearLog();
    client_.UpdateCheck(kUrl, record_);
  }
  UpdateResultRecord record_;
};

TEST_F(UpdateCheck, PostsThePayloadAndStoresTheAnswer) {
  Check(
      Answer::Json("{\"code\":\"0\",\"msg\":\"\",\"mv_url\":\"http://farm.test/meta/1-0-8\","
                   "\"upload_logs\":\"TRUE\",\"crash_logs\":\"true\"}"));
  ASSERT_EQ(1u, farm_.requests.size());
  EXPECT_EQ("POST", farm_.requests[0].verb);
  EXPECT_EQ(kUrl, farm_.requests[0].url);
  EXPECT_EQ(0u, farm_.requests[0].data.rfind("query=", 0));
  EXPECT_EQ(client_.BuildUpdateCheckData(), DecodeQuery(farm_.requests[0].data));
  EXPECT_EQ("http://farm.test/meta/1-0-8", record_.mv_url);
  EXPECT_TRUE(record_.upload_logs);
  EXPECT_TRUE(record_.crash_logs);
  EXPECT_EQ("0", record_.code);
  EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()-" + std::string(kUrl)));
  EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()-query="));
  EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()-Server - Decrypted: {\"code\""));
  EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()----END---"));
}

TEST_F(UpdateCheck, SuccessfulAnswersOverwriteTheRecord) {
  const struct {
    const char* answer;
    const char* mvUrl;
    bool upload, crash;
    const char* code;
  } rows[] = {
      {"{\"code\":\"0\"}", "", false, false, "0"},
      {"{\"msg\":\"\",\"mv_url\":\"http://m/1-0-8\"}", "http://m/1-0-8", false, false, ""},
      {"{\"code\":0,\"mv_url\":\"http://m/1-0-8\"}", "http://m/1-0-8", false, false, ""},
      {"{\"code\":\"0\",\"upload_logs\":\"1\",\"crash_logs\":\"yes\"}", "", false, false, "0"},
      {"{\"code\":\"0\",\"upload_logs\":\"tRuE\",\"crash_logs\":true}", "", true, false, "0"},
      {"{\"code\":\" 0\",\"upload_logs\":\"true \"}", "", false, false, " 0"},
  };
  for (const auto& row : rows) {
    record_ = UpdateResultRecord{"before", true, true, "before"};
    Check(Answer::Json(row.answer));
    EXPECT_EQ(row.mvUrl, record_.mv_url) << row.answer;
    EXPECT_EQ(row.upload, record_.upload_logs) << row.answer;
    EXPECT_EQ(row.crash, record_.crash_logs) << row.answer;
    EXPECT_EQ(row.code, record_.code) << row.answer;
  }
}

TEST_F(UpdateCheck, FailuresKeepTheLastGoodRecord) {
  const std::string good = "{\"code\":\"0\",\"mv_url\":\"http://m/1-0-8\",\"upload_logs\":\"true\"}";
  const struct {
    const char* what;
    Answer answer;
    const char* logged;
  } rows[] = {
      {"code -2", Answer::Json("{\"code\":\"-2\",\"msg\":\"negative\"}"),
       "CClientInfo::UpdateCheck()-negative"},
      {"code 3", Answer::Json("{\"code\":\"3\",\"msg\":\"busy\"}"), "CClientInfo::UpdateCheck()-busy"},
      {"refused", Answer::Refused(), "CUtility::"},
      {"404", Answer::Status(404), "CUtility::SendWebRequest_POST() -- FAILED"},
      {"500", Answer::Status(500), "CUtility::SendWebRequest_POST() -- FAILED"},
      {"garbage", Answer::Raw("<html>Sign in</html>"), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"truncated", Answer::Truncated(good), "CUtility::"},
      {"broken read", Answer::BrokenRead(good), "CUtility::"},
      {"empty body", Answer::Raw(""), "CUtility::TransformData_Decrypt() -- FAILED"},
      // Deciphered but not an answer: nothing in it may overwrite the record.
      // (An envelope of nothing may already fail to decipher.)
      {"empty text", Answer::Json(""), "CClientInfo::UpdateCheck()-"},
      {"not JSON", Answer::Json("code=0"), "The answer is not a JSON object"},
      {"cut JSON", Answer::Json(good.substr(0, 30)), "The answer is not a JSON object"},
      {"array", Answer::Json("[\"code\",\"0\"]"), "The answer is not a JSON object"},
  };
  for (const auto& row : rows) {
    Check(Answer::Json(good));
    ASSERT_TRUE(record_.upload_logs);
    Check(row.answer);
    EXPECT_EQ("http://m/1-0-8", record_.mv_url) << row.what;
    EXPECT_TRUE(record_.upload_logs) << row.what;
    EXPECT_EQ("0", record_.code) << row.what;
    EXPECT_TRUE(Logged(row.logged)) << row.what << LogText();
    EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()----END---")) << row.what;
  }
}

TEST_F(UpdateCheck, AnEmptyUrlReturnsSilentlyAfterTheTransform) {
  ClearLog();
  client_.UpdateCheck("", record_);
  EXPECT_TRUE(farm_.requests.empty());
  EXPECT_EQ(1u, CountLogged("CClientInfo::UpdateCheck()----START---"));
  EXPECT_EQ(0u, CountLogged("---END---"));
  EXPECT_EQ(0u, CountLogged("query="));
  EXPECT_EQ("", record_.code);
}

}  // namespace
