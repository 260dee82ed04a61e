// The service main and the control handler: the states reported, in order,
// from start-up through the controls, and the manager's refusals.
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/testing/settings_fixture.h"

namespace {

constexpr uint32_t R = platform::kServiceRunning, P = platform::kServicePaused, S = platform::kServiceStopped;

using ServiceMainTest = settings_testing::SettingsFixture;

TEST_F(ServiceMainTest, ReportsEachStateInTurn) {
  const struct {
    platform::Status registerResult, setStatusResult;
    uint32_t duringRegister;  // a control the manager sends before the handle is known
    std::vector<uint32_t> controls, reported;
    const char* logged;
  } cases[] = {
      {0, 0, 0, {}, {R}, "ServiceMain()----END---"},
      {0, 0, 0, {5}, {R, S}, "SERVICE_CONTROL_STOP "},
      {0, 0, 0, {2, 4, 3, 1}, {R, P, P, R, S}, "SERVICE_CONTROL_INTERROGATE "},
      {0, 0, 0, {128, 0}, {R, R, R}, "Unrecognized opcode 128"},
      {0, 0, 1, {}, {S}, "error code = 6"},  // a stop at start-up stays
      {1063, 0, 0, {}, {}, "error code = 1063"},
      {0, 6, 0, {4}, {R, R}, "ServiceControlHandler()-SetServiceStatus failed, error code = 6"},
  };
  env_->fakeServiceHost = true;
  strServiceName = "InkoraUpdater";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
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
      EXPECT_TRUE(s.currentState != platform::kServiceStopped ||
                  s.checkPoint + s.waitHint + s.win32ExitCode == 0);
    }
    EXPECT_EQ(c.reported, states);
    EXPECT_EQ(c.reported.empty() ? platform::kServiceStartPending : env_->reported.back().currentState,
              ServiceStatus.currentState);
    EXPECT_TRUE(Logged(c.logged)) << LogLines();
    EXPECT_EQ(c.registerResult == 0, Logged("ServiceMain()----END---"));
  }
  EXPECT_EQ(ServiceControlHandler, env_->handler);
}

}  // namespace
