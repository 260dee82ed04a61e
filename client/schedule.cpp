// The check schedule: the frequency rule and the weekly rule.
#include <cstdint>
#include <limits>
#include <string>

#include "client/client_info.h"
#include "client/numbers.h"
#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"

namespace {

const char kWebfarmFn[] = "CClientInfo::IsTimeToCheckWebfarm()";

// Six days, in minutes: after that long a check is due whatever the weekly setting says.
constexpr int64_t kSixDaysMinutes = 8640;

int32_t ClampToInt32(int64_t value) {
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

void LogClock(const char* format, int64_t moment) {
  platform::LocalTimeFields f;
  if (platform::Env::Default()->ToLocalTime(moment, &f)) {
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
  const int64_t now = platform::Env::Default()->Now();
  const int64_t last = ReadLastCheck(now);
  const int freq = getUpdateFreq();

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
  platform::Env* env = platform::Env::Default();
  const int64_t now = env->Now();
  const int64_t last = ReadLastCheck(now);
  const uint32_t day = GetRegValue_DWORD(kServiceKey, RegValueNames[kIntervalDay]);
  const uint32_t time = GetRegValue_DWORD(kServiceKey, RegValueNames[kIntervalTime]);

  // The product writes IntervalDay and IntervalTime in the machine's local
  // time, daylight saving included, so they are compared with the local clock.
  platform::LocalTimeFields local;
  if (env->ToLocalTime(now, &local) && local.weekday >= 0 &&
      day == static_cast<uint32_t>(local.weekday) + 1 &&
      time == static_cast<uint32_t>(local.hour * 60 + local.minute)) {
    return true;
  }
  return (now - last) / 60 >= kSixDaysMinutes;
}
