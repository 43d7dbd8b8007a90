#pragma once

#include <cstdint>

// Now, on the clock the system stamps datagrams with: microseconds since 1970 (UTC).
std::int64_t UnixMicrosecondsNow();

// The calendar fields of an instant, to the second.
struct TCalendarTime {
  int Year = 1970;
  int Month = 1;
  int Day = 1;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;

  friend bool operator==(const TCalendarTime&, const TCalendarTime&) = default;
};

// The calendar date and time of `seconds` counted from 1 January 1970 00:00:00. Instants
// outside years 1 to 9999 give all fields zero (shown as "00/00/0000 00:00:00"), never an
// overflow.
TCalendarTime CalendarTime(std::int64_t seconds);

// The local time zone's offset from UTC at the instant `unix_seconds`, as the C library has it
// now: a changed zone is noticed at the next call. 0 where the C library cannot tell.
std::int64_t UtcOffsetSeconds(std::int64_t unix_seconds);
