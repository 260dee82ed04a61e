// One suite for both backends, against the system's own registry (or hive), files and HTTP.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>
#include <tuple>

#include "platform/testing/tree_fixture.h"
#ifdef _WIN32
#include "platform/win32/windows_clean.h"
// clang-format off: after <windows.h>, which is lean and so brings no winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr int kSendFlags = 0, kShutSend = SD_SEND;
struct SocketLibrary {
  SocketLibrary() {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
  }
  ~SocketLibrary() { ::WSACleanup(); }
};
#else
using Socket = int;
constexpr Socket INVALID_SOCKET = -1;
constexpr int kSendFlags = MSG_NOSIGNAL, kShutSend = SHUT_WR;  // a peer that hung up: an error, not SIGPIPE
// Shut down first: close alone does not wake a thread blocked in accept.
void closesocket(Socket s) {
  ::shutdown(s, SHUT_RDWR);
  ::close(s);
}
struct SocketLibrary {};  // nothing to start
#endif

constexpr uint32_t k32 = kKeyWow64_32Key, k64 = kKeyWow64_64Key;

class BackendTest : public platform_testing::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    // On Windows the registry is the machine's: a key of this test's own.
    key_ = "SOFTWARE\\InkoraBackendTest\\" + tmp_.substr(tmp_.find_last_of("\\/") + 1);
  }
  void TearDown() override {
    for (uint32_t view : {k32, k64}) base_->registry()->DeleteTree(key_, view);
    TreeFixture::TearDown();
  }
  // Each entry's name, with "\\" after a folder's and ":" and the kind after anything else's.
  std::set<std::string> Names(const std::string& folder) {
    std::unique_ptr<Folder> f;
    std::vector<FolderEntry> entries;
    EXPECT_EQ(kSuccess, base_->files()->OpenFolder(folder, &f)) << folder;
    EXPECT_EQ(kSuccess, f ? f->List(&entries) : kErrorInvalidHandle) << folder;
    std::set<std::string> names;
    for (const FolderEntry& e : entries) {
      names.insert(e.name + (e.kind == EntryKind::kFolder ? "\\"
                             : e.kind == EntryKind::kFile ? ""
                                                          : std::string(":") + EntryKindText(e.kind)));
    }
    return names;
  }
  std::string key_;
};

TEST_F(BackendTest, KeysAreMadeWithParentsFoundWithoutRegardToCaseAndKeptPerView) {
  std::unique_ptr<RegKey> k;
  auto open = [&](const char* sub, uint32_t view) {
    return base_->registry()->OpenKey(key_ + sub, kKeyRead | view, &k);
  };
  EXPECT_EQ(kErrorFileNotFound, open("\\A\\Bb", k32));
  ASSERT_EQ(kSuccess, base_->registry()->CreateKey(key_ + "\\A\\Bb\\C", kKeyAllAccess | k32, &k));
  ASSERT_EQ(kSuccess, base_->registry()->CreateKey(key_ + "\\Abcdef", kKeyAllAccess | k32, &k));
  EXPECT_EQ(kErrorFileNotFound, open("\\A\\Bb", k64)) << "the other view holds none of it";
  ASSERT_EQ(kSuccess, base_->registry()->CreateKey(key_ + "\\A\\Bb", kKeyAllAccess | k64, &k));
  ASSERT_EQ(kSuccess, open("\\a\\", k32));
  std::string name;  // of the subkeys one level down, as made
  EXPECT_EQ(kErrorMoreData, k->EnumKey(0, &name, 2)) << "no room for the NUL";
  ASSERT_EQ(kSuccess, k->EnumKey(0, &name, 3));
  EXPECT_EQ("Bb", name);
  EXPECT_EQ(kErrorNoMoreItems, k->EnumKey(1, &name, 260));
  ASSERT_EQ(kSuccess, base_->registry()->DeleteTree(key_ + "\\a", k32));  // all below, in one view
  EXPECT_EQ(kErrorFileNotFound, open("\\A", k32));
  EXPECT_EQ(kSuccess, open("\\Abcdef", k32)) << "a key that only starts alike stays";
  EXPECT_EQ(kSuccess, open("\\A\\Bb", k64));
}

