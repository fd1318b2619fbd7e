// The local date and time, broken down as a calendar shows it.
#pragma once

namespace reelfix::platform {

struct LocalTime {
  int weekday = 0;  // 0 for Sunday
  int month = 0;    // 0 for January
  int day = 1;      // day of the month, 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int year = 1970;  // full year, 2005 rather than 105
};

// Reads the clock now; tests pass their own function of this type instead.
using ClockFunction = LocalTime (*)();

LocalTime local_time_now();

}  // namespace reelfix::platform
