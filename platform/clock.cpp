#include "platform/clock.h"

namespace platform {

LocalTimeFields LocalTimeFieldsOf(const std::tm& tm) {
  LocalTimeFields f;
  f.year = tm.tm_year + 1900;
  f.month = tm.tm_mon + 1;
  f.day = tm.tm_mday;
  f.hour = tm.tm_hour;
  f.minute = tm.tm_min;
  f.second = tm.tm_sec;
  f.weekday = tm.tm_wday;
  return f;
}

}  // namespace platform
