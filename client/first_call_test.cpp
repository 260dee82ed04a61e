// The first call, the metadata load and the answer readers, against the web
// farm faked at the HTTP layer.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/client_test_env.h"
#include "json/elements.h"
#include "json/reader.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace {

using client_testing::Answer;
using client_testing::ClientFixture;
using client_testing::DecodeQuery;

const char kFullMetadata[] =
    "{\"mv_ver\":\"1-0-8\",\"sv_ver\":\"1.0.14.0\",\"in_ver\":\"1.0.10\",\"df_ver\":\"3\","
    "\"uc_url\":\"http://farm.test/uc\",\"puc_url\":\"http://farm.test/puc\",\"log_url\":\"http://farm.test/"
    "log\","
    "\"log_diag\":\"off\",\"uc_freq\":12,\"in_url\":\"http://farm.test/setup-1.0.10.exe\","
    "\"sv_url\":\"http://farm.test/sv\",\"df_url\":\"http://farm.test/df\",\"cr_url\":\"http://farm.test/"
    "cr\"}";

TEST_F(ClientFixture, ParseResultReadsCodeAndMessageAsStrings) {
  const struct {
    const char* text;
    bool ok;
    int code;
    const char* msg;
    const char* logged;  // nullptr: no error line expected
  } rows[] = {
      {"", false, 5, "before", nullptr},
      {"{\"code\":\"7\",\"msg\":\"busy\"}", true, 7, "busy", nullptr},
      {"{\"code\":\" -12x\",\"msg\":\"\"}", true, -12, "", nullptr},
      {"{\"code\":\"99999999999\",\"msg\":\"\"}", true, 2147483647, "", nullptr},
      {"{\"code\":7,\"msg\":\"m\"}", true, 0, "m", "ERROR: Bad json_cast"},
      {"{\"msg\":\"m\"}", true, 0, "m", "ERROR: Bad json_cast"},
      {"[\"code\"]", true, 0, "", "CClientInfo::getResp()-ERROR: "},
      {"<html>", true, 0, "", "CClientInfo::getResp()-ERROR: Unexpected character in stream: <"},
  };
  for (const auto& row : rows) {
    ClearLog();
    ServerResult out;
    out.code = 5;
    out.msg = "before";
    EXPECT_EQ(row.ok, client_.ParseResult(row.text, out)) << row.text;
    EXPECT_EQ(row.code, out.code) << row.text;
    EXPECT_EQ(row.msg, out.msg) << row.text;
    if (row.logged) {
      EXPECT_TRUE(Logged(row.logged)) << row.text << LogText();
    }
  }
}

TEST_F(ClientFixture, NumberReaderTruncatesAndRefusesOtherTypes) {
  const struct {
    const char* text;
    int value;
  } rows[] = {{"{\"n\":3.9}", 3},
              {"{\"n\":-2.5}", -2},
              {"{\"n\":\"12\"}", 0},
              {"{}", 0},
              {"{\"n\":1e999}", 2147483647}};
  for (const auto& row : rows) {
    json::Object object;
    json::Reader::Read(object, row.text);
    EXPECT_EQ(row.value, client_.getResp("n", object)) << row.text;
  }
}

TEST_F(ClientFixture, IsNewMetadataComparesTheLastPathSegment) {
  const struct {
    const char* url;
    const char* stored;
    bool isNew;
  } rows[] = {{"http://farm.test/meta/1-0-7", "1-0-7", false},
              {"http://farm.test/meta/1-0-8", "1-0-7", true},
              {"1-0-8", "1-0-7", true},
              {"", "", false},
              {"http://farm.test/meta/1-0-7", "", true},
              {"http://farm.test/meta/1-0-6", "1-0-7", false},
              {"http://farm.test/meta/1-0-10", "1-0-9", true},
              {"http://farm.test/meta/", "1-0-7", false}};
  for (const auto& row : rows) {
    SetService(kMetadataVer, row.stored);
    ClearLog();
    EXPECT_EQ(row.isNew, client_.IsNewMetadata(row.url)) << row.url << " vs " << row.stored;
  }
  SetService(kMetadataVer, "1-0-7");
  ClearLog();
  client_.IsNewMetadata("http://farm.test/meta/1-0-8");
  EXPECT_TRUE(Logged("strCurrentVer version from web - with dashes replaced with periods:   \t1.0.8"));
  EXPECT_TRUE(Logged("Computers current metadata ver - with dashes replaced with periods:   \t1.0.7"));
}

