// Service control on Linux: systemd units managed through systemctl, and a
// foreground service host that turns SIGTERM/SIGINT into the stop control.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/posix_env_impl.h"

extern char** environ;

namespace platform {
namespace {

std::string Systemctl() {
  const char* s = std::getenv("INKORA_SYSTEMCTL");
  if (s != nullptr && *s != '\0') return s;
  // Without a running systemd there is no manager to talk to.
  if (::access("/run/systemd/system", F_OK) != 0) return std::string();
  return "systemctl";
}

std::string UnitDir() {
  const char* d = std::getenv("INKORA_UNIT_DIR");
  return (d != nullptr && *d != '\0') ? std::string(d) : std::string("/etc/systemd/system");
}

// Runs systemctl with the arguments (no shell); its exit code, or -1.
int RunSystemctl(const std::vector<std::string>& args) {
  std::string tool = Systemctl();
  if (tool.empty()) return -1;
  std::vector<std::string> all{tool};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(all.size() + 1);
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = ::posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string UnitPath(const std::string& name) {
  return UnitDir() + "/" + name + ".service";
}

class SystemdService : public ScService {
 public:
  explicit SystemdService(std::string name) : name_(std::move(name)) {}

  Status SetDescription(const std::string& description) override {
    std::string path = UnitPath(name_), text, out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return StatusFromErrno(errno);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    std::fclose(f);
    size_t at = text.find("Description=");
    if (at == std::string::npos) return kErrorInvalidData;
    size_t end = text.find('\n', at);
    text.replace(at, end - at, "Description=" + description);
    return WriteUnit(path, text);
  }
  // The unit carries its own rule (Restart=on-failure with a start limit).
  Status SetFailureActions(const FailureActions&) override { return kSuccess; }
  Status Delete() override {
    RunSystemctl({"disable", name_ + ".service"});
    if (::unlink(UnitPath(name_).c_str()) != 0) return StatusFromErrno(errno);
    RunSystemctl({"daemon-reload"});
    return kSuccess;
  }
  Status Start() override {
    if (RunSystemctl({"is-active", "--quiet", name_ + ".service"}) == 0) return kErrorServiceAlreadyRunning;
    return RunSystemctl({"start", name_ + ".service"}) == 0
               ? kSuccess
               : static_cast<Status>(1053);  // ERROR_SERVICE_REQUEST_TIMEOUT
  }
  Status Control(uint32_t control, ServiceStatus* status) override {
    if (control != kServiceControlStop) return kErrorInvalidParameter;
    if (RunSystemctl({"is-active", "--quiet", name_ + ".service"}) != 0) return kErrorServiceNotActive;
    if (RunSystemctl({"stop", name_ + ".service"}) != 0) return kErrorServiceCannotAcceptCtrl;
    status->serviceType = kServiceWin32OwnProcess;
    status->currentState =
        RunSystemctl({"is-active", "--quiet", name_ + ".service"}) == 0 ? kServiceRunning : kServiceStopped;
    return kSuccess;
  }

  static Status WriteUnit(const std::string& path, const std::string& text) {
    std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) return StatusFromErrno(errno);
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
      std::remove(tmp.c_str());
      return kErrorWriteFault;
    }
    return kSuccess;
  }

