// The clock: the system's time and its local calendar in the process's zone.
#include <time.h>

#include <chrono>
#include <thread>

#include "platform/posix/posix_env_impl.h"

namespace platform {
namespace {

class PosixClock : public Clock {
 public:
  int64_t Now() override { return static_cast<int64_t>(::time(nullptr)); }

  SystemTime GetLocalTime() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    time_t t = ts.tv_sec;
    ::localtime_r(&t, &tm);
    SystemTime st;
    st.year = static_cast<uint16_t>(tm.tm_year + 1900);
    st.month = static_cast<uint16_t>(tm.tm_mon + 1);
    st.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    st.day = static_cast<uint16_t>(tm.tm_mday);
    st.hour = static_cast<uint16_t>(tm.tm_hour);
    st.minute = static_cast<uint16_t>(tm.tm_min);
    st.second = static_cast<uint16_t>(tm.tm_sec);
    st.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
    return st;
  }

  bool ToLocalTime(int64_t seconds, LocalTimeFields* f) override {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (::localtime_r(&t, &tm) == nullptr) return false;
    *f = LocalTimeFieldsOf(tm);
    return true;
  }

  int32_t GetTimeZoneBias() override {
    // Windows' Bias is the standard-time offset, without daylight saving: take
    // the offset of a January or July day that is not in daylight time.
    ::tzset();
    time_t now = ::time(nullptr);
    struct tm tm;
    ::localtime_r(&now, &tm);
    int year = tm.tm_year;
    for (int month : {0, 6}) {
      struct tm probe = {};
      probe.tm_year = year;
      probe.tm_mon = month;
      probe.tm_mday = 15;
      probe.tm_hour = 12;
      probe.tm_isdst = -1;
      time_t t = ::mktime(&probe);
      struct tm local;
      ::localtime_r(&t, &local);
      if (local.tm_isdst == 0) return static_cast<int32_t>(-local.tm_gmtoff / 60);
    }
    return static_cast<int32_t>(-tm.tm_gmtoff / 60);
  }

  void Sleep(uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

std::unique_ptr<Clock> NewBackendClock() {
  return std::make_unique<PosixClock>();
}

}  // namespace platform