class FirstCall : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    SetProduct(kComputerID, "{ID}");
    SetProduct(kProductNumber, "P-42");
    client_.strOSName = "Windows 7 Ultimate, 64-bit";
    client_.strLocale = "en-us";
  }
};

TEST_F(FirstCall, SendsThePayloadAndReturnsTheMetadataUrl) {
  farm_.script.push_back(
      Answer::Json("{\"code\":\"0\",\"msg\":\"\",\"mv_url\":\"http://farm.test/meta/1-0-7\"}"));
  EXPECT_EQ("http://farm.test/meta/1-0-7", client_.MakeFirstCall());
  ASSERT_EQ(1u, farm_.requests.size());
  EXPECT_EQ("GET", farm_.requests[0].verb);
  EXPECT_NE(std::string::npos, farm_.requests[0].url.find("/Teko/UC.hsh?query=")) << farm_.requests[0].url;
  EXPECT_EQ(client_.BuildFirstCallData(), DecodeQuery(farm_.requests[0].url));
  EXPECT_TRUE(Logged("CClientInfo::MakeFirstCall()-Server - Decrypted: {\"code\""));
}

TEST_F(FirstCall, OnlyAPositiveCodeIsAnError) {
  const struct {
    const char* answer;
    const char* result;
  } rows[] = {
      {"{\"code\":\"-1\",\"msg\":\"old\",\"mv_url\":\"http://m/1-0-7\"}", "http://m/1-0-7"},
      {"{\"code\":\"3\",\"msg\":\"try later\",\"mv_url\":\"http://m/1-0-7\"}", ""},
      {"{\"msg\":\"\",\"mv_url\":\"http://m/1-0-7\"}", "http://m/1-0-7"},
      {"{\"code\":3,\"mv_url\":\"http://m/1-0-7\"}", "http://m/1-0-7"},  // a number reads as 0
      {"{\"code\":\"0\",\"mv_url\":7}", ""},
  };
  for (const auto& row : rows) {
    farm_.script.push_back(Answer::Json(row.answer));
    ClearLog();
    EXPECT_EQ(row.result, client_.MakeFirstCall()) << row.answer;
  }
  farm_.script.push_back(Answer::Json("{\"code\":\"3\",\"msg\":\"try later\"}"));
  ClearLog();
  client_.MakeFirstCall();
  EXPECT_TRUE(Logged("CClientInfo::MakeFirstCall()-try later"));
}

TEST_F(FirstCall, EveryTransportFaultEndsEmpty) {
  const std::string ok = "{\"code\":\"0\",\"mv_url\":\"http://m/1-0-7\"}";
  const struct {
    const char* what;
    Answer answer;
  } rows[] = {{"refused", Answer::Refused()},
              {"404", Answer::Status(404)},
              {"500", Answer::Status(500)},
              {"garbage", Answer::Raw("<html>Sign in to the hotel network</html>")},
              {"truncated", Answer::Truncated(ok)},
              {"broken read", Answer::BrokenRead(ok)},
              {"empty", Answer::Raw("")}};
  for (const auto& row : rows) {
    farm_.script.push_back(row.answer);
    ClearLog();
    EXPECT_EQ("", client_.MakeFirstCall()) << row.what;
    EXPECT_TRUE(Logged("CClientInfo::MakeFirstCall()-CUtility::TransformData_Decrypt() -- FAILED"))
        << row.what << LogText();
  }
}

