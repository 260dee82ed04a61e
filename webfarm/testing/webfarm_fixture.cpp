#include "webfarm/testing/webfarm_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "json/reader.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace webfarm_testing {

namespace fs = std::filesystem;

std::string CWebFarm::StandardMetadata() {
  return "{\"mv_ver\":\"1-0-7\",\"sv_ver\":\"1.0.13.0\",\"in_ver\":\"1.0.10\",\"df_ver\":\"2.0\","
         "\"uc_url\":\"@BASE@/Teko/uc\",\"puc_url\":\"@BASE@/Teko/puc\",\"log_url\":\"@BASE@/Teko/usage\","
         "\"log_diag\":\"0\",\"uc_freq\":1,\"in_url\":\"@BASE@/downloads/InkoraSetup-1.0.10.exe\","
         "\"sv_url\":\"@BASE@/downloads/InkoraUpdater.exe\",\"df_url\":\"@BASE@/Teko/definitions.xml\","
         "\"cr_url\":\"@BASE@/Teko/crash\"}";
}

std::unique_ptr<CWebFarm> CWebFarm::Start(std::string* error, const std::string& tlsCert,
                                          const std::string& tlsKey) {
  std::unique_ptr<CWebFarm> farm(new CWebFarm());
  farm->m_state =
      (fs::temp_directory_path() / ("inkora-farm-" + std::to_string(std::random_device()()))).string();
  std::error_code ec;
  fs::create_directories(farm->m_state, ec);
  farm->m_env = platform::NewIsolatedEnv(farm->m_state);
  const char* attached = std::getenv("INKORA_WEBFARM_URL");
  if (attached && *attached) {
    farm->m_base = attached;
    if (farm->m_base.back() == '/') farm->m_base.pop_back();
  } else if (!farm->Launch(tlsCert, tlsKey, error)) {
    return nullptr;
  }
  if (!farm->Reset()) {
    *error = "the web farm at " + farm->m_base + " does not answer its control calls";
    return nullptr;
  }
  return farm;
}

bool CWebFarm::Launch(const std::string& tlsCert, const std::string& tlsKey, std::string* error) {
  *error = "no web farm: set INKORA_WEBFARM_URL to a running one, or INKORA_WEBFARM to its binary";
#if defined(_WIN32)
  (void)tlsCert, (void)tlsKey;
  return false;
#else
  std::string binary;
  if (const char* given = std::getenv("INKORA_WEBFARM")) binary = given;
#if defined(INKORA_WEBFARM_BIN)
  if (binary.empty()) binary = INKORA_WEBFARM_BIN;
#endif
  int out[2];
  if (binary.empty() || access(binary.c_str(), X_OK) != 0 || pipe(out) != 0) return false;
  const pid_t pid = static_cast<pid_t>(ForkTiedToTest());
  if (pid == 0) {
    dup2(out[1], 1);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    std::vector<const char*> args = {binary.c_str(), "--state", m_state.c_str()};
#if defined(INKORA_WEBFARM_SIGNING_KEY)
    args.insert(args.end(), {"--signing-key", INKORA_WEBFARM_SIGNING_KEY});
#endif
    if (!tlsCert.empty())
      args.insert(args.end(), {"--tls-cert", tlsCert.c_str(), "--tls-key", tlsKey.c_str()});
    args.push_back(nullptr);
    execv(binary.c_str(), const_cast<char* const*>(args.data()));
    _exit(127);
  }
  close(out[1]);
  std::string line;  // "listening on http://127.0.0.1:N[ https://127.0.0.1:M]"
  char c = 0;
  while (pid > 0 && line.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) line.push_back(c);
  close(out[0]);
  m_pid = pid;
  const size_t at = line.find("http://"), tls = line.find("https://");
  if (at == std::string::npos) return false;
  m_base = line.substr(at, line.find_first_of(" \r\n", at) - at);
  if (tls != std::string::npos) m_secureBase = line.substr(tls, line.find_first_of(" \r\n", tls) - tls);
  return true;
#endif
}

