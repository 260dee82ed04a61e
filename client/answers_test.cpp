#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "client/client_info.h"
#include "client/testing/farm_script.h"
#include "crypt/gzip.h"
#include "settings/process_state.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

using client_testing::Answer;
using platform_testing::Reply;

const char kMetadata[] =
    R"({"mv_ver":"1-0-8","in_ver":"1.0.10","uc_url":"http://u/uc","puc_url":"http://u/puc",)"
    R"("log_url":"http://u/log","uc_freq":12,"in_url":"https://u/setup.exe","df_url":"http://u/df",)"
    R"("cr_url":"http://u/cr"})";

// What the settings read (see Stored) once kMetadata is taken.
const char kTaken[] =
    "12|3b9aca00|3b9aca00|1-0-8|http://u/puc|http://u/uc|http://u/log|http://u/cr|http://u/df|1.0.10|"
    "https://u/setup.exe";
const char kGuid[] = "{0A1B2C3D-4E5F-6789-ABCD-EF0123456789}";
const char kUrl[] = "http://farm.test/Teko/upload.hsh";

struct Kind {
  LogTypes type;
  const char *prefix, *ext;
};
const Kind kKinds[] = {{LogTypes::Usage, "session", ".jlog"},
                       {LogTypes::Installer, "InkoraInstall_", ".log"},
                       {LogTypes::Inkora_Crash, "crash", ".err"}};

class Answers : public settings_testing::SettingsFixture {
 protected:
  void SetUp() override {
    SettingsFixture::SetUp();
    env_->http.probes = true;
    env_->clock.now = 1000000000;
    SetFixedField(szServiceVersion, sizeof(szServiceVersion), "1.0.13.0");
    SetProduct("ComputerID", kGuid);
    SetProduct("CurrentVersion", "1.0.5");
    SetService("MetadataVer", "1-0-7");
    client_.getComputerID();
    folder_ = Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Customer Improvement\\togo");
    Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
        "CID=" + std::string(kGuid) + "\r\nUID=user-7\r\n");
  }
  void Script(const Reply& reply) {
    env_->http.replies = {reply};
    env_->http.calls.clear();
  }
  bool Load(const Reply& reply) {
    Script(reply);
    return client_.LoadMetadataFromServer("http://farm.test/meta/1-0-8");
  }
  std::string Stored() {
    std::string all;
    for (const char* name : {"UpdateFreq", "LastCheck", "LastGoodCheck", "MetadataVer", "PostInstUrl",
                             "UpdateCheckUrl", "UsgLogUrl", "CrashLogUrl", "DefinitionUrl"})
      all += Service(name).value_or("-") + "|";
    return all + Product("NextVersion").value_or("-") + "|" + Product("NextVersionURL").value_or("-");
  }
  std::string Path(const std::string& name) { return folder_ + "\\" + name; }
  std::string Read(const std::string& path) { return Exists(path) ? Get(path) : "-"; }
  std::string Old(const std::string& name) { return Path(name.substr(0, name.rfind('.')) + ".old"); }
  // A log as the product writes it, and as the web farm should get it.
  static std::string Content(const std::string& tag) {
    return "{\"cid\":\"\",\"uid\":\"\",\r\n\t\"tag\":\"" + tag + "\"}\r\n";
  }
  static std::string Sent(const Kind& kind, const std::string& tag) {
    const bool flat = kind.type == LogTypes::Installer;  // sent without line breaks and tabs
    return "{\"cid\":\"" + std::string(kGuid) + "\",\"uid\":\"user-7\"," + (flat ? "" : "\r\n\t") +
           "\"tag\":\"" + tag + "\"}" + (flat ? "" : "\r\n");
  }
  std::string folder_;
  CClientInfo client_;
};

