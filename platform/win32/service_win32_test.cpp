// The Service Control Manager: a tiny service installed from a path with
// blanks (quoted), started, queried, stopped and removed.
#include "platform/testing/tree_fixture.h"
#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

class ServiceControlTest : public platform_testing::TreeFixture {
 protected:
  void SetUp() override {
    TreeFixture::SetUp();
    name_ = "InkoraWin32Test" + std::to_string(::GetCurrentProcessId());
    std::string self;
    ASSERT_EQ(kSuccess, base_->GetModulePath(&self));
    MakeDirs(Tmp("svc dir"));
    exe_ = Tmp("svc dir\\inkora test service.exe");
    const std::string built = self.substr(0, self.find_last_of('\\')) + "\\inkora_test_service.exe";
    ASSERT_TRUE(::CopyFileA(built.c_str(), exe_.c_str(), TRUE));
    ASSERT_EQ(kSuccess, base_->OpenSCManager(kScManagerAllAccess, &manager_));
  }
  void TearDown() override {
    std::unique_ptr<ScService> service;
    if (manager_ && manager_->OpenService(name_, kServiceAllAccess, &service) == kSuccess) {
      ServiceStatus status;
      service->Control(kServiceControlStop, &status);
      WaitFor(service.get(), kServiceStopped);
      service->Delete();
    }
    service.reset();
    manager_.reset();
    TreeFixture::TearDown();
  }
  ServiceConfig Config() const {
    ServiceConfig config;
    config.name = name_;
    config.displayName = "Inkora Win32 Test";
    config.startType = 3;  // SERVICE_DEMAND_START: never started by the prefix on its own
    config.binaryPath = "\"" + exe_ + "\" " + name_;  // the caller quotes
    return config;
  }
  // Bounded polls: the state reached (or the last seen), the notes written.
  static uint32_t WaitFor(ScService* service, uint32_t state) {
    ServiceStatus status;
    for (int i = 0; i < 600 && service->QueryStatus(&status) == kSuccess && status.currentState != state; ++i)
      ::Sleep(100);
    return status.currentState;
  }
  std::string Notes(const std::string& last) {
    std::string notes;
    for (int i = 0; i < 600; ++i, ::Sleep(100)) {
      notes.clear();
      base_->ReadFile(exe_ + ".state", &notes, 4096);
      if (notes.find(last + "\r\n") != std::string::npos) break;
    }
    return notes;
  }

  std::string name_, exe_;
  std::unique_ptr<ScManager> manager_;
};

TEST_F(ServiceControlTest, InstallStartQueryStopRemove) {
  std::unique_ptr<ScService> service, twice;
  EXPECT_EQ(kErrorServiceDoesNotExist, manager_->OpenService(name_, kServiceAllAccess, &service));
  ServiceConfig bad = Config();
  bad.name = "";
  EXPECT_NE(kSuccess, manager_->CreateService(bad, &twice));
  ASSERT_EQ(kSuccess, manager_->CreateService(Config(), &service));
  EXPECT_EQ(kErrorServiceExists, manager_->CreateService(Config(), &twice));
  EXPECT_FALSE(twice);
  EXPECT_EQ(kSuccess, service->SetDescription("Keeps the Inkora software up to date."));
  FailureActions actions, stored;
  actions.resetPeriodSeconds = 86400;
  actions.restartDelaysMs = {60000, 30000};
  actions.thenStayStopped = true;
  EXPECT_EQ(kSuccess, service->SetFailureActions(actions));
  // Wine's manager takes the actions without keeping them and has no query
  // level for them (ERROR_INVALID_LEVEL); Windows gives back what was set.
  const Status query = service->QueryFailureActions(&stored);
  if (query != 124) {
    ASSERT_EQ(kSuccess, query);
    EXPECT_EQ(86400u, stored.resetPeriodSeconds);
    EXPECT_EQ(actions.restartDelaysMs, stored.restartDelaysMs);
    EXPECT_TRUE(stored.thenStayStopped);
  }
  ServiceStatus status;
  EXPECT_EQ(kServiceStopped, WaitFor(service.get(), kServiceStopped));
  EXPECT_EQ(kErrorServiceNotActive, service->Control(kServiceControlStop, &status));
  ASSERT_EQ(kSuccess, service->Start());
  ASSERT_EQ(kServiceRunning, WaitFor(service.get(), kServiceRunning));
  EXPECT_EQ("running\r\n", Notes("running"));
  EXPECT_EQ(kErrorServiceAlreadyRunning, service->Start());
  ASSERT_EQ(kSuccess, service->Control(kServiceControlStop, &status));
  EXPECT_EQ(kServiceStopped, WaitFor(service.get(), kServiceStopped));
  EXPECT_EQ("running\r\nstop\r\nended\r\n", Notes("ended"));
  EXPECT_EQ(kSuccess, service->Delete());
  service.reset();
  const Status s = manager_->OpenService(name_, kServiceAllAccess, &twice);
  EXPECT_TRUE(s == kErrorServiceDoesNotExist ||
              (s == kSuccess && twice->Delete() == kErrorServiceMarkedForDelete))
      << s;
}

TEST_F(ServiceControlTest, DispatcherStartedFromAConsoleFails) {
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
  EXPECT_EQ(kErrorFailedServiceControllerConnect, code);  // not started by the manager
  EXPECT_EQ("dispatcher 1063\r\n", Notes("dispatcher 1063"));
}

}  // namespace
}  // namespace platform
