// The Service Control Manager: a tiny service installed from a path with
// blanks (quoted), started, queried, stopped and removed.
#include "platform/win32/win32_test_util.h"

namespace platform {
namespace {

using win32_testing::RawRead;
using win32_testing::ScratchFolder;

std::string OwnFolder() {
  Win32Env env{std::string()};
  std::string self;
  env.GetModulePath(&self);
  return self.substr(0, self.find_last_of('\\'));
}

class ServiceControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "InkoraWin32Test" + std::to_string(::GetCurrentProcessId());
    std::string folder = dir_ / "svc dir with space";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    exe_ = folder + "\\inkora test service.exe";
    ASSERT_TRUE(::CopyFileA((OwnFolder() + "\\inkora_test_service.exe").c_str(), exe_.c_str(), TRUE));
    ASSERT_EQ(kSuccess, env_.OpenSCManager(kScManagerAllAccess, &manager_));
  }

  void TearDown() override {
    if (!manager_) return;
    std::unique_ptr<ScService> service;
    if (manager_->OpenService(name_, kServiceAllAccess, &service) == kSuccess) {
      ServiceStatus status;
      service->Control(kServiceControlStop, &status);
      WaitFor(service.get(), kServiceStopped);
      service->Delete();
    }
    service.reset();
    manager_.reset();
  }

  ServiceConfig Config() const {
    ServiceConfig config;
    config.name = name_;
    config.displayName = "Inkora Win32 Test";
    config.serviceType = kServiceWin32OwnProcess;
    config.startType = 3;  // SERVICE_DEMAND_START: never started by the prefix on its own
    config.binaryPath = "\"" + exe_ + "\" " + name_;  // the caller quotes
    return config;
  }

  // A bounded poll: the state the service reached, or the last one seen.
  static uint32_t WaitFor(ScService* service, uint32_t state) {
    ServiceStatus status;
    for (int i = 0; i < 600; ++i) {
      if (service->QueryStatus(&status) != kSuccess) return 0;
      if (status.currentState == state) break;
      ::Sleep(100);
    }
    return status.currentState;
  }

  // What the service noted: waits (bounded) for a line to appear.
  std::string WaitForNote(const std::string& line) {
    std::string notes;
    for (int i = 0; i < 600; ++i) {
      notes = RawRead(exe_ + ".state");
      if (notes.find(line + "\r\n") != std::string::npos) break;
      ::Sleep(100);
    }
    return notes;
  }

  Win32Env env_{std::string()};
  ScratchFolder dir_{"svc"};
  std::string name_;
  std::string exe_;
  std::unique_ptr<ScManager> manager_;
};

TEST_F(ServiceControlTest, InstallStartQueryStopRemove) {
  std::unique_ptr<ScService> service;
  ASSERT_EQ(kSuccess, manager_->CreateService(Config(), &service));
  EXPECT_EQ(kSuccess,
            service->SetDescription("Updates your Inkora software to ensure that you always have the "
                                    "latest features."));
  FailureActions actions;
  actions.resetPeriodSeconds = 86400;
  actions.restartDelaysMs = {60000, 30000};
  actions.thenStayStopped = true;
  EXPECT_EQ(kSuccess, service->SetFailureActions(actions));
  FailureActions stored;
  const Status query = service->QueryFailureActions(&stored);
  // Wine's manager takes the actions without keeping them and has no query
  // level for them (ERROR_INVALID_LEVEL); Windows gives back what was set.
  if (query != 124) {
    ASSERT_EQ(kSuccess, query);
    EXPECT_EQ(86400u, stored.resetPeriodSeconds);
    EXPECT_EQ(actions.restartDelaysMs, stored.restartDelaysMs);
    EXPECT_TRUE(stored.thenStayStopped);
  }

  ServiceStatus status;
  ASSERT_EQ(kSuccess, service->QueryStatus(&status));
  EXPECT_EQ(kServiceStopped, status.currentState);
  EXPECT_EQ(kErrorServiceNotActive, service->Control(kServiceControlStop, &status));

  ASSERT_EQ(kSuccess, service->Start());
  ASSERT_EQ(kServiceRunning, WaitFor(service.get(), kServiceRunning));
  EXPECT_NE(std::string::npos, WaitForNote("running").find("running\r\n"));
  EXPECT_EQ(kErrorServiceAlreadyRunning, service->Start());

  ASSERT_EQ(kSuccess, service->Control(kServiceControlStop, &status));
  EXPECT_EQ(kServiceStopped, WaitFor(service.get(), kServiceStopped));
  EXPECT_EQ("running\r\nstop\r\nended\r\n", WaitForNote("ended"));

  EXPECT_EQ(kSuccess, service->Delete());
  service.reset();
  std::unique_ptr<ScService> again;
  Status s = manager_->OpenService(name_, kServiceAllAccess, &again);
  EXPECT_TRUE(s == kErrorServiceDoesNotExist ||
              (s == kSuccess && again->Delete() == kErrorServiceMarkedForDelete))
      << s;
}

TEST_F(ServiceControlTest, ManagerRefusalsCarryTheirCodes) {
  std::unique_ptr<ScService> service;
  EXPECT_EQ(kErrorServiceDoesNotExist, manager_->OpenService(name_, kServiceAllAccess, &service));
  EXPECT_FALSE(service);
  ASSERT_EQ(kSuccess, manager_->CreateService(Config(), &service));
  std::unique_ptr<ScService> twice;
  EXPECT_EQ(kErrorServiceExists, manager_->CreateService(Config(), &twice));
  EXPECT_FALSE(twice);
  ServiceConfig bad = Config();
  bad.name = "";
  EXPECT_NE(kSuccess, manager_->CreateService(bad, &twice));
}

TEST_F(ServiceControlTest, DispatcherStartedFromAConsoleFails) {
  // Not started by the manager: the dispatcher cannot connect (1063).
  std::string command = "\"" + exe_ + "\" " + name_;
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(
      ::CreateProcessA(exe_.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pi.hProcess, 60000));
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  EXPECT_EQ(kErrorFailedServiceControllerConnect, code);
  EXPECT_EQ("dispatcher 1063\r\n", RawRead(exe_ + ".state"));
}

}  // namespace
}  // namespace platform
