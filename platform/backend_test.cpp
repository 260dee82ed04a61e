// One suite for both backends: the behaviour callers rely on, checked against
// the real registry (or hive), files, clock and HTTP stack of the system.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/testing/tree_fixture.h"
#ifdef _WIN32
#include "platform/win32/testing/sockets.h"
#else
#include "platform/posix/testing/sockets.h"
#endif

namespace platform {
namespace {

constexpr uint32_t k32 = kKeyWow64_32Key;

class BackendTest : public platform_testing::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    // On Windows the registry is the machine's: a key of this test's own.
    key_ = "SOFTWARE\\InkoraBackendTest\\" + tmp_.substr(tmp_.find_last_of("\\/") + 1);
  }
  void TearDown() override {
    for (uint32_t view : {k32, uint32_t(kKeyWow64_64Key)}) base_->RegDeleteTree(key_, view);
    TreeFixture::TearDown();
  }
  std::unique_ptr<RegKey> Key(const std::string& sub, uint32_t sam = kKeyRead | kKeyWrite | k32) {
    std::unique_ptr<RegKey> k;
    EXPECT_EQ(kSuccess, base_->RegCreateKey(key_ + sub, sam, &k)) << sub;
    return k;
  }
  std::vector<std::string> Names(const std::string& folder) {
    std::vector<DirEntry> entries;
    EXPECT_EQ(kSuccess, base_->ListDirectory(folder, &entries));
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name + (e.isDirectory ? "\\" : ""));
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string key_;
};

TEST_F(BackendTest, KeysAreMadeWithParentsAndFoundWithoutRegardToCase) {
  std::unique_ptr<RegKey> k;
  EXPECT_EQ(kErrorFileNotFound, base_->RegOpenKey(key_ + "\\A\\Bb", kKeyRead | k32, &k));
  const uint32_t one = 1;
  ASSERT_EQ(kSuccess, Key("\\A\\Bb")->SetValue("Debug", kRegDword, &one, 4));
  ASSERT_EQ(kSuccess, base_->RegOpenKey(key_ + "\\a", kKeyRead | k32, &k));
  std::string name;
  ASSERT_EQ(kSuccess, k->EnumKey(0, &name, 3));
  EXPECT_EQ("Bb", name);  // the case it was made with
  EXPECT_EQ(kErrorMoreData, k->EnumKey(0, &name, 2));
  EXPECT_EQ(kErrorNoMoreItems, k->EnumKey(1, &name, 260));
  ASSERT_EQ(kSuccess, base_->RegOpenKey(key_ + "\\A\\BB\\", kKeyRead | k32, &k));
  uint32_t v = 0, size = 4, type = 0;
  EXPECT_EQ(kSuccess, k->QueryValue("DEBUG", &type, &v, &size));
  EXPECT_EQ(1u, v);
  EXPECT_EQ(kRegDword, type);
  // The other view holds none of it.
  Status other = base_->RegOpenKey(key_ + "\\A\\Bb", kKeyRead | kKeyWow64_64Key, &k);
  if (other == kSuccess) other = k->QueryValue("Debug", nullptr, nullptr, &size);
  EXPECT_EQ(kErrorFileNotFound, other);
}

