// The clock: the time, the local calendar, the time zone, and sleeping. A
// wrapper may move the clock on faster than real time (fast forward), so code
// that waits does it with Sleep and reads the time with Now, never otherwise.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// A local moment as the system's clock gives it (SYSTEMTIME).
struct SystemTime {
  uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// The local calendar fields of a moment.
struct LocalTimeFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int weekday = 0;  // 0 = Sunday
};

// The fields of the C library's broken-down time, which both backends convert with.
LocalTimeFields LocalTimeFieldsOf(const std::tm& tm);

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 00:00 UTC. (_time64)
  virtual int64_t Now() = 0;
  // The local time now, to the millisecond. (GetLocalTime)
  virtual SystemTime GetLocalTime() = 0;
  // The local calendar fields of a moment given in seconds since 1970 UTC,
  // daylight saving time included; false when it cannot be converted. (localtime_s)
  virtual bool ToLocalTime(int64_t seconds, LocalTimeFields* fields) = 0;
  // Minutes to add to the local standard time for UTC, daylight saving left
  // out (Bias of GetTimeZoneInformation): 300 in New York, -60 in Paris.
  virtual int32_t GetTimeZoneBias() = 0;
  // Waits this long. (Sleep)
  virtual void Sleep(uint32_t milliseconds) = 0;
};

// Forwards every call to another Clock; fast forward and the tests' clock derive from it.
class ClockWrapper : public Clock {
 public:
  explicit ClockWrapper(Clock* target) : target_(target) {}
  Clock* target() const { return target_; }
  int64_t Now() override { return target_->Now(); }
  SystemTime GetLocalTime() override { return target_->GetLocalTime(); }
  bool ToLocalTime(int64_t s, LocalTimeFields* f) override { return target_->ToLocalTime(s, f); }
  int32_t GetTimeZoneBias() override { return target_->GetTimeZoneBias(); }
  void Sleep(uint32_t ms) override { target_->Sleep(ms); }

 private:
  Clock* target_;
};

}  // namespace platform