class Metadata : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    fake_->now = 1000000000;
    SetProduct(kCurrentVersion, "1.0.5");
  }
  bool Load(const Answer& answer) {
    farm_.script.push_back(answer);
    ClearLog();
    return client_.LoadMetadataFromServer("http://farm.test/meta/1-0-8");
  }
  // Every value a load may write.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> values;
    for (int row : {kUpdateFreq, kLastCheck, kMetadataVer, kPostInstUrl, kUpdateCheckUrl, kUsgLogUrl,
                    kCrashLogUrl, kDefinitionUrl}) {
      values[RegValueNames[row]] = HasService(row) ? Service(row) : "<absent>";
    }
    values["NextVersion"] = Product(kNextVersion);
    values["NextVersionURL"] = Product(kNextVersionURL);
    return values;
  }
};

TEST_F(Metadata, StoresEverySettingOfTheDocument) {
  ASSERT_TRUE(Load(Answer::Json(kFullMetadata)));
  EXPECT_EQ("12", Service(kUpdateFreq));
  EXPECT_EQ("3b9aca00", Service(kLastCheck));
  EXPECT_EQ("1-0-8", Service(kMetadataVer));
  EXPECT_EQ("http://farm.test/puc", Service(kPostInstUrl));
  EXPECT_EQ("http://farm.test/uc", Service(kUpdateCheckUrl));
  EXPECT_EQ("http://farm.test/log", Service(kUsgLogUrl));
  EXPECT_EQ("http://farm.test/cr", Service(kCrashLogUrl));
  EXPECT_EQ("http://farm.test/df", Service(kDefinitionUrl));
  EXPECT_EQ("1.0.10", Product(kNextVersion));
  EXPECT_EQ("http://farm.test/setup-1.0.10.exe", Product(kNextVersionURL));
  EXPECT_EQ("1-0-8", client_.strMetadataVer);
  ASSERT_EQ(1u, farm_.requests.size());
  EXPECT_EQ("http://farm.test/meta/1-0-8", farm_.requests[0].url);
  EXPECT_TRUE(Logged(
      "\n--Using JSON Obj---\nmv_ver:1-0-8\nsv_ver:1.0.14.0\nin_ver:1.0.10\ndf_ver:3\n"
      "uc_url:http://farm.test/uc\npuc_url:http://farm.test/puc\nlog_url:http://farm.test/log\n"
      "log_diag:off\nuc_freq:12\nin_url:http://farm.test/setup-1.0.10.exe\nsv_url:http://farm.test/sv\n"
      "df_url:http://farm.test/df\ncr_url:http://farm.test/cr\n"))
      << LogText();
  EXPECT_TRUE(Logged("LoadMetadataFromServer()-\nstrVersionCurr: 1.0.5\nstrVersionNew: 1.0.10"));
  EXPECT_TRUE(Logged("LoadMetadataFromServer()-New version found..."));
}

TEST_F(Metadata, NextVersionOnlyForANewerProduct) {
  const struct {
    const char* current;  // nullptr: CurrentVersion absent
    const char* candidate;
    bool next;
  } rows[] = {{"1.0.5", "1.0.10", true}, {"1.0.5", "1.0.5", false}, {"1.0.5", "1.0", false},
              {"1.0.5", "1.0.4", false}, {nullptr, "2.0", false},   {"1.0.5", "", false}};
  for (const auto& row : rows) {
    DeleteRegValue(kProductKey, "CurrentVersion");
    if (row.current) SetProduct(kCurrentVersion, row.current);
    SetProduct(kNextVersion, "stale");
    SetProduct(kNextVersionURL, "stale");
    ASSERT_TRUE(Load(Answer::Json(std::string("{\"mv_ver\":\"1-0-8\",\"in_ver\":\"") + row.candidate +
                                  "\",\"in_url\":\"http://farm.test/setup.exe\"}")));
    EXPECT_EQ(row.next ? row.candidate : "", Product(kNextVersion)) << row.candidate;
    EXPECT_EQ(row.next ? "http://farm.test/setup.exe" : "", Product(kNextVersionURL)) << row.candidate;
  }
}

