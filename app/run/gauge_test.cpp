#include "app/run/gauge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/errors.h"

namespace importacao {
namespace {

using ::testing::ThrowsMessage;

TEST(GaugeModel, StartsAtZeroOfAHundred) {
  GaugeModel gauge;
  EXPECT_EQ(gauge.minimum(), 0);
  EXPECT_EQ(gauge.maximum(), 100);
  EXPECT_EQ(gauge.position(), 0);
  EXPECT_EQ(gauge.percent(), 0);
}

TEST(GaugeModel, FollowsTheRangeRules) {
  // Each row: maximum set, then position set; what the gauge holds afterwards.
  struct {
    const char* what;
    std::int64_t maximum, position;
    int wantMaximum, wantPosition, wantPercent;
  } cases[] = {
      {"empty table shows 0 %", 0, 0, 0, 0, 0},
      {"position past the maximum is the maximum", 3, 7, 3, 3, 100},
      {"negative position is 0", 10, -5, 10, 0, 0},
      {"percentage is rounded down", 3, 1, 3, 1, 33},
      {"two thirds", 3, 2, 3, 2, 66},
      {"just below the end", 1000, 999, 1000, 999, 99},
      {"largest maximum", 2147483647, 2147483646, 2147483647, 2147483646, 99},
      {"position past the largest int", 2147483647, 5000000000LL, 2147483647, 2147483647, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GaugeModel gauge;
    gauge.setMaximum(c.maximum);
    gauge.setPosition(c.position);
    EXPECT_EQ(gauge.maximum(), c.wantMaximum);
    EXPECT_EQ(gauge.position(), c.wantPosition);
    EXPECT_EQ(gauge.percent(), c.wantPercent);
  }
}

TEST(GaugeModel, LoweringTheMaximumLowersThePosition) {
  GaugeModel gauge;
  gauge.setMaximum(50);
  gauge.setPosition(40);
  gauge.setMaximum(10);
  EXPECT_EQ(gauge.position(), 10);
  gauge.setMaximum(0);
  EXPECT_EQ(gauge.position(), 0);
  EXPECT_EQ(gauge.percent(), 0);
  gauge.setMaximum(80);  // raising it again does not bring the old position back
  EXPECT_EQ(gauge.position(), 0);
}

TEST(GaugeModel, MaximumOutOfRangeIsRefusedAndChangesNothing) {
  for (const std::int64_t bad :
       {std::int64_t{-1}, std::int64_t{-2147483648LL}, std::int64_t{2147483648LL}}) {
    SCOPED_TRACE(bad);
    GaugeModel gauge;
    gauge.setMaximum(20);
    gauge.setPosition(5);
    EXPECT_THAT([&] { gauge.setMaximum(bad); },
                ThrowsMessage<DataError>("Value must be between 1 and 2147483647"));
    EXPECT_EQ(gauge.maximum(), 20);
    EXPECT_EQ(gauge.position(), 5);
  }
}

}  // namespace
}  // namespace importacao
