// The web farm's rules: which endpoint a request is, the envelope both ways,
// faults by count, the strict mode and refused control input. The running
// process is driven through its fixture by the client and end-to-end suites.
#include "webfarm/farm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "transport/utility.h"

namespace {

namespace fs = std::filesystem;

std::string Query(const std::string& json) {
  std::string encoded;
  CUtility::TransformDataToSend(json, encoded);
  return "query=" + encoded;
}
std::string Open(const std::string& body) {
  std::string text;
  return CUtility::TransformData_Decrypt(body, text) ? text : body;
}

class FarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ =
        (fs::temp_directory_path() / ("inkora-farm-test-" + std::to_string(std::random_device()()))).string();
    farm_ = std::make_unique<webfarm::CFarm>(state_);
    std::string error;
    ASSERT_TRUE(farm_->PutStateFile(
        "metadata.json",
        "{\"mv_ver\":\"1-0-7\",\"uc_url\":\"http://h:1/Teko/uc\",\"log_url\":\"http://h:1/"
        "Teko/usage\",\"cr_url\":\"http://h:1/Teko/crash\",\"df_url\":\"http://h:1/d.xml\"}",
        &error));
    ASSERT_TRUE(farm_->PutStateFile(
        "answers.json", "{\"mv_url\":\"http://h:1/Teko/meta/now\",\"usage\":{\"code\":\"3\"}}", &error));
    ASSERT_TRUE(farm_->PutStateFile("d.xml", "<symbols version=\"2.0\"/>", &error));
  }
  void TearDown() override { fs::remove_all(state_); }
  webfarm::Reply Call(const std::string& method, const std::string& path, const std::string& query,
                      const std::string& body, webfarm::Fault* fault = nullptr) {
    webfarm::Fault local;
    return farm_->Handle(method, path, query, body, fault ? fault : &local);
  }
  std::string state_;
  std::unique_ptr<webfarm::CFarm> farm_;
};

TEST_F(FarmTest, AnswersEachEndpointInTheEnvelope) {
  const struct {
    const char *method, *path;
    std::string query, body;
    int status;
    const char* answer;  // a part of the (deciphered) body
  } rows[] = {{"GET", "/Teko/UC.hsh", Query("{\"cid\":\"x\"}"), "", 200, "\"http://h:1/Teko/meta/now\""},
              {"POST", "/Teko/uc", "", Query("{}"), 200, "\"crash_logs\" : \"false\""},
              {"POST", "/Teko/usage", "", Query("log text"), 200, "\"code\" : \"3\""},  // per endpoint
              {"GET", "/Teko/uc", "", "", 200, "OK"},                                   // the status probe
              {"GET", "/Teko/meta/now", "", "", 200, "\"mv_ver\":\"1-0-7\""},  // where the answers send it
              {"GET", "/Teko/metadata/1-0-7", "", "", 404, ""},
              {"GET", "/d.xml", "", "", 200, "<symbols version=\"2.0\"/>"},
              {"GET", "/elsewhere", "", "", 404, ""},
              {"POST", "/Teko/uc", "", "query=%%%not-an-envelope", 400, ""},
              {"POST", "/Teko/usage", "", "no=query", 400, ""}};
  for (const auto& r : rows) {
    const webfarm::Reply reply = Call(r.method, r.path, r.query, r.body);
    EXPECT_EQ(r.status, reply.status) << r.path;
    EXPECT_NE(std::string::npos, Open(reply.body).find(r.answer)) << r.path << ": " << Open(reply.body);
    EXPECT_EQ(std::string::npos, reply.body.find('\0')) << r.path;
  }
  const std::string records = farm_->RequestsJson();
  auto count = [&records](const std::string& part) {
    size_t n = 0;
    for (size_t at = records.find(part); at != std::string::npos; at = records.find(part, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(1u, count("\"payload\" : \"log text\""));
  EXPECT_EQ(2u, count("\"readable\" : false")) << records;  // the two posts with no envelope
  EXPECT_EQ(std::size(rows), count("\"fault\" : \"\"")) << records;
  EXPECT_EQ(10, std::distance(fs::directory_iterator(state_ + "/received"), fs::directory_iterator()));
}

TEST_F(FarmTest, FaultsByCountStrictModeAndRefusedControlInput) {
  std::string error;
  ASSERT_TRUE(farm_->SetFault("{\"endpoint\":\"update_check\",\"mode\":\"500\",\"count\":1}", &error));
  EXPECT_EQ(200, Call("POST", "/Teko/uc", "", Query("{}")).status);  // a status fault hits the probe
  EXPECT_EQ(500, Call("GET", "/Teko/uc", "", "").status);
  EXPECT_EQ(200, Call("GET", "/Teko/uc", "", "").status);  // the count is spent
  ASSERT_TRUE(farm_->SetFault("{\"endpoint\":\"any\",\"mode\":\"truncated\"}", &error));
  webfarm::Fault fault;
  Call("GET", "/Teko/UC.hsh", Query("{}"), "", &fault);
  EXPECT_EQ(webfarm::FaultMode::kTruncated, fault.mode);
  EXPECT_NE(farm_->RequestsJson().find("\"fault\" : \"truncated\""), std::string::npos);
  for (const char* body : {"not json", "{\"endpoint\":\"usage\",\"mode\":\"slow\"}",
                           "{\"endpoint\":\"nowhere\",\"mode\":\"500\"}"})
    EXPECT_FALSE(farm_->SetFault(body, &error)) << body;
  for (const char* name : {"../x", "a/b", ".hidden", ""})
    EXPECT_FALSE(farm_->PutStateFile(name, "x", &error));

  farm_->Reset();
  ASSERT_TRUE(
      farm_->Expect("{\"requests\":[{\"role\":\"first_call\",\"method\":\"GET\"},{\"role\":\"update_check\","
                    "\"method\":\"POST\"},"
                    "{\"role\":\"usage\",\"method\":\"POST\"}]}",
                    &error));
  EXPECT_EQ(200, Call("GET", "/Teko/UC.hsh", Query("{}"), "").status);
  EXPECT_EQ(200, Call("GET", "/Teko/uc", "", "").status);  // probes are not counted
  EXPECT_EQ(500, Call("POST", "/Teko/crash", "", Query("x")).status);
  bool ok = true;
  const std::string verdict = farm_->VerifyJson(&ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(verdict.find("expected POST update_check, got POST crash /Teko/crash"), std::string::npos);
  EXPECT_NE(verdict.find("never came: POST usage"), std::string::npos);
  farm_->Reset();
  farm_->VerifyJson(&ok);
  EXPECT_TRUE(ok);
}

}  // namespace
