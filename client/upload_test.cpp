// Log upload and the symbol file refresh against the web farm played by the
// shared fake: each kind against each answer bucket and transport fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "client/upload.h"
#include "settings/process_state.h"
#include "settings/testing/settings_fixture.h"

namespace {

using client_testing::Answer;
using platform_testing::Reply;

const char kGuid[] = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
const char kUrl[] = "http://farm.test/Teko/upload.hsh";

struct Kind {
  LogTypes type;
  const char *prefix, *ext;
};
const Kind kKinds[] = {{LogTypes::Usage, "session", ".jlog"},
                       {LogTypes::Installer, "InkoraInstall_", ".log"},
                       {LogTypes::Inkora_Crash, "crash", ".err"}};

class Upload : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    env_->http.emplace();
    client_testing::PlayFarm(*env_->http);
    folder_ = Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Customer Improvement\\togo");
    Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
        "CID=" + std::string(kGuid) + "\r\nUID=user-7\r\n");
    SetProduct("ComputerID", kGuid);
  }
  std::string Path(const std::string& name) { return folder_ + "\\" + name; }
  std::string Old(const std::string& name) { return Path(name.substr(0, name.rfind('.')) + ".old"); }
  // A log as the product writes it, and as the web farm should get it.
  static std::string Content(const std::string& tag) {
    return "{\"cid\":\"\",\"uid\":\"\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
  }
  static std::string Sent(const Kind& kind, const std::string& tag) {
    std::string text =
        "{\"cid\":\"" + std::string(kGuid) + "\",\"uid\":\"user-7\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
    if (kind.type == LogTypes::Installer)
      text.erase(std::remove_if(text.begin(), text.end(),
                                [](char c) { return c == '\r' || c == '\n' || c == '\t'; }),
                 text.end());
    return text;
  }
  std::string folder_;
  CClientInfo client_;
};

// Three logs of each kind, the middle one answered per row: the answer's
// bucket or a transport fault decides whether it waits; no log is lost.
TEST_F(Upload, EachKindAndAnswerLeavesTheFilesAsTheAnswerSays) {
  const std::string ok = client_testing::Sealed("{\"code\":\"0\"}");
  const struct {
    Reply reply;
    bool done;
  } rows[] = {{Answer("{\"code\":\"-1\"}"), true},
              {Answer("{\"code\":\"0\"}"), true},
              {Answer("{\"code\":\"50\",\"msg\":\"m\"}"), false},
              {Answer("{\"code\":\"99\"}"), false},
              {Answer("{\"code\":\"100\"}"), true},
              {Answer("{\"code\":\"5000\"}"), true},
              {Answer("{\"msg\":\"no code\"}"), true},
              {Answer(""), false},
              {Reply::Refused(), false},
              {Reply::Body("<html>", 404), false},
              {Reply::Body("<html>garbage"), false},
              {Reply::Truncated(ok), false},
              {Reply::Broken(ok), false},
              {Reply::Body(""), false}};
  for (const Kind& kind : kKinds) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(kind.prefix) + " " + row.reply.body);
      std::vector<std::string> names;
      for (int i = 0; i < 3; ++i) {
        names.push_back(kind.prefix + std::to_string(i) + kind.ext);
        Put(Path(names.back()), Content(names.back()));
      }
      env_->http->calls.clear();
      env_->http->replies = {Answer("{\"code\":\"0\"}"), row.reply, Answer("{\"code\":\"0\"}")};

      EXPECT_EQ(row.done ? 3 : 2, client_.UploadLogFiles(kUrl, kind.type));
      std::vector<std::string> received;
      for (const auto& call : env_->http->calls) {
        if (call.verb == "POST") received.push_back(client_testing::Opened(call));
      }
      const bool renamed = kind.type != LogTypes::Inkora_Crash;
      int waiting = 0;
      for (int i = 0; i < 3; ++i) {
        const bool waits = Exists(Path(names[i]));
        waiting += waits;
        EXPECT_EQ(!waits && renamed, Exists(Old(names[i]))) << names[i];
        if (waits) {
          EXPECT_EQ(Sent(kKinds[0], names[i]), Get(Path(names[i])));  // kept, repaired
        } else {
          EXPECT_EQ(1, std::count(received.begin(), received.end(), Sent(kind, names[i]))) << names[i];
        }
        base_->DeleteFile(Path(names[i]));
        base_->DeleteFile(Old(names[i]));
      }
      EXPECT_EQ(row.done ? 0 : 1, waiting);  // only the middle one, when refused
    }
  }
}