TEST_F(BackendTest, QueryGivesTypeAndSizeAndAsksForRoom) {
  std::unique_ptr<RegKey> key = Key("");
  const uint32_t dword = 0xDEADBEEF;
  ASSERT_EQ(kSuccess, key->SetValue("dw", kRegDword, &dword, 4));
  ASSERT_EQ(kSuccess, key->SetValue("text", kRegSz, "0123456789", 11));
  ASSERT_EQ(kSuccess, key->SetValue("raw", kRegBinary, "\x01\x00\x03", 3));
  ASSERT_EQ(kSuccess, key->SetValue("raw", kRegBinary, "\x07", 1));  // replaced, not added
  struct {
    const char* name;
    uint32_t room;  // 0: no buffer
    Status status;
    uint32_t type, size;
    std::string data;
  } cases[] = {
      {"dw", 4, kSuccess, kRegDword, 4, std::string("\xEF\xBE\xAD\xDE", 4)},
      {"DW", 0, kSuccess, kRegDword, 4, ""},
      {"dw", 3, kErrorMoreData, kRegDword, 4, ""},
      {"text", 11, kSuccess, kRegSz, 11, std::string("0123456789", 11)},
      {"text", 10, kErrorMoreData, kRegSz, 11, ""},
      {"raw", 8, kSuccess, kRegBinary, 1, "\x07"},
      {"missing", 8, kErrorFileNotFound, 0, 8, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::to_string(c.room));
    char buf[16] = {0};
    uint32_t type = 0, size = c.room == 0 ? 8 : c.room;
    EXPECT_EQ(c.status, key->QueryValue(c.name, &type, c.room == 0 ? nullptr : buf, &size));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.size, size);
    if (!c.data.empty()) {
      EXPECT_EQ(c.data, std::string(buf, size));
    }
  }
  EXPECT_EQ(kSuccess, key->DeleteValue("Text"));
  EXPECT_EQ(kErrorFileNotFound, key->DeleteValue("text"));
  uint32_t size = 4;
  EXPECT_EQ(kErrorFileNotFound, key->QueryValue("text", nullptr, nullptr, &size));
  EXPECT_EQ(kSuccess, key->QueryValue("raw", nullptr, nullptr, &size));
}

TEST_F(BackendTest, HandlesAllowWhatTheyWereOpenedFor) {
  Key("\\Sub");
  std::unique_ptr<RegKey> reader, writer;
  ASSERT_EQ(kSuccess, base_->RegOpenKey(key_, kKeyRead | k32, &reader));
  ASSERT_EQ(kSuccess, base_->RegOpenKey(key_, kKeyWrite | k32, &writer));
  uint32_t v = 2, size = 4;
  std::string name;
  EXPECT_EQ(kErrorAccessDenied, reader->SetValue("x", kRegDword, &v, 4));
  EXPECT_EQ(kSuccess, writer->SetValue("x", kRegDword, &v, 4));
  EXPECT_EQ(kErrorAccessDenied, reader->DeleteValue("x"));
  EXPECT_EQ(kErrorAccessDenied, writer->QueryValue("x", nullptr, &v, &size));
  EXPECT_EQ(kErrorAccessDenied, writer->EnumKey(0, &name, 260));
  EXPECT_EQ(kSuccess, reader->QueryValue("x", nullptr, &v, &size));
  EXPECT_EQ(kSuccess, writer->DeleteValue("x"));
}

TEST_F(BackendTest, DeleteTreeTakesTheKeyAndAllBelowInOneViewOnly) {
  Key("\\Deep\\Er", kKeyAllAccess | kKeyWow64_64Key);
  Key("\\Deep\\Er");
  Key("Sibling");  // a name that only starts like the key
  ASSERT_EQ(kSuccess, base_->RegDeleteTree(key_ + "\\DEEP", k32));
  std::unique_ptr<RegKey> k;
  EXPECT_EQ(kErrorFileNotFound, base_->RegOpenKey(key_ + "\\Deep", kKeyRead | k32, &k));
  EXPECT_EQ(kSuccess, base_->RegOpenKey(key_, kKeyRead | k32, &k));
  EXPECT_EQ(kSuccess, base_->RegOpenKey(key_ + "Sibling", kKeyRead | k32, &k));
  EXPECT_EQ(kSuccess, base_->RegOpenKey(key_ + "\\Deep\\Er", kKeyRead | kKeyWow64_64Key, &k));
  EXPECT_EQ(kErrorFileNotFound, base_->RegDeleteTree(key_ + "\\Deep", k32));
  base_->RegDeleteTree(key_ + "Sibling", k32);
}

