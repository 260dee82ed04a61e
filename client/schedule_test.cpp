// The check schedule: the frequency rule at its boundaries and the weekly rule
// against the local clock of zones west and east of UTC, across daylight saving.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "client/client_info.h"
#include "client/client_test_env.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace {

using client_testing::ClientFixture;

constexpr int64_t kNow = 1772911800;  // 2026-03-07 19:30 UTC, a Saturday

std::string Hex(int64_t t) {
  return StrFormat("%x", static_cast<unsigned>(static_cast<uint32_t>(t)));
}

class Schedule : public ClientFixture {
 protected:
  void SetLastCheck(const char* text) {
    DeleteRegValue(kServiceKey, "LastCheck");
    if (text) SetService(kLastCheck, text);
  }
};

TEST_F(Schedule, FrequencyRule) {
  const struct {
    const char* what;
    const char* freq;
    int64_t now;
    std::string last;  // "-": absent
    bool due;
  } rows[] = {
      {"exactly 24 hours", "24", kNow, Hex(kNow - 86400), true},
      {"one second short", "24", kNow, Hex(kNow - 86399), false},
      {"no LastCheck", "24", kNow, "-", true},
      {"LastCheck not hexadecimal", "24", kNow, "zz", true},
      {"LastCheck ahead (clock set back)", "1", kNow, Hex(kNow + 3600), false},
      {"frequency 0 is due at once", "0", kNow, Hex(kNow), true},
      // 50 000 000 hours in minutes is past the int32 range: not due, not wrapped.
      {"huge frequency", "50000000", kNow, Hex(kNow - 60), false},
      // After January 2038 LastCheck passes 7fffffff and still means 256 seconds ago.
      {"after 2038, recent", "1", 0x90000000LL, Hex(0x90000000LL - 256), false},
      {"after 2038, an hour ago", "1", 0x90000000LL, Hex(0x90000000LL - 3600), true},
  };
  for (const auto& row : rows) {
    fake_->now = row.now;
    SetService(kUpdateFreq, row.freq);
    SetLastCheck(row.last == "-" ? nullptr : row.last.c_str());
    EXPECT_EQ(row.due, client_.IsTimeToCheckWebfarm()) << row.what;
  }
}

TEST_F(Schedule, FrequencyRuleLogsItsFigures) {
  fake_->now = kNow;
  SetService(kUpdateFreq, "24");
  SetLastCheck(Hex(kNow - 86400).c_str());
  ClearLog();
  EXPECT_TRUE(client_.IsTimeToCheckWebfarm());
  EXPECT_TRUE(Logged("CClientInfo::IsTimeToCheckWebfarm()-LastUpdate:      \t19:30:00"));
  EXPECT_TRUE(Logged("Current Time:    \t19:30:00"));
  EXPECT_TRUE(Logged("Elapsted time:   \t1440 (minutes)"));
  EXPECT_TRUE(Logged("Update reqency:  \t1440 (minutes)"));
}

// Local time of US Eastern (west of UTC) and Central Europe (east), with their
// 2026 daylight-saving changes, and India (east, half an hour, no change).
int64_t Eastern(int64_t t) {
  return (t >= 1772953200 && t < 1793512800) ? -4 * 3600 : -5 * 3600;
}
int64_t Central(int64_t t) {
  return (t >= 1774746000 && t < 1792890000) ? 2 * 3600 : 3600;
}
int64_t India(int64_t) {
  return 5 * 3600 + 1800;
}

TEST_F(Schedule, WeeklyRuleMatchesTheLocalMinuteOfTheWeek) {
  const struct {
    const char* what;
    std::function<int64_t(int64_t)> zone;
    int64_t now;
    uint32_t day, time;
    bool due;
  } rows[] = {
      {"Eastern, Sat 14:30 EST", Eastern, 1772911800, 7, 870, true},
      {"Eastern, a minute later", Eastern, 1772911800 + 60, 7, 870, false},
      {"Eastern, a minute early", Eastern, 1772911800 - 60, 7, 870, false},
      {"Eastern, last second of the minute", Eastern, 1772911800 + 59, 7, 870, true},
      {"Eastern, Sat 14:30 EDT after the change", Eastern, 1773513000, 7, 870, true},
      {"Eastern, the old UTC moment after the change is 15:30", Eastern, 1773513000 + 3600, 7, 870, false},
      {"Eastern, Sat 21:00 is Sunday in UTC", Eastern, 1772935200, 7, 1260, true},
      {"Eastern, hour before the spring change 01:30 EST", Eastern, 1772953200 - 1800, 1, 90, true},
      {"Eastern, just after the spring change 03:00 EDT", Eastern, 1772953200, 1, 180, true},
      {"Central, Sun 02:30 CET", Central, 1774143000, 1, 150, true},
      {"Central, Sun 03:00 CEST right after the change", Central, 1774746000, 1, 180, true},
      {"Central, autumn change: 02:00 CET again", Central, 1792890000, 1, 120, true},
      {"India, Mon 09:15 IST", India, 1773027900, 2, 555, true},
      {"India, wrong weekday", India, 1773027900, 3, 555, false},
      {"nothing set", India, 1773027900, 0, 0, false},
  };
  for (const auto& row : rows) {
    fake_->now = row.now;
    fake_->zone = row.zone;
    SetLastCheck(Hex(row.now - 60).c_str());
    SetServiceDword("IntervalDay", row.day);
    SetServiceDword("IntervalTime", row.time);
    EXPECT_EQ(row.due, client_.IsTimeToCheckInterval()) << row.what;
  }
}

TEST_F(Schedule, WeeklyRuleSixDayBranchUsesUtcTimes) {
  const struct {
    const char* what;
    std::string last;  // "-": absent
    bool due;
  } rows[] = {
      {"exactly six days", Hex(kNow - 8640 * 60), true},
      {"59 seconds short", Hex(kNow - 8640 * 60 + 59), false},
      {"no LastCheck", "-", true},
      {"LastCheck not hexadecimal", "garbage", true},
      {"LastCheck ahead", Hex(kNow + 7 * 86400), false},
  };
  for (const auto& row : rows) {
    fake_->now = kNow;
    fake_->zone = Eastern;  // the zone must not shift the six days
    SetLastCheck(row.last == "-" ? nullptr : row.last.c_str());
    SetServiceDword("IntervalDay", 4);
    SetServiceDword("IntervalTime", 0);
    EXPECT_EQ(row.due, client_.IsTimeToCheckInterval()) << row.what;
  }
}

}  // namespace