TEST_F(Upload, WhatIsNotSentIsNotTouched) {
  Put(Path("a.jlog"), Content("a"));
  env_->http->connected = false;
  EXPECT_EQ(0, client_.UploadLogFiles(kUrl, LogTypes::Usage));
  env_->http->connected = true;
  EXPECT_EQ(0, client_.UploadLogFiles("", LogTypes::Usage));
  base_->DeleteFile(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"));
  DeleteKey(kProductKey);
  EXPECT_EQ(0, client_.UploadLogFiles(kUrl, LogTypes::Usage));  // still lacks its identifiers
  EXPECT_TRUE(env_->http->calls.empty());
  EXPECT_EQ(Content("a"), Get(Path("a.jlog")));
  EXPECT_EQ(UploadOutcome::kRetryLater, UploadLogDataOutcome(client_, kUrl, "x"));  // no answer
  env_->http->replies = {Answer("{\"code\":\"0\"}")};
  EXPECT_EQ(UploadOutcome::kDone, UploadLogDataOutcome(client_, kUrl, "x"));
}

TEST_F(Upload, OnlyInstallerLogsNamedSoAreSentAndAnOldFileDoesNotBlockRetiring) {
  for (const char* name :
       {"InkoraInstall_2.log", "OtherSetup.log", "inkorainstall_3.log", "InkoraInstall.txt"})
    Put(Path(name), Content(name));
  Put(Path("InkoraInstall_2.old"), "previous");
  env_->http->replies = {Answer("{\"code\":\"0\"}")};
  std::vector<std::string> list;
  EXPECT_TRUE(client_.getInstallerLogs(list));
  EXPECT_EQ(std::vector<std::string>{Path("InkoraInstall_2.log")}, list);
  EXPECT_EQ(1, client_.UploadLogFiles(kUrl, LogTypes::Installer));
  EXPECT_FALSE(Exists(Path("InkoraInstall_2.log")));
  EXPECT_EQ("previous", Get(Path("InkoraInstall_2.old")));
  EXPECT_TRUE(Exists(Path("OtherSetup.log")));
  // The folder joins its names with one separator, whichever it ends with; no folder, no logs.
  Put(Path("InkoraInstall_4.log"), "x");
  for (const std::string end : {"", "\\", "/"}) {
    strTestPath = folder_ + end;
    list.clear();
    ASSERT_TRUE(client_.getInstallerLogs(list)) << end;
    EXPECT_EQ(std::vector<std::string>{folder_ + (end.empty() ? "\\" : end) + "InkoraInstall_4.log"}, list);
  }
  strTestPath.clear();
  env_->failures["GetKnownFolder"] = platform::kErrorFileNotFound;
  list.clear();
  EXPECT_FALSE(client_.getInstallerLogs(list));
}

TEST_F(Upload, OnlyACompleteNewerDownloadReplacesASymbolFile) {
  env_->system.emplace();
  env_->system->version.majorVersion = 6;
  env_->knownFolders[platform::KnownFolder::kPublicDocuments] = Tmp("Users\\Public\\Documents");
  MakeDirs(Tmp("Users\\Public\\Documents"));
  SetService("DefinitionUrl", "http://farm.test/defs.xml");
  auto symbols = [this](const char* user) {
    return Tmp(std::string("Users\\") + user + "\\AppData\\Roaming\\Quorvex\\Inkora\\xml_symbols.xml");
  };
  const std::string newer = "<symbols version=\"1.7\">" + std::string(3000, 's') + "</symbols>";
  const struct {
    Reply reply;
    bool replaces;
  } rows[] = {{Reply::Body(newer), true},
              {Reply::Body("<symbols version=\"1.5\">new</symbols>"), false},
              {Reply::Truncated(newer), false},
              {Reply::Body(newer, 404), false},
              {Reply::Body("<symbols>x</symbols>"), false}};
  for (const auto& r : rows) {
    Put(symbols("bob"), "<symbols version=\"1.5\">old</symbols>");
    Put(symbols("carol"), "<symbols version=\"1.7\">same</symbols>");
    env_->http->replies = {r.reply};
    client_.UpdateDefinitionFile();
    EXPECT_EQ(r.replaces ? newer : "<symbols version=\"1.5\">old</symbols>", Get(symbols("bob")));
    EXPECT_EQ("<symbols version=\"1.7\">same</symbols>", Get(symbols("carol")));
  }
}

}  // namespace
