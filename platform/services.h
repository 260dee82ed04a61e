// The service manager: installing, starting, stopping and removing services
// (Windows: the Service Control Manager; POSIX: systemd units through
// systemctl), the host side a running service talks to (Windows: the control
// dispatcher; POSIX: a foreground host that turns SIGTERM into a stop), and
// the lock that keeps the service to one instance per machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// Access rights, types, states and controls, with the Windows values.
enum : uint32_t {
  kScManagerConnect = 0x0001,
  kScManagerCreateService = 0x0002,
  kScManagerAllAccess = 0xF003F,
  kServiceAllAccess = 0xF01FF,
  kServiceWin32OwnProcess = 0x10,
  kServiceWin32ShareProcess = 0x20,
  kServiceWin32 = 0x30,
  kServiceInteractiveProcess = 0x100,
  kServiceAutoStart = 2,
  kServiceErrorNormal = 1,
  // states
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
  kServiceContinuePending = 5,
  kServicePausePending = 6,
  kServicePaused = 7,
  // controls
  kServiceControlStop = 1,
  kServiceControlPause = 2,
  kServiceControlContinue = 3,
  kServiceControlInterrogate = 4,
  kServiceControlShutdown = 5,
  // accepted controls
  kServiceAcceptStop = 1,
  kServiceAcceptPauseContinue = 2,
  kServiceAcceptShutdown = 4,
};

// The state a service reports, and is reported in (SERVICE_STATUS).
struct ServiceStatus {
  uint32_t serviceType = 0;
  uint32_t currentState = 0;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
};

// What a service is installed with (CreateServiceA).
struct ServiceConfig {
  std::string name;
  std::string displayName;
  uint32_t serviceType = kServiceWin32OwnProcess;
  uint32_t startType = kServiceAutoStart;
  uint32_t errorControl = kServiceErrorNormal;
  std::string binaryPath;  // the command line, exactly as the manager stores it
};

// What the manager does when the service fails (SERVICE_CONFIG_FAILURE_ACTIONS).
struct FailureActions {
  uint32_t resetPeriodSeconds = 0;
  std::vector<uint32_t> restartDelaysMs;  // one restart per entry
  // The manager repeats the last action for every later failure: a closing
  // "no action" makes the service stay stopped after the restarts.
  bool thenStayStopped = false;
};

// An installed service, opened. Destroying it closes it (CloseServiceHandle).
class ScService {
 public:
  virtual ~ScService() = default;
  virtual Status SetDescription(const std::string& description) = 0;    // ChangeServiceConfig2A
  virtual Status SetFailureActions(const FailureActions& actions) = 0;  // ChangeServiceConfig2A
  // Removes the service; a running one goes when it stops. (DeleteService)
  virtual Status Delete() = 0;
  // Starts it with no arguments; kErrorServiceAlreadyRunning when it runs. (StartServiceA)
  virtual Status Start() = 0;
  // Sends a control (kServiceControlStop) and gives the state it left. (ControlService)
  virtual Status Control(uint32_t control, ServiceStatus* status) = 0;
};

// The manager, opened. Destroying it closes it (CloseServiceHandle).
class ScManager {
 public:
  virtual ~ScManager() = default;
  // Installs a service; kErrorServiceExists when one of the name is there. (CreateServiceA)
  virtual Status CreateService(const ServiceConfig& config, std::unique_ptr<ScService>* service) = 0;
  // kErrorServiceDoesNotExist when none of the name is installed. (OpenServiceA)
  virtual Status OpenService(const std::string& name, uint32_t access,
                             std::unique_ptr<ScService>* service) = 0;
};

using ServiceMainFunction = void (*)(uint32_t argc, char** argv);
using ServiceControlFunction = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData,
                                            void* context);
using ServiceStatusHandle = uintptr_t;

// The one service instance of the machine holds this; destroying it lets go.
class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // The manager with the access asked for; kErrorAccessDenied where this
  // account may not reach it (or, on POSIX, no systemd runs). (OpenSCManagerA)
  virtual Status OpenManager(uint32_t access, std::unique_ptr<ScManager>* manager) = 0;
  // Runs the service of this process: main is called on a thread of its own
  // and the call returns when the service has reported kServiceStopped, or at
  // once with the failure when no manager started the process. (StartServiceCtrlDispatcherA)
  virtual Status StartDispatcher(const std::string& name, ServiceMainFunction main) = 0;
  // From the service's main: handler gets every control the manager sends,
  // with context; *handle is what SetStatus takes. (RegisterServiceCtrlHandlerExA)
  virtual Status RegisterHandler(const std::string& name, ServiceControlFunction handler, void* context,
                                 ServiceStatusHandle* handle) = 0;
  // Tells the manager the service's state. (SetServiceStatus)
  virtual Status SetStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;
  // One holder per machine and name: on Windows a mutex in the global
  // namespace, on POSIX an advisory lock on the file "<root>/<name>.lock".
  // kErrorAlreadyExists while another holder has it; never waits. It goes with
  // the process however that ends.
  virtual Status AcquireInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* lock) = 0;
};

// Forwards every call to another ServiceManager.
class ServiceManagerWrapper : public ServiceManager {
 public:
  explicit ServiceManagerWrapper(ServiceManager* target) : target_(target) {}
  ServiceManager* target() const { return target_; }
  Status OpenManager(uint32_t a, std::unique_ptr<ScManager>* m) override {
    return target_->OpenManager(a, m);
  }
  Status StartDispatcher(const std::string& n, ServiceMainFunction f) override {
    return target_->StartDispatcher(n, f);
  }
  Status RegisterHandler(const std::string& n, ServiceControlFunction h, void* c,
                         ServiceStatusHandle* o) override {
    return target_->RegisterHandler(n, h, c, o);
  }
  Status SetStatus(ServiceStatusHandle h, const ServiceStatus& s) override {
    return target_->SetStatus(h, s);
  }
  Status AcquireInstanceLock(const std::string& n, std::unique_ptr<InstanceLock>* l) override {
    return target_->AcquireInstanceLock(n, l);
  }

 private:
  ServiceManager* target_;
};

}  // namespace platform
