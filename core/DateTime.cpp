#include "core/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// Days from 30 December 1899 to 1 January 1970.
constexpr std::int64_t kUnixEpochDays = 25'569;

// Howard Hinnant's days_from_civil / civil_from_days, counted from 1 January 1970.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct TCivilDate {
  std::int64_t Year;
  unsigned Month;
  unsigned Day;
};

constexpr TCivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

double FromMsSince1899(std::int64_t ms) {
  return static_cast<double>(ms) / kMsPerDay;
}

std::int64_t UtcOffsetSeconds(std::time_t when) {
  std::tm local{};
#ifdef _WIN32
  _tzset();
  localtime_s(&local, &when);
#else
  tzset();  // localtime_r alone never notices a changed time zone
  localtime_r(&when, &local);
#endif
  const std::int64_t local_seconds =
      DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                    static_cast<unsigned>(local.tm_mday)) *
          86400 +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return local_seconds - static_cast<std::int64_t>(when);
}

}  // namespace

double EncodeDateTime(const TCalendarTime& t) {
  const std::int64_t days =
      DaysFromCivil(t.Year, static_cast<unsigned>(t.Month), static_cast<unsigned>(t.Day)) +
      kUnixEpochDays;
  const std::int64_t ms_of_day =
      ((static_cast<std::int64_t>(t.Hour) * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Millisecond;
  return FromMsSince1899(days * kMsPerDay + ms_of_day);
}

TCalendarTime DecodeDateTime(double date) {
  // 1 January of year 1 and the day after 31 December 9999.
  constexpr double kFirst = -693'593.0;
  constexpr double kPastLast = 2'958'466.0;
  if (!(date >= kFirst && date < kPastLast)) return {0, 0, 0, 0, 0, 0, 0};
  const auto total = static_cast<std::int64_t>(std::llround(date * kMsPerDay));
  const std::int64_t days = FloorDiv(total, kMsPerDay);
  std::int64_t ms = total - days * kMsPerDay;
  const TCivilDate civil = CivilFromDays(days - kUnixEpochDays);
  TCalendarTime t;
  t.Year = static_cast<int>(civil.Year);
  t.Month = static_cast<int>(civil.Month);
  t.Day = static_cast<int>(civil.Day);
  t.Hour = static_cast<int>(ms / 3'600'000);
  ms %= 3'600'000;
  t.Minute = static_cast<int>(ms / 60'000);
  ms %= 60'000;
  t.Second = static_cast<int>(ms / 1000);
  t.Millisecond = static_cast<int>(ms % 1000);
  return t;
}

double DateTimeFromUnixMs(std::int64_t unix_ms, std::int64_t utc_offset_seconds) {
  return FromMsSince1899(unix_ms + utc_offset_seconds * 1000 + kUnixEpochDays * kMsPerDay);
}

namespace {

// The local date-time of a UTC instant, looking up the UTC offset at most once per second of
// wall-clock time on each thread.
double LocalFromUnixMs(std::int64_t unix_ms) {
  struct TOffsetCache {
    std::int64_t Second = INT64_MIN;
    std::int64_t Offset = 0;
  };
  thread_local TOffsetCache cache;
  const std::int64_t second = FloorDiv(unix_ms, 1000);
  if (second != cache.Second) {
    cache.Offset = UtcOffsetSeconds(static_cast<std::time_t>(second));
    cache.Second = second;
  }
  return DateTimeFromUnixMs(unix_ms, cache.Offset);
}

}  // namespace

double LocalDateTimeFromUnixMicroseconds(std::int64_t unix_microseconds) {
  return LocalFromUnixMs(FloorDiv(unix_microseconds, 1000));
}

double LocalNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return LocalFromUnixMs(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