TEST_F(BackendTest, AtomicWritesReplaceTheWholeFileAndLeaveNothingBehind) {
  const std::string path = Tmp("Inkora.ID");
  for (const std::string& data : {std::string("CID={A}\r\nUID={B}"), std::string(), std::string(200000, 'x'),
                                  std::string("a\0b\n", 4)}) {
    ASSERT_EQ(kSuccess, base_->WriteFileAtomic(path, data));
    EXPECT_EQ(data, Get(path));
    EXPECT_EQ(std::vector<std::string>{"Inkora.ID"}, Names(tmp_));
  }
  EXPECT_NE(kSuccess, base_->WriteFileAtomic(Tmp("missing\\x.txt"), "data"));
  EXPECT_EQ(std::vector<std::string>{"Inkora.ID"}, Names(tmp_));
}

TEST_F(BackendTest, AppendKeepsEveryByteAndMakesTheFile) {
  const std::string path = Tmp("InkoraUpdater.log");
  for (const char* part : {"\r\n12/04/2026, 09:05:07\t    f()-a\n", "", "b"}) {
    ASSERT_EQ(kSuccess, base_->AppendFile(path, part));
  }
  ASSERT_EQ(kSuccess, base_->AppendFile(path, std::string("\0c", 2)));
  EXPECT_EQ(std::string("\r\n12/04/2026, 09:05:07\t    f()-a\nb\0c", 36), Get(path));
  EXPECT_NE(kSuccess, base_->AppendFile(Tmp("missing\\x.log"), "lost"));
}

TEST_F(BackendTest, MoveNeverReplacesAndBothFilesStay) {
  Put(Tmp("a.jlog"), "A");
  Put(Tmp("b.jlog"), "B");
  EXPECT_EQ(kErrorAlreadyExists, base_->MoveFile(Tmp("a.jlog"), Tmp("b.jlog")));
  EXPECT_EQ("A", Get(Tmp("a.jlog")));
  EXPECT_EQ("B", Get(Tmp("b.jlog")));
  EXPECT_EQ(kSuccess, base_->MoveFile(Tmp("a.jlog"), Tmp("c.jlog")));
  EXPECT_EQ((std::vector<std::string>{"b.jlog", "c.jlog"}), Names(tmp_));
  EXPECT_EQ("A", Get(Tmp("c.jlog")));
  EXPECT_EQ(kErrorFileNotFound, base_->MoveFile(Tmp("a.jlog"), Tmp("d.jlog")));
}

TEST_F(BackendTest, ReadsAreBoundedAndRefuseWhatIsNoFile) {
  Put(Tmp("ten.txt"), "0123456789");
  ASSERT_EQ(kSuccess, base_->CreateDirectory(Tmp("folder")));
  EXPECT_EQ(kErrorAlreadyExists, base_->CreateDirectory(Tmp("folder")));
  struct {
    const char* name;
    uint64_t maxSize;
    Status status;
  } cases[] = {
      {"ten.txt", 10, kSuccess},
      {"ten.txt", 9, kErrorInvalidData},
      {"missing.txt", 100, kErrorFileNotFound},
      {"folder", 100, kErrorAccessDenied},
  };
  for (const auto& c : cases) {
    std::string data = "untouched";
    EXPECT_EQ(c.status, base_->ReadFile(Tmp(c.name), &data, c.maxSize)) << c.name;
    EXPECT_EQ(c.status == kSuccess ? "0123456789" : "untouched", data) << c.name;
  }
}

