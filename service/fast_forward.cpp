#include "service/fast_forward.h"

#include "platform/env.h"
#include "settings/log.h"
#include "settings/registry.h"

const char* const kFastForwardValue = "FastForward";

CFastForwardClock::CFastForwardClock(platform::Clock* target, uint32_t factor)
    : ClockWrapper(target), factor_(factor < 1 ? 1 : (factor > kMaxFastForward ? kMaxFastForward : factor)) {}

int64_t CFastForwardClock::Now() {
  // Whole seconds of the offset; the remainder is carried in offsetMs_.
  return target()->Now() + offsetMs_.load() / 1000;
}

platform::SystemTime CFastForwardClock::GetLocalTime() {
  platform::LocalTimeFields fields;
  if (!target()->ToLocalTime(Now(), &fields)) return target()->GetLocalTime();
  platform::SystemTime time;
  time.year = static_cast<uint16_t>(fields.year);
  time.month = static_cast<uint16_t>(fields.month);
  time.dayOfWeek = static_cast<uint16_t>(fields.weekday);
  time.day = static_cast<uint16_t>(fields.day);
  time.hour = static_cast<uint16_t>(fields.hour);
  time.minute = static_cast<uint16_t>(fields.minute);
  time.second = static_cast<uint16_t>(fields.second);
  return time;
}

void CFastForwardClock::Sleep(uint32_t milliseconds) {
  uint32_t real = milliseconds / factor_;
  target()->Sleep(real);
  // Real time moved on by `real`; the rest is what the clock skips, so the
  // clock as a whole moves on by exactly the time asked for.
  offsetMs_ += static_cast<int64_t>(milliseconds) - real;
}

uint32_t InstallFastForwardIfSet() {
  uint32_t factor = GetRegValue_DWORD(kServiceKey, kFastForwardValue);
  if (factor <= 1) return 1;
  // Both live until the process ends.
  const platform::Env* base = platform::Env::Default();
  auto* clock = new CFastForwardClock(base->clock(), factor);
  platform::Env::SetDefault(new platform::Env(base->WithClock(clock)));
  WriteLogF("ExecuteSubProcess()", "FastForward: sleeps shortened by a factor of %u\n", clock->factor());
  return clock->factor();
}
