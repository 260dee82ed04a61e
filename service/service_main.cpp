#include "service/service_main.h"

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "client/client_info.h"
#include "platform/env.h"
#include "service/fast_forward.h"
#include "service/monitor.h"
#include "settings/log.h"
#include "settings/process_state.h"

platform::ServiceStatus ServiceStatus;
platform::ServiceStatusHandle hServiceStatus = 0;

namespace {

// ServiceMain (on the manager's thread) and the handler (on the main thread)
// both write the record; the lock keeps each change-and-report whole, so a stop
// that arrives while ServiceMain is reporting running cannot be undone by it.
std::mutex& StatusLock() {
  static std::mutex* lock = new std::mutex;  // never destroyed: threads may report until exit
  return *lock;
}

void ReportStatus(const char* functionName) {
  platform::Status status = platform::Env::Default()->services()->SetStatus(hServiceStatus, ServiceStatus);
  if (status != platform::kSuccess) {
    WriteLogF(functionName, "SetServiceStatus failed, error code = %d\n", static_cast<int>(status));
  }
}

}  // namespace

void ResetServiceStatus() {
  ServiceStatus = platform::ServiceStatus();
  ServiceStatus.serviceType = platform::kServiceWin32;
  ServiceStatus.currentState = platform::kServiceStartPending;
  ServiceStatus.controlsAccepted =
      platform::kServiceAcceptStop | platform::kServiceAcceptPauseContinue | platform::kServiceAcceptShutdown;
}

void ExecuteSubProcess() {
  WriteLog("ExecuteSubProcess()", "---START---");
  // One service instance per machine: a second one (started again, or "-t1"
  // typed in a shell) would send every log twice. Held until the process ends.
  std::unique_ptr<platform::InstanceLock> instance;
  const platform::Status locked =
      platform::Env::Default()->services()->AcquireInstanceLock(strServiceName, &instance);
  if (locked == platform::kErrorAlreadyExists) {
    WriteLog("ExecuteSubProcess()", "Another instance of the service is running -- this one ends");
    return;
  }
  if (locked != platform::kSuccess) {
    WriteLogF("ExecuteSubProcess()",
              "The instance lock could not be taken, error code = %d -- running without it",
              static_cast<int>(locked));
  }
  // A test setting in the registry may shorten the sleeps; it must be in
  // place before anything reads the clock.
  InstallFastForwardIfSet();
  ClientInfo.Initialize();
  try {
    std::thread(ProcMonitorThread, nullptr).detach();
  } catch (const std::system_error& e) {
    WriteLogF("ExecuteSubProcess()", "ProcMonitorThread failed, error code = %d\n", e.code().value());
  }
  platform::Status status =
      platform::Env::Default()->services()->StartDispatcher(strServiceName, ServiceMain);
  if (status != platform::kSuccess) {
    WriteLogF("ExecuteSubProcess()", "StartServiceCtrlDispatcher failed, error code = %d\n",
              static_cast<int>(status));
  }
  WriteLog("ExecuteSubProcess()", "---END---");
}

void ServiceMain(uint32_t /*argc*/, char** /*argv*/) {
  WriteLog("ServiceMain()", "---START---");
  {
    std::lock_guard<std::mutex> guard(StatusLock());
    ResetServiceStatus();
  }
  platform::ServiceStatusHandle handle = 0;
  platform::Status status = platform::Env::Default()->services()->RegisterHandler(
      strServiceName, ServiceControlHandler, nullptr, &handle);
  if (status != platform::kSuccess) {
    WriteLogF("ServiceMain()", "RegisterServiceCtrlHandler failed, error code = %d\n",
              static_cast<int>(status));
    return;
  }
  {
    std::lock_guard<std::mutex> guard(StatusLock());
    hServiceStatus = handle;
    // A stop handled before the handle was known stays stopped, and is
    // reported again now that the handle is there.
    if (ServiceStatus.currentState != platform::kServiceStopped) {
      ServiceStatus.currentState = platform::kServiceRunning;
      ServiceStatus.checkPoint = 0;
      ServiceStatus.waitHint = 0;
    }
    ReportStatus("ServiceMain()");
  }
  WriteLog("ServiceMain()", "---END---");
}

uint32_t ServiceControlHandler(uint32_t control, uint32_t /*eventType*/, void* /*eventData*/,
                               void* /*context*/) {
  std::lock_guard<std::mutex> guard(StatusLock());
  switch (control) {
    case platform::kServiceControlStop:
    case platform::kServiceControlShutdown:
      WriteLog("ServiceControlHandler()", "SERVICE_CONTROL_STOP ");
      ServiceStatus.currentState = platform::kServiceStopped;
      ServiceStatus.win32ExitCode = 0;
      ServiceStatus.checkPoint = 0;
      ServiceStatus.waitHint = 0;
      break;
    case platform::kServiceControlPause:
      WriteLog("ServiceControlHandler()", "SERVICE_CONTROL_PAUSE ");
      ServiceStatus.currentState = platform::kServicePaused;
      break;
    case platform::kServiceControlContinue:
      WriteLog("ServiceControlHandler()", "SERVICE_CONTROL_CONTINUE ");
      ServiceStatus.currentState = platform::kServiceRunning;
      break;
    case platform::kServiceControlInterrogate:
      WriteLog("ServiceControlHandler()", "SERVICE_CONTROL_INTERROGATE ");
      break;
    default:
      WriteLogF("ServiceControlHandler()", "Unrecognized opcode %d\n", static_cast<int>(control));
      break;
  }
  ReportStatus("ServiceControlHandler()");
  return 0;
}