TEST_F(BackendTest, FoldersListTheirEntriesAndPathsExistOrNot) {
  Put(Tmp("x.err"), "e");
  ASSERT_EQ(kSuccess, base_->CreateDirectory(Tmp("sub")));
  EXPECT_EQ((std::vector<std::string>{"sub\\", "x.err"}), Names(tmp_ + "\\"));
  EXPECT_TRUE(Names(Tmp("sub")).empty());
  std::vector<DirEntry> entries;
  EXPECT_EQ(kErrorFileNotFound, base_->ListDirectory(Tmp("missing"), &entries));
  EXPECT_TRUE(entries.empty());
  struct {
    std::string path;
    bool exists;
  } paths[] = {{Tmp("x.err"), true},  {Tmp("sub"), true},    {Tmp("sub\\"), true},
               {Tmp("y.err"), false}, {Tmp("*.err"), false}, {"", false}};
  for (const auto& p : paths) EXPECT_EQ(p.exists, base_->PathExists(p.path)) << p.path;
  EXPECT_EQ(kSuccess, base_->DeleteFile(Tmp("x.err")));
  EXPECT_FALSE(base_->PathExists(Tmp("x.err")));
  EXPECT_EQ(kErrorFileNotFound, base_->DeleteFile(Tmp("x.err")));
}

TEST_F(BackendTest, KnownFoldersLieUnderTheRoot) {
  struct {
    KnownFolder folder;
    const char* below;
  } cases[] = {{KnownFolder::kCommonAppData, "/ProgramData"},
               {KnownFolder::kPublicDocuments, "/Users/Public/Documents"}};
  for (const auto& c : cases) {
    std::string path;
    ASSERT_EQ(kSuccess, base_->GetKnownFolder(c.folder, &path));
    std::replace(path.begin(), path.end(), '\\', '/');
    std::string root = tmp_;
    std::replace(root.begin(), root.end(), '\\', '/');
    EXPECT_EQ(root + c.below, path);
  }
}

TEST_F(BackendTest, LocalTimeAgreesWithTheZoneAndTheClock) {
  LocalTimeFields f;
  ASSERT_TRUE(base_->ToLocalTime(1000000000, &f));  // 2001-09-09 01:46:40 UTC, a Sunday
  EXPECT_EQ(2001, f.year);
  EXPECT_EQ(9, f.month);
  EXPECT_EQ(40, f.second);
  EXPECT_EQ(f.day == 9 ? 0 : 6, f.weekday);
  const int offset = ((f.day - 9) * 24 + f.hour) * 60 + f.minute - 106;
  const int bias = base_->GetTimeZoneBias();
  EXPECT_TRUE(offset == -bias || offset == -bias + 60) << offset << " against bias " << bias;

  for (int attempt = 0; attempt < 3; ++attempt) {
    const int64_t before = base_->Now();
    const SystemTime st = base_->GetLocalTime();
    LocalTimeFields now;
    ASSERT_TRUE(base_->ToLocalTime(before, &now));
    if (base_->Now() / 60 != before / 60) continue;  // a minute turned between the reads
    const int got[] = {st.year, st.month, st.day, st.dayOfWeek, st.hour, st.minute};
    const int want[] = {now.year, now.month, now.day, now.weekday, now.hour, now.minute};
    EXPECT_TRUE(std::equal(got, got + 6, want)) << st.year << "-" << st.month << "-" << st.day;
    break;
  }
}

TEST_F(BackendTest, OwnProgramCarriesTheVersionAndOthersNone) {
  std::string self;
  ASSERT_EQ(kSuccess, base_->GetModulePath(&self));
  EXPECT_TRUE(base_->PathExists(self)) << self;
  std::unique_ptr<VersionResource> res;
  ASSERT_EQ(kSuccess, base_->LoadVersionResource(self, &res));
  EXPECT_TRUE(res->HasFixedInfo());
  std::string value;
  ASSERT_TRUE(res->QueryTranslation(&value));
  EXPECT_EQ(std::string("\x09\x04\xB0\x04", 4), value);
  struct {
    const char* subBlock;
    const char* value;  // null: absent
  } cases[] = {
      {"\\StringFileInfo\\040904B0\\FileVersion", INKORA_VERSION_TEXT},
      {"\\StringFileInfo\\040904B0\\ProductName", "Inkora Updater"},
      {"\\StringFileInfo\\040904B0\\NoSuchName", nullptr},
      {"\\StringFileInfo\\040704B0\\FileVersion", nullptr},
  };
  for (const auto& c : cases) {
    value.clear();
    EXPECT_EQ(c.value != nullptr, res->QueryString(c.subBlock, &value)) << c.subBlock;
    EXPECT_EQ(c.value != nullptr ? c.value : "", value) << c.subBlock;
  }
  Put(Tmp("other.exe"), "MZ not ours");
  res.reset();
  EXPECT_NE(kSuccess, base_->LoadVersionResource(Tmp("other.exe"), &res));
  EXPECT_FALSE(res);
}

