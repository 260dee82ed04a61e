// The client against the running reference web farm: the first call, the
// metadata load and the update check over the real HTTP backend (libcurl on
// Linux, WinINet under Wine), the request texts as the farm deciphered them,
// and every fault the farm can inject.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "files/test_env.h"
#include "service/registry.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

using webfarm_testing::CWebFarm;
using webfarm_testing::FarmRequest;

class ClientFarm : public files_testing::EnvFixture {
 protected:
  void SetUp() override {
    files_testing::EnvFixture::SetUp();
    std::string error;
    farm_ = CWebFarm::Start(&error);
    if (farm_ == nullptr) GTEST_SKIP() << error;
    // The farm is reached through the test host, as a deployed client reaches
    // the test web farm.
    SetRegValue_String(kServiceKey, "TestHost", farm_->hostPort());
    SetRegValue_String(kServiceKey, "UseStaging", "2");
    SetServiceDword("HttpTimeoutMs", 1500);  // the stall fault waits longer
    SetRegValue_String(kProductKey, RegValueNames[kComputerID], "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}");
    SetRegValue_String(kProductKey, RegValueNames[kProductNumber], "INK-100");
    SetRegValue_String(kProductKey, RegValueNames[kCurrentVersion], "1.0.5");
    client_.strOSName = "Windows 7 Ultimate, 64-bit";
    client_.strLocale = "en-us";
  }
  void TearDown() override {
    farm_.reset();
    files_testing::EnvFixture::TearDown();
  }

  std::string Service(int row) { return GetRegValue_String(kServiceKey, RegValueNames[row], false); }
  std::string Product(int row) { return GetRegValue_String(kProductKey, RegValueNames[row], false); }
  // Every value the first call, the load or the check may write.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> values;
    for (int row : {kUpdateFreq, kLastCheck, kMetadataVer, kPostInstUrl, kUpdateCheckUrl, kUsgLogUrl,
                    kCrashLogUrl, kDefinitionUrl}) {
      values[RegValueNames[row]] = Service(row);
    }
    values["NextVersion"] = Product(kNextVersion);
    values["NextVersionURL"] = Product(kNextVersionURL);
    return values;
  }
  std::vector<FarmRequest> Of(const std::string& role, const std::string& method) {
    std::vector<FarmRequest> list;
    for (const auto& r : farm_->Requests()) {
      if (r.role == role && r.method == method) list.push_back(r);
    }
    return list;
  }

  std::unique_ptr<CWebFarm> farm_;
  CClientInfo client_;
};

TEST_F(ClientFarm, FirstCallAndMetadataLoadStoreEverySetting) {
  const std::string mvUrl = client_.MakeFirstCall();
  EXPECT_EQ(farm_->url("/Teko/metadata/1-0-7"), mvUrl);
  ASSERT_TRUE(client_.IsNewMetadata(mvUrl));
  ASSERT_TRUE(client_.LoadMetadataFromServer(mvUrl)) << LogText();
  EXPECT_EQ("1", Service(kUpdateFreq));
  EXPECT_EQ(8u, Service(kLastCheck).size());
  EXPECT_EQ("1-0-7", Service(kMetadataVer));
  EXPECT_EQ(farm_->url("/Teko/puc"), Service(kPostInstUrl));
  EXPECT_EQ(farm_->url("/Teko/uc"), Service(kUpdateCheckUrl));
  EXPECT_EQ(farm_->url("/Teko/usage"), Service(kUsgLogUrl));
  EXPECT_EQ(farm_->url("/Teko/crash"), Service(kCrashLogUrl));
  EXPECT_EQ(farm_->url("/Teko/definitions.xml"), Service(kDefinitionUrl));
  EXPECT_EQ("1.0.10", Product(kNextVersion));
  EXPECT_EQ(farm_->url("/downloads/InkoraSetup-1.0.10.exe"), Product(kNextVersionURL));
  EXPECT_FALSE(client_.IsNewMetadata(mvUrl));

  // The first-call text arrives byte for byte as the client wrote it.
  const auto calls = Of("first_call", "GET");
  ASSERT_EQ(1u, calls.size());
  EXPECT_TRUE(calls[0].readable);
  EXPECT_EQ(client_.BuildFirstCallData(), calls[0].payload);
}