CWebFarm::~CWebFarm() {
#if !defined(_WIN32)
  if (m_pid > 0 && kill(static_cast<pid_t>(m_pid), SIGTERM) == 0)
    waitpid(static_cast<pid_t>(m_pid), nullptr, 0);
#endif
  std::error_code ec;
  fs::remove_all(m_state, ec);
}

bool CWebFarm::Call(const std::string& path, const std::string& body, std::string* answer) {
  std::unique_ptr<platform::HttpSession> session;
  std::unique_ptr<platform::HttpRequest> request;
  const uint16_t port = static_cast<uint16_t>(std::atoi(m_base.c_str() + m_base.rfind(':') + 1));
  uint32_t code = 0;
  if (m_env->http()->OpenSession("InkoraFarmControl", &session) != platform::kSuccess ||
      session->SetTimeouts(5000, 30000) != platform::kSuccess ||
      session->OpenRequest("127.0.0.1", port, "POST", path, platform::kInternetFlagReload, &request) !=
          platform::kSuccess ||
      request->Send("Content-Type: application/json", body) != platform::kSuccess ||
      request->QueryStatusCode(&code) != platform::kSuccess || code != 200) {
    return false;
  }
  char chunk[4096];
  for (uint32_t got = 1; answer && got > 0;) {
    if (request->Read(chunk, sizeof chunk, &got) != platform::kSuccess) return false;
    answer->append(chunk, got);
  }
  return true;
}

bool CWebFarm::Reset() {
  const char* answers =
      "{\"mv_url\":\"@BASE@/Teko/metadata/1-0-7\",\"upload_logs\":\"true\",\"crash_logs\":\"true\"}";
  return Call("/_control/reset", "{}") && SetMetadata(StandardMetadata()) && SetAnswers(answers) &&
         SetStateFile("definitions.xml",
                      "<symbols version=\"2.0\">\n  <symbol name=\"farm\"/>\n</symbols>\n");
}

bool CWebFarm::SetFault(const std::string& endpoint, const std::string& mode, int count, uint32_t stallMs) {
  return Call("/_control/fault", "{\"endpoint\":\"" + endpoint + "\",\"mode\":\"" + mode + "\",\"count\":" +
                                     std::to_string(count) + ",\"ms\":" + std::to_string(stallMs) + "}");
}

bool CWebFarm::SetStateFile(const std::string& name, std::string text) {
  for (size_t at; (at = text.find("@BASE@")) != std::string::npos;) text.replace(at, 6, m_base);
  return Call("/_control/state?file=" + name, text);
}

std::string CWebFarm::PublicKey(const std::string& which) {
  std::string pem;
  return Call("/_control/key?which=" + which, "", &pem) ? pem : std::string();
}

std::vector<FarmRequest> CWebFarm::Requests() {
  std::vector<FarmRequest> list;
  std::string answer;
  if (!Call("/_control/requests", "", &answer)) return list;
  try {
    json::Array parsed;
    json::Reader::Read(parsed, answer);
    for (auto it = parsed.Begin(); it != parsed.End(); ++it) {
      json::Object item = json::json_cast<const json::Object&>(*it);  // a missing member reads as null
      const auto text = [&item](const char* name) {
        return json::json_cast<json::String&>(item[name]).Value();
      };
      const int status = static_cast<int>(json::json_cast<json::Number&>(item["status"]).Value());
      list.push_back({text("role"), text("method"), text("payload"), status});
    }
  } catch (const json::Exception&) {
    list.clear();
  }
  return list;
}

#if !defined(_WIN32)
long ForkTiedToTest() {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  // A parent gone before the request took hold shows as another parent.
  if (pid == 0 && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(126);
  return pid;
}
#endif

}  // namespace webfarm_testing
