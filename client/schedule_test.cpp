// The check schedule: the frequency rule at its boundaries and the weekly rule
// against the local clock of zones west and east of UTC, across daylight saving.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "client/client_info.h"
#include "settings/log.h"
#include "settings/registry.h"
#include "settings/testing/settings_fixture.h"

namespace {

constexpr int64_t kNow = 1772911800;  // 2026-03-07 19:30 UTC, a Saturday

std::string Hex(int64_t t) {
  return StrFormat("%x", static_cast<unsigned>(static_cast<uint32_t>(t)));
}
// US Eastern and Central Europe with their 2026 changes; India, half an hour, none.
int64_t Eastern(int64_t t) {
  return (t >= 1772953200 && t < 1793512800) ? -4 * 3600 : -5 * 3600;
}
int64_t Central(int64_t t) {
  return (t >= 1774746000 && t < 1792890000) ? 2 * 3600 : 3600;
}
int64_t India(int64_t) {
  return 5 * 3600 + 1800;
}

class Schedule : public settings_testing::SettingsFixture {
 protected:
  void At(int64_t now, const std::string& last) {  // last "-": absent
    env_->now = now;
    DeleteRegValue(kServiceKey, "LastCheck");
    if (last != "-") SetService("LastCheck", last);
  }
  CClientInfo client_;
};

TEST_F(Schedule, FrequencyRule) {
  const struct {
    const char* what;
    const char* freq;
    int64_t now;
    std::string last;
    bool due;
  } rows[] = {
      {"exactly 24 hours", "24", kNow, Hex(kNow - 86400), true},
      {"one second short", "24", kNow, Hex(kNow - 86399), false},
      {"no LastCheck", "24", kNow, "-", true},
      {"LastCheck ahead (clock set back)", "1", kNow, Hex(kNow + 3600), false},
      {"frequency 0 is due at once", "0", kNow, Hex(kNow), true},
      {"huge frequency does not wrap", "50000000", kNow, Hex(kNow - 60), false},
      {"after 2038, recent", "1", 0x90000000LL, Hex(0x90000000LL - 256), false},
      {"after 2038, an hour ago", "1", 0x90000000LL, Hex(0x90000000LL - 3600), true},
  };
  for (const auto& r : rows) {
    At(r.now, r.last);
    SetService("UpdateFreq", r.freq);
    EXPECT_EQ(r.due, client_.IsTimeToCheckWebfarm()) << r.what;
  }
  At(kNow, Hex(kNow - 86400));
  ClearLog();
  EXPECT_TRUE(client_.IsTimeToCheckWebfarm());
  EXPECT_TRUE(Logged("LastUpdate:      \t19:30:00")) << LogText();
  EXPECT_TRUE(Logged("Elapsted time:   \t1440 (minutes)\n"));
}

TEST_F(Schedule, WeeklyRuleMatchesTheLocalMinuteOfTheWeekOrSixDays) {
  const struct {
    const char* what;
    std::function<int64_t(int64_t)> zone;
    int64_t now;
    std::string last;
    uint32_t day, time;
    bool due;
  } rows[] = {
      {"Eastern, Sat 14:30 EST", Eastern, kNow, "", 7, 870, true},
      {"Eastern, a minute later", Eastern, kNow + 60, "", 7, 870, false},
      {"Eastern, last second of the minute", Eastern, kNow + 59, "", 7, 870, true},
      {"Eastern, wrong weekday", Eastern, kNow, "", 6, 870, false},
      {"Eastern, Sat 14:30 EDT after the change", Eastern, 1773513000, "", 7, 870, true},
      {"Eastern, Sat 21:00 is Sunday in UTC", Eastern, 1772935200, "", 7, 1260, true},
      {"Eastern, just after the spring change", Eastern, 1772953200, "", 1, 180, true},
      {"Central, Sun 03:00 CEST right after the change", Central, 1774746000, "", 1, 180, true},
      {"Central, autumn change: 02:00 CET again", Central, 1792890000, "", 1, 120, true},
      {"India, Mon 09:15 IST", India, 1773027900, "", 2, 555, true},
      {"nothing set", India, 1773027900, "", 0, 0, false},
      {"exactly six days", Eastern, kNow, Hex(kNow - 8640 * 60), 4, 0, true},
      {"59 seconds short of six days", Eastern, kNow, Hex(kNow - 8640 * 60 + 59), 4, 0, false},
      {"LastCheck ahead", Eastern, kNow, Hex(kNow + 7 * 86400), 4, 0, false},
  };
  for (const auto& r : rows) {
    At(r.now, r.last.empty() ? Hex(r.now - 60) : r.last);
    env_->zone = r.zone;
    SetServiceDword("IntervalDay", r.day);
    SetServiceDword("IntervalTime", r.time);
    EXPECT_EQ(r.due, client_.IsTimeToCheckInterval()) << r.what;
  }
}

}  // namespace
