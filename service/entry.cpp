#include "service/entry.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/ascii.h"
#include "platform/env.h"
#include "service/service_main.h"
#include "settings/log.h"
#include "settings/process_state.h"
#include "settings/registry.h"

std::string strCommand;
std::vector<std::string> aArgs;

namespace {

const char* const kDisplayName = "Inkora Updater";
const char* const kDescription =
    "Updates your Inkora software to ensure that you always have the latest features.";

// The manager and the named service, opened as UnInstall, KillService and
// RunService need them; false (after the log line) when either fails.
bool OpenManagerAndService(const char* functionName, const std::string& serviceName,
                           std::unique_ptr<platform::ScManager>* manager,
                           std::unique_ptr<platform::ScService>* service) {
  platform::Status status =
      platform::Env::Default()->services()->OpenManager(platform::kScManagerAllAccess, manager);
  if (status != platform::kSuccess) {
    WriteLogF(functionName, "OpenSCManager failed, error code = %d\n", static_cast<int>(status));
    return false;
  }
  status = (*manager)->OpenService(serviceName, platform::kServiceAllAccess, service);
  if (status != platform::kSuccess) {
    WriteLogF(functionName, "OpenService failed, error code = %d\n", static_cast<int>(status));
    manager->reset();
    return false;
  }
  return true;
}

// Sets the three fixed fields from the program path. A path that does not fit
// its field is refused whole: a cut path would name another file, and the
// service must never be installed or logged under a wrong name.
void SetPathsAndVersion(const std::string& modulePath) {
  SetFixedField(szModulePath, sizeof(szModulePath), "");
  SetFixedField(szLogPath, sizeof(szLogPath), "");
  SetFixedField(szServiceVersion, sizeof(szServiceVersion), "");
  size_t n = modulePath.size();
  if (n <= 4 || modulePath[n - 4] != '.') return;
  std::string logPath = modulePath.substr(0, n - 4) + ".log";
  if (!SetFixedField(szModulePath, sizeof(szModulePath), modulePath) ||
      !SetFixedField(szLogPath, sizeof(szLogPath), logPath)) {
    SetFixedField(szModulePath, sizeof(szModulePath), "");
    SetFixedField(szLogPath, sizeof(szLogPath), "");
    return;
  }
  std::string version;
  GetFileVersion(version);
  std::string compact;
  for (char c : version) {
    if (c != ' ') compact += c;
  }
  // A version text longer than the field is refused (sv_ver stays empty)
  // rather than written past its end.
  if (!SetFixedField(szServiceVersion, sizeof(szServiceVersion), compact)) {
    WriteLogF("ServiceMainProc()", "version text too long (%u characters), not used\n",
              static_cast<unsigned>(compact.size()));
  }
  WriteLog("ServiceMainProc()", szServiceVersion);
}

void WriteTestSettings(const char* staging) {
  SetRegValue_String(kServiceKey, RegValueNames[kUseStaging], staging);
  SetRegValue_String(kServiceKey, RegValueNames[kMetadataVer], "");
  SetRegValue_String(kServiceKey, RegValueNames[kLastCheck], "");
}

}  // namespace

std::string QuotedBinaryPath(const std::string& modulePath) {
  return "\"" + modulePath + "\"";
}

void CollectArguments(int argc, char** argv) {
  strCommand.clear();
  aArgs.clear();
  if (argc >= 2 && argv[1] != nullptr && std::string(argv[1]).size() < 32) strCommand = argv[1];
  for (int i = 1; i < argc; ++i) aArgs.emplace_back(argv[i] != nullptr ? argv[i] : "");
}

bool GetFileVersion(std::string& version) {
  const platform::Env* env = platform::Env::Default();
  std::unique_ptr<platform::VersionResource> resource;
  if (env->files()->LoadVersionResource(szModulePath, &resource) != platform::kSuccess || !resource)
    return false;
  if (!resource->HasFixedInfo()) return false;

  char subBlock[256];
  std::string table;
  if (resource->QueryTranslation(&table) && table.size() == 4) {
    // The first translation: language in the low word, code page in the high
    // word, each stored little-endian.
    unsigned langLo = static_cast<unsigned char>(table[0]);
    unsigned langHi = static_cast<unsigned char>(table[1]);
    unsigned cpLo = static_cast<unsigned char>(table[2]);
    unsigned cpHi = static_cast<unsigned char>(table[3]);
    std::snprintf(subBlock, sizeof(subBlock), "\\StringFileInfo\\%02X%02X%02X%02X\\FileVersion", langHi,
                  langLo, cpHi, cpLo);
  } else {
    std::snprintf(subBlock, sizeof(subBlock), "\\StringFileInfo\\%04X04B0\\FileVersion",
                  static_cast<unsigned>(env->system()->GetUserDefaultLangID()));
  }
  std::string text;
  if (resource->QueryString(subBlock, &text)) version = text;
  for (char& c : version) {
    if (c == ',') c = '.';
  }
  return true;
}

