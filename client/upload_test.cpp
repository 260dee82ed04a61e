// Log upload against a web farm faked at the HTTP layer of the Env, so the
// whole road from file to web farm and back is run.
#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/fake_farm.h"
#include "client/upload.h"
#include "files/test_env.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "transport/utility.h"

namespace {

using files_testing::EnvFixture;
using namespace upload_testing;

const char kGuid[] = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
const char kUploadUrl[] = "http://farm.test/Teko/upload.hsh";

struct Kind {
  LogTypes type;
  const char* name;
  const char* fileName;
  bool renamed;  // done with: ".old" (usage, installer) or deleted (crash)
};
const Kind kKinds[] = {
    {LogTypes::Usage, "usage", "session1.jlog", true},
    {LogTypes::Installer, "installer", "InkoraInstall_1.log", true},
    {LogTypes::Inkora_Crash, "crash", "crash1.err", false},
};

class Upload : public EnvFixture {
 protected:
  void SetUp() override {
    EnvFixture::SetUp();
    fake_.reset(new FakeFarmEnv(env_.get(), &farm_));
    scopedFake_.reset(new platform::ScopedDefaultEnv(fake_.get()));
    Put(IdentityFile(), "CID=" + std::string(kGuid) + "\r\nUID=user-7\r\n");
    SetRegValue_String(kProductKey, "ComputerID", kGuid);
  }
  void TearDown() override {
    scopedFake_.reset();
    fake_.reset();
    EnvFixture::TearDown();
  }
  std::string LogPath(const std::string& name) { return LogFolder() + "\\" + name; }
  std::string OldPath(const std::string& name) { return LogPath(name.substr(0, name.rfind('.')) + ".old"); }
  // A log as the product writes it: JSON over several Windows lines, with a tab.
  static std::string Content(const std::string& tag) {
    return "{\"cid\":\"\",\"uid\":\"\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
  }
  static std::string Repaired(const std::string& tag) {
    return "{\"cid\":\"" + std::string(kGuid) + "\",\"uid\":\"user-7\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
  }
  static std::string Stripped(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c != '\r' && c != '\n' && c != '\t') out += c;
    }
    return out;
  }

  FakeFarm farm_;
  std::unique_ptr<FakeFarmEnv> fake_;
  std::unique_ptr<platform::ScopedDefaultEnv> scopedFake_;
  CClientInfo client_;
};

TEST_F(Upload, EachKindAndEachBucketLeavesTheFilesAsTheAnswerSays) {
  struct Bucket {
    int code;
    bool done;
    const char* logLine;  // nullptr: no bucket line
  };
  const Bucket buckets[] = {
      {-1, true, nullptr},
      {0, true, nullptr},
      {50, false, "Bucket 1.  1-99 - retry later"},
      {500, true, "Bucket 2.  100-999"},
      {5000, true, "Bucket 3.  1000+"},
  };
  for (const Kind& kind : kKinds) {
    for (const Bucket& bucket : buckets) {
      SCOPED_TRACE(std::string(kind.name) + " code " + std::to_string(bucket.code));
      env_->DeleteFile(LogPath(kind.fileName));
      env_->DeleteFile(OldPath(kind.fileName));
      Put(LogPath(kind.fileName), Content(kind.name));
      farm_ = FakeFarm();
      farm_.fallback = {Mode::kAnswer, bucket.code};
      ClearLog();

      int handled = client_.UploadLogFiles(kUploadUrl, kind.type);

      EXPECT_EQ(bucket.done ? 1 : 0, handled);
      ASSERT_EQ(1u, farm_.stored.size());
      EXPECT_EQ(0, farm_.unreadable);
      const std::string sent =
          kind.type == LogTypes::Installer ? Stripped(Repaired(kind.name)) : Repaired(kind.name);
      EXPECT_EQ(sent, farm_.stored[0]);
      if (kind.type == LogTypes::Installer) {
        EXPECT_EQ(std::string::npos, farm_.stored[0].find_first_of("\r\n\t"));
      }
      if (!bucket.done) {
        EXPECT_EQ(Repaired(kind.name), Get(LogPath(kind.fileName)));  // kept, repaired, for a later pass
        EXPECT_TRUE(Logged("Failed to upload the log.  Will try again later."));
      } else if (kind.renamed) {
        EXPECT_FALSE(Exists(LogPath(kind.fileName)));
        EXPECT_EQ(Repaired(kind.name), Get(OldPath(kind.fileName)));
      } else {
        EXPECT_FALSE(Exists(LogPath(kind.fileName)));
        EXPECT_TRUE(Logged("Deleting crash log file"));
      }
      if (bucket.logLine) {
        EXPECT_TRUE(Logged(bucket.logLine)) << LogText();
        EXPECT_TRUE(Logged("message " + std::to_string(bucket.code)));
      } else {
        EXPECT_FALSE(Logged("Bucket"));
      }
    }
  }
}

