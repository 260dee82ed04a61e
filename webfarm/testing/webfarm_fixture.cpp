#include "webfarm/testing/webfarm_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "json/reader.h"
#include "json/writer.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace webfarm_testing {

namespace {

namespace fs = std::filesystem;

std::string Member(const json::Object& object, const char* name) {
  auto it = object.Find(name);
  if (it == object.End() || it->element.Type() != json::kStringType) return std::string();
  return json::json_cast<const json::String&>(it->element).Value();
}

}  // namespace

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
  farm->m_tlsCert = tlsCert;
  farm->m_tlsKey = tlsKey;
  const fs::path temp = fs::temp_directory_path() / ("inkora-farm-" + std::to_string(std::random_device()()));
  std::error_code ec;
  fs::create_directories(temp / "state", ec);
  farm->m_env = platform::NewIsolatedEnv(temp.string());
  farm->m_state = (temp / "state").string();
  const char* attached = std::getenv("INKORA_WEBFARM_URL");
  if (attached && *attached) {
    farm->m_base = attached;
    if (farm->m_base.back() == '/') farm->m_base.pop_back();
    const size_t colon = farm->m_base.rfind(':');
    farm->m_port = colon == std::string::npos ? 80 : std::atoi(farm->m_base.c_str() + colon + 1);
  } else if (!farm->Launch(0, error)) {
    return nullptr;
  }
  if (!farm->Reset()) {
    *error = "the web farm at " + farm->m_base + " does not answer its control calls";
    return nullptr;
  }
  return farm;
}

bool CWebFarm::Launch(int port, std::string* error) {
#if defined(_WIN32)
  (void)port;
  *error = "no web farm: set INKORA_WEBFARM_URL to a running one";
  return false;
#else
  std::string binary;
  if (const char* given = std::getenv("INKORA_WEBFARM")) binary = given;
#if defined(INKORA_WEBFARM_BIN)
  if (binary.empty()) binary = INKORA_WEBFARM_BIN;
#endif
  int out[2];
  if (binary.empty() || access(binary.c_str(), X_OK) != 0 || pipe(out) != 0) {
    *error = "no web farm binary (set INKORA_WEBFARM)";
    return false;
  }
  const std::string portText = std::to_string(port);
  const pid_t pid = static_cast<pid_t>(ForkTiedToTest());
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    std::vector<const char*> args = {binary.c_str(), "--state", m_state.c_str(), "--port", portText.c_str()};
    if (!m_tlsCert.empty())
      args.insert(args.end(), {"--tls-cert", m_tlsCert.c_str(), "--tls-key", m_tlsKey.c_str()});
    args.push_back(nullptr);
    execv(binary.c_str(), const_cast<char* const*>(args.data()));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c = 0;
  while (pid > 0 && line.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) line.push_back(c);
  close(out[0]);
  const size_t at = line.find("http://");
  if (at == std::string::npos) {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    *error = "the web farm did not start";
    return false;
  }
  m_pid = pid;
  m_base = line.substr(at, line.find_first_of(" \r\n", at) - at);
  const size_t tls = line.find("https://");
  if (tls != std::string::npos) m_secureBase = line.substr(tls, line.find_first_of(" \r\n", tls) - tls);
  m_port = std::atoi(m_base.c_str() + m_base.rfind(':') + 1);
  m_stopped = false;
  return true;
#endif
}

CWebFarm::~CWebFarm() {
  Stop();
  std::error_code ec;
  if (!m_state.empty()) fs::remove_all(fs::path(m_state).parent_path(), ec);
}

bool CWebFarm::Stop() {
#if !defined(_WIN32)
  if (m_pid <= 0) return false;
  const pid_t pid = static_cast<pid_t>(m_pid);
  kill(pid, SIGTERM);
  bool ended = false;
  for (int i = 0; i < 200 && !(ended = waitpid(pid, nullptr, WNOHANG) == pid); ++i) usleep(10000);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  m_pid = 0;
  m_stopped = true;
  return true;
#else
  return false;
#endif
}