TEST_F(ClientFarm, NextVersionOnlyWhenTheFarmsProductIsNewer) {
  for (const char* current : {"1.0.10", "1.0.11", "2.0"}) {
    SetRegValue_String(kProductKey, RegValueNames[kCurrentVersion], current);
    SetRegValue_String(kProductKey, RegValueNames[kNextVersion], "stale");
    ASSERT_TRUE(client_.LoadMetadataFromServer(farm_->url("/Teko/metadata/1-0-7")));
    EXPECT_EQ("", Product(kNextVersion)) << current;
    EXPECT_EQ("", Product(kNextVersionURL)) << current;
  }
}

TEST_F(ClientFarm, UpdateCheckPostsItsTextAndStoresTheAnswer) {
  SetRegValue_String(kServiceKey, RegValueNames[kMetadataVer], "1-0-7");
  client_.getComputerID();
  UpdateResultRecord record;
  client_.UpdateCheck(farm_->url("/Teko/uc"), record);
  EXPECT_EQ("0", record.code);
  EXPECT_EQ(farm_->url("/Teko/metadata/1-0-7"), record.mv_url);
  EXPECT_TRUE(record.upload_logs);
  EXPECT_TRUE(record.crash_logs);
  const auto posts = Of("update_check", "POST");
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(client_.BuildUpdateCheckData(), posts[0].payload);
  EXPECT_EQ(1u, Of("update_check", "GET").size());  // the status probe

  // A code above 0 is logged with its message and ends the check.
  ASSERT_TRUE(farm_->SetAnswers(
      "{\"code\":\"3\",\"msg\":\"come back later\",\"mv_url\":\"@BASE@/Teko/metadata/1-0-8\"}"));
  UpdateResultRecord refused;
  ClearLog();
  client_.UpdateCheck(farm_->url("/Teko/uc"), refused);
  EXPECT_TRUE(Logged("come back later")) << LogText();
  EXPECT_EQ("", refused.mv_url);
  EXPECT_FALSE(refused.upload_logs);
}

// Every fault of every endpoint ends in a failure result and a log line, and
// nothing already stored changes.
TEST_F(ClientFarm, EveryFaultOfEveryEndpointFailsCleanly) {
  ASSERT_TRUE(client_.LoadMetadataFromServer(farm_->url("/Teko/metadata/1-0-7")));
  SetRegValue_String(kProductKey, RegValueNames[kCurrentVersion],
                     "1.0.1");  // a load would change NextVersion
  const auto before = Snapshot();
  const char* modes[] = {"refuse", "404", "500", "garbage", "truncated", "stall", "oversized"};
  for (const char* mode : modes) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(farm_->Reset());
    ASSERT_TRUE(farm_->SetFault("any", mode, -1, 2500));
#if defined(_WIN32)
    // Wine's WinINet gives the request that InternetOpenUrlA makes no receive
    // time-out of its own (Windows hands down the root's), so under Wine a
    // stalled GET waits for the farm; the POST carries its own and times out.
    const bool getTimesOut = std::string(mode) != "stall";
#else
    const bool getTimesOut = true;
#endif
    if (getTimesOut) {
      ClearLog();
      EXPECT_EQ("", client_.MakeFirstCall());
      EXPECT_TRUE(Logged("CClientInfo::MakeFirstCall()-")) << LogText();

      ClearLog();
      EXPECT_FALSE(client_.LoadMetadataFromServer(farm_->url("/Teko/metadata/1-0-7")));
      EXPECT_TRUE(Logged("LoadMetadataFromServer()-")) << LogText();
    }

    UpdateResultRecord record;
    record.mv_url = "kept";
    ClearLog();
    client_.UpdateCheck(farm_->url("/Teko/uc"), record);
    EXPECT_EQ("kept", record.mv_url);
    EXPECT_TRUE(Logged("CClientInfo::UpdateCheck()-")) << LogText();
    EXPECT_EQ(before, Snapshot());
  }
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