TEST_F(BackendTest, RandomBytesFillTheWholeBuffer) {
  unsigned char a[48] = {0}, b[48] = {0};
  ASSERT_EQ(kSuccess, base_->GenRandom(a, sizeof(a)));
  ASSERT_EQ(kSuccess, base_->GenRandom(b, sizeof(b)));
  EXPECT_NE(0, std::memcmp(a + 32, b + 32, 16));
  EXPECT_EQ(kSuccess, base_->GenRandom(nullptr, 0));
}

TEST_F(BackendTest, UrlsSplitAsWinInetSplitsThem) {
  struct {
    const char* url;
    Status status;
    int32_t scheme = 0;
    const char* host = "";
    uint16_t port = 0;
    bool portGiven = false;
    const char* user = "";
    const char* password = "";
    const char* path = "";
    const char* extra = "";
  } cases[] = {
      {"http://uc.example.com/Teko/UC.hsh?query=abc", kSuccess, 3, "uc.example.com", 80, false, "", "",
       "/Teko/UC.hsh", "?query=abc"},
      {"http://127.0.0.1:8080/a/b#frag", kSuccess, 3, "127.0.0.1", 8080, true, "", "", "/a/b", "#frag"},
      {"HTTP://h:80/", kSuccess, 3, "h", 80, true, "", "", "/", ""},
      {"https://u:pw@secure.example/p", kSuccess, 4, "secure.example", 443, false, "u", "pw", "/p", ""},
      {"http://h:99999/", kErrorInternetInvalidUrl},
      {"not a url", kErrorInternetInvalidUrl},
      {"", kErrorInternetInvalidUrl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    UrlComponents p;
    p.host = "stale";
    ASSERT_EQ(c.status, base_->CrackUrl(c.url, &p));
    if (c.status != kSuccess) continue;
    EXPECT_EQ(c.scheme, p.schemeNumber);
    EXPECT_EQ(c.host, p.host);
    EXPECT_EQ(c.port, p.port);
    EXPECT_EQ(c.portGiven, p.portGiven);
    EXPECT_EQ(c.user, p.user);
    EXPECT_EQ(c.password, p.password);
    EXPECT_EQ(c.path, p.path);
    EXPECT_EQ(c.extra, p.extra);
  }
}

// A loopback HTTP server: one request a connection, answered with the bytes
// the responder gives; every request is kept.
class LoopbackServer {
 public:
  struct Request {
    std::string head, body;
  };
  explicit LoopbackServer(std::function<std::string(const std::string& target)> respond)
      : respond_(std::move(respond)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len);
    ::listen(listen_, 8);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      for (platform_testing::Socket s;
           (s = ::accept(listen_, nullptr, nullptr)) != platform_testing::kNoSocket;) {
        Serve(s);
        platform_testing::ShutdownSend(s);
        platform_testing::CloseSocket(s);
      }
    });
  }
  ~LoopbackServer() {
    platform_testing::CloseSocket(listen_);  // accept fails and the loop ends
    thread_.join();
  }
  uint16_t port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  void Serve(platform_testing::Socket s) {
    std::string in;
    char buf[4096];
    size_t end;
    while ((end = in.find("\r\n\r\n")) == std::string::npos) {
      const int n = static_cast<int>(::recv(s, buf, sizeof(buf), 0));
      if (n <= 0) return;
      in.append(buf, static_cast<size_t>(n));
    }
    Request r{in.substr(0, end + 2), in.substr(end + 4)};
    std::string lower = r.head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return static_cast<char>(c | 0x20); });
    const size_t cl = lower.find("content-length:");
    const size_t want = cl == std::string::npos ? 0 : std::stoul(r.head.substr(cl + 15));
    for (int n = 1; r.body.size() < want && n > 0;) {
      n = static_cast<int>(::recv(s, buf, sizeof(buf), 0));
      if (n > 0) r.body.append(buf, static_cast<size_t>(n));
    }
    std::string target = r.head.substr(r.head.find(' ') + 1);
    target = target.substr(0, target.find(' '));
    {
      std::lock_guard<std::mutex> lock(mu_);
      requests_.push_back(r);
    }
    const std::string out = target == "/echo" ? Answer("200 OK", "got:" + r.body) : respond_(target);
    ::send(s, out.data(), static_cast<int>(out.size()), platform_testing::kSendFlags);
  }

 public:
  static std::string Answer(const std::string& status, const std::string& body, bool withLength = true) {
    return "HTTP/1.1 " + status + "\r\nConnection: close\r\n" +
           (withLength ? "Content-Length: " + std::to_string(body.size()) + "\r\n" : "") + "\r\n" + body;
  }

 private:
  platform_testing::SocketLibrary library_;
  std::function<std::string(const std::string&)> respond_;
  platform_testing::Socket listen_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::vector<Request> requests_;
};