TEST_F(Upload, NoLogIsLostWhenTheWebFarmFails) {
  struct Fault {
    const char* name;
    Mode mode;
  };
  const Fault faults[] = {
      {"refused", Mode::kRefused},     {"404", Mode::kNotFound},       {"garbage", Mode::kGarbage},
      {"truncated", Mode::kTruncated}, {"empty answer", Mode::kEmpty}, {"broken read", Mode::kBrokenRead},
  };
  for (const Kind& kind : kKinds) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(std::string(kind.name) + " " + fault.name);
      // Three logs of the kind; the web farm fails on the second request only.
      const std::string ext = std::string(kind.fileName).substr(std::string(kind.fileName).rfind('.'));
      const std::string base = kind.type == LogTypes::Installer ? "InkoraInstall_" : "log";
      std::vector<std::string> names;
      for (int i = 0; i < 3; ++i) {
        names.push_back(base + std::to_string(i) + ext);
        env_->DeleteFile(OldPath(names.back()));
        Put(LogPath(names.back()), Content(names.back()));
      }
      farm_ = FakeFarm();
      farm_.script = {{Mode::kAnswer, 0}, {fault.mode, 0}, {Mode::kAnswer, 0}};

      client_.UploadLogFiles(kUploadUrl, kind.type);

      // Every log is still there, or the web farm has it.
      size_t remaining = 0, receivedOnly = 0;
      for (const std::string& name : names) {
        bool present = Exists(LogPath(name));
        std::string sent = kind.type == LogTypes::Installer ? Stripped(Repaired(name)) : Repaired(name);
        bool received = std::count(farm_.stored.begin(), farm_.stored.end(), sent) > 0;
        EXPECT_TRUE(present || received) << name;
        remaining += present ? 1 : 0;
        receivedOnly += (!present && received) ? 1 : 0;
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

TEST_F(Upload, AFailedPostLogsBothLinesAndKeepsTheUsageLog) {
  Put(LogPath("a.jlog"), Content("a"));
  farm_.fallback = {Mode::kNotFound, 0};
  EXPECT_FALSE(client_.UploadLogData(kUploadUrl, "text"));
  EXPECT_EQ(0, client_.UploadLogFiles(kUploadUrl, LogTypes::Usage));
  EXPECT_TRUE(Logged("Failed to POST data to the site"));
  EXPECT_TRUE(Logged("Failed to upload the log.  Will try again later."));
  EXPECT_TRUE(Exists(LogPath("a.jlog")));
  EXPECT_EQ(UploadOutcome::kRetryLater, UploadLogDataOutcome(client_, kUploadUrl, "text"));
}

TEST_F(Upload, NothingIsTouchedWithoutAConnectionOrAUrl) {
  Put(LogPath("a.jlog"), Content("a"));
  fake_->connected = false;
  EXPECT_EQ(0, client_.UploadLogFiles(kUploadUrl, LogTypes::Usage));
  EXPECT_TRUE(Logged("CClientInfo::UploadLogFiles()-Error: No Internet Connection."));
  fake_->connected = true;
  EXPECT_EQ(0, client_.UploadLogFiles("", LogTypes::Usage));
  EXPECT_TRUE(Logged("CClientInfo::UploadLogFiles()-Error: No submit Url."));
  EXPECT_EQ(0, farm_.posts);
  EXPECT_EQ(Content("a"), Get(LogPath("a.jlog")));
}

TEST_F(Upload, ALogStillLackingItsIdentifiersIsNeitherSentNorRetired) {
  env_->DeleteFile(IdentityFile());
  Put(LogPath("a.jlog"), Content("a"));
  EXPECT_EQ(0, client_.UploadLogFiles(kUploadUrl, LogTypes::Usage));
  EXPECT_EQ(0, farm_.posts);
  EXPECT_EQ(Content("a"), Get(LogPath("a.jlog")));
}

TEST_F(Upload, AnExistingOldFileMakesTheSentLogGo) {
  Put(LogPath("a.jlog"), Content("a"));
  Put(LogPath("a.old"), "previous");
  EXPECT_EQ(1, client_.UploadLogFiles(kUploadUrl, LogTypes::Usage));
  EXPECT_FALSE(Exists(LogPath("a.jlog")));
  EXPECT_EQ("previous", Get(LogPath("a.old")));
  ASSERT_EQ(1u, farm_.stored.size());
}

TEST_F(Upload, OnlyInstallerLogsNamedSoAreSent) {
  Put(LogPath("InkoraInstall_2.log"), Content("i"));
  Put(LogPath("OtherSetup.log"), Content("o"));
  Put(LogPath("inkorainstall_3.log"), Content("lower"));
  std::vector<std::string> list;
  EXPECT_TRUE(client_.getInstallerLogs(list));
  EXPECT_EQ(std::vector<std::string>{LogPath("InkoraInstall_2.log")}, list);

  EXPECT_EQ(1, client_.UploadLogFiles(kUploadUrl, LogTypes::Installer));
  EXPECT_TRUE(Exists(LogPath("OtherSetup.log")));
  EXPECT_TRUE(Exists(LogPath("inkorainstall_3.log")));

  strTestPath = Tmp("empty");
  MakeDirs(strTestPath);
  ClearLog();
  EXPECT_EQ(0, client_.UploadLogFiles(kUploadUrl, LogTypes::Installer));
  EXPECT_TRUE(Logged("No installer files available.\n"));
}

class DefinitionFile : public Upload {
 protected:
  void SetUp() override {
    Upload::SetUp();
    fake_->publicDocuments = Tmp("Users\\Public\\Documents");
    MakeDirs(fake_->publicDocuments);
    SetRegValue_String(kServiceKey, "DefinitionUrl", "http://farm.test/defs/xml_symbols.xml");
  }
  std::string Symbols(const std::string& user) {
    return Tmp("Users\\" + user + "\\AppData\\Roaming\\Quorvex\\Inkora\\xml_symbols.xml");
  }
};

TEST_F(DefinitionFile, OnlyACompleteNewerDownloadReplacesASymbolFile) {
  struct Case {
    const char* name;
    Mode mode;
    std::string download;
    bool replacesOld, replacesSame;
  };
  const std::string newer = "<symbols version=\"1.7\">" + std::string(3000, 's') + "</symbols>";
  const Case cases[] = {
      {"newer", Mode::kAnswer, newer, true, false},
      {"same version", Mode::kAnswer, "<symbols version=\"1.5\">new</symbols>", false, false},
      {"truncated", Mode::kTruncated, newer, false, false},
      {"404", Mode::kNotFound, newer, false, false},
      {"no version", Mode::kAnswer, "<symbols>x</symbols>", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string oldText = "<symbols version=\"1.5\">old</symbols>";
    const std::string sameText = "<symbols version=\"1.7\">same</symbols>";
    Put(Symbols("bob"), oldText);
    Put(Symbols("carol"), sameText);
    farm_ = FakeFarm();
    farm_.fallback = {c.mode, 0};
    farm_.getBody = c.download;
    client_.UpdateDefinitionFile();
    EXPECT_EQ(c.replacesOld ? c.download : oldText, Get(Symbols("bob")));
    EXPECT_EQ(sameText, Get(Symbols("carol")));
  }
}

}  // namespace
