// The local time from GetLocalTime().
#include <windows.h>

#include "platform/clock.h"

namespace reelfix::platform {

LocalTime local_time_now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime result;
  result.weekday = now.wDayOfWeek;  // 0 for Sunday, as in LocalTime
  result.month = now.wMonth - 1;    // SYSTEMTIME counts months from 1
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.year = now.wYear;
  return result;
}

}  // namespace reelfix::platform
