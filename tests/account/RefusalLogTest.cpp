// Refused calls told by the service once a minute per reason with their
// count, instead of once per call; records refused counted per minute for
// the status's window, on a clock the test moves.
#include <gtest/gtest.h>

#include <numeric>

#include "TestEnv.h"
#include "TestSupport.h"
#include "account/RefusalLog.h"

using tessel::RefusalLog;
using testing_support::CountOf;

namespace {

std::uint64_t InFirst(const std::vector<std::uint64_t>& counts, int minutes) {
  return std::accumulate(counts.begin(), counts.begin() + minutes, std::uint64_t(0));
}

}  // namespace

TEST(RefusalLogTest, EachReasonIsToldOnceAMinuteWithItsCount) {
  testing_support::MovedClockEnv clock;
  RefusalLog log(&clock);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 16; ++i) log.Note("no space left on the disk", true, true);
  log.Note("7 records wait to be stored", true, true);
  log.Note("calls from 10.0.0.9 are not taken", false, false);  // told elsewhere
  std::string told = testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(told, "\n"), 2u) << told;
  EXPECT_EQ(CountOf(told, "no space left on the disk"), 1u) << told;

  clock.Advance(30 * 1000);
  testing::internal::CaptureStderr();
  log.Note("no space left on the disk", true, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  clock.Advance(31 * 1000);
  testing::internal::CaptureStderr();
  log.Note("no space left on the disk", true, true);
  told = testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(told, "\n"), 1u) << told;
  EXPECT_NE(told.find("17 calls refused"), std::string::npos) << told;  // 15 + 1 + 1 since told
}

TEST(RefusalLogTest, RecordsRefusedAreCountedPerMinuteForAnHour) {
  testing_support::MovedClockEnv clock;
  RefusalLog log(&clock);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 16; ++i) log.Note("disk full", true, true);
  log.Note("not allowed", false, true);  // no record refused
  const std::vector<std::uint64_t> now = log.RecordsPerMinute();
  ASSERT_EQ(now.size(), static_cast<std::size_t>(RefusalLog::kMinutesKept));
  EXPECT_EQ(InFirst(now, 1), 16u);

  clock.Advance(10 * 60 * 1000);
  log.Note("disk full", true, true);
  std::vector<std::uint64_t> later = log.RecordsPerMinute();
  EXPECT_EQ(InFirst(later, 5), 1u);  // the episode ten minutes ago is out of a 5-minute window
  EXPECT_EQ(InFirst(later, 60), 17u);

  clock.Advance(61 * 60 * 1000);  // past the hour kept: nothing is left of them
  later = log.RecordsPerMinute();
  EXPECT_EQ(InFirst(later, 60), 0u);
  testing::internal::GetCapturedStderr();

  // Many reasons: past the bound they are told and counted together.
  testing::internal::CaptureStderr();
  for (std::size_t i = 0; i < RefusalLog::kMaxReasons + 50; ++i)
    log.Note("file " + std::to_string(i), false, true);
  for (int i = 0; i < 10; ++i) log.Note("file x" + std::to_string(i), false, true);
  const std::string told = testing::internal::GetCapturedStderr();
  EXPECT_LE(CountOf(told, "\n"), RefusalLog::kMaxReasons + 1) << "bounded";
}