bool CWebFarm::Restart() {
  std::string error;
  for (int attempt = 0; m_stopped && attempt < 50; ++attempt) {
    if (Launch(m_port, &error)) return true;
#if !defined(_WIN32)
    usleep(20000);  // the port may still be held
#endif
  }
  return false;
}

bool CWebFarm::Call(const std::string& path, const std::string& body, bool post, std::string* answer) {
  answer->clear();
  std::unique_ptr<platform::HttpSession> session;
  std::unique_ptr<platform::HttpRequest> request;
  if (m_env->InternetOpen("InkoraFarmControl", &session) != platform::kSuccess) return false;
  session->SetTimeouts(5000, 30000);
  const platform::Status opened =
      post ? session->OpenRequest("127.0.0.1", static_cast<uint16_t>(m_port), "POST", path,
                                  platform::kInternetFlagReload, &request)
           : session->OpenUrl(m_base + path, "", platform::kInternetFlagReload, &request);
  uint32_t code = 0;
  if (opened != platform::kSuccess ||
      (post && request->Send("Content-Type: application/json", body) != platform::kSuccess) ||
      request->QueryStatusCode(&code) != platform::kSuccess || code != 200) {
    return false;
  }
  char chunk[4096];
  for (uint32_t got = 1; got > 0;) {
    if (request->Read(chunk, sizeof chunk, &got) != platform::kSuccess) return false;
    answer->append(chunk, got);
  }
  return true;
}

bool CWebFarm::Reset() {
  std::string answer;
  return Call("/_control/reset", "{}", true, &answer) && SetMetadata(StandardMetadata()) &&
         SetAnswers(
             "{\"mv_url\":\"@BASE@/Teko/metadata/"
             "1-0-7\",\"upload_logs\":\"true\",\"crash_logs\":\"true\"}") &&
         SetStateFile("definitions.xml",
                      "<symbols version=\"2.0\">\n  <symbol name=\"farm\"/>\n</symbols>\n");
}

bool CWebFarm::SetFault(const std::string& endpoint, const std::string& mode, int count, uint32_t stallMs) {
  std::string answer;
  const auto quoted = [](const std::string& text) { return json::Writer::ToString(json::String(text)); };
  return Call("/_control/fault",
              "{\"endpoint\":" + quoted(endpoint) + ",\"mode\":" + quoted(mode) +
                  ",\"count\":" + std::to_string(count) + ",\"ms\":" + std::to_string(stallMs) + "}",
              true, &answer);
}

bool CWebFarm::SetStateFile(const std::string& name, std::string text) {
  for (size_t at = text.find("@BASE@"); at != std::string::npos;
       at = text.find("@BASE@", at + m_base.size())) {
    text.replace(at, 6, m_base);
  }
  std::string answer;
  return Call("/_control/state?file=" + name, text, true, &answer);
}

std::vector<FarmRequest> CWebFarm::Requests() {
  std::vector<FarmRequest> list;
  std::string answer;
  if (!Call("/_control/requests", "", false, &answer)) return list;
  try {
    json::Array parsed;
    json::Reader::Read(parsed, answer);
    for (auto it = parsed.Begin(); it != parsed.End(); ++it) {
      const json::Object& item = json::json_cast<const json::Object&>(*it);
      FarmRequest r;
      r.role = Member(item, "role");
      r.method = Member(item, "method");
      r.path = Member(item, "path");
      r.payload = Member(item, "payload");
      auto readable = item.Find("readable"), status = item.Find("status");
      if (readable == item.End() || status == item.End()) continue;
      r.readable = json::json_cast<const json::Boolean&>(readable->element).Value();
      r.status = static_cast<int>(json::json_cast<const json::Number&>(status->element).Value());
      list.push_back(r);
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
