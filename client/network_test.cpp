// The client over the network as deployed: https to the web farm with a CA made
// here and trusted only through "HttpCaFile", and tinyproxy in the way.
#include <gtest/gtest.h>

#if defined(INKORA_HAVE_WEBFARM_FIXTURE) && !defined(_WIN32)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "client/client_info.h"
#include "settings/testing/settings_fixture.h"
#include "webfarm/testing/webfarm_fixture.h"

namespace {

using webfarm_testing::CWebFarm;

// A throwaway CA "ca" and an unknown one "other"; leaf certificates for
// localhost (good, from other) and for another name, one key for all.
const char kMakeCertificates[] = R"(set -e
k="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $k -keyout ca.key -out ca.pem -days 2 -subj /CN=InkoraTestCA
openssl req -x509 $k -keyout other.key -out other.pem -days 2 -subj /CN=OtherCA
openssl req $k -keyout leaf.key -out localhost.csr -subj /CN=localhost
openssl req -new -key leaf.key -out elsewhere.csr -subj /CN=elsewhere.example
echo "subjectAltName=DNS:localhost,IP:127.0.0.1" > localhost.ext
echo "subjectAltName=DNS:elsewhere.example" > elsewhere.ext
mkdir db && : > db/index.txt && echo 01 > db/serial
printf '[ca]\ndefault_ca=c\n[c]\ndatabase=db/index.txt\nserial=db/serial\nnew_certs_dir=db\n' > ca.cnf
printf 'default_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncommonName=supplied\n' >> ca.cnf
sign() { openssl ca -batch -notext -config ca.cnf -cert $1.pem -keyfile $1.key -in $2.csr \
  -extfile $2.ext -out $3.pem $4; }
sign ca localhost good "-days 2"
sign ca elsewhere name "-days 2"
sign other localhost unknown "-days 2"
)";

int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), n);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

