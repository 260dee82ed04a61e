// The check schedule: the frequency rule and the weekly rule.
#include <cstdint>
#include <limits>
#include <string>

#include "client/client_info.h"
#include "client/learnt_values.h"
#include "client/numbers.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace {

const char kWebfarmFn[] = "CClientInfo::IsTimeToCheckWebfarm()";

// Six days, in minutes: after that long a check is due whatever the weekly setting says.
constexpr int64_t kSixDaysMinutes = 8640;
// A LastCheck further ahead than this is a clock that was wrong, not one set back a little.
constexpr int64_t kFarAheadSeconds = 31 * 24 * 3600;
// Update checks unanswered for longer than this lead back to a first call.
constexpr int64_t kUnansweredSeconds = 7 * 24 * 3600;
const char kLastGoodCheck[] = "LastGoodCheck";

int32_t ClampToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

void LogClock(const char* format, int64_t moment) {
  platform::LocalTimeFields f;
  if (platform::Env::Default()->clock()->ToLocalTime(moment, &f)) {
    WriteLogF(kWebfarmFn, format, f.hour, f.minute, f.second);
  } else {
    WriteLogF(kWebfarmFn, format, -1, -1, -1);
  }
}

int64_t ReadLastCheck(int64_t now) {
  return client_numbers::LastCheckTime(GetRegValue_String(kServiceKey, RegValueNames[kLastCheck], true), now);
}

}  // namespace

bool CClientInfo::IsTimeToCheckWebfarm() {
  const int64_t now = platform::Env::Default()->clock()->Now();
  const int64_t last = ReadLastCheck(now);
  const int freq = getUpdateFreq();
  if (last - now > kFarAheadSeconds) {
    WriteLog(kWebfarmFn, "LastCheck is more than 31 days ahead of the clock -- a check is due");
    return true;
  }

  LogClock("LastUpdate:      \t%02i:%02i:%02i", last);
  LogClock("Current Time:    \t%02i:%02i:%02i", now);
  // 64-bit arithmetic throughout: a large frequency must not wrap into "due".
  const int64_t elapsed = (now - last) / 60;
  WriteLogF(kWebfarmFn, "Elapsted time:   \t%d (minutes)", ClampToInt32(elapsed));
  const int64_t interval = static_cast<int64_t>(freq) * 60;
  WriteLogF(kWebfarmFn, "Update reqency:  \t%d (minutes)", ClampToInt32(interval));
  return elapsed >= interval;
}

bool CClientInfo::IsTimeToCheckInterval() {
  platform::Clock* clock = platform::Env::Default()->clock();
  const int64_t now = clock->Now();
  const int64_t last = ReadLastCheck(now);
  const uint32_t day = GetRegValue_DWORD(kServiceKey, RegValueNames[kIntervalDay]);
  const uint32_t time = GetRegValue_DWORD(kServiceKey, RegValueNames[kIntervalTime]);

  // The product writes IntervalDay and IntervalTime in the machine's local
  // time, daylight saving included, so they are compared with the local clock.
  platform::LocalTimeFields local;
  if (clock->ToLocalTime(now, &local) && local.weekday >= 0 &&
      day == static_cast<uint32_t>(local.weekday) + 1 &&
      time == static_cast<uint32_t>(local.hour * 60 + local.minute)) {
    return true;
  }
  return (now - last) / 60 >= kSixDaysMinutes || last - now > kFarAheadSeconds;
}

bool CClientInfo::IsLastCheckFarAhead() {
  const int64_t now = platform::Env::Default()->clock()->Now();
  return ReadLastCheck(now) - now > kFarAheadSeconds;
}

void CClientInfo::setLastGoodCheck() {
  SetRegValue_String(kServiceKey, kLastGoodCheck,
                     client_numbers::LastCheckText(platform::Env::Default()->clock()->Now()));
}

bool CClientInfo::IsFirstCallDueAgain() {
  const char* reason = nullptr;
  if (!learnt_values::IsUsableUrl(GetSetting(kUpdateCheckUrl))) {
    reason = "UpdateCheckUrl is empty or unusable";
  } else {
    const int64_t now = platform::Env::Default()->clock()->Now();
    const std::string text = GetRegValue_String(kServiceKey, kLastGoodCheck, false);
    const int64_t last = client_numbers::LastCheckTime(text, now);
    // None yet (an installation from before it was kept) or one ahead of the
    // clock: the week counts from now.
    if (text.empty() || last > now) {
      setLastGoodCheck();
    } else if (now - last > kUnansweredSeconds) {
      reason = "No update check has been answered for over a week";
    }
  }
  if (reason == nullptr) return false;
  WriteLogF("CClientInfo::IsFirstCallDueAgain()", "%s -- the next check is a first call", reason);
  strMetadataVer.clear();
  SetSetting(kMetadataVer, "");
  return true;
}
