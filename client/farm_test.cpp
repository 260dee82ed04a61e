// The client against the running reference web farm: the first call, the
// metadata load and the update check over the real HTTP backend (libcurl on
// Linux, WinINet under Wine), the request texts as the farm deciphered them,
// and every fault the farm can inject.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE)

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "files/test_env.h"
#include "settings/registry.h"
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

// The three log kinds uploaded to the farm's own upload URLs, for each answer
// bucket; then the farm failing one of three uploads.
struct Kind {
  LogTypes type;
  const char* role;  // the farm's name for its endpoint
  const char* path;
  const char* ext;
  const char* base;
  bool renamed;  // done with: ".old" (usage, installer) or deleted (crash)
};

class UploadFarm : public ClientFarm {
 protected:
  void SetUp() override {
    ClientFarm::SetUp();
    if (farm_ == nullptr) return;
    Put(IdentityFile(), "CID=" + std::string(kGuid) + "\r\nUID=user-7\r\n");
    SetRegValue_String(kProductKey, RegValueNames[kComputerID], kGuid);
  }
  static constexpr const char* kGuid = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
  std::string LogPath(const std::string& name) { return LogFolder() + "\\" + name; }
  std::string OldPath(const std::string& name) { return LogPath(name.substr(0, name.rfind('.')) + ".old"); }
  static std::string Content(const std::string& tag) {
    return "{\"cid\":\"\",\"uid\":\"\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
  }
  // As the farm stores it: repaired, and for installer logs without CR, LF, tab.
  static std::string Sent(const Kind& kind, const std::string& tag) {
    std::string text =
        "{\"cid\":\"" + std::string(kGuid) + "\",\"uid\":\"user-7\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
    if (kind.type != LogTypes::Installer) return text;
    std::string out;
    for (char c : text) {
      if (c != '\r' && c != '\n' && c != '\t') out += c;
    }
    return out;
  }
};

const Kind kFarmKinds[] = {
    {LogTypes::Usage, "usage", "/Teko/usage", ".jlog", "session", true},
    {LogTypes::Installer, "installer", "/Teko/puc", ".log", "InkoraInstall_", true},
    {LogTypes::Inkora_Crash, "crash", "/Teko/crash", ".err", "crash", false},
};

TEST_F(UploadFarm, EachKindAndBucketLeavesTheFilesAsTheAnswerSays) {
  const struct {
    int code;
    bool done;
  } buckets[] = {{-1, true}, {0, true}, {50, false}, {500, true}, {5000, true}};
  for (const Kind& kind : kFarmKinds) {
    for (const auto& bucket : buckets) {
      SCOPED_TRACE(std::string(kind.role) + " code " + std::to_string(bucket.code));
      ASSERT_TRUE(farm_->Reset());
      ASSERT_TRUE(farm_->SetAnswers("{\"" + std::string(kind.role) + "\":{\"code\":\"" +
                                    std::to_string(bucket.code) + "\"}}"));
      const std::string name = kind.base + std::string("1") + kind.ext;
      env_->DeleteFile(OldPath(name));
      Put(LogPath(name), Content(kind.role));

      EXPECT_EQ(bucket.done ? 1 : 0, client_.UploadLogFiles(farm_->url(kind.path), kind.type));

      const auto posts = Of(kind.role, "POST");
      ASSERT_EQ(1u, posts.size());
      EXPECT_TRUE(posts[0].readable);
      EXPECT_EQ(Sent(kind, kind.role), posts[0].payload);
      if (!bucket.done) {
        EXPECT_TRUE(Exists(LogPath(name)));  // kept for a later pass
      } else if (kind.renamed) {
        EXPECT_FALSE(Exists(LogPath(name)));
        EXPECT_TRUE(Exists(OldPath(name)));
      } else {
        EXPECT_FALSE(Exists(LogPath(name)));
        EXPECT_FALSE(Exists(OldPath(name)));
      }
      env_->DeleteFile(LogPath(name));
      env_->DeleteFile(OldPath(name));
    }
  }
}

// A log far larger than a form field of a small web server: it must reach the
// farm whole and be retired only then.
TEST_F(UploadFarm, ALargeLogArrivesWhole) {
  const Kind& kind = kFarmKinds[0];
  std::string big = Content("large");
  std::string events;
  for (int i = 0; events.size() < (1u << 20); ++i)
    events += ",\"e" + std::to_string(i) + "\":" + std::to_string(i * 7);
  big.insert(big.rfind('}'), events);
  const std::string name = "session-large.jlog";
  Put(LogPath(name), big);
  EXPECT_EQ(1, client_.UploadLogFiles(farm_->url(kind.path), kind.type)) << LogText().substr(0, 2000);
  const auto posts = Of(kind.role, "POST");
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(200, posts[0].status);
  EXPECT_EQ(big.size(), posts[0].payload.size() - (std::string(kGuid).size() + std::string("user-7").size()));
  EXPECT_FALSE(Exists(LogPath(name)));
  EXPECT_TRUE(Exists(OldPath(name)));
}

TEST_F(UploadFarm, NoLogIsLostWhenTheFarmFails) {
  for (const Kind& kind : kFarmKinds) {
    for (const char* mode : {"refuse", "404", "500", "garbage", "truncated"}) {
      SCOPED_TRACE(std::string(kind.role) + " " + mode);
      ASSERT_TRUE(farm_->Reset());
      std::vector<std::string> names;
      for (int i = 0; i < 3; ++i) {
        names.push_back(kind.base + std::to_string(i) + kind.ext);
        env_->DeleteFile(OldPath(names.back()));
        Put(LogPath(names.back()), Content(names.back()));
      }
      // The farm fails one upload (whichever comes first), then takes the rest.
      ASSERT_TRUE(farm_->SetFault(kind.role, mode, 1));

      client_.UploadLogFiles(farm_->url(kind.path), kind.type);

      std::vector<std::string> taken;
      for (const auto& r : Of(kind.role, "POST")) {
        if (r.fault.empty() && r.status == 200) taken.push_back(r.payload);
      }
      size_t remaining = 0, receivedOnly = 0;
      for (const std::string& name : names) {
        const bool present = Exists(LogPath(name));
        const bool received = std::count(taken.begin(), taken.end(), Sent(kind, name)) > 0;
        EXPECT_TRUE(present || received) << name << " is lost";
        remaining += present;
        receivedOnly += !present && received;
      }
      EXPECT_EQ(names.size(), remaining + receivedOnly);
      EXPECT_EQ(1u, remaining);  // only the failed one waits for a later pass
      for (const std::string& name : names) {
        env_->DeleteFile(LogPath(name));
        env_->DeleteFile(OldPath(name));
      }
    }
  }
}

}  // namespace

#endif  // INKORA_HAVE_WEBFARM_FIXTURE
