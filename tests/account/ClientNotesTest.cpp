// Refused calls and malformed records: counted per client and reason, and
// told once an hour per client and reason, on a clock the test moves.
#include "account/ClientNotes.h"

#include <gtest/gtest.h>

#include "TestEnv.h"

using tessel::ClientNotes;

namespace {

size_t Lines(const std::string& log) {
  size_t lines = 0;
  for (char c : log) lines += c == '\n';
  return lines;
}

}  // namespace

TEST(ClientNotesTest, CountsEveryCallAndTellsOncePerClientAndReasonAnHour) {
  testing_support::MovedClockEnv clock;
  ClientNotes notes(&clock);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) notes.Note("10.0.0.5", ClientNotes::kWrongLength, "write: 1246 bytes");
  notes.Note("10.0.0.5", ClientNotes::kNoIpKey, "write: prefix \"a\x01\"");
  notes.Note("10.0.0.6", ClientNotes::kWrongLength, "write: 0 bytes");
  notes.Note("10.0.0.7", ClientNotes::kNotAllowed, "write: not allowed");
  notes.Note("", ClientNotes::kSeatPrefixCut, "RealNameClientOff: cut");
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Lines(log), 5u) << log;
  EXPECT_NE(log.find("tesselWriteService: a record from 10.0.0.5 is ignored: write: 1246 bytes (1 "
                     "like it from this client so far; told once an hour)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("prefix \"a\\x01\""), std::string::npos) << log;
  EXPECT_NE(log.find("a call from 10.0.0.7 is refused"), std::string::npos) << log;
  EXPECT_NE(log.find("from a caller without a connection"), std::string::npos) << log;
  EXPECT_EQ(notes.CountOf("10.0.0.5", ClientNotes::kWrongLength), 3u);
  EXPECT_EQ(notes.Malformed(), 6u);
  EXPECT_EQ(notes.Disallowed(), 1u);

  // Within the hour nothing more is told; once it has passed, the next is.
  clock.Advance(3599 * 1000);
  testing::internal::CaptureStderr();
  notes.Note("10.0.0.5", ClientNotes::kWrongLength, "write: 1246 bytes");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  clock.Advance(1000);
  testing::internal::CaptureStderr();
  notes.Note("10.0.0.5", ClientNotes::kWrongLength, "write: 1246 bytes");
  notes.Note("10.0.0.5", ClientNotes::kWrongLength, "write: 1246 bytes");
  log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Lines(log), 1u) << log;
  EXPECT_NE(log.find("(5 like it from this client so far"), std::string::npos) << log;
}

// Callers from more addresses than are remembered are still counted; those
// told of more than an hour ago make room.
TEST(ClientNotesTest, RemembersABoundedNumberOfClients) {
  testing_support::MovedClockEnv clock;
  ClientNotes notes(&clock);
  testing::internal::CaptureStderr();
  for (size_t i = 0; i <= ClientNotes::kMaxEntries; ++i)
    notes.Note("fd00::" + std::to_string(i), ClientNotes::kNotAllowed, "write");
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Lines(log), ClientNotes::kMaxEntries);
  EXPECT_EQ(notes.Disallowed(), ClientNotes::kMaxEntries + 1);
  clock.Advance(3600 * 1000);
  testing::internal::CaptureStderr();
  notes.Note("10.0.0.9", ClientNotes::kNotAllowed, "write");
  log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Lines(log), 1u);
  EXPECT_EQ(notes.CountOf("fd00::0", ClientNotes::kNotAllowed), 0u);  // forgotten
}