Status ReadAll(HttpRequest* request, std::string* body) {
  char buf[1024];
  for (uint32_t got = 1; got > 0;) {
    const Status s = request->Read(buf, 1023, &got);
    if (s != kSuccess) return s;
    body->append(buf, got);
  }
  return kSuccess;
}

class BackendHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kSuccess, env_->InternetOpen("InkoraUpdater", &session_));
    ASSERT_EQ(kSuccess, session_->SetTimeouts(10000, 10000));
  }
  static std::string Big() {
    std::string body;
    for (int i = 0; body.size() < 100000; ++i) body += std::to_string(i) + ",";
    return body;
  }
  static std::string Respond(const std::string& target) {
    using L = LoopbackServer;
    if (target == "/ok") return L::Answer("200 OK", "hello");
    if (target == "/missing") return L::Answer("404 Not Found", "nope");
    if (target == "/nolength") return L::Answer("200 OK", "streamed body", false);
    if (target == "/big") return L::Answer("200 OK", Big());
    if (target == "/nul") return L::Answer("200 OK", std::string("ab\0cd", 5));
    if (target == "/counted") return L::Answer("200 OK", "n" + std::to_string(++counted_));
    return "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 100\r\n\r\nonly ten b";
  }
  std::unique_ptr<Env> env_ = NewIsolatedEnv("");
  LoopbackServer server_{Respond};
  std::unique_ptr<HttpSession> session_;
  static std::atomic<int> counted_;
};
std::atomic<int> BackendHttpTest::counted_{0};

