// The web farm's own rules: which endpoint a request is, the envelope both
// ways, the strict mode's bookkeeping, faults by count, refused state names;
// then the real process through the fixture.
#include "webfarm/farm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "json/reader.h"
#include "transport/utility.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

namespace fs = std::filesystem;

class FarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    state_ = (fs::temp_directory_path() / ("inkora-farm-test-" + std::to_string(random()))).string();
    farm_.reset(new webfarm::CFarm(state_));
    std::string error;
    ASSERT_TRUE(farm_->PutStateFile(
        "metadata.json",
        "{\"mv_ver\":\"1-0-7\",\"uc_url\":\"http://h:1/Teko/uc\",\"log_url\":\"http://h:1/"
        "Teko/usage\",\"cr_url\":\"http://h:1/Teko/crash\",\"puc_url\":\"http://h:1/Teko/"
        "puc\",\"df_url\":\"http://h:1/Teko/defs.xml\"}",
        &error));
    ASSERT_TRUE(farm_->PutStateFile("answers.json",
                                    "{\"mv_url\":\"http://h:1/Teko/metadata/1-0-7\",\"upload_logs\":\"true\","
                                    "\"usage\":{\"code\":\"3\",\"msg\":\"later\"}}",
                                    &error));
    ASSERT_TRUE(farm_->PutStateFile("defs.xml", "<symbols version=\"2.0\"/>", &error));
  }
  void TearDown() override { fs::remove_all(state_); }

  static std::string Query(const std::string& json) {
    std::string encoded;
    EXPECT_TRUE(CUtility::TransformDataToSend(json, encoded));
    return "query=" + encoded;
  }
  static std::string Open(const std::string& body) {
    std::string text;
    EXPECT_TRUE(CUtility::TransformData_Decrypt(body, text)) << body.substr(0, 40);
    return text;
  }
  webfarm::Reply Call(const std::string& method, const std::string& path, const std::string& query,
                      const std::string& body, webfarm::Fault* fault = nullptr) {
    webfarm::Fault local;
    return farm_->Handle(method, path, query, body, fault ? fault : &local);
  }

  std::string state_;
  std::unique_ptr<webfarm::CFarm> farm_;
};

TEST_F(FarmTest, AnswersEachEndpointInTheEnvelope) {
  webfarm::Reply first = Call("GET", "/Teko/UC.hsh", Query("{\"cid\":\"x\"}"), "");
  ASSERT_EQ(first.status, 200);
  json::Object answer;
  json::Reader::Read(answer, Open(first.body));
  EXPECT_EQ(json::json_cast<json::String&>(answer["mv_url"]).Value(), "http://h:1/Teko/metadata/1-0-7");

  webfarm::Reply check = Call("POST", "/Teko/uc", "", Query("{\"mv_ver\":\"1-0-6\"}"));
  json::Reader::Read(answer, Open(check.body));
  EXPECT_EQ(json::json_cast<json::String&>(answer["upload_logs"]).Value(), "true");
  EXPECT_EQ(json::json_cast<json::String&>(answer["crash_logs"]).Value(), "false");

  // Per-endpoint members replace the defaults.
  webfarm::Reply usage = Call("POST", "/Teko/usage", "", Query("log text"));
  json::Reader::Read(answer, Open(usage.body));
  EXPECT_EQ(json::json_cast<json::String&>(answer["code"]).Value(), "3");

  EXPECT_EQ(Call("GET", "/Teko/uc", "", "").body, "OK");  // the status probe
  EXPECT_NE(Open(Call("GET", "/Teko/metadata/1-0-7", "", "").body).find("\"mv_ver\":\"1-0-7\""),
            std::string::npos);
  EXPECT_EQ(Call("GET", "/Teko/defs.xml", "", "").body, "<symbols version=\"2.0\"/>");
  EXPECT_EQ(Call("GET", "/elsewhere", "", "").status, 404);
  EXPECT_EQ(Call("POST", "/Teko/uc", "", "query=%%%not-an-envelope").status, 400);

  const std::string records = farm_->RequestsJson();
  EXPECT_NE(records.find("\"payload\" : \"log text\""), std::string::npos);
  EXPECT_NE(records.find("\"readable\" : false"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(state_ + "/received"), fs::directory_iterator()), 8);
}

