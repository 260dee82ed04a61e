// The fast-forward clock: short real sleeps, a clock that moves on by the whole
// time asked for, and the registry switch that puts it in place.
#include "service/fast_forward.h"

#include <gtest/gtest.h>

#include <ostream>

#include <vector>

#include "settings/registry.h"
#include "service/service_test_env.h"

namespace {

// A clock in milliseconds that moves only when slept on.
class ManualClockEnv : public platform::EnvWrapper {
 public:
  ManualClockEnv() : EnvWrapper(nullptr) {}
  int64_t nowMs = 1000000000LL * 1000;
  std::vector<uint32_t> slept;

  int64_t Now() override { return nowMs / 1000; }
  void Sleep(uint32_t ms) override {
    slept.push_back(ms);
    nowMs += ms;
  }
  // A plain count of days and the time of day (UTC), enough to see the shift.
  bool ToLocalTime(int64_t seconds, platform::LocalTimeFields* f) override {
    f->year = 1970;
    f->month = 1;
    f->day = static_cast<int>(seconds / 86400);
    f->hour = static_cast<int>(seconds % 86400 / 3600);
    f->minute = static_cast<int>(seconds % 3600 / 60);
    f->second = static_cast<int>(seconds % 60);
    f->weekday = static_cast<int>((seconds / 86400 + 4) % 7);  // 1970-01-01 was a Thursday
    return true;
  }
  platform::SystemTime GetLocalTime() override { return platform::SystemTime(); }
};

struct SleepCase {
  const char* label;
  uint32_t factor;
  std::vector<uint32_t> sleeps;
  std::vector<uint32_t> realSleeps;
  int64_t clockAdvanceSeconds;
};
// gtest names the case by its label (the struct has padding bytes it would print).
void PrintTo(const SleepCase& c, std::ostream* os) {
  *os << c.label;
}

class FastForwardSleepTest : public ::testing::TestWithParam<SleepCase> {};

TEST_P(FastForwardSleepTest, ClockMovesByTheWholeTimeAskedFor) {
  const SleepCase& c = GetParam();
  ManualClockEnv base;
  CFastForwardEnv env(&base, c.factor);
  int64_t start = env.Now();
  for (uint32_t ms : c.sleeps) env.Sleep(ms);
  EXPECT_EQ(c.realSleeps, base.slept);
  // The base clock counts whole seconds, so the real part of the sleeps may
  // not have shown yet: the clock is never ahead and at most a second behind.
  EXPECT_LE(env.Now() - start, c.clockAdvanceSeconds);
  EXPECT_GE(env.Now() - start, c.clockAdvanceSeconds - 1);
  EXPECT_GE(env.offsetMs(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sleeps, FastForwardSleepTest,
    ::testing::Values(SleepCase{"minute_cycles_at_600", 600, {60000, 60000, 60000}, {100, 100, 100}, 180},
                      SleepCase{"ten_minute_cycle", 600, {600000}, {1000}, 600},
                      SleepCase{"factor_not_dividing", 7, {1000, 1000, 1000}, {142, 142, 142}, 3},
                      SleepCase{"sub_second_sleeps_add_up", 10, {400, 400, 400}, {40, 40, 40}, 1},
                      SleepCase{"factor_above_the_cap", 1u << 30, {600000}, {6}, 600},
                      SleepCase{"factor_zero_is_real_time", 0, {2000}, {2000}, 2}),
    [](const ::testing::TestParamInfo<SleepCase>& info) { return std::string(info.param.label); });

TEST(FastForwardClock, LocalTimeFollowsTheShiftedClock) {
  ManualClockEnv base;
  base.nowMs = 1000000000LL * 1000;  // 2001-09-09 01:46:40 UTC, a Sunday
  CFastForwardEnv env(&base, 1000);
  env.Sleep(24u * 3600 * 1000);  // one day
  platform::SystemTime t = env.GetLocalTime();
  EXPECT_EQ(11574 + 1, t.day);
  EXPECT_EQ(1, t.dayOfWeek);  // Monday
  EXPECT_EQ(1, t.hour);
  EXPECT_EQ(46, t.minute);
  EXPECT_EQ(39, t.second);
  EXPECT_EQ(1000000000LL + 86400 - 1, env.Now());  // the 86.4 real ms have not made a second yet
}

class FastForwardSwitchTest : public service_testing::ServiceFixture {};

TEST_F(FastForwardSwitchTest, OnlyAFactorAboveOneReplacesTheEnv) {
  platform::Env* before = platform::Env::Default();
  EXPECT_EQ(1u, InstallFastForwardIfSet());  // absent
  EXPECT_EQ(before, platform::Env::Default());
  SetServiceDword(kFastForwardValue, 1);
  EXPECT_EQ(1u, InstallFastForwardIfSet());
  EXPECT_EQ(before, platform::Env::Default());

  SetServiceDword(kFastForwardValue, 600);
  EXPECT_EQ(600u, InstallFastForwardIfSet());
  platform::Env* now = platform::Env::Default();
  ASSERT_NE(before, now);
  auto* ff = dynamic_cast<CFastForwardEnv*>(now);
  ASSERT_NE(nullptr, ff);
  EXPECT_EQ(env_.get(), ff->target());
  platform::Env::SetDefault(before);  // the fixture restores its own on tear-down
  delete ff;
}

}  // namespace