// tinyproxy in the foreground on a free loopback port; ended with the object.
struct CProxy {
  CProxy(const std::string& dir, const std::string& allow) : port_(FreePort()), log_(dir + "/proxy.log") {
    const std::string conf = dir + "/proxy.conf";
    std::filesystem::remove(log_);  // readiness is read from it
    std::ofstream(conf) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nLogLevel Info\nLogFile \""
                        << log_ << "\"\nMaxClients 20\nAllow " << allow << "\n";
    pid_ = static_cast<pid_t>(webfarm_testing::ForkTiedToTest());  // gone with the test, however it ends
    if (pid_ == 0) {
      execlp("tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 500 && Log().find("Accepting connections") == std::string::npos; ++i) usleep(10000);
  }
  ~CProxy() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int port_;
  std::string log_;
  pid_t pid_ = -1;
};

using NetworkTest = settings_testing::SettingsFixture;

// An unvouched certificate, or plain http behind an https URL, fails every https
// request with its own code (never retried as http); so does a failing proxy.
TEST_F(NetworkTest, HttpsCycleOnlyWithAVerifiedCertificateAndThroughAProxy) {
  env_->http.real = true;
  for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"})
    unsetenv(name);  // the farm's control calls run outside any proxy
  const std::string pki = tmp_ + "/pki";
  std::filesystem::create_directories(pki);
  std::ofstream(pki + "/make.sh") << kMakeCertificates;
  if (std::system(("cd " + pki + " && sh make.sh >make.log 2>&1").c_str()) != 0)
    GTEST_SKIP() << "openssl is missing or failed: no certificates";
  SetService("UseStaging", "2");
  SetService("HttpCaFile", pki + "/ca.pem");
  SetServiceDword("HttpTimeoutMs", 5000);
  SetProduct(RegValueNames[kComputerID], "{8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}");
  strTestPath = Tmp("togo");
  MakeDirs(strTestPath);
  Put(Known(platform::KnownFolder::kCommonAppData, "Quorvex\\Inkora\\Inkora.ID"),
      "CID={8E2B5C4A-1D3F-4A6B-9C8D-7E6F5A4B3C2D}\r\nUID=user-7\r\n");
  const struct {
    const char* cert;
    bool plain;         // the farm's https URLs name its plain side
    const char* proxy;  // Allow of tinyproxy; "": none, "-": nothing listens
    const char* error;  // in the log line; empty: the cycle succeeds
  } rows[] = {{"good", false, "", ""},
              {"name", false, "", "failed verification: error 12038"},
              {"unknown", false, "", "failed verification: error 12045"},
              {"good", true, "", "No secure connection to https://localhost"},
              {"good", false, "127.0.0.1", ""},
              {"good", false, "192.0.2.1", "HTTP error 403"},
              {"good", false, "-", "error 12029"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.proxy) + row.error);
    const bool proxied = *row.proxy != '\0', good = *row.error == '\0';
    if (proxied && std::system("command -v tinyproxy >/dev/null 2>&1") != 0) continue;
    std::string error;
    const auto farm = CWebFarm::Start(&error, pki + "/" + row.cert + ".pem", pki + "/leaf.key");
    ASSERT_TRUE(farm != nullptr) << error;
    std::string secure = farm->secureBase();
    secure.replace(secure.find("127.0.0.1"), 9, "localhost");
    if (row.plain) secure = "https://localhost" + farm->hostPort().substr(farm->hostPort().find(':'));
    SetService("TestHost", farm->hostPort());
    std::string metadata = CWebFarm::StandardMetadata();
    for (size_t at; (at = metadata.find("@BASE@")) != std::string::npos;) metadata.replace(at, 6, secure);
    ASSERT_TRUE(farm->SetMetadata(metadata));
    ASSERT_TRUE(
        farm->SetAnswers("{\"mv_url\":\"" + secure + "/Teko/metadata/1-0-7\",\"upload_logs\":\"true\"}"));
    std::unique_ptr<CProxy> proxy;
    if (proxied)
      proxy = std::make_unique<CProxy>(tmp_, std::string(row.proxy) == "-" ? "127.0.0.1" : row.proxy);
    for (const char* name : {"http_proxy", "https_proxy"}) {
      if (proxy) setenv(name, proxy->url().c_str(), 1);  // as libcurl reads it
    }
    if (std::string(row.proxy) == "-") proxy.reset();
    // One pass as the monitor makes it, a usage and a crash log waiting.
    ClearLog();
    Put(strTestPath + "\\session1.jlog", "{\"cid\":\"\",\"uid\":\"\",\"tag\":\"usage\"}\r\n");
    Put(strTestPath + "\\crash1.err", "{\"cid\":\"\",\"uid\":\"\",\"tag\":\"crash\"}\r\n");
    CClientInfo client;
    UpdateResultRecord record;
    client.LoadMetadataFromServer(client.MakeFirstCall());
    client.UpdateCheck(secure + "/Teko/uc", record);
    client.UploadLogFiles(secure + "/Teko/usage", LogTypes::Usage);
    client.UploadLogFiles(secure + "/Teko/crash", LogTypes::Inkora_Crash);
    for (const char* name : {"http_proxy", "https_proxy"}) unsetenv(name);
    std::map<std::string, size_t> served;
    for (const auto& r : farm->Requests()) served[r.role] += r.status == 200;
    // The first call is plain http to the built-in host; then metadata, probe and post of check and uploads.
    EXPECT_EQ(good || !proxied ? 1u : 0u, served["first_call"]);
    EXPECT_EQ(good ? 7u : 0u,
              served["metadata"] + served["update_check"] + served["usage"] + served["crash"]);
    EXPECT_EQ(!good, Exists(strTestPath + "\\session1.jlog") && Exists(strTestPath + "\\crash1.err"));
    if (!good) {
      EXPECT_EQ(4u, CountLogged(row.error)) << LogText();
    } else if (proxy) {
      const std::string log = proxy->Log();
      EXPECT_NE(std::string::npos, log.find("GET " + farm->base() + "/Teko/UC.hsh?query=")) << log;
      const std::string tunnel = "CONNECT localhost" + secure.substr(secure.rfind(':')) + " ";
      size_t tunnels = 0;
      for (size_t at = log.find(tunnel); at != std::string::npos; at = log.find(tunnel, at + 1)) ++tunnels;
      EXPECT_EQ(7u, tunnels) << log;
    }
  }
}

}  // namespace

#endif
