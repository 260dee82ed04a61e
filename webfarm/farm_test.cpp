// The web farm's rules the client and end-to-end runs do not reach: per-endpoint
// answers, refused envelopes and paths, faults by count, the strict mode.
#include "webfarm/farm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "files/utility.h"

namespace {

namespace fs = std::filesystem;

std::string Query(const std::string& json) {
  std::string encoded;
  CUtility::TransformDataToSend(json, encoded);
  return "query=" + encoded;
}

class FarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(farm_.PutStateFile("metadata.json",
                                   "{\"uc_url\":\"http://h:1/Teko/uc\",\"log_url\":\"http://h:1/Teko/"
                                   "usage\",\"cr_url\":\"http://h:1/Teko/crash\"}",
                                   &error));
    ASSERT_TRUE(farm_.PutStateFile("answers.json", "{\"usage\":{\"code\":\"3\"}}", &error));
  }
  void TearDown() override { fs::remove_all(state_); }
  webfarm::Reply Call(const std::string& method, const std::string& path, const std::string& body) {
    webfarm::Fault fault;
    return farm_.Handle(method, path, "", body, &fault);
  }
  std::string state_ =
      (fs::temp_directory_path() / ("inkora-farm-test-" + std::to_string(std::random_device()()))).string();
  webfarm::CFarm farm_{state_};
};

TEST_F(FarmTest, AnswersPerEndpointRefusesWhatItCannotReadFaultsByCountAndStrictMode) {
  std::string text;
  ASSERT_TRUE(CUtility::TransformData_Decrypt(Call("POST", "/Teko/usage", Query("log text")).body, text));
  EXPECT_NE(std::string::npos, text.find("\"code\" : \"3\""));
  EXPECT_EQ(404, Call("GET", "/elsewhere", "").status);
  EXPECT_EQ(400, Call("POST", "/Teko/uc", "query=%%%not-an-envelope").status);
  EXPECT_EQ(400, Call("POST", "/Teko/usage", "no=query").status);

  std::string error;
  ASSERT_TRUE(farm_.SetFault("{\"endpoint\":\"update_check\",\"mode\":\"500\",\"count\":1}", &error));
  EXPECT_EQ(200, Call("POST", "/Teko/uc", Query("{}")).status);  // a status fault hits the probe
  EXPECT_EQ(500, Call("GET", "/Teko/uc", "").status);
  EXPECT_EQ(200, Call("GET", "/Teko/uc", "").status);  // the count is spent
  for (const char* name : {"../x", "a/b", ".hidden", ""}) EXPECT_FALSE(farm_.PutStateFile(name, "x", &error));

  farm_.Reset();
  ASSERT_TRUE(
      farm_.Expect("{\"requests\":[{\"role\":\"update_check\",\"method\":\"POST\"},{\"role\":\"usage\","
                   "\"method\":\"POST\"}]}",
                   &error));
  EXPECT_EQ(200, Call("GET", "/Teko/uc", "").status);  // probes are not counted
  EXPECT_EQ(500, Call("POST", "/Teko/crash", Query("x")).status);
  bool ok = true;
  const std::string verdict = farm_.VerifyJson(&ok);
  EXPECT_FALSE(ok);
  EXPECT_NE(verdict.find("expected POST update_check, got POST crash /Teko/crash"), std::string::npos);
  EXPECT_NE(verdict.find("never came: POST usage"), std::string::npos);
}

}  // namespace