TEST_F(Answers, MetadataStoresEverySettingOnlyFromAGoodDocument) {
  ASSERT_TRUE(Load(Answer(kMetadata)));
  const std::string all = kTaken;
  EXPECT_EQ(all, Stored());
  EXPECT_TRUE(Logged("\nuc_freq:12\nin_url:https://u/setup.exe\n")) << LogText();  // the document as taken
  SetProduct("CurrentVersion", "1.0.1");  // would change NextVersion if anything were stored
  env_->clock.now = 1100000000;
  const json::Object document = client_.objMetadata;
  // A bad document writes nothing, nor one for another version than its URL
  // names. Transport faults are the running farm's matrix.
  for (const Reply& reply : {Reply::Body("<html>"), Answer("mv_ver=1-0-9"), Answer(R"(["mv_ver"])"),
                             Answer(R"({"mv_ver":"1-0-8"} {})"), Answer(R"({"mv_ver":"99999-0-0"})"),
                             Answer(R"({"mv_ver":"1-0-8-1"})"), Answer(R"({"in_ver":"1.0.10"})")}) {
    EXPECT_FALSE(Load(reply)) << reply.body;
    EXPECT_EQ(all, Stored()) << reply.body;
    EXPECT_TRUE(client_.objMetadata == document) << reply.body;
  }
  // A value that cannot be stored as sent keeps the stored one; NextVersion
  // and its URL go together. Frequency, check URL, NextVersion, its URL.
  const std::string kept = "http://u/uc 1.0.10 https://u/setup.exe";
  const struct {
    const char* current;  // nullptr: absent
    std::string document, stored;
  } rows[] = {
      {"1.0.5", R"("in_ver":"1.0.5")", "24   "},
      {nullptr, R"("in_ver":"2.0")", "24   "},
      {"1.0.5", R"("uc_freq":-5)", "-5   "},
      {"1.0.5", R"("in_ver":"1.1","in_url":"HTTPS://s/x y")", "24  1.1 HTTPS://s/x y"},
      {"1.0.5", R"("uc_freq":1e12,"uc_url":"http://h/)" + std::string(1015, 'x') + "\"", "744 http://u/uc  "},
      {"1.0.5", R"("uc_freq":745,"uc_url":"http://h/)" + std::string(1014, 'x') + "\"",
       "744 http://h/" + std::string(1014, 'x') + "  "},
      {"1.0.5", R"j("uc_url":"javascript:alert(1)","in_ver":"9.0\r\n","in_url":"http://x/")j", "24 " + kept},
      {"1.0.5", R"("uc_url":"http://h/\t","in_ver":"9.0","in_url":"http://x/\b")", "24 " + kept},
      {"1.0.5", R"("uc_url":"ftp://h/","in_ver":"9..0","in_url":"http:///x")", "24 " + kept},
      {"1.0.5", R"("uc_url":"HTTPS://","in_ver":"9..0","in_url":"http://x/")", "24 " + kept},
      {"1.0.5", R"("in_ver":".9","in_url":"http://x/")", "24  1.0.10 https://u/setup.exe"}};
  for (const auto& r : rows) {
    DeleteRegValue(kProductKey, "CurrentVersion");
    if (r.current) SetProduct("CurrentVersion", r.current);
    SetService("UpdateCheckUrl", "http://u/uc");
    SetProduct("NextVersion", "1.0.10");
    SetProduct("NextVersionURL", "https://u/setup.exe");
    ASSERT_TRUE(Load(Answer(R"({"mv_ver":"1-0-8",)" + r.document + "}"))) << r.document;
    EXPECT_EQ(r.stored, *Service("UpdateFreq") + " " + *Service("UpdateCheckUrl") + " " +
                            *Product("NextVersion") + " " + *Product("NextVersionURL"))
        << r.document;
  }
}

#if !defined(_WIN32)
// Key, public key and signature made by the openssl command over the document's
// bytes as they leave the envelope (no code of this project signs): taken under
// any built-in key; one byte changed, a signature missing or malformed, keys
// that cannot be read, or a version not newer than the stored one refused with
// its reason.
TEST_F(Answers, MetadataSignedByOpensslIsTakenUnderAnyKeyElseRefusedWithItsReason) {
  Put(Tmp("doc.json"), kMetadata);
  const std::string script =
      "exec 2>/dev/null; cd '" + tmp_ +
      "' && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out key.pem && "
      "openssl pkey -in key.pem -pubout -out pub.pem && openssl dgst -sha256 -sign key.pem "
      "-out doc.der doc.json && openssl base64 -in doc.der -out doc.sig";
  if (std::system(script.c_str()) != 0) GTEST_SKIP() << "no openssl command";
  const std::string signature = Get(Tmp("doc.sig")), before = Stored(), key = Get(Tmp("pub.pem"));
  ASSERT_NE(std::string::npos, signature.find('\n'));  // wrapped as openssl writes it
  std::string changed = kMetadata;
  changed[changed.find("1.0.10") + 5] = '9';
  const std::string bad = "-----BEGIN PUBLIC KEY-----\nMFkw\n-----END PUBLIC KEY-----\n";
  const struct {
    std::vector<std::string> keys;
    std::string document;
    Reply signature;
    bool taken;
    const char* logged;
  } rows[] = {
      {{key}, changed, Reply::Body(signature), false, "8: the signature does not fit it"},
      {{key}, kMetadata, Reply::Body("", 404), false, "8: no signature at http://farm.test/meta/1-0-8.sig"},
      {{key}, kMetadata, Reply::Body(""), false, "8: no signature at"},
      {{key}, kMetadata, Reply::Body("<html>"), false, "8: malformed signature (not base64)"},
      {{bad}, kMetadata, Reply::Body(signature), false, "8: the signature could not be checked, error 13"},
      {{bad, key}, kMetadata, Reply::Body(signature), true, "8 verified with key 2"},
      {{key}, kMetadata, Reply::Body(signature), false, "\"1-0-8\": not newer than the stored \"1-0-8\""}};
  bool taken = false;
  for (const auto& r : rows) {
    client_testing::ScopedUpdateKeys keys(r.keys);
    env_->http.replies = {Answer(r.document), r.signature};
    ClearLog();
    EXPECT_EQ(r.taken, client_.LoadMetadataFromServer("http://farm.test/meta/1-0-8")) << r.logged;
    EXPECT_EQ((taken |= r.taken) ? kTaken : before, Stored()) << r.logged;
    EXPECT_EQ("http://farm.test/meta/1-0-8.sig", env_->http.calls.back().url);
    EXPECT_TRUE(Logged(r.logged)) << LogText();
  }
}
#endif

// The first call gives the metadata URL unless a code above zero says no; a
// code of 0 replaces the update check's record, and so does an answer that is
// no JSON object (every member missing, the code read as 0). An upload waits
// for a code of 1 to 99 or an answer that deciphers to nothing.
TEST_F(Answers, FirstCallUpdateCheckAndUpload) {
  std::vector<uint8_t> nothing;  // the member of an empty text
  ASSERT_TRUE(crypto::GzipCompress(nullptr, 0, &nothing));
  std::string empty;
  ASSERT_TRUE(CUtility::DES_Encrypt(empty, nothing.data(), nothing.size()));
  const struct {
    Reply reply;
    const char *firstCall, *mvUrl, *code;
    bool upload, crash, taken;
  } rows[] = {
      {Answer(R"({"code":"0","mv_url":"m","upload_logs":"TRUE","crash_logs":"true"})"), "m", "m", "0", true,
       true, true},
      {Answer(R"({"code":3,"mv_url":"m","upload_logs":"trux"})"), "m", "m", "", false, false,
       true},  // a number is no code
      {Answer(R"({"code":"0","upload_logs":"tRuE","crash_logs":true})"), "", "", "0", true, false, true},
      {Answer(R"({"code":"0","mv_url":7,"upload_logs":"true ","crash_logs":"tru"})"), "", "", "0", false,
       false, true},
      {Answer(R"({"code":"-2","mv_url":"x"})"), "x", "before", "before", true, true, true},
      {Answer(R"({"code":" 3x","msg":"later","mv_url":"x"})"), "", "before", "before", true, true, false},
      {Answer(R"(["code","0"])"), "", "", "", false, false, true},
      {Reply::Body(empty), "", "", "", false, false, false}};
  for (const auto& r : rows) {
    Script(r.reply);
    EXPECT_EQ(r.taken, client_.UploadLogData(kUrl, "{}")) << r.reply.body;
    Script(r.reply);
    EXPECT_EQ(r.firstCall, client_.MakeFirstCall()) << r.reply.body;
    UpdateResultRecord record{"before", true, true, "before"};
    Script(r.reply);
    DeleteRegValue(kServiceKey, "LastGoodCheck");
    client_.UpdateCheck("http://farm.test/Teko/uc.hsh", record);
    EXPECT_EQ(!record.code.empty() && record.code != "before", Service("LastGoodCheck").has_value())
        << "only an answer with its code counts";
    EXPECT_EQ(std::make_tuple(std::string(r.mvUrl), r.upload, r.crash, std::string(r.code)),
              std::tie(record.mv_url, record.upload_logs, record.crash_logs, record.code))
        << r.reply.body;
  }
  Script(Answer(R"({"code":"0"})"));  // no request without a usable URL
  UpdateResultRecord record;
  client_.UpdateCheck("", record);
  EXPECT_FALSE(client_.LoadMetadataFromServer("ftp://farm.test/meta/1-0-8"));
  EXPECT_TRUE(env_->http.calls.empty());
}

// Three logs of each kind, the middle one answered per row: the bucket's
// boundary codes and each class of fault decide whether it waits; no log is lost.
TEST_F(Answers, UploadEachKindAndAnswerLeavesTheFilesAsTheAnswerSays) {
  const struct {
    Reply reply;
    bool done;
  } rows[] = {{Answer(R"({"code":"0"})"), true},   {Answer(R"({"code":"1"})"), false},
              {Answer(R"({"code":"99"})"), false}, {Answer(R"({"code":"100"})"), true},
              {Reply::Refused(), false},           {Reply::Body("<html>"), false}};
  for (const Kind& kind : kKinds) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(kind.prefix) + " " + row.reply.body);
      auto name = [&kind](int i) { return kind.prefix + std::to_string(i) + kind.ext; };
      for (int i = 0; i < 3; ++i) Put(Path(name(i)), Content(name(i)));
      env_->http.calls.clear();
      env_->http.replies = {Answer(R"({"code":"0"})"), row.reply, Answer(R"({"code":"0"})")};
      EXPECT_EQ(row.done ? 3 : 2, client_.UploadLogFiles(kUrl, kind.type));
      std::vector<std::string> received;
      for (const auto& call : env_->http.calls) received.push_back(client_testing::Opened(call));
      int waiting = 0;
      for (int i = 0; i < 3; ++i) {
        const bool waits = Exists(Path(name(i)));
        waiting += waits;
        EXPECT_EQ(waits ? Sent(kKinds[0], name(i)) : "-", Read(Path(name(i))));  // kept, repaired
        EXPECT_EQ(!waits && kind.type != LogTypes::Inkora_Crash, Exists(Old(name(i)))) << name(i);
        EXPECT_TRUE(waits || std::count(received.begin(), received.end(), Sent(kind, name(i))) == 1)
            << name(i);
        base_->files()->DeleteFile(Path(name(i)));
        base_->files()->DeleteFile(Old(name(i)));
      }
      EXPECT_EQ(row.done ? 0 : 1, waiting);  // only the middle one, when refused
    }
  }
  // A log that still lacks its identifiers is not touched.
  Put(Path("a.jlog"), Content("a"));
  env_->http.calls.clear();
  base_->files()->DeleteFile(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"));
  DeleteKey(kProductKey);
  EXPECT_EQ(0, client_.UploadLogFiles(kUrl, LogTypes::Usage));
  EXPECT_TRUE(env_->http.calls.empty());
  EXPECT_EQ(Content("a"), Get(Path("a.jlog")));
}

// A log is retired only once the web farm took its text, or when it is empty;
// one that cannot be read whole stays unsent. One taken that cannot be retired
// (a folder the service cannot change) is not sent again until it changes.
TEST_F(Answers, UploadRetiresOnlyWhatTheWebFarmTookAndSendsNothingTwice) {
  const std::pair<std::string, platform::Status> rows[] = {
      {std::string("\0{\"n\":1}", 8), platform::kSuccess},  // reads as empty
      {"{\"n\":1}", platform::kErrorInvalidData},           // too large
      {"{\"n\":1}", platform::kErrorAccessDenied},
      {"", platform::kSuccess}};  // empty: nothing to send, retired
  for (const Kind& kind : kKinds) {
    const std::string name = std::string(kind.prefix) + "1" + kind.ext;
    for (const auto& [content, fault] : rows) {
      SCOPED_TRACE(name + " " + std::to_string(fault) + " " + std::to_string(content.size()));
      Put(Path(name), content);
      env_->files.readError = fault;
      Script(Answer(R"({"code":"0"})"));
      ClearLog();
      client_.UploadLogFiles(kUrl, kind.type);
      EXPECT_TRUE(env_->http.calls.empty());
      EXPECT_EQ(content.empty() ? "-" : content, Read(Path(name)));
      EXPECT_EQ(!content.empty(), Logged("It stays, not sent.")) << LogLines();
      env_->files.readError = platform::kSuccess;
      base_->files()->DeleteFile(Old(name));
    }
    // Taken, in a folder that lets nothing be renamed or deleted.
    env_->files.renameError = env_->files.deleteError = platform::kErrorAccessDenied;
    Script(Answer(R"({"code":"0"})"));
    env_->http.replies.push_back(Answer(R"({"code":"0"})"));
    for (const char* content : {"{\"n\":1}", "", "{\"n\":22}"}) {  // "": unchanged, not sent again
      if (*content != '\0') Put(Path(name), content);
      client_.UploadLogFiles(kUrl, kind.type);
    }
    EXPECT_EQ(4u, env_->http.calls.size()) << name << ": two uploads, each with its status probe";
    env_->files.renameError = env_->files.deleteError = platform::kSuccess;
    base_->files()->DeleteFile(Path(name));
  }
}

TEST_F(Answers, UploadOnlyInstallerLogsNamedSoAreSentAndAnOldFileDoesNotBlockRetiring) {
  const char* const names[] = {"InkoraInstall_2.log", "OtherSetup.log", "inkorainstall_3.log"};
  for (const char* name : names) Put(Path(name), Content(name));
  Put(Path("InkoraInstall_2.old"), "previous");
  // One separator between the folder and each name, whichever the folder ends with.
  std::vector<std::string> list;
  for (const std::string end : {"", "\\", "/"}) {
    strTestPath = folder_ + end;
    list.clear();
    ASSERT_TRUE(client_.getInstallerLogs(list)) << end;
    EXPECT_EQ(std::vector<std::string>{folder_ + (end.empty() ? "\\" : end) + "InkoraInstall_2.log"}, list);
  }
  for (const char* name : names) EXPECT_TRUE(Logged(std::string("\n") + name)) << LogText();  // listed
  strTestPath.clear();
  env_->http.replies = {Answer(R"({"code":"0"})")};
  EXPECT_EQ(1, client_.UploadLogFiles(kUrl, LogTypes::Installer));
  EXPECT_FALSE(Exists(Path("InkoraInstall_2.log")));
  EXPECT_EQ("previous", Get(Path("InkoraInstall_2.old")));
  list.clear();
  env_->files.knownFolderError = platform::kErrorFileNotFound;
  EXPECT_FALSE(client_.getInstallerLogs(list));  // no folder, no logs
}

TEST_F(Answers, UploadOnlyACompleteNewerSignedDownloadReplacesASymbolFile) {
  MakeDirs(Tmp("Users\\Public\\Documents"));
  SetService("DefinitionUrl", "http://farm.test/defs.xml");
  const std::string file = Tmp("Users\\bob\\AppData\\Roaming\\Quorvex\\Inkora\\xml_symbols.xml");
  const std::string old = "<symbols version=\"1.5\">old</symbols>";
  const std::string newer = "<symbols version=\"1.7\">" + std::string(3000, 's') + "</symbols>";
  const struct {
    Reply reply;
    std::vector<std::string> keys;  // built in; the web farm serves no signature
    bool replaces;
  } rows[] = {{Reply::Body(newer), {}, true},
              {Reply::Body(newer), {"a key"}, false},
              {Reply::Body("<symbols version=\"1.5\">new</symbols>"), {}, false},
              {Reply::Truncated(newer), {}, false},
              {Reply::Body("<symbols>x</symbols>"), {}, false}};
  for (const auto& r : rows) {
    client_testing::ScopedUpdateKeys keys(r.keys);
    Put(file, old);
    env_->http.replies = {r.reply, Reply::Refused()};
    client_.UpdateDefinitionFile();
    EXPECT_EQ(r.replaces ? newer : old, Get(file));
  }
  EXPECT_TRUE(Logged("Refused http://farm.test/defs.xml: no signature at http://farm.test/defs.xml.sig"));
  for (const std::vector<std::string>& built : {std::vector<std::string>{}, {"a", "b"}}) {
    client_testing::ScopedUpdateKeys keys(built);
    CUpdateSignature::LogState("keys");
  }
  EXPECT_TRUE(Logged("not checked: this build holds no vendor key") && Logged("against 2 built-in key(s)"));
}

}  // namespace
