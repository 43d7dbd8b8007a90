#pragma once

#include <cstdint>

// The program's date-time: a double counting whole days since 30 December 1899, the fraction
// being the time of day. Conversions are exact to the millisecond.

struct TCalendarTime {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;

  friend bool operator==(const TCalendarTime&, const TCalendarTime&) = default;
};

double EncodeDateTime(const TCalendarTime& time);

// Rounds to the nearest millisecond first, so 23:59:59.9996 decodes as the next midnight.
// Dates outside years 1 to 9999, infinities and NaN decode as all fields zero (shown as
// "00/00/0000 00:00:00"), never as an overflow.
TCalendarTime DecodeDateTime(double date);

// A wall-clock instant (milliseconds since 1970 in UTC) shifted by a UTC offset.
double DateTimeFromUnixMs(std::int64_t unix_ms, std::int64_t utc_offset_seconds);

// The local date and time of a wall-clock instant given in microseconds since 1970 (UTC), to
// the millisecond, with the same cached offset as LocalNow.
double LocalDateTimeFromUnixMicroseconds(std::int64_t unix_microseconds);

// The current local date and time, to the millisecond. Cheap enough to call per datagram:
// the UTC offset is looked up at most once per second of wall-clock time on each thread, so
// a change of offset (daylight saving, a new time zone) shows within a second.
double LocalNow();