void Install(const std::string& serviceName) {
  std::unique_ptr<platform::ScManager> manager;
  platform::Status status =
      platform::Env::Default()->services()->OpenManager(platform::kScManagerCreateService, &manager);
  if (status != platform::kSuccess) {
    WriteLogF("Install()", "OpenSCManager failed, error code = %d\n", static_cast<int>(status));
    return;
  }
  platform::ServiceConfig config;
  config.name = serviceName;
  config.displayName = kDisplayName;
  config.serviceType = platform::kServiceWin32OwnProcess | platform::kServiceInteractiveProcess;
  config.startType = platform::kServiceAutoStart;
  config.errorControl = platform::kServiceErrorNormal;
  config.binaryPath = QuotedBinaryPath(szModulePath);
  std::unique_ptr<platform::ScService> service;
  status = manager->CreateService(config, &service);
  if (status != platform::kSuccess) {
    WriteLogF("Install()", "Failed to create service %s, error code = %d\n", serviceName.c_str(),
              static_cast<int>(status));
    return;
  }
  if (service->SetDescription(kDescription) == platform::kSuccess) {
    WriteLog("Install()", "ChangeServiceConfig2 succeeded\n");
  } else {
    WriteLog("Install()", "ChangeServiceConfig2 failed\n");
  }
  // After a crash the manager restarts the service three times, a minute
  // apart, and then leaves it stopped; a day without a crash starts the count
  // again. The service runs without them, so a refusal is only logged.
  platform::FailureActions actions;
  actions.resetPeriodSeconds = 24 * 60 * 60;
  actions.restartDelaysMs = {60000, 60000, 60000};
  actions.thenStayStopped = true;
  status = service->SetFailureActions(actions);
  if (status != platform::kSuccess) {
    WriteLogF("Install()", "Setting the failure actions failed, error code = %d\n", static_cast<int>(status));
  }
  WriteLogF("Install()", "Service %s installed\n", serviceName.c_str());
  service.reset();  // the service handle closes before the manager's
}

void UnInstall(const std::string& serviceName) {
  std::unique_ptr<platform::ScManager> manager;
  std::unique_ptr<platform::ScService> service;
  if (!OpenManagerAndService("UnInstall()", serviceName, &manager, &service)) return;
  if (service->Delete() == platform::kSuccess) {
    WriteLogF("UnInstall()", "Service %s removed\n", serviceName.c_str());
  } else {
    WriteLogF("UnInstall()", "Failed to delete service %s\n", serviceName.c_str());
  }
  service.reset();
}

bool KillService(const std::string& serviceName) {
  std::unique_ptr<platform::ScManager> manager;
  std::unique_ptr<platform::ScService> service;
  if (!OpenManagerAndService("KillService()", serviceName, &manager, &service)) return false;
  platform::ServiceStatus status;
  platform::Status result = service->Control(platform::kServiceControlStop, &status);
  service.reset();
  if (result != platform::kSuccess) {
    WriteLogF("KillService()", "ControlService failed, error code = %d\n", static_cast<int>(result));
    return false;
  }
  return true;
}

bool RunService(const std::string& serviceName) {
  std::unique_ptr<platform::ScManager> manager;
  std::unique_ptr<platform::ScService> service;
  if (!OpenManagerAndService("RunService()", serviceName, &manager, &service)) return false;
  platform::Status result = service->Start();
  service.reset();
  if (result != platform::kSuccess) {
    WriteLogF("RunService()", "StartService failed, error code = %d\n", static_cast<int>(result));
    return false;
  }
  return true;
}

void ServiceMainProc() {
  // csLog is a plain global mutex, ready before main; nothing to initialise.
  strServiceName = "InkoraUpdater";
  std::string modulePath;
  platform::Env::Default()->files()->GetModulePath(&modulePath);
  SetPathsAndVersion(modulePath);

  if (platform::EqualsNoCase(strCommand, "-i")) {
    Install(strServiceName);
  } else if (platform::EqualsNoCase(strCommand, "-k")) {
    KillService(strServiceName);
  } else if (platform::EqualsNoCase(strCommand, "-u")) {
    UnInstall(strServiceName);
  } else if (platform::EqualsNoCase(strCommand, "-s")) {
    RunService(strServiceName);
  } else if (platform::EqualsNoCase(strCommand, "-l")) {
    SetRegValue_String(kServiceKey, RegValueNames[kTestSendNow], "1");
    std::string path = aArgs.size() > 1 ? aArgs[1] : std::string();
    SetRegValue_String(kServiceKey, RegValueNames[kTestPath], path);
  } else if (platform::EqualsNoCase(strCommand, "-t1")) {
    WriteTestSettings("1");
    ExecuteSubProcess();
  } else if (platform::EqualsNoCase(strCommand, "-t2")) {
    WriteTestSettings("2");
    ExecuteSubProcess();
  } else if (platform::EqualsNoCase(strCommand, "-nl")) {
    DeleteRegValue(kServiceKey, RegValueNames[kTestPath]);
    DeleteRegValue(kServiceKey, RegValueNames[kTestSendNow]);
  } else if (platform::EqualsNoCase(strCommand, "-r")) {
    WriteLog("ServiceMainProc()", "Install");
    Install(strServiceName);
    platform::Env::Default()->clock()->Sleep(1000);
    WriteLog("ServiceMainProc()", "RunService");
    RunService(strServiceName);
  } else {
    ExecuteSubProcess();
  }
}