TEST_F(FarmTest, FaultsApplyByCountAndStatusFaultsHitTheProbe) {
  std::string error;
  ASSERT_TRUE(farm_->SetFault("{\"endpoint\":\"update_check\",\"mode\":\"500\",\"count\":1}", &error));
  webfarm::Fault fault;
  EXPECT_EQ(Call("POST", "/Teko/uc", "", Query("{}"), &fault).status, 200);  // not the POST itself
  EXPECT_EQ(Call("GET", "/Teko/uc", "", "").status, 500);
  EXPECT_EQ(Call("GET", "/Teko/uc", "", "").status, 200);  // the count is spent

  ASSERT_TRUE(farm_->SetFault("{\"endpoint\":\"any\",\"mode\":\"truncated\"}", &error));
  fault = webfarm::Fault();
  Call("GET", "/Teko/UC.hsh", Query("{}"), "", &fault);
  EXPECT_EQ(fault.mode, webfarm::FaultMode::kTruncated);

  const struct {
    const char* body;
    const char* error;
  } refused[] = {{"not json", "a JSON object is expected"},
                 {"{\"endpoint\":\"usage\",\"mode\":\"slow\"}", "unknown mode"},
                 {"{\"endpoint\":\"nowhere\",\"mode\":\"500\"}", "unknown endpoint"}};
  for (const auto& r : refused) {
    EXPECT_FALSE(farm_->SetFault(r.body, &error));
    EXPECT_EQ(error, r.error);
  }
  for (const char* name : {"../x", "a/b", ".hidden", ""})
    EXPECT_FALSE(farm_->PutStateFile(name, "x", &error)) << name;
}

TEST_F(FarmTest, StrictModeRefusesTheUnexpectedAndReportsWhatNeverCame) {
  std::string error;
  ASSERT_TRUE(farm_->Expect(
      "{\"requests\":[{\"role\":\"first_call\",\"method\":\"GET\"},"
      "{\"role\":\"update_check\",\"method\":\"POST\"},{\"role\":\"usage\",\"method\":\"POST\"}]}",
      &error));
  webfarm::Fault fault;
  EXPECT_EQ(Call("GET", "/Teko/UC.hsh", Query("{}"), "", &fault).status, 200);
  EXPECT_EQ(Call("GET", "/Teko/uc", "", "").status, 200);  // probes are not counted
  fault = webfarm::Fault();
  EXPECT_EQ(Call("POST", "/Teko/crash", "", Query("x"), &fault).status, 500);
  bool ok = true;
  const std::string verdict = farm_->VerifyJson(&ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(verdict.find("expected POST update_check, got POST crash /Teko/crash"), std::string::npos);
  EXPECT_NE(verdict.find("never came: POST usage"), std::string::npos);
  farm_->Reset();
  farm_->VerifyJson(&ok);
  EXPECT_TRUE(ok);
}

// The real process over HTTP, as the other suites use it.
TEST(WebFarmProcess, FixtureDrivesARunningFarm) {
  std::string error;
  std::unique_ptr<webfarm_testing::CWebFarm> farm = webfarm_testing::CWebFarm::Start(&error);
  ASSERT_TRUE(farm) << error;
  std::unique_ptr<platform::Env> env = platform::NewIsolatedEnv(fs::temp_directory_path().string());
  platform::ScopedDefaultEnv scoped(env.get());

  std::string body;
  ASSERT_TRUE(CUtility::SendWebRequest_GET(farm->url("/Teko/metadata/1-0-7"), body));
  std::string metadata;
  ASSERT_TRUE(CUtility::TransformData_Decrypt(body, metadata));
  EXPECT_NE(metadata.find(farm->url("/Teko/uc")), std::string::npos);

  std::string encoded;
  ASSERT_TRUE(CUtility::TransformDataToSend("usage log\r\nline 2", encoded));
  ASSERT_TRUE(CUtility::SendWebRequest_POST(false, farm->url("/Teko/usage"), "query=" + encoded, body));
  const std::vector<webfarm_testing::FarmRequest> requests = farm->Requests();
  ASSERT_EQ(requests.size(), 3u);  // GET metadata, the probe, the POST
  EXPECT_EQ(requests[2].role, "usage");
  EXPECT_EQ(requests[2].payload, "usage log\r\nline 2");

  ASSERT_TRUE(farm->Stop());
  EXPECT_TRUE(CUtility::SendWebRequest_GET(farm->url("/Teko/metadata/1-0-7"), body));
  EXPECT_EQ(body, "");  // nobody listens: an empty body
  ASSERT_TRUE(farm->Restart());
  ASSERT_TRUE(farm->Reset());
  std::string problems;
  EXPECT_TRUE(farm->Verify(&problems)) << problems;
}

}  // namespace
