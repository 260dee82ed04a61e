// The first call, the metadata load and the update check against the web farm
// played by the shared fake: what each answer does to the result and settings.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

using client_testing::Answer;
using platform_testing::Reply;

const char kMetadata[] =
    "{\"mv_ver\":\"1-0-8\",\"in_ver\":\"1.0.10\",\"uc_url\":\"u/uc\",\"puc_url\":\"u/puc\",\"log_url\":\"u/"
    "log\","
    "\"uc_freq\":12,\"in_url\":\"u/setup.exe\",\"df_url\":\"u/df\",\"cr_url\":\"u/cr\"}";
const std::string kGood = client_testing::Sealed("{\"code\":\"0\",\"mv_url\":\"http://m/1-0-8\"}");
// Transport faults: no usable answer, whatever the call.
const Reply kFaults[] = {Reply::Refused(),      Reply::Body("<html>", 404), Reply::Body("<html>", 500),
                         Reply::Body("<html>"), Reply::Truncated(kGood),    Reply::Broken(kGood),
                         Reply::Body("")};

class Answers : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    env_->http.emplace();
    client_testing::PlayFarm(*env_->http);
    env_->now = 1000000000;
    SetFixedField(szServiceVersion, sizeof(szServiceVersion), "1.0.13.0");
    SetProduct("ComputerID", "{ID}");
    SetProduct("CurrentVersion", "1.0.5");
    SetService("MetadataVer", "1-0-7");
    client_.getComputerID();
  }
  void Script(const Reply& reply) {
    env_->http->replies = {reply};
    env_->http->calls.clear();
  }
  bool Load(const Reply& reply) {
    Script(reply);
    return client_.LoadMetadataFromServer("http://farm.test/meta/1-0-8");
  }
  std::map<std::string, std::optional<std::string>> Stored() {
    std::map<std::string, std::optional<std::string>> values;
    for (const char* name : {"UpdateFreq", "LastCheck", "MetadataVer", "PostInstUrl", "UpdateCheckUrl",
                             "UsgLogUrl", "CrashLogUrl", "DefinitionUrl"})
      values[name] = Service(name);
    values["NextVersion"] = Product("NextVersion");
    values["NextVersionURL"] = Product("NextVersionURL");
    return values;
  }
  CClientInfo client_;
};

TEST_F(Answers, FirstCallGivesTheMetadataUrlUnlessACodeAboveZeroSaysNo) {
  const struct {
    const char *answer, *result;
  } rows[] = {{"{\"code\":\"0\",\"mv_url\":\"http://m/1-0-8\"}", "http://m/1-0-8"},
              {"{\"code\":\"-1\",\"mv_url\":\"http://m/1-0-8\"}", "http://m/1-0-8"},
              {"{\"code\":\" 3x\",\"msg\":\"later\",\"mv_url\":\"http://m/1-0-8\"}", ""},
              {"{\"code\":3,\"mv_url\":\"http://m/1-0-8\"}", "http://m/1-0-8"},  // a number is no code
              {"{\"code\":\"0\",\"mv_url\":7}", ""}};
  for (const auto& r : rows) {
    Script(Answer(r.answer));
    EXPECT_EQ(r.result, client_.MakeFirstCall()) << r.answer;
  }
  EXPECT_TRUE(Logged("CClientInfo::MakeFirstCall()-later"));
  const struct {
    const char *url, *stored;
    bool isNew;
  } versions[] = {{"http://m/1-0-7", "1-0-7", false},
                  {"http://m/1-0-10", "1-0-9", true},
                  {"1-0-8", "", true},
                  {"http://m/1-0-6", "1-0-7", false},
                  {"", "", false},
                  {"http://m/", "1", false}};
  for (const auto& r : versions) {
    SetService("MetadataVer", r.stored);
    EXPECT_EQ(r.isNew, client_.IsNewMetadata(r.url)) << r.url << " vs " << r.stored;
  }
}

