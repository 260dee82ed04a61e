#include "service/service_main.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "service/fast_forward.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

constexpr uint32_t R = platform::kServiceRunning, P = platform::kServicePaused, S = platform::kServiceStopped;

using ServiceMainTest = settings_testing::SettingsFixture;
using FastForwardTest = settings_testing::SettingsFixture;

TEST_F(ServiceMainTest, ReportsEachStateInTurn) {
  const struct {
    platform::Status registerResult, setStatusResult;
    uint32_t duringRegister;  // a control the manager sends before the handle is known
    std::vector<uint32_t> controls, reported;
    const char* logged;
  } cases[] = {
      {0, 0, 0, {2, 4, 3, 1, 5}, {R, P, P, R, S, S}, "SERVICE_CONTROL_INTERROGATE "},
      {0, 0, 0, {128, 0}, {R, R, R}, "Unrecognized opcode 128"},
      {0, 0, 1, {}, {S}, "error code = 6"},  // a stop at start-up stays
      {1063, 0, 0, {}, {}, "error code = 1063"},
      {0, 6, 0, {4}, {R, R}, "ServiceControlHandler()-SetServiceStatus failed, error code = 6"},
  };
  strServiceName = "InkoraUpdater";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    ClearLog();
    env_->services.reported.clear();
    env_->services.registerError = c.registerResult;
    env_->services.statusError = c.setStatusResult;
    env_->services.controlDuringRegister = c.duringRegister;
    hServiceStatus = 0;
    ServiceMain(0, nullptr);
    ServiceStatus.checkPoint = 3;  // progress of a pending change: a stop clears it
    ServiceStatus.waitHint = 3000;
    ServiceStatus.win32ExitCode = c.controls.empty() ? 0 : 1067;
    for (uint32_t control : c.controls) EXPECT_EQ(0u, ServiceControlHandler(control, 0, nullptr, nullptr));
    std::vector<uint32_t> states;
    for (const auto& s : env_->services.reported) {
      states.push_back(s.currentState);
      EXPECT_EQ(platform::kServiceWin32, s.serviceType);
      EXPECT_EQ(7u, s.controlsAccepted);
      EXPECT_TRUE(s.currentState != platform::kServiceStopped ||
                  s.checkPoint + s.waitHint + s.win32ExitCode == 0);
    }
    EXPECT_EQ(c.reported, states);
    EXPECT_EQ(
        c.reported.empty() ? platform::kServiceStartPending : env_->services.reported.back().currentState,
        ServiceStatus.currentState);
    EXPECT_TRUE(Logged(c.logged)) << LogLines();
    EXPECT_EQ(c.registerResult == 0, Logged("ServiceMain()----END---"));
  }
  EXPECT_EQ(ServiceControlHandler, env_->services.handler);
}

TEST_F(FastForwardTest, TheClockMovesByTheWholeTimeAskedForAndSleepsAFraction) {
  platform_testing::FakeClock base(nullptr);
  base.now = 1009839570;  // Monday 2001-12-31 22:59:30 UTC, Tuesday 01:02:30 in the zone
  base.zone = [](int64_t) { return 2 * 3600 + 180; };
  CFastForwardClock clock(&base, 7);
  for (int i = 0; i < 70; ++i) clock.Sleep(1000);
  EXPECT_EQ(std::vector<uint32_t>(70, 142), base.sleeps);
  EXPECT_EQ(1009839570 + 60, clock.Now());  // the base clock stands; 70 skips of 858 ms add up
  platform::SystemTime t = clock.GetLocalTime();
  EXPECT_EQ((std::vector<int>{2002, 1, 1, 2, 1, 3, 30}),
            (std::vector<int>{t.year, t.month, t.day, t.dayOfWeek, t.hour, t.minute, t.second}));
  EXPECT_EQ(kMaxFastForward, CFastForwardClock(&base, 1u << 30).factor());
  EXPECT_EQ(1u, CFastForwardClock(&base, 0).factor());
  // Only a factor above one replaces the clock of the Env.
  platform::Env* before = platform::Env::Default();
  SetServiceDword(kFastForwardValue, 1);
  EXPECT_EQ(1u, InstallFastForwardIfSet());
  EXPECT_EQ(before, platform::Env::Default());
  SetServiceDword(kFastForwardValue, 600);
  EXPECT_EQ(600u, InstallFastForwardIfSet());
  std::unique_ptr<platform::Env> faster(platform::Env::SetDefault(before));
  std::unique_ptr<platform::Clock> ff(faster->clock());
  EXPECT_EQ(&env_->clock, dynamic_cast<CFastForwardClock&>(*ff).target());
}

}  // namespace