TEST_F(BackendTest, ValuesGiveTypeAndSizeAndAskForRoom) {
  std::unique_ptr<RegKey> key;
  ASSERT_EQ(kSuccess, base_->registry()->CreateKey(key_, kKeyRead | kKeyWrite | k32, &key));
  const uint32_t dword = 0xDEADBEEF;
  ASSERT_EQ(kSuccess, key->SetValue("dw", kRegDword, &dword, 4));
  ASSERT_EQ(kSuccess, key->SetValue("text", kRegSz, "0123456789", 11));
  ASSERT_EQ(kSuccess, key->SetValue("raw", kRegBinary, "\x01\x00\x03", 3));
  ASSERT_EQ(kSuccess, key->SetValue("RAW", kRegBinary, "\x37", 1));  // replaced, not added
  // Name, room (0: no buffer), result.
  const std::tuple<const char*, uint32_t, const char*> cases[] = {
      {"dw", 4, "0 4 4 \xEF\xBE\xAD\xDE"}, {"DW", 0, "0 4 4 "},   {"dw", 3, "234 4 4 "},
      {"text", 11, "0 1 11 0123456789"},   {"raw", 8, "0 3 1 7"}, {"missing", 8, "2 0 8 "}};
  for (const auto& [name, room, result] : cases) {
    char buf[16] = {0};
    uint32_t type = 0, size = room == 0 ? 8 : room;
    const Status s = key->QueryValue(name, &type, room == 0 ? nullptr : buf, &size);
    EXPECT_EQ(result, std::to_string(s) + " " + std::to_string(type) + " " + std::to_string(size) + " " +
                          (s == kSuccess ? std::string(buf) : ""))
        << name << " in " << room;
  }
  EXPECT_EQ(kSuccess, key->DeleteValue("Text"));
  EXPECT_EQ(kErrorFileNotFound, key->DeleteValue("text"));
  std::unique_ptr<RegKey> reader;
  ASSERT_EQ(kSuccess, base_->registry()->OpenKey(key_, kKeyRead | k32, &reader));
  EXPECT_EQ(kErrorAccessDenied, reader->SetValue("x", kRegDword, &dword, 4)) << "opened for reading";
}

// The program's own folders go by path (a served folder's files by the folder handle, below).
TEST_F(BackendTest, FilesAreReplacedWholeAndAppendedByteForByte) {
  const std::string id = Tmp("Inkora.ID"), log = Tmp("a.log");
  ASSERT_EQ(kSuccess, base_->files()->CreateFolder(Tmp("sub")));
  EXPECT_EQ(kErrorAlreadyExists, base_->files()->CreateFolder(Tmp("sub")));
  for (const std::string& p : {Tmp("sub\\"), Tmp("*"), std::string()})
    EXPECT_EQ(p == Tmp("sub\\"), Exists(p)) << p;
  for (const std::string& data : {std::string(200000, 'x'), std::string(), std::string("a\0b\n", 4)}) {
    ASSERT_EQ(kSuccess, base_->files()->WriteFileAtomic(id, data));
    EXPECT_EQ(data, Get(id));
  }
  for (const std::string& part : {std::string("\r\n12/04/2026\t f()-a\n"), std::string("\0c", 2)})
    ASSERT_EQ(kSuccess, base_->files()->AppendFile(log, part));
  EXPECT_EQ(std::string("\r\n12/04/2026\t f()-a\n\0c", 22), Get(log));
  EXPECT_NE(kSuccess, base_->files()->WriteFileAtomic(Tmp("missing\\x.txt"), "data"));
#ifndef _WIN32
  EXPECT_NE(kSuccess, base_->files()->WriteFileAtomic(Tmp("sub"), "data"));  // a folder is never replaced
#endif
  EXPECT_EQ((std::set<std::string>{"Inkora.ID", "a.log", "sub\\"}), Names(tmp_))
      << "no temporary file is left";
  EXPECT_EQ(kSuccess, base_->files()->DeleteFile(log));
  EXPECT_EQ(kErrorFileNotFound, base_->files()->DeleteFile(log));
  std::string data;
  EXPECT_EQ(kErrorFileNotFound, base_->files()->ReadFile(log, &data, 10));
}