 private:
  std::string name_;
};

class SystemdManager : public ScManager {
 public:
  Status CreateService(const ServiceConfig& c, std::unique_ptr<ScService>* service) override {
    std::string path = UnitPath(c.name);
    if (::access(path.c_str(), F_OK) == 0) return kErrorServiceExists;
    // The Windows form quotes the path; systemd takes the quoted form as well.
    std::string unit =
        "[Unit]\nDescription=" + c.displayName +
        "\nAfter=network-online.target\nWants=network-online.target\n\n[Service]\nType=simple\nExecStart=" +
        c.binaryPath +
        "\nKillSignal=SIGTERM\nRestart=on-failure\nRestartSec=10\n\n[Install]\nWantedBy=multi-user.target\n";
    Status s = SystemdService::WriteUnit(path, unit);
    if (s != kSuccess) return s;
    RunSystemctl({"daemon-reload"});
    if (c.startType == kServiceAutoStart) RunSystemctl({"enable", c.name + ".service"});
    service->reset(new SystemdService(c.name));
    return kSuccess;
  }
  Status OpenService(const std::string& name, uint32_t, std::unique_ptr<ScService>* service) override {
    if (::access(UnitPath(name).c_str(), F_OK) != 0) return kErrorServiceDoesNotExist;
    service->reset(new SystemdService(name));
    return kSuccess;
  }
};

// The foreground host's state: one service per process. The wake pipe is
// written by the signal handler and by a report of the stopped state, so the
// host's wait blocks without a time-out and wakes only for those.
struct Host {
  std::mutex mu;
  ServiceControlFunction handler = nullptr;
  void* context = nullptr;
  std::atomic<uint32_t> state{0};
  std::atomic<bool> signalled{false};
  int pipe[2] = {-1, -1};
};
Host g_host;

void Wake() {
  char c = 's';
  if (g_host.pipe[1] >= 0) {
    ssize_t ignored = ::write(g_host.pipe[1], &c, 1);  // a full pipe already wakes the host
    (void)ignored;
  }
}

void OnSignal(int) {
  g_host.signalled.store(true);
  Wake();
}

void DrainWakePipe() {
  char buf[64];
  while (::read(g_host.pipe[0], buf, sizeof(buf)) > 0) {
  }
}

class PosixServiceManager : public ServiceManager {
 public:
  explicit PosixServiceManager(std::string root) : root_(std::move(root)) {}
  Status OpenManager(uint32_t access, std::unique_ptr<ScManager>* manager) override;
  Status StartDispatcher(const std::string& name, ServiceMainFunction main) override;
  Status RegisterHandler(const std::string& name, ServiceControlFunction handler, void* context,
                         ServiceStatusHandle* handle) override;
  Status SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) override;
  Status AcquireInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* lock) override {
    return LockInstanceFile(root_, name, lock);
  }

 private:
  std::string root_;
};

}  // namespace

std::unique_ptr<ServiceManager> NewBackendServiceManager(const std::string& root) {
  return std::make_unique<PosixServiceManager>(root);
}

Status PosixServiceManager::OpenManager(uint32_t, std::unique_ptr<ScManager>* manager) {
  // No systemd to manage the unit: the code Windows gives a caller that may not
  // reach the manager.
  if (Systemctl().empty()) return kErrorAccessDenied;
  std::string dir = UnitDir();
  if (::access(dir.c_str(), W_OK) != 0) return kErrorAccessDenied;
  manager->reset(new SystemdManager);
  return kSuccess;
}

Status PosixServiceManager::StartDispatcher(const std::string& name, ServiceMainFunction main) {
  if (g_host.pipe[0] < 0 && ::pipe2(g_host.pipe, O_CLOEXEC | O_NONBLOCK) != 0) return StatusFromErrno(errno);
  // A fresh start: nothing left over from an earlier service of this process.
  DrainWakePipe();
  g_host.signalled.store(false);
  g_host.state.store(0);
  {
    std::lock_guard<std::mutex> lock(g_host.mu);
    g_host.handler = nullptr;
    g_host.context = nullptr;
  }
  struct sigaction sa, oldTerm, oldInt;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = OnSignal;
  ::sigaction(SIGTERM, &sa, &oldTerm);
  ::sigaction(SIGINT, &sa, &oldInt);
  std::string argv0 = name;
  char* argv[] = {&argv0[0], nullptr};
  std::thread serviceMain([&] { main(1, argv); });
  serviceMain.join();
  while (g_host.state.load() != kServiceStopped) {
    struct pollfd p = {g_host.pipe[0], POLLIN, 0};
    if (::poll(&p, 1, -1) <= 0) continue;  // EINTR: a signal, whose byte is in the pipe
    DrainWakePipe();
    if (!g_host.signalled.exchange(false)) continue;  // a reported state: the loop checks it
    ServiceControlFunction handler;
    void* context;
    {
      std::lock_guard<std::mutex> lock(g_host.mu);
      handler = g_host.handler;
      context = g_host.context;
    }
    if (handler == nullptr) break;  // nothing registered: nobody to ask, end
    handler(kServiceControlStop, 0, nullptr, context);
  }
  ::sigaction(SIGTERM, &oldTerm, nullptr);
  ::sigaction(SIGINT, &oldInt, nullptr);
  return kSuccess;
}

Status PosixServiceManager::RegisterHandler(const std::string&, ServiceControlFunction handler, void* context,
                                            ServiceStatusHandle* handle) {
  std::lock_guard<std::mutex> lock(g_host.mu);
  g_host.handler = handler;
  g_host.context = context;
  *handle = 1;
  return kSuccess;
}

Status PosixServiceManager::SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (handle != 1) return kErrorInvalidHandle;
  g_host.state.store(status.currentState);
  if (status.currentState == kServiceStopped) Wake();
  return kSuccess;
}

}  // namespace platform
