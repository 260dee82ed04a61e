// The clock: the system's time and the runtime's local calendar.
#include <time.h>

#include <cstring>

#include "platform/win32/win32_env.h"
#include "platform/win32/windows_clean.h"

namespace platform {
namespace {

class Win32Clock : public Clock {
 public:
  int64_t Now() override { return static_cast<int64_t>(::_time64(nullptr)); }

  SystemTime GetLocalTime() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    SystemTime out;
    out.year = st.wYear;
    out.month = st.wMonth;
    out.dayOfWeek = st.wDayOfWeek;
    out.day = st.wDay;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    out.milliseconds = st.wMilliseconds;
    return out;
  }

  bool ToLocalTime(int64_t seconds, LocalTimeFields* f) override {
    __time64_t t = static_cast<__time64_t>(seconds);
    struct tm tm;
    std::memset(&tm, 0, sizeof(tm));
    // The runtime's conversion takes the zone and its daylight rules into account;
    // it refuses moments before 1970 and after 3000.
    if (::_localtime64_s(&tm, &t) != 0) return false;
    *f = LocalTimeFieldsOf(tm);
    return true;
  }

  int32_t GetTimeZoneBias() override {
    TIME_ZONE_INFORMATION tzi;
    std::memset(&tzi, 0, sizeof(tzi));
    ::GetTimeZoneInformation(&tzi);
    return static_cast<int32_t>(tzi.Bias);
  }

  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

std::unique_ptr<Clock> NewBackendClock() {
  return std::make_unique<Win32Clock>();
}

}  // namespace platform