TEST_F(BackendTest, AnInstanceLockHasOneHolderUntilItLetsGo) {
  const std::string name = "InkoraBackendTest-" + tmp_.substr(tmp_.find_last_of("\\/") + 1);
  std::unique_ptr<InstanceLock> first, second;
  ASSERT_EQ(kSuccess, base_->services()->AcquireInstanceLock(name, &first));
  EXPECT_EQ(kErrorAlreadyExists, base_->services()->AcquireInstanceLock(name, &second));
  EXPECT_EQ(kErrorInvalidParameter, base_->services()->AcquireInstanceLock("a\\b", &second));
#ifndef _WIN32  // no special file is taken for the lock, nor waited on
  ASSERT_EQ(0, ::mkfifo((tmp_ + "/fifo.lock").c_str(), 0600));
  EXPECT_EQ(kErrorAccessDenied, base_->services()->AcquireInstanceLock("fifo", &second));
  ASSERT_EQ(0, ::symlink("fifo.lock", (tmp_ + "/link.lock").c_str()));
  EXPECT_EQ(kErrorStoppedOnSymlink, base_->services()->AcquireInstanceLock("link", &second));
#endif
  first.reset();
  EXPECT_EQ(kSuccess, base_->services()->AcquireInstanceLock(name, &first));
}

