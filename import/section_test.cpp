#include "import/section.h"

#include <gtest/gtest.h>

#include "tests/support/fixed_clock.h"

namespace importacao {
namespace {

TEST(Clock, EncodesLocalDatesAsDaysSinceTheEndOf1899) {
  struct {
    int year, month, day, hour, minute, second, millisecond;
    double want;
  } cases[] = {
      {1899, 12, 30, 0, 0, 0, 0, 0.0},     {1900, 1, 1, 0, 0, 0, 0, 2.0},
      {1900, 3, 1, 0, 0, 0, 0, 61.0},  // 1900 was no leap year
      {2000, 2, 29, 0, 0, 0, 0, 36585.0},  {2024, 1, 15, 12, 0, 0, 0, 45306.5},
      {2024, 1, 15, 6, 0, 0, 0, 45306.25}, {1899, 12, 29, 0, 0, 0, 0, -1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.year * 10000 + c.month * 100 + c.day);
    EXPECT_DOUBLE_EQ(
        encodeDateTime(c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond).days,
        c.want);
  }
  // Milliseconds count: 23:59:59.999 is just short of the next day.
  const double lastMoment = encodeDateTime(2024, 1, 15, 23, 59, 59, 999).days;
  EXPECT_LT(lastMoment, 45307.0);
  EXPECT_NEAR(lastMoment, 45307.0, 1.0 / 86'400'000 * 1.5);
}

TEST(Clock, SystemClockTodayIsNowsDateAtMidnight) {
  SystemClock clock;
  const DateTime today = clock.today();
  const DateTime now = clock.now();
  EXPECT_EQ(today.days, static_cast<double>(static_cast<long long>(today.days)));
  EXPECT_GE(now.days, today.days);
  EXPECT_LT(now.days, today.days + 1.0 + 1e-6);  // a midnight between the readings at worst
  EXPECT_GT(today.days, 45000.0);                // after 2023
}

TEST(Clock, FixedClockAdvancesOnlyWhenToldTo) {
  FixedClock clock(DateTime{45306.75}, 0.001);
  EXPECT_EQ(clock.now().days, 45306.75);
  EXPECT_EQ(clock.now().days, 45306.751);
  EXPECT_EQ(clock.today().days, 45306.0);
  clock.set(DateTime{100.5});
  EXPECT_EQ(clock.now().days, 100.5);
}

}  // namespace
}  // namespace importacao