TEST_F(Answers, MetadataStoresEverySettingAndTheNextVersionOnlyWhenNewer) {
  ASSERT_TRUE(Load(Answer(kMetadata)));
  const std::map<std::string, std::optional<std::string>> all = {
      {"UpdateFreq", "12"},       {"LastCheck", "3b9aca00"},
      {"MetadataVer", "1-0-8"},   {"PostInstUrl", "u/puc"},
      {"UpdateCheckUrl", "u/uc"}, {"UsgLogUrl", "u/log"},
      {"CrashLogUrl", "u/cr"},    {"DefinitionUrl", "u/df"},
      {"NextVersion", "1.0.10"},  {"NextVersionURL", "u/setup.exe"}};
  EXPECT_EQ(all, Stored());
  EXPECT_EQ("http://farm.test/meta/1-0-8", env_->http->calls.at(0).url);
  EXPECT_TRUE(Logged("\nuc_freq:12\nin_url:u/setup.exe\n")) << LogText();  // the document as taken
  const struct {
    const char *current, *document, *next, *freq;  // current nullptr: absent
  } rows[] = {{"1.0.5", "\"in_ver\":\"1.0.5\"", "", "24"},
              {"1.0.5", "\"in_ver\":\"1.0.4\"", "", "24"},
              {nullptr, "\"in_ver\":\"2.0\"", "", "24"},
              {"1.0.5", "\"uc_freq\":\"12\"", "", "24"},
              {"1.0.5", "\"uc_freq\":-5", "", "-5"},
              {"1.0.5", "\"uc_freq\":7.8", "", "7"},
              {"1.0.5", "\"in_ver\":\"1.1\",\"in_url\":\"s\"", "1.1", "24"}};
  for (const auto& r : rows) {
    DeleteRegValue(kProductKey, "CurrentVersion");
    if (r.current) SetProduct("CurrentVersion", r.current);
    ASSERT_TRUE(Load(Answer(std::string("{") + r.document + "}")));
    EXPECT_EQ(r.next, Product("NextVersion")) << r.document;
    EXPECT_EQ(*r.next ? "s" : "", Product("NextVersionURL")) << r.document;
    EXPECT_EQ(r.freq, Service("UpdateFreq")) << r.document;
    EXPECT_EQ("1-0-8", Service("MetadataVer"));  // kept when the document has none
    EXPECT_EQ("", Service("UpdateCheckUrl"));
  }
}

TEST_F(Answers, ABadMetadataDocumentWritesNothing) {
  ASSERT_TRUE(Load(Answer(kMetadata)));
  SetProduct("CurrentVersion", "1.0.1");  // would change NextVersion if anything were stored
  env_->now = 1100000000;
  const auto before = Stored();
  const json::Object document = client_.objMetadata;
  std::vector<Reply> bad(std::begin(kFaults), std::end(kFaults));
  for (const std::string text : {"mv_ver=1-0-9", "{\"mv_ver\":\"1-0-9\"", "[\"mv_ver\"]", "\"1-0-9\"",
                                 "{\"mv_ver\":\"1-0-9\",\"mv_ver\":\"1-1-0\"}", "{\"mv_ver\":\"1-0-9\"} {}"})
    bad.push_back(Answer(text));
  for (const Reply& reply : bad) {
    EXPECT_FALSE(Load(reply)) << reply.body;
    EXPECT_EQ(before, Stored()) << reply.body;
    EXPECT_TRUE(client_.objMetadata == document) << reply.body;
  }
}

TEST_F(Answers, UpdateCheckPostsThePayloadAndOnlyAGoodAnswerReplacesTheRecord) {
  const struct {
    Reply reply;
    const char *mvUrl, *code;
    bool upload, crash;
  } rows[] = {
      {Answer("{\"code\":\"0\",\"mv_url\":\"m\",\"upload_logs\":\"TRUE\",\"crash_logs\":\"true\"}"), "m", "0",
       true, true},
      {Answer("{\"code\":\"0\"}"), "", "0", false, false},
      {Answer("{\"code\":0,\"mv_url\":\"m\"}"), "m", "", false, false},
      {Answer("{\"code\":\"0\",\"upload_logs\":\"1\",\"crash_logs\":\"yes\"}"), "", "0", false, false},
      {Answer("{\"code\":\"0\",\"upload_logs\":\"tRuE\",\"crash_logs\":true}"), "", "0", true, false},
      {Answer("{\"code\":\"0\",\"upload_logs\":\"true \",\"crash_logs\":\"tru\"}"), "", "0", false, false},
      // Refusals, and answers that are no JSON object, keep the record.
      {Answer("{\"code\":\"-2\",\"mv_url\":\"x\"}"), "before", "before", true, true},
      {Answer("{\"code\":\"3\",\"msg\":\"busy\"}"), "before", "before", true, true},
      {Answer("code=0"), "before", "before", true, true},
      {Answer("{\"code\":\"0\",\"mv_url\""), "before", "before", true, true},
      {Answer("[\"code\",\"0\"]"), "before", "before", true, true}};
  for (const auto& r : rows) {
    UpdateResultRecord record{"before", true, true, "before"};
    Script(r.reply);
    client_.UpdateCheck("http://farm.test/Teko/uc.hsh", record);
    EXPECT_EQ(r.mvUrl, record.mv_url) << r.reply.body;
    EXPECT_EQ(r.upload, record.upload_logs) << r.reply.body;
    EXPECT_EQ(r.crash, record.crash_logs) << r.reply.body;
    EXPECT_EQ(r.code, record.code) << r.reply.body;
  }
  EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()-busy"));
  Script(Reply::Body(kGood));
  UpdateResultRecord record;
  client_.UpdateCheck("", record);
  EXPECT_TRUE(env_->http->calls.empty());
}

}  // namespace