// Runs shell commands in the tree ($T) on the host, which makes the links, FIFOs and the like
// Wine cannot; under Wine a host program the test cannot wait for, so it leaves a mark when done.
bool HostShell(const std::string& tmp, const std::string& commands) {
  std::string root = tmp;
#ifdef _WIN32
  using UnixName = char*(__cdecl*)(const WCHAR*);
  auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* host = unixName == nullptr ? nullptr : unixName(std::wstring(tmp.begin(), tmp.end()).c_str());
  if (host == nullptr) return false;
  root = host;
  ::HeapFree(::GetProcessHeap(), 0, host);
#endif
  std::ofstream(tmp + "/shell.sh", std::ios::binary) << "T='" << root << "'\ncd \"$T\" || exit\n"
                                                     << commands << "\ntouch \"$T/shell.done\"\n";
  std::string command = "/bin/sh \"" + root + "/shell.sh\"";
#ifdef _WIN32
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process;
  if (!::CreateProcessA("Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
    return false;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  for (int i = 0; i < 6000 && !std::ifstream(tmp + "/shell.done"); ++i)
    ::Sleep(10);  // a broken host: no hang
#else
  if (std::system(command.c_str()) != 0) return false;
#endif
  return std::remove((tmp + "/shell.done").c_str()) == 0;
}

TEST_F(BackendTest, APlainFileIsReadReplacedRenamedAndDeletedThroughItsFolder) {
  Put(Tmp("f\\a.jlog"), "0123456789");
  Put(Tmp("f\\b.old"), "b");
  MakeDirs(Tmp("f\\sub"));
  std::unique_ptr<Folder> f, sub;
  EXPECT_EQ(kErrorFileNotFound, base_->files()->OpenFolder(Tmp("missing"), &f));
  EXPECT_EQ(kErrorPathNotFound, base_->files()->OpenFolder(Tmp("f\\a.jlog"), &f));
  EXPECT_EQ(kErrorInvalidName, base_->files()->OpenFolder(Tmp("f\\..\\f"), &f));
  ASSERT_EQ(kSuccess, base_->files()->OpenFolder(Tmp("f"), &f));
  std::string data = "untouched";
  FileIdentity read, now;
  EXPECT_EQ(kErrorInvalidData, f->ReadFile("a.jlog", 9, &data, &read));
  EXPECT_EQ(kErrorAccessDenied, f->ReadFile("sub", 100, &data, &read));
  EXPECT_EQ("untouched", data);
  ASSERT_EQ(kSuccess, f->ReadFile("a.jlog", 10, &data, &read));
  ASSERT_EQ(kSuccess, f->Identify("a.jlog", &now));
  EXPECT_EQ("0123456789 10", data + " " + std::to_string(now.size));
  EXPECT_TRUE(read == now);
#ifndef _WIN32
  ASSERT_EQ(0, ::chown((tmp_ + "/f/a.jlog").c_str(), 1234, 2345));
  ASSERT_EQ(0, ::chmod((tmp_ + "/f/a.jlog").c_str(), 04640));
#endif
  ASSERT_EQ(kSuccess, f->ReplaceFile("a.jlog", "new"));
  ASSERT_EQ(kSuccess, f->ReplaceFile("c.id", "made"));
  EXPECT_EQ("new made", Get(Tmp("f\\a.jlog")) + " " + Get(Tmp("f\\c.id")));
#ifndef _WIN32
  struct stat st;
  ASSERT_EQ(0, ::stat((tmp_ + "/f/a.jlog").c_str(), &st));
  EXPECT_EQ(std::make_tuple(1234u, 2345u, 0640u), std::make_tuple(st.st_uid, st.st_gid, st.st_mode & 07777))
      << "owner and mode kept, never a special bit";
#endif
  EXPECT_EQ(kErrorAlreadyExists, f->RenameFile("a.jlog", "b.old", nullptr));
  EXPECT_EQ(kSuccess, f->RenameFile("a.jlog", "a.old", nullptr));
  ASSERT_EQ(kSuccess, f->OpenFolder("sub", &sub));
  EXPECT_EQ(kSuccess, f->RenameFile("a.old", "moved", sub.get()));
  EXPECT_EQ(kSuccess, f->DeleteFile("c.id"));
  EXPECT_EQ((std::set<std::string>{"b.old", "sub\\"}), Names(Tmp("f"))) << "no temporary file is left";
  EXPECT_EQ((std::set<std::string>{"moved"}), Names(Tmp("f\\sub")));
}

// What a user can plant in a folder the service serves, one row at a time in
// fresh folders: "served" holds the entry, "outside" what it leads to. Nothing
// outside is read, changed, moved or removed, and the entry is left as it was.
TEST_F(BackendTest, HostileEntriesOfAFolderAreListedAsSuchAndNeverActedOn) {
  if (!HostShell(tmp_, "")) GTEST_SKIP() << "no host shell to plant links with (Windows itself)";
  using Kinds = std::vector<EntryKind>;
  const Kinds link = {EntryKind::kLink, EntryKind::kReparsePoint}, special = {EntryKind::kSpecial};
  const struct {
    const char *what, *plant;
    Kinds kinds;                 // what the listing may call it; none: the folder is the link
    const char* swap = nullptr;  // done between the listing and the calls
  } rows[] = {
      {"a link to a file outside", "ln -s ../outside/precious.txt served/e.jlog", link},
      {"a link to a folder outside", "ln -s ../outside served/e.jlog", link},
      {"a FIFO", "mkfifo served/e.jlog", special},
      {"a device (as root)", "mknod served/e.jlog c 1 3", special},
      {"a second name of a file outside", "ln outside/precious.txt served/e.jlog", {EntryKind::kHardLinks}},
      {"a \\-name leading out", "touch 'served/..\\outside\\precious.txt'", {EntryKind::kBadName}},
      {"the folder itself a link", "rmdir served; ln -s outside served", {}},
      {"a file swapped for a link after the listing",
       "echo mine >served/e.jlog",
       {EntryKind::kFile},
       "rm served/e.jlog; ln -s ../outside/precious.txt served/e.jlog"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(HostShell(tmp_, std::string("rm -rf served outside; mkdir served outside; ") +
                                    "printf precious >outside/precious.txt; " + row.plant));
    std::unique_ptr<Folder> served, sub;
    const Status open = base_->files()->OpenFolder(Tmp("served"), &served);
    if (row.kinds.empty()) {
      ASSERT_EQ(kSuccess, base_->files()->OpenFolder(tmp_, &served));
      EXPECT_EQ(kErrorStoppedOnSymlink, open);
      EXPECT_EQ(kErrorStoppedOnSymlink, served->OpenFolder("served", &sub));
    } else {
      ASSERT_EQ(kSuccess, open);
      std::vector<FolderEntry> entries;
      ASSERT_EQ(kSuccess, served->List(&entries));
      if (entries.empty() && std::string(row.what).find("root") != std::string::npos) continue;  // not root
      ASSERT_EQ(1u, entries.size());
      EXPECT_NE(row.kinds.end(), std::find(row.kinds.begin(), row.kinds.end(), entries[0].kind))
          << EntryKindText(entries[0].kind);
      if (row.swap) {
        ASSERT_TRUE(HostShell(tmp_, row.swap));
      }
      const std::string name = entries[0].name;
      const std::set<std::string> before = Names(Tmp("served"));
      std::string data = "untouched";
      FileIdentity identity;
      EXPECT_NE(kSuccess, served->ReadFile(name, 1 << 20, &data, &identity));
      EXPECT_EQ("untouched", data);
      EXPECT_NE(kSuccess, served->Identify(name, &identity));
      EXPECT_NE(kSuccess, served->ReplaceFile(name, "changed"));
      EXPECT_NE(kSuccess, served->RenameFile(name, "moved", nullptr));
      EXPECT_NE(kSuccess, served->DeleteFile(name));
      EXPECT_NE(kSuccess, served->OpenFolder(name, &sub));
      EXPECT_EQ(before, Names(Tmp("served")));
    }
    EXPECT_EQ("precious", Get(Tmp("outside\\precious.txt")));
    EXPECT_EQ(1u, Names(Tmp("outside")).size()) << "nothing moved out there";
  }
}

TEST_F(BackendTest, OwnProgramCarriesTheVersionAndRandomBytesFillTheBuffer) {
  std::string self, value;
  ASSERT_EQ(kSuccess, base_->files()->GetModulePath(&self));
  std::unique_ptr<VersionResource> res;
  ASSERT_EQ(kSuccess, base_->files()->LoadVersionResource(self, &res));
  EXPECT_TRUE(res->HasFixedInfo());
  EXPECT_TRUE(res->QueryString("\\StringFileInfo\\040904B0\\FileVersion", &value));
  EXPECT_EQ(INKORA_VERSION_TEXT, value);
  EXPECT_FALSE(res->QueryString("\\StringFileInfo\\040904B0\\Comments", &value));
  EXPECT_NE(kSuccess, base_->files()->LoadVersionResource(Tmp("other.exe"), &res));  // another file: none
  EXPECT_TRUE(res->QueryTranslation(&value) && value == std::string("\x09\x04\xB0\x04", 4));  // 0409/04B0
  unsigned char a[48] = {0}, b[48] = {0};
  ASSERT_EQ(kSuccess, base_->system()->GenRandom(a, sizeof(a)));
  ASSERT_EQ(kSuccess, base_->system()->GenRandom(b, sizeof(b)));
  EXPECT_NE(0, std::memcmp(a + 32, b + 32, 16));
}

// "openssl dgst -sha256 -sign" over "signed bytes", as r and s, and the key's
// point; the point (x, p - y) is another key on the curve, (x, y ^ 1) none.
TEST_F(BackendTest, SignaturesVerifyOnlyOverTheirBytesUnderTheirKey) {
  const auto bytes = [](const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
      out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  };
  const std::string x = bytes("4ab117acfbf9e78aa5d07ee7a630aaa42950ea03ac946ceda680c9c4dc4c2cad"),
                    y = bytes("407b52a9bfb62f5909d56866b7fb3213e7688c5a263c312995af8861d085f4f1"),
                    otherY = bytes("bf84ad554049d0a7f62a97994804cdec189773a6d9c3ced66a50779e2f7a0b0e"),
                    rs = bytes(
                        "da087d47e3ebdf81d0a2ede8a4ae058c520125c15e85d2e2457f7f9b556f7c35"
                        "5961389aad05f23902be3520b4f5fe719c765d488d8df6ffe97b59c9051f04e4");
  const std::string offCurve = x + y.substr(0, 31) + static_cast<char>(y[31] ^ 1),
                    otherR = static_cast<char>(rs[0] ^ 1) + rs.substr(1);
  const struct {
    std::string xy, data, rs;
    Status want;  // of the import when it fails, else of the verification
  } rows[] = {
      {x + y, "signed bytes", rs, kSuccess},
      {x + y, "signed bytes ", rs, kErrorBadSignature},
      {x + y, "signed bytes", otherR, kErrorBadSignature},
      {x + otherY, "signed bytes", rs, kErrorBadSignature},
      {x + y, "signed bytes", rs.substr(1), kErrorInvalidParameter},
      {x + y.substr(1), "signed bytes", rs, kErrorInvalidParameter},
      {offCurve, "signed bytes", rs, kErrorInvalidData},
  };
  for (const auto& row : rows) {
    std::unique_ptr<SignatureKey> key;
    Status outcome = base_->system()->ImportEcdsaP256Key(row.xy, &key);
    if (outcome == kSuccess) outcome = key->VerifySha256(row.data, row.rs);
#ifdef _WIN32
    // Wine's CNG takes a point off the curve; the key then verifies nothing.
    if (row.want == kErrorInvalidData && outcome == kErrorBadSignature) continue;
#endif
    EXPECT_EQ(row.want, outcome) << row.data;
  }
}

TEST_F(BackendTest, UrlsSplitAsWinInetSplitsThem) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://uc.example.com/Teko/UC.hsh?q=a:81", "3 :@uc.example.com:80 /Teko/UC.hsh ?q=a:81"},
      {"http://127.0.0.1:8080/a/b#frag", "3 :@127.0.0.1:8080! /a/b #frag"},
      {"HTTP://h:80/", "3 :@h:80! / "},
      {"https://u:pw@secure.example/p", "4 u:pw@secure.example:443 /p "},
      {"ftp://h/x", "1 :@h:21 /x "},
      {"not a url", "invalid"},
#ifndef _WIN32  // the edges of the authority, as the POSIX splitter takes them
      {"http://[::1]:9/", "3 :@[::1]:9! / "},
      {"http://h:65535/", "3 :@h:65535! / "},
      {"http://h:65536/", "invalid"},
      {"http://h:8a/", "invalid"},
#endif
  };
  for (const auto& c : cases) {
    UrlComponents p;
    p.host = "stale";
    const Status s = base_->http()->SplitUrl(c.first, &p);
    EXPECT_EQ(c.second, s == kErrorInternetInvalidUrl
                            ? "invalid"
                            : std::to_string(p.schemeNumber) + " " + p.user + ":" + p.password + "@" +
                                  p.host + ":" + std::to_string(p.port) + (p.portGiven ? "! " : " ") +
                                  p.path + " " + p.extra)
        << c.first;
  }
}

// A loopback HTTP server answering "hello"; "/slow" a byte every 150 ms, "/echo" the
// request's "X-" header lines and its body, "/huge" 33 MiB.
class LoopbackServer {
 public:
  LoopbackServer() {
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
      for (Socket s; (s = ::accept(listen_, nullptr, nullptr)) != INVALID_SOCKET;) {
        Serve(s);
        ::shutdown(s, kShutSend);
        closesocket(s);
      }
    });
  }
  ~LoopbackServer() {
    closesocket(listen_);  // accept fails and the loop ends
    thread_.join();
  }
  std::string Url(const char* path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  uint16_t port_;

 private:
  void Serve(Socket s) {
    std::string in;
    char buf[4096];
    while (in.find("\r\n\r\n") == std::string::npos) {
      const int n = static_cast<int>(::recv(s, buf, sizeof(buf), 0));
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
    }
    // The body a POST announced, whole.
    const size_t announced = in.find("Content-Length: "), end = in.find("\r\n\r\n") + 4;
    for (int n = 1;
         n > 0 && announced != std::string::npos && in.size() < end + std::stoul(in.substr(announced + 16));
         in.append(buf, static_cast<size_t>(std::max(n, 0))))
      n = static_cast<int>(::recv(s, buf, sizeof(buf), 0));
    const std::string target = in.substr(in.find(' ') + 1, in.find(" HTTP/") - in.find(' ') - 1);
    std::string echo;
    for (size_t at = in.find("\r\nX-"); at != std::string::npos; at = in.find("\r\nX-", at + 2))
      echo += in.substr(at + 2, in.find("\r\n", at + 2) - at - 2) + "|";
    echo += in.substr(std::min(end, in.size()));
    const std::string body = target == "/empty"  ? ""
                             : target == "/echo" ? echo
                             : target == "/huge" ? std::string(33u << 20, 'h')
                                                 : "hello";
    std::string out = target == "/missing" ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n";
    const std::string length = target == "/truncated" ? "100" : std::to_string(body.size());
    out += "Content-Length: " + length + "\r\n";
    out += "Connection: close\r\n\r\n" + (target == "/slow" ? "" : body);
    ::send(s, out.data(), static_cast<int>(out.size()), kSendFlags);
    for (size_t at = 0; target == "/slow" && at < body.size(); ++at) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      ::send(s, body.data() + at, 1, kSendFlags);
    }
  }
  SocketLibrary library_;
  Socket listen_;
  std::thread thread_;
};