TEST_F(BackendHttpTest, GetsGiveStatusLengthAndTheWholeBody) {
  struct {
    const char* path;
    uint32_t status;
    Status lengthStatus;
    uint64_t length;
    Status readStatus;
    std::string body;
  } cases[] = {
      {"/ok", 200, kSuccess, 5, kSuccess, "hello"},
      {"/missing", 404, kSuccess, 4, kSuccess, "nope"},
      {"/nolength", 200, kErrorHttpHeaderNotFound, 0, kSuccess, "streamed body"},
      {"/big", 200, kSuccess, Big().size(), kSuccess, Big()},
      {"/nul", 200, kSuccess, 5, kSuccess, std::string("ab\0cd", 5)},
      // A cut-off body is an error, not a short answer.
      {"/truncated", 200, kSuccess, 100, kErrorInternetConnectionReset, "only ten b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::unique_ptr<HttpRequest> request;
    ASSERT_EQ(kSuccess, session_->OpenUrl(server_.Url(c.path), "Accept: */*\r\n\r\n",
                                          kInternetFlagNoCacheWrite | kInternetFlagReload, &request));
    uint32_t status = 0;
    ASSERT_EQ(kSuccess, request->QueryStatusCode(&status));
    EXPECT_EQ(c.status, status);
    uint64_t length = 7;
    EXPECT_EQ(c.lengthStatus, request->QueryContentLength(&length));
    EXPECT_EQ(c.lengthStatus == kSuccess ? c.length : 7u, length);
    std::string body;
    EXPECT_EQ(c.readStatus, ReadAll(request.get(), &body));
    EXPECT_EQ(c.body, body);
  }
  const std::vector<LoopbackServer::Request> seen = server_.requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(0u, seen[0].head.rfind("GET /ok HTTP/1.1\r\n", 0));
  EXPECT_NE(std::string::npos, seen[0].head.find("User-Agent: InkoraUpdater\r\n"));
  EXPECT_NE(std::string::npos, seen[0].head.find("Accept: */*\r\n"));
  // A GET handle has no request left to send.
  std::unique_ptr<HttpRequest> get;
  ASSERT_EQ(kSuccess, session_->OpenUrl(server_.Url("/ok"), "", kInternetFlagReload, &get));
  EXPECT_EQ(kErrorInvalidHandle, get->Send("", "x"));
}

TEST_F(BackendHttpTest, RepeatedGetsReachTheServerEachTime) {
  counted_ = 0;
  for (const char* expected : {"n1", "n2"}) {
    std::unique_ptr<HttpRequest> request;
    ASSERT_EQ(kSuccess, session_->OpenUrl(server_.Url("/counted"), "", kInternetFlagReload, &request));
    std::string body;
    ASSERT_EQ(kSuccess, ReadAll(request.get(), &body));
    EXPECT_EQ(expected, body);
  }
}

TEST_F(BackendHttpTest, FormPostCarriesHeaderAndDataToThePath) {
  std::unique_ptr<HttpRequest> request;
  ASSERT_EQ(kSuccess, session_->OpenRequest("127.0.0.1", server_.port(), "POST", "/echo",
                                            kInternetFlagReload | kInternetFlagPragmaNoCache, &request));
  uint32_t status = 0;
  EXPECT_NE(kSuccess, request->QueryStatusCode(&status));  // nothing sent yet
  const std::string data = "query=abc%2B%2F%3D";
  ASSERT_EQ(kSuccess, request->Send("Content-Type: application/x-www-form-urlencoded", data));
  ASSERT_EQ(kSuccess, request->QueryStatusCode(&status));
  EXPECT_EQ(200u, status);
  std::string body;
  ASSERT_EQ(kSuccess, ReadAll(request.get(), &body));
  EXPECT_EQ("got:" + data, body);
  const std::vector<LoopbackServer::Request> seen = server_.requests();
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ(0u, seen[0].head.rfind("POST /echo HTTP/1.1\r\n", 0));
  EXPECT_NE(std::string::npos, seen[0].head.find("Content-Type: application/x-www-form-urlencoded\r\n"));
  EXPECT_EQ(data, seen[0].body);
  EXPECT_NE(kSuccess, request->Send("", data));  // once only
}

TEST_F(BackendHttpTest, NobodyListeningIsAConnectFailure) {
  uint16_t closed;
  {
    LoopbackServer gone(Respond);
    closed = gone.port();
  }
  std::unique_ptr<HttpRequest> request;
  EXPECT_EQ(kErrorInternetCannotConnect,
            session_->OpenUrl("http://127.0.0.1:" + std::to_string(closed) + "/ok", "", kInternetFlagReload,
                              &request));
  EXPECT_FALSE(request);
}

}  // namespace
}  // namespace platform
