#include "record/DayStamp.h"

#include <gtest/gtest.h>

#include <ctime>

#include "TestSupport.h"

using namespace tessel;

// A day stamp names the local midnight it was made from; texts that are not
// a real date name none.
TEST(DayStampTest, MidnightOfADayStamp) {
  testing_support::ScopedEnv tz("TZ", "CST-8");
  ::tzset();
  const std::time_t evening = 1796688000 + 20 * 3600;  // 2026-12-08 20:00 UTC, the 9th at UTC+8
  std::time_t midnight = 0;
  ASSERT_TRUE(MidnightOfDayStamp(DayStamp(evening), &midnight));
  EXPECT_EQ(midnight, LocalMidnight(evening));
  EXPECT_EQ(DayStamp(midnight), "261209");
  for (const char* bad : {"260231", "261301", "2612", "26120a", "261200"})
    EXPECT_FALSE(MidnightOfDayStamp(bad, &midnight)) << bad;
}
