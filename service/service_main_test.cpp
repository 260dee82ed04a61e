// The service main and the control handler: the states reported, in order,
// from start-up through each control, and the manager's refusals.
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/testing/settings_fixture.h"

namespace {

using platform::kServicePaused;
using platform::kServiceRunning;
using platform::kServiceStopped;

struct StatusCase {
  const char* label;
  platform::Status registerResult, setStatusResult;
  uint32_t duringRegister;  // a control the manager sends before the handle is known
  std::vector<uint32_t> controls;
  std::vector<uint32_t> reported;
  uint32_t finalState;
  const char* logged;
};

class ServiceMainTest : public settings_testing::SettingsFixture {};

TEST_F(ServiceMainTest, ReportsEachStateInTurn) {
  const StatusCase cases[] = {
      {"start", 0, 0, 0, {}, {kServiceRunning}, kServiceRunning, "ServiceMain()----END---"},
      {"stop", 0, 0, 0, {1}, {kServiceRunning, kServiceStopped}, kServiceStopped, "SERVICE_CONTROL_STOP "},
      {"shutdown", 0, 0, 0, {5}, {kServiceRunning, kServiceStopped}, kServiceStopped, "CONTROL_STOP"},
      {"pause, continue",
       0,
       0,
       0,
       {2, 3},
       {kServiceRunning, kServicePaused, kServiceRunning},
       kServiceRunning,
       "SERVICE_CONTROL_CONTINUE "},
      {"interrogate",
       0,
       0,
       0,
       {2, 4},
       {kServiceRunning, kServicePaused, kServicePaused},
       kServicePaused,
       "SERVICE_CONTROL_INTERROGATE "},
      {"paused, stopped",
       0,
       0,
       0,
       {2, 1},
       {kServiceRunning, kServicePaused, kServiceStopped},
       kServiceStopped,
       "SERVICE_CONTROL_PAUSE "},
      {"unknown",
       0,
       0,
       0,
       {128, 0},
       {kServiceRunning, kServiceRunning, kServiceRunning},
       kServiceRunning,
       "Unrecognized opcode 128"},
      {"stop at start-up stays", 0, 0, 1, {}, {kServiceStopped}, kServiceStopped, "error code = 6"},
      {"no registration", 1063, 0, 0, {}, {}, platform::kServiceStartPending, "error code = 1063"},
      {"report refused",
       0,
       6,
       0,
       {4},
       {kServiceRunning, kServiceRunning},
       kServiceRunning,
       "ServiceControlHandler()-SetServiceStatus failed, error code = 6"},
  };
  env_->fakeServiceHost = true;
  strServiceName = "InkoraUpdater";
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.label);
    ClearLog();
    env_->reported.clear();
    env_->registerResult = c.registerResult;
    env_->setStatusResult = c.setStatusResult;
    env_->controlDuringRegister = c.duringRegister;
    hServiceStatus = 0;
    ServiceMain(0, nullptr);
    ServiceStatus.checkPoint = 3;  // progress of a pending change: a stop clears it
    ServiceStatus.waitHint = 3000;
    ServiceStatus.win32ExitCode = c.controls.empty() ? 0 : 1067;
    for (uint32_t control : c.controls) EXPECT_EQ(0u, ServiceControlHandler(control, 0, nullptr, nullptr));
    std::vector<uint32_t> states;
    for (const auto& s : env_->reported) {
      states.push_back(s.currentState);
      EXPECT_EQ(platform::kServiceWin32, s.serviceType);
      EXPECT_EQ(7u, s.controlsAccepted);
      EXPECT_TRUE(s.currentState != kServiceStopped || s.checkPoint + s.waitHint + s.win32ExitCode == 0);
    }
    EXPECT_EQ(c.reported, states);
    EXPECT_EQ(c.finalState, ServiceStatus.currentState);
    EXPECT_TRUE(Logged(c.logged)) << LogLines();
    EXPECT_EQ(c.registerResult == 0, Logged("ServiceMain()----END---"));
  }
  EXPECT_EQ(ServiceControlHandler, env_->handler);
}

}  // namespace
