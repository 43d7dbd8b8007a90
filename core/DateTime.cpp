#include "core/DateTime.h"

#include <chrono>
#include <ctime>

std::int64_t UnixMicrosecondsNow() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

namespace {

// 1 January of year 1 and 1 January 10000, in seconds from 1970.
constexpr std::int64_t kFirstSecond = -62'135'596'800;
constexpr std::int64_t kPastLastSecond = 253'402'300'800;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

TCalendarTime CalendarTime(std::int64_t seconds) {
  using namespace std::chrono;
  if (seconds < kFirstSecond || seconds >= kPastLastSecond) return {0, 0, 0, 0, 0, 0};
  const std::int64_t days = FloorDiv(seconds, 86'400);
  const std::int64_t of_day = seconds - days * 86'400;
  const year_month_day date{sys_days{std::chrono::days{days}}};
  return {static_cast<int>(date.year()),
          static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())),
          static_cast<int>(of_day / 3600),
          static_cast<int>(of_day / 60 % 60),
          static_cast<int>(of_day % 60)};
}

std::int64_t UtcOffsetSeconds(std::int64_t unix_seconds) {
  // A day beyond the calendar's ends still has an offset; further out no C library need tell.
  if (unix_seconds < kFirstSecond - 86'400 || unix_seconds >= kPastLastSecond + 86'400) return 0;
  const auto when = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
#ifdef _WIN32
  _tzset();
  if (localtime_s(&local, &when) != 0) return 0;
#else
  tzset();  // localtime_r alone never notices a changed time zone
  if (!localtime_r(&when, &local)) return 0;
#endif
  using namespace std::chrono;
  const sys_days date = year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday;
  const std::int64_t local_seconds = std::int64_t{date.time_since_epoch().count()} * 86'400 +
                                     local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return local_seconds - unix_seconds;
}
