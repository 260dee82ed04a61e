// The Service Control Manager, and the dispatcher side a service process uses.
#include <deque>
#include <mutex>

#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

void ToServiceStatus(const SERVICE_STATUS& in, ServiceStatus* out) {
  out->serviceType = in.dwServiceType;
  out->currentState = in.dwCurrentState;
  out->controlsAccepted = in.dwControlsAccepted;
  out->win32ExitCode = in.dwWin32ExitCode;
  out->serviceSpecificExitCode = in.dwServiceSpecificExitCode;
  out->checkPoint = in.dwCheckPoint;
  out->waitHint = in.dwWaitHint;
}

// An SC_HANDLE that CloseServiceHandle closes.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE h) : h_(h) {}
  ~ScHandle() {
    if (h_ != nullptr) ::CloseServiceHandle(h_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return h_; }

 private:
  SC_HANDLE h_;
};

class Win32ScService : public ScService {
 public:
  explicit Win32ScService(SC_HANDLE h) : h_(h) {}

  Status SetDescription(const std::string& description) override {
    SERVICE_DESCRIPTIONA d;
    d.lpDescription = const_cast<char*>(description.c_str());
    return ::ChangeServiceConfig2A(h_.get(), SERVICE_CONFIG_DESCRIPTION, &d) ? kSuccess
                                                                             : StatusFromLastError();
  }

  Status SetFailureActions(const FailureActions& actions) override {
    std::vector<SC_ACTION> list;
    for (uint32_t delay : actions.restartDelaysMs) list.push_back(SC_ACTION{SC_ACTION_RESTART, delay});
    if (actions.thenStayStopped) list.push_back(SC_ACTION{SC_ACTION_NONE, 0});
    SERVICE_FAILURE_ACTIONSA fa;
    fa.dwResetPeriod = actions.resetPeriodSeconds;
    fa.lpRebootMsg = nullptr;
    fa.lpCommand = nullptr;
    fa.cActions = static_cast<DWORD>(list.size());
    fa.lpsaActions = list.empty() ? nullptr : list.data();
    return ::ChangeServiceConfig2A(h_.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &fa) ? kSuccess
                                                                                  : StatusFromLastError();
  }

  Status Delete() override { return ::DeleteService(h_.get()) ? kSuccess : StatusFromLastError(); }

  Status Start() override { return ::StartServiceA(h_.get(), 0, nullptr) ? kSuccess : StatusFromLastError(); }

  Status Control(uint32_t control, ServiceStatus* status) override {
    SERVICE_STATUS s = {};
    BOOL ok = ::ControlService(h_.get(), control, &s);
    Status result = ok ? kSuccess : StatusFromLastError();
    // The manager fills the record also for some refusals (not active, cannot accept).
    if (status != nullptr) ToServiceStatus(s, status);
    return result;
  }

 private:
  ScHandle h_;
};

class Win32ScManager : public ScManager {
 public:
  explicit Win32ScManager(SC_HANDLE h) : h_(h) {}

  Status CreateService(const ServiceConfig& config, std::unique_ptr<ScService>* service) override {
    // binaryPath goes through as given: the caller quotes a path with blanks.
    SC_HANDLE h =
        ::CreateServiceA(h_.get(), config.name.c_str(), config.displayName.c_str(), SERVICE_ALL_ACCESS,
                         config.serviceType, config.startType, config.errorControl, config.binaryPath.c_str(),
                         nullptr, nullptr, nullptr, nullptr, nullptr);
    if (h == nullptr) return StatusFromLastError();
    service->reset(new Win32ScService(h));
    return kSuccess;
  }

  Status OpenService(const std::string& name, uint32_t access, std::unique_ptr<ScService>* service) override {
    SC_HANDLE h = ::OpenServiceA(h_.get(), name.c_str(), access);
    if (h == nullptr) return StatusFromLastError();
    service->reset(new Win32ScService(h));
    return kSuccess;
  }

 private:
  ScHandle h_;
};

// The dispatcher runs one service per process; its main function and the
// handlers registered in it live here, for the trampolines to find. Handler
// records are never freed: the manager may call one until the process ends.
struct HandlerBinding {
  ServiceControlFunction handler;
  void* context;
};
std::mutex g_mutex;
ServiceMainFunction g_serviceMain = nullptr;
std::deque<HandlerBinding> g_handlers;

VOID WINAPI ServiceMainTrampoline(DWORD argc, LPSTR* argv) {
  ServiceMainFunction main;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    main = g_serviceMain;
  }
  if (main != nullptr) main(argc, argv);
}

DWORD WINAPI HandlerTrampoline(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
  const HandlerBinding* binding = static_cast<const HandlerBinding*>(context);
  return binding->handler(control, eventType, eventData, binding->context);
}

class Win32ServiceManager : public ServiceManager {
 public:
  Status OpenManager(uint32_t access, std::unique_ptr<ScManager>* manager) override {
    SC_HANDLE h = ::OpenSCManagerA(nullptr, nullptr, access);
    if (h == nullptr) return StatusFromLastError();
    manager->reset(new Win32ScManager(h));
    return kSuccess;
  }

  Status StartDispatcher(const std::string& name, ServiceMainFunction main) override {
    if (main == nullptr) return kErrorInvalidParameter;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_serviceMain = main;
    }
    std::string serviceName = name;  // the table wants a writable text
    SERVICE_TABLE_ENTRYA table[] = {{&serviceName[0], ServiceMainTrampoline}, {nullptr, nullptr}};
    return ::StartServiceCtrlDispatcherA(table) ? kSuccess : StatusFromLastError();
  }

  Status RegisterHandler(const std::string& name, ServiceControlFunction handler, void* context,
                         ServiceStatusHandle* handle) override {
    if (handler == nullptr) return kErrorInvalidParameter;
    HandlerBinding* binding;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_handlers.push_back(HandlerBinding{handler, context});
      binding = &g_handlers.back();  // a deque keeps its elements in place as it grows
    }
    SERVICE_STATUS_HANDLE h = ::RegisterServiceCtrlHandlerExA(name.c_str(), HandlerTrampoline, binding);
    if (h == nullptr) return StatusFromLastError();
    *handle = reinterpret_cast<ServiceStatusHandle>(h);
    return kSuccess;
  }

  Status SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) override {
    SERVICE_STATUS s;
    s.dwServiceType = status.serviceType;
    s.dwCurrentState = status.currentState;
    s.dwControlsAccepted = status.controlsAccepted;
    s.dwWin32ExitCode = status.win32ExitCode;
    s.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    s.dwCheckPoint = status.checkPoint;
    s.dwWaitHint = status.waitHint;
    return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &s) ? kSuccess
                                                                                   : StatusFromLastError();
  }

  Status AcquireInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* lock) override {
    return LockInstanceMutex(name, lock);
  }
};

}  // namespace

std::unique_ptr<ServiceManager> NewBackendServiceManager(const std::string&) {
  return std::make_unique<Win32ServiceManager>();
}

}  // namespace platform
