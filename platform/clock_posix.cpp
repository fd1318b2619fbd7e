// The local time from time() and localtime_r().
#include <time.h>

#include "platform/clock.h"

namespace reelfix::platform {

LocalTime local_time_now() {
  time_t now = time(nullptr);
  struct tm parts {};
  localtime_r(&now, &parts);
  LocalTime result;
  result.weekday = parts.tm_wday;
  result.month = parts.tm_mon;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.year = parts.tm_year + 1900;
  return result;
}

}  // namespace reelfix::platform
