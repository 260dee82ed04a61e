// A minimal service for the Service Control Manager tests, built on the Env's
// dispatcher calls. Usage: inkora_test_service.exe <service name>
// It writes what happens to it into "<its own path>.state", one word a line:
// "running" when it has reported running, "stop" when a stop arrived,
// "dispatcher <code>" when it could not connect to the manager.
#include <cstdio>
#include <string>

#include "platform/env.h"

namespace {

std::string g_name;
std::string g_statePath;
platform::ServiceStatusHandle g_handle = 0;
platform::ServiceStatus g_status;

void Note(const std::string& line) {
  platform::Env::Default()->AppendFile(g_statePath, line + "\r\n");
}

uint32_t Handler(uint32_t control, uint32_t, void*, void*) {
  if (control == platform::kServiceControlStop || control == platform::kServiceControlShutdown) {
    Note("stop");
    g_status.currentState = platform::kServiceStopped;
  }
  platform::Env::Default()->SetServiceStatus(g_handle, g_status);
  return 0;
}

void ServiceMain(uint32_t, char**) {
  platform::Env* env = platform::Env::Default();
  g_status.serviceType = platform::kServiceWin32OwnProcess;
  g_status.currentState = platform::kServiceStartPending;
  g_status.controlsAccepted = platform::kServiceAcceptStop | platform::kServiceAcceptShutdown;
  platform::Status s = env->RegisterServiceCtrlHandlerEx(g_name, Handler, nullptr, &g_handle);
  if (s != platform::kSuccess) {
    Note("register " + std::to_string(s));
    return;
  }
  g_status.currentState = platform::kServiceRunning;
  s = env->SetServiceStatus(g_handle, g_status);
  Note(s == platform::kSuccess ? "running" : "status " + std::to_string(s));
}

}  // namespace

int main(int argc, char** argv) {
  platform::Env* env = platform::Env::Default();
  g_name = argc > 1 ? argv[1] : "InkoraTestService";
  if (env->GetModulePath(&g_statePath) != platform::kSuccess) return 1;
  g_statePath += ".state";
  platform::Status s = env->StartServiceCtrlDispatcher(g_name, ServiceMain);
  if (s != platform::kSuccess) {
    Note("dispatcher " + std::to_string(s));
    return static_cast<int>(s);
  }
  Note("ended");
  return 0;
}