// The status code, the length (or "-"), the read status and the body, read a few bytes at a time.
std::string Outcome(HttpRequest* request) {
  uint32_t status = 0;
  uint64_t length = 0;
  std::string body;
  char buf[8];
  request->QueryStatusCode(&status);
  const bool hasLength = request->QueryContentLength(&length) == kSuccess;
  Status read = kSuccess;
  for (uint32_t got = 1; got > 0 && read == kSuccess; body.append(buf, got))
    read = request->Read(buf, 7, &got);
  return std::to_string(status) + " " + (hasLength ? std::to_string(length) : "-") + " " +
         std::to_string(read) + " " + body;
}

TEST(BackendHttpTest, RequestsReachTheServerAndAnswersArriveWholeOrAsErrors) {
  std::unique_ptr<Env> env = NewIsolatedEnv("");
  std::unique_ptr<HttpSession> session;
  std::unique_ptr<HttpRequest> request;
  ASSERT_EQ(kSuccess, env->http()->OpenSession("InkoraUpdater", &session));
  // The receive time-out counts from the last byte that moved.
  ASSERT_EQ(kSuccess, session->SetTimeouts(10000, 400));
  LoopbackServer server;
  const std::pair<const char*, const char*> cases[] = {
      {"/missing", "404 5 0 hello"},
      {"/empty", "200 0 0 "},                 // a length of zero is a length
      {"/truncated", "200 100 12031 hello"},  // a cut-off body is an error, not a short answer
      {"/slow", "200 5 0 hello"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(kSuccess, session->OpenUrl(server.Url(c.first), "", kInternetFlagReload, &request));
    EXPECT_EQ(c.second, Outcome(request.get())) << c.first;
  }
#ifndef _WIN32  // the POSIX backend's own edges: header lines, schemes, the body's cap
  ASSERT_EQ(kSuccess, session->OpenUrl(server.Url("/echo"), "X-A: 1\r\n\r\nX-B: 2", 0, &request));
  EXPECT_EQ("200 14 0 X-A: 1|X-B: 2|", Outcome(request.get()));
  ASSERT_EQ(kSuccess, session->OpenRequest("127.0.0.1", server.port_, "POST", "echo", 0, &request));
  ASSERT_EQ(kSuccess, request->Send("X-C: 3\r\n", "a=1&b"));
  EXPECT_EQ("200 12 0 X-C: 3|a=1&b", Outcome(request.get()));
  EXPECT_EQ(kErrorInternetInvalidUrl, session->OpenUrl("file:///etc/hostname", "", 0, &request));
  ASSERT_EQ(kSuccess, session->OpenUrl(server.Url("/huge"), "", 0, &request));
  std::string buf(1u << 20, '\0');
  size_t total = 0;
  Status read = kSuccess;
  for (uint32_t got = 1; got > 0 && read == kSuccess; total += got)
    read = request->Read(&buf[0], 1u << 20, &got);
  EXPECT_EQ(std::to_string(kErrorInsufficientBuffer) + " " + std::to_string((32u << 20) + 1),
            std::to_string(read) + " " + std::to_string(total));
  ASSERT_EQ(kSuccess, session->SetDeadline(400));  // the whole transfer ends there, however steady
  ASSERT_EQ(kSuccess, session->OpenUrl(server.Url("/slow"), "", 0, &request));
  EXPECT_EQ("200 5 1460 ", Outcome(request.get()).substr(0, 11));
  EXPECT_EQ(kErrorTimeout, session->OpenUrl(server.Url("/empty"), "", 0, &request));
#endif
}

}  // namespace
}  // namespace platform