TEST_F(Metadata, FrequencyDefaultsTo24) {
  const struct {
    const char* member;
    const char* stored;
  } rows[] = {{"\"uc_freq\":0", "24"},  {"\"uc_freq\":\"12\"", "24"}, {"\"other\":1", "24"},
              {"\"uc_freq\":-5", "-5"}, {"\"uc_freq\":7.8", "7"},     {"\"uc_freq\":null", "24"}};
  for (const auto& row : rows) {
    ASSERT_TRUE(Load(Answer::Json(std::string("{") + row.member + "}")));
    EXPECT_EQ(row.stored, Service(kUpdateFreq)) << row.member;
  }
}

TEST_F(Metadata, AMemberLessDocumentClearsUrlsButKeepsTheMetadataVersion) {
  SetService(kMetadataVer, "1-0-7");
  SetService(kUpdateCheckUrl, "http://old/uc");
  SetProduct(kNextVersion, "9.9");
  ASSERT_TRUE(Load(Answer::Json("{\"uc_url\":5}")));
  EXPECT_EQ("1-0-7", Service(kMetadataVer));
  EXPECT_EQ("", Service(kUpdateCheckUrl));
  EXPECT_TRUE(HasService(kUpdateCheckUrl));
  EXPECT_EQ("", Product(kNextVersion));
  EXPECT_TRUE(Logged("CClientInfo::getResp()-ERROR: Bad json_cast"));
}

TEST_F(Metadata, ABadDocumentWritesNothing) {
  ASSERT_TRUE(Load(Answer::Json(kFullMetadata)));
  SetProduct(kCurrentVersion, "1.0.1");  // would change NextVersion if anything were stored
  fake_->now = 1100000000;
  const auto before = Snapshot();
  json::Object metadataBefore = client_.objMetadata;

  const std::string cut = std::string(kFullMetadata).substr(0, 60);
  const struct {
    const char* what;
    Answer answer;
    const char* logged;
  } rows[] = {
      {"refused", Answer::Refused(), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"404", Answer::Status(404), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"500", Answer::Status(500), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"garbage", Answer::Raw("<html>Sign in</html>"), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"truncated body", Answer::Truncated(kFullMetadata), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"broken read", Answer::BrokenRead(kFullMetadata), "CUtility::TransformData_Decrypt() -- FAILED"},
      {"not JSON", Answer::Json("mv_ver=1-0-9"), "ERROR: Unexpected character in stream: m"},
      {"JSON cut short", Answer::Json(cut), "ERROR: "},
      {"root is an array", Answer::Json("[\"mv_ver\",\"1-0-9\"]"), "ERROR: "},
      {"root is a string", Answer::Json("\"1-0-9\""), "ERROR: "},
      {"duplicate member", Answer::Json("{\"mv_ver\":\"1-0-9\",\"mv_ver\":\"1-1-0\"}"),
       "ERROR: Duplicate object member token: mv_ver"},
      {"trailing text", Answer::Json("{\"mv_ver\":\"1-0-9\"} {}"),
       "ERROR: Expected End of token stream; found "},
  };
  for (const auto& row : rows) {
    EXPECT_FALSE(Load(row.answer)) << row.what;
    EXPECT_EQ(before, Snapshot()) << row.what;
    EXPECT_TRUE(client_.objMetadata == metadataBefore) << row.what;
    EXPECT_TRUE(Logged(std::string("CClientInfo::LoadMetadataFromServer()-") + row.logged))
        << row.what << LogText();
  }
}

}  // namespace
