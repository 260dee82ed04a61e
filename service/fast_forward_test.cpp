// The fast-forward clock: short real sleeps, a clock that moves on by the whole
// time asked for, local time from that clock, and the switch that installs it.
#include "service/fast_forward.h"

#include <gtest/gtest.h>

#include <vector>

#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

using FastForwardTest = settings_testing::SettingsFixture;

TEST_F(FastForwardTest, TheClockMovesByTheWholeTimeAskedForAndSleepsAFraction) {
  const struct {
    uint32_t factor;
    std::vector<uint32_t> sleeps, real;
    int64_t seconds;
  } cases[] = {{600, {600000}, {1000}, 600},
               {7, {1000, 1000, 1000}, {142, 142, 142}, 3},
               {10, {400, 400, 400}, {40, 40, 40}, 1},
               {1u << 30, {600000}, {6}, 600},
               {0, {2000}, {2000}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.factor);
    platform_testing::FakeEnv base(nullptr);
    base.now = 1000000000;
    CFastForwardEnv env(&base, c.factor);
    for (uint32_t ms : c.sleeps) env.Sleep(ms);
    EXPECT_EQ(c.real, base.sleeps);
    // The base clock counts whole seconds of the real part: never ahead, at
    // most a second behind.
    EXPECT_LE(env.Now() - 1000000000, c.seconds);
    EXPECT_GE(env.Now() - 1000000000, c.seconds - 1);
  }
  platform_testing::FakeEnv base(nullptr);
  base.now = 1009839570;  // Monday 2001-12-31 22:59:30 UTC, 23:59:30 in the zone
  base.zone = [](int64_t) { return 3600; };
  CFastForwardEnv env(&base, 1000);
  env.Sleep(60000);  // 60 real ms, not yet a second of the base clock
  platform::SystemTime t = env.GetLocalTime();
  EXPECT_EQ((std::vector<int>{2002, 1, 1, 2, 0, 0, 29}),
            (std::vector<int>{t.year, t.month, t.day, t.dayOfWeek, t.hour, t.minute, t.second}));
  // Only a factor above one replaces the Env.
  platform::Env* before = platform::Env::Default();
  SetServiceDword(kFastForwardValue, 1);
  EXPECT_EQ(1u, InstallFastForwardIfSet());
  EXPECT_EQ(before, platform::Env::Default());
  SetServiceDword(kFastForwardValue, 600);
  EXPECT_EQ(600u, InstallFastForwardIfSet());
  auto* ff = dynamic_cast<CFastForwardEnv*>(platform::Env::Default());
  ASSERT_NE(nullptr, ff);
  EXPECT_EQ(env_.get(), ff->target());
  platform::Env::SetDefault(before);
  delete ff;
}

}  // namespace
