// Fast-forward: a test setting that makes the service's sleeps short while the
// clock it reads moves on by the whole time slept, so a demo or a test sees many
// cycles, and the check schedule acting on them, within seconds.
//
// REG_DWORD "FastForward" in the service key, absent on a real installation:
// 0 or 1 (or missing) keeps real time; N > 1 sleeps 1/N of every requested time.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

// Name of the registry value.
extern const char* const kFastForwardValue;
// The largest factor used; larger values are taken as this one.
constexpr uint32_t kMaxFastForward = 100000;

class CFastForwardClock : public platform::ClockWrapper {
 public:
  CFastForwardClock(platform::Clock* target, uint32_t factor);

  // The real time plus the time that sleeping skipped.
  int64_t Now() override;
  platform::SystemTime GetLocalTime() override;
  // Sleeps ms / factor real milliseconds; the clock moves on by ms.
  void Sleep(uint32_t milliseconds) override;

  uint32_t factor() const { return factor_; }
  // Milliseconds by which the clock is ahead of real time.
  int64_t offsetMs() const { return offsetMs_.load(); }

 private:
  uint32_t factor_;
  std::atomic<int64_t> offsetMs_{0};
};

// Reads "FastForward" and, when it is above 1, puts a CFastForwardClock over the
// clock of the current default Env for the rest of the process. Returns the
// factor in use (1 when none). Called once, at service start.
uint32_t InstallFastForwardIfSet();
