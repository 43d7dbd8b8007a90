#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "core/DateTime.h"

namespace {

TEST(DateTime, CalendarOfSecondsSince1970) {
  const TCalendarTime zero{0, 0, 0, 0, 0, 0};
  const struct {
    std::int64_t Seconds;
    TCalendarTime Expected;
  } cases[] = {
      {0, {1970, 1, 1, 0, 0, 0}},
      {-1, {1969, 12, 31, 23, 59, 59}},
      {1'796'616'631, {2026, 12, 7, 4, 10, 31}},
      {1'709'251'199, {2024, 2, 29, 23, 59, 59}},
      {951'782'400, {2000, 2, 29, 0, 0, 0}},
      {-2'208'988'800, {1900, 1, 1, 0, 0, 0}},
      {-62'135'596'800, {1, 1, 1, 0, 0, 0}},
      {253'402'300'799, {9999, 12, 31, 23, 59, 59}},
      // Beyond the calendar: all zero, never an overflow.
      {-62'135'596'801, zero},
      {253'402'300'800, zero},
      {INT64_MIN, zero},
      {INT64_MAX, zero},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CalendarTime(c.Seconds), c.Expected) << c.Seconds;
}

#ifndef _WIN32
// The offset of the instant asked about, under the zone set last, daylight saving included.
TEST(DateTime, UtcOffsetFollowsTheTimeZone) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved ? saved : "";
  const std::int64_t winter = 1'796'616'631, summer = 1'782'864'000;  // December, July 2026
  const struct {
    const char* Zone;
    std::int64_t Winter, Summer;
  } cases[] = {
      {"UTC0", 0, 0},
      {"XXX-3", 3 * 3600, 3 * 3600},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 3600, 7200},
      {"EST5EDT,M3.2.0,M11.1.0", -5 * 3600, -4 * 3600},
  };
  for (const auto& c : cases) {
    setenv("TZ", c.Zone, 1);
    EXPECT_EQ(UtcOffsetSeconds(winter), c.Winter) << c.Zone;
    EXPECT_EQ(UtcOffsetSeconds(summer), c.Summer) << c.Zone;
  }
  if (saved)
    setenv("TZ", saved_tz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
#endif

}  // namespace
