#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "core/DateTime.h"

namespace {

struct TDateCase {
  TCalendarTime Time;
  double Expected;
};

TEST(DateTime, EncodesDaysSince1899) {
  const TDateCase cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},      {{1899, 12, 31, 12, 0, 0, 0}, 1.5},
      {{1900, 1, 1, 6, 0, 0, 0}, 2.25},       {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
      {{2000, 2, 29, 18, 0, 0, 0}, 36585.75}, {{2026, 12, 7, 0, 0, 0, 0}, 46363.0},
  };
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.Time), c.Expected);
}

TEST(DateTime, RoundTripsEveryMillisecondOfADay) {
  for (int ms = 0; ms < 86'400'000; ms += 997) {
    TCalendarTime t{2026, 12, 7, ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000};
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(t)), t) << ms;
  }
  const TCalendarTime leap{2024, 2, 29, 23, 59, 59, 999};
  EXPECT_EQ(DecodeDateTime(EncodeDateTime(leap)), leap);
}

TEST(DateTime, DecodingRoundsToTheNearestMillisecond) {
  const double day = EncodeDateTime({2026, 12, 7, 23, 59, 59, 999});
  const double almost_midnight = day + 0.6 / 86'400'000;
  EXPECT_EQ(DecodeDateTime(almost_midnight), (TCalendarTime{2026, 12, 8, 0, 0, 0, 0}));
  EXPECT_EQ(DecodeDateTime(day + 0.4 / 86'400'000), (TCalendarTime{2026, 12, 7, 23, 59, 59, 999}));
}

// Dates no calendar holds decode as all fields zero, never as an overflow.
TEST(DateTime, DatesOutsideTheCalendarAreZero) {
  const TCalendarTime zero{0, 0, 0, 0, 0, 0, 0};
  for (const double date :
       {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e300, -693'594.0, 2'958'466.0})
    EXPECT_EQ(DecodeDateTime(date), zero) << date;
  EXPECT_EQ(DecodeDateTime(-693'593.0), (TCalendarTime{1, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(DecodeDateTime(2'958'465.5), (TCalendarTime{9999, 12, 31, 12, 0, 0, 0}));
}

TEST(DateTime, UnixMillisecondsWithOffset) {
  // 2026-12-07 04:10:31.250 UTC, shown one hour ahead.
  const std::int64_t unix_ms = 1796616631250;
  EXPECT_EQ(DecodeDateTime(DateTimeFromUnixMs(unix_ms, 3600)),
            (TCalendarTime{2026, 12, 7, 5, 10, 31, 250}));
  EXPECT_EQ(DecodeDateTime(DateTimeFromUnixMs(unix_ms, -5 * 3600)),
            (TCalendarTime{2026, 12, 6, 23, 10, 31, 250}));
}

#ifndef _WIN32
TEST(DateTime, LocalNowFollowsTheTimeZone) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved ? saved : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  const double utc = LocalNow();
  // A new zone takes effect within a second, as soon as the cached offset expires.
  setenv("TZ", "XXX-3", 1);
  tzset();
  double shifted = LocalNow();
  for (int i = 0; i < 30 && (shifted - utc) * 24 < 2.5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    shifted = LocalNow();
  }
  EXPECT_NEAR((shifted - utc) * 24, 3.0, 0.01);
  if (saved)
    setenv("TZ", saved_tz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
#endif

}  // namespace
