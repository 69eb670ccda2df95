// A day-file sender on day files the test writes, against a test server:
// where it starts, the order it sends in, what it skips or sets aside, how
// it keeps its progress and how it stops.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "ForwardTestUtil.h"
#include "TestEnv.h"
#include "forward/RVIDSender.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "port/Port.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

using namespace tessel;

using namespace forward_test;
using testing_support::FaultEnv;
using testing_support::MovedClockEnv;
using testing_support::WaitUntil;
using Strings = std::vector<std::string>;

namespace {

const std::chrono::seconds kWait(10);

RVIDSenderPtr Start(const Site& site, int port, int offset,
                    const RVIDSenderPacing& pacing = QuickPacing(),
                    port::Env* env = port::Env::Default()) {
  RVIDSenderPtr sender = new RVIDSender(
      "127.0.0.1", port, offset,
      // The working directory as the service finds it at start.
      SiteAt(env, site.dir(), port::CurrentDir()), pacing);
  sender->start();
  return sender;
}

}  // namespace

TEST(RVIDSenderTest, WithoutProgressStartsTodayFromTheStartOrTheOffset) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(-1), {"yesterday"});
  site.Append(Midnight(0), {"a", "b", "c"});
  RVIDSenderPtr sender = Start(site, server.port(), -1);
  ASSERT_TRUE(server.WaitForCount(3, kWait));
  EXPECT_EQ((Strings{"a", "b", "c"}), Accounts(server.Requests()));
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 3 * 1247; }, kWait));
  EXPECT_EQ(Midnight(0), ReadProgress(spg).day);
  sender->StopAndJoin();

  // Another server, a start offset inside the third record: rounded down.
  NetlogTestServer second;
  sender = Start(site, second.port(), 2 * 1247 + 5);
  ASSERT_TRUE(second.WaitForCount(1, kWait));
  EXPECT_EQ((Strings{"c"}), Accounts(second.Requests()));
  // Stopped once "c" is acknowledged: a stop while the reply is on its way
  // leaves "c" next in line, to be sent again.
  const std::string secondSpg = ProgressPath("127.0.0.1", second.port());
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(secondSpg).offset == 3 * 1247; }, kWait));
  sender->StopAndJoin();

  // With a progress file the offset is ignored: nothing new, nothing sent.
  second.Clear();
  sender = Start(site, second.port(), 0);
  EXPECT_FALSE(second.WaitForCount(1, std::chrono::milliseconds(500)));
  sender->StopAndJoin();
}

// Real pacing: 10 ms per record, a look every 5 s when nothing is new.
TEST(RVIDSenderTest, PastDaysInOrderThenTodayFollowedAsItGrows) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(-3), {"d3-1", "d3-2"});
  site.Append(Midnight(-1), {"d1-1"});
  site.Append(Midnight(0), {"t-1"});
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(-3)), 0);

  // The sender's pauses of a second or more pass on the test's clock.
  MovedClockEnv clock;
  RVIDSenderPtr sender = Start(site, server.port(), -1, RVIDSenderPacing(), &clock);
  ASSERT_TRUE(server.WaitForCount(4, kWait));
  EXPECT_EQ((Strings{"d3-1", "d3-2", "d1-1", "t-1"}), Accounts(server.Requests()));
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 1247; }, kWait));
  EXPECT_EQ(Midnight(0), ReadProgress(spg).day);

  ASSERT_TRUE(clock.WaitForLongPauses(1, 10000));  // now in its 5 s pause
  site.Append(Midnight(0), {"t-2"});
  clock.Advance(5000);
  ASSERT_TRUE(server.WaitForCount(5, kWait));
  EXPECT_EQ(5000, clock.LongPauses().front());
  EXPECT_EQ("t-2", Accounts(server.Requests()).back());
  ASSERT_TRUE(clock.WaitForLongPauses(1, 10000));
  auto stopping = std::chrono::steady_clock::now();
  sender->StopAndJoin();  // in the middle of the 5 s pause
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(1));
}

TEST(RVIDSenderTest, ServerDownThenUpSendsTheBacklogInOrder) {
  Site site;
  NetlogTestServer server;
  server.SetRefusing(true);
  site.Append(Midnight(0), {"r1", "r2"});
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  testing::internal::CaptureStderr();
  RVIDSenderPtr sender = Start(site, server.port(), -1);
  // Down, as the status shows, after a few retries.
  ASSERT_TRUE(WaitUntil([&] { return sender->Status().retries >= 3; }, kWait));
  EXPECT_FALSE(sender->Status().connected);
  EXPECT_NE(0, sender->Status().downSince);
  site.Append(Midnight(0), {"r3"});
  EXPECT_EQ(0u, ReadProgress(spg).offset);

  // Not acknowledged: the same record again and again, under one number.
  server.SetRefusing(false);
  server.SetReply(Reply::kWrongNumber);
  ASSERT_TRUE(server.WaitForCount(3, kWait));
  for (const Request& request : server.Requests()) EXPECT_EQ(0, request.Sequence());
  Strings retried = Accounts(server.Requests());
  EXPECT_EQ((Strings{"r1", "r1", "r1"}), Strings(retried.begin(), retried.begin() + 3));
  EXPECT_EQ(0u, ReadProgress(spg).offset);

  server.Clear();
  server.SetReply(Reply::kAck);
  ASSERT_TRUE(server.WaitForCount(3, kWait));
  Strings accounts = Accounts(server.Requests());
  // The first may be r1 still being retried under the old connection.
  while (accounts.size() > 3 && accounts[0] == accounts[1]) accounts.erase(accounts.begin());
  EXPECT_EQ((Strings{"r1", "r2", "r3"}), Strings(accounts.begin(), accounts.begin() + 3));
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 3 * 1247; }, kWait));
  // Back, as the status shows.
  EXPECT_TRUE(sender->Status().connected);
  EXPECT_EQ(0u, sender->Status().retries);
  sender->StopAndJoin();
  testing::internal::GetCapturedStderr();
}

// The status an operator sees: where the sender is, how far behind, and
// whether its server answers.
TEST(RVIDSenderTest, StatusShowsProgressBacklogAndTheServer) {
  Site site;
  NetlogTestServer server;
  server.SetRefusing(true);
  site.Append(Midnight(-1), {"y1", "y2"});
  site.Append(Midnight(0), {"t1"});
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(-1)), 1247);
  RVIDSenderPtr sender = Start(site, server.port(), -1);
  ASSERT_TRUE(WaitUntil([&] { return sender->Status().retries >= 1; }, kWait));
  UpstreamStatus down = sender->Status();
  EXPECT_EQ("127.0.0.1", down.host);
  EXPECT_EQ(server.port(), down.port);
  EXPECT_EQ(DayStamp(Midnight(-1)), down.dayStamp);
  EXPECT_EQ(1247u, down.offset);
  EXPECT_EQ(2u, down.recordsBehind);  // y2, and t1 of today
  EXPECT_FALSE(down.connected);
  EXPECT_EQ(0, down.lastAcknowledged);
  EXPECT_NE(std::string::npos, down.lastError.find("cannot connect")) << down.lastError;
  EXPECT_NE(0, down.downSince);
  // What piles up while the server stays down is counted as it comes, on
  // the day being sent and on the later ones.
  site.Append(Midnight(-1), {"y3"});
  site.Append(Midnight(0), {"t2"});
  EXPECT_TRUE(WaitUntil([&] { return sender->Status().recordsBehind == 4; }, kWait))
      << sender->Status().recordsBehind;

  server.SetRefusing(false);
  ASSERT_TRUE(WaitUntil([&] { return sender->Status().recordsBehind == 0; }, kWait));
  UpstreamStatus up = sender->Status();
  EXPECT_TRUE(up.connected);
  EXPECT_EQ(DayStamp(Midnight(0)), up.dayStamp);
  EXPECT_EQ(2 * 1247u, up.offset);
  EXPECT_NE(0, up.lastAcknowledged);
  EXPECT_EQ(0u, up.retries);
  sender->StopAndJoin();
}

// A progress file dated after today (a clock that ran ahead and was put
// right): today's file is sent from its start.
TEST(RVIDSenderTest, FutureProgressDayIsTakenAsTodayFromItsStart) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(-1), {"y"});
  site.Append(Midnight(0), {"a", "b"});
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(2)), 1247);
  testing::internal::CaptureStderr();
  RVIDSenderPtr sender = Start(site, server.port(), -1);
  ASSERT_TRUE(server.WaitForCount(2, kWait));
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 2 * 1247; }, kWait));
  EXPECT_EQ(Midnight(0), ReadProgress(spg).day);
  site.Append(Midnight(0), {"c"});
  ASSERT_TRUE(server.WaitForCount(3, kWait));
  sender->StopAndJoin();
  EXPECT_EQ((Strings{"a", "b", "c"}), Accounts(server.Requests()));
  testing::internal::GetCapturedStderr();
}

TEST(RVIDSenderTest, DamagedFilesAreSetAside) {
  Site site;
  NetlogTestServer server;
  const std::string yesterday = site.DayFile(Midnight(-1));
  site.Append(Midnight(-1), {"y1", "y2", "y3"});
  testing_support::AppendFile(yesterday, std::string(100, 'z'));
  site.Append(Midnight(0), {"t1"});
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(-1)), 1247);

  RVIDSenderPtr sender = Start(site, server.port(), -1);
  ASSERT_TRUE(server.WaitForCount(1, kWait));
  EXPECT_EQ((Strings{"t1"}), Accounts(server.Requests()));
  EXPECT_FALSE(testing_support::Exists(yesterday));
  bool setAside = false;
  const std::string name = yesterday.substr(yesterday.rfind('/') + 1) + ".";
  for (const std::string& entry : testing_support::ListDir(site.dir() + "/virtualdb")) {
    if (entry.compare(0, name.size(), name) == 0 &&
        entry.find_first_not_of("0123456789", name.size()) == std::string::npos) {
      setAside = true;
      EXPECT_EQ(3 * 1247 + 100, testing_support::FileSize(site.dir() + "/virtualdb/" + entry));
    }
  }
  EXPECT_TRUE(setAside);

  sender->StopAndJoin();
}

// Only the writer cuts today's file back: a part of a record at its end
// (the writer's append under way, or a tail the writer has yet to cut at
// its start) never makes a sender set the live file aside; the whole
// records before it are sent.
TEST(RVIDSenderTest, TodaysFileWithATornTailIsNeverSetAside) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a"});
  testing_support::AppendFile(site.DayFile(Midnight(0)), std::string(10, 'z'));
  RVIDSenderPacing pacing = QuickPacing();
  pacing.recheckPauseMs = 1500;
  MovedClockEnv clock;
  RVIDSenderPtr sender = Start(site, server.port(), -1, pacing, &clock);
  ASSERT_TRUE(clock.WaitForLongPauses(1, 10000));
  clock.Advance(1500);
  ASSERT_TRUE(server.WaitForCount(1, kWait));
  sender->StopAndJoin();
  EXPECT_EQ((Strings{"a"}), Accounts(server.Requests()));
  EXPECT_EQ(1247 + 10, testing_support::FileSize(site.DayFile(Midnight(0))));
}

TEST(RVIDSenderTest, TodaysFileInTheMiddleOfAnAppendIsNotSetAside) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a"});
  VirtualIdRecord second = Account("b");
  const std::string bytes(reinterpret_cast<const char*>(second.bytes), rec::kSize);
  testing_support::AppendFile(site.DayFile(Midnight(0)), bytes.substr(0, 100));
  RVIDSenderPacing pacing = QuickPacing();
  pacing.recheckPauseMs = 1500;
  MovedClockEnv clock;
  RVIDSenderPtr sender = Start(site, server.port(), -1, pacing, &clock);
  ASSERT_TRUE(clock.WaitForLongPauses(1, 10000));  // looking again after its pause
  testing_support::AppendFile(site.DayFile(Midnight(0)), bytes.substr(100));
  clock.Advance(1500);
  ASSERT_TRUE(server.WaitForCount(2, kWait));
  EXPECT_EQ((Strings{"a", "b"}), Accounts(server.Requests()));
  EXPECT_EQ(1u, testing_support::ListDir(site.dir() + "/virtualdb").size() - 1);  // + .spg
  EXPECT_EQ(2 * 1247, testing_support::FileSize(site.DayFile(Midnight(0))));
  sender->StopAndJoin();
}

TEST(RVIDSenderTest, RejectedRecordsAreSkippedAndProgressMovesPastThem) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"first"});
  VirtualIdRecord underscore = Account("hidden");
  underscore.SetText(rec::kPrefix, rec::kPrefixWidth, "_4401020001_1_2_");
  site.AppendRecord(Midnight(0), underscore);
  VirtualIdRecord unmapped = Account("unmapped");
  unmapped.SetInt(rec::kInfoType, 6001);
  site.AppendRecord(Midnight(0), unmapped);
  site.Append(Midnight(0), {"last"});

  const std::string spg = ProgressPath("127.0.0.1", server.port());
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(0)), 0);
  RVIDSenderPtr sender = Start(site, server.port(), -1);
  ASSERT_TRUE(server.WaitForCount(2, kWait));
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 4 * 1247; }, kWait));
  EXPECT_EQ((Strings{"first", "last"}), Accounts(server.Requests()));
  sender->StopAndJoin();
}

TEST(RVIDSenderTest, ProgressFileEdgeCases) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a", "b"});

  // An empty progress file: today from its start.
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  testing_support::WriteFile(spg, "");
  RVIDSenderPtr sender = Start(site, server.port(), 1247);
  ASSERT_TRUE(server.WaitForCount(2, kWait));
  EXPECT_EQ((Strings{"a", "b"}), Accounts(server.Requests()));
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 2 * 1247; }, kWait));
  EXPECT_EQ(Midnight(0), ReadProgress(spg).day);
  sender->StopAndJoin();

  // An offset between records is taken back to the record's start.
  server.Clear();
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(0)), 1247 + 600);
  sender = Start(site, server.port(), -1);
  ASSERT_TRUE(server.WaitForCount(1, kWait));
  EXPECT_EQ((Strings{"b"}), Accounts(server.Requests()));
  sender->StopAndJoin();
}

TEST(RVIDSenderTest, ProgressDirectoryIsCreatedOrProgressKeptInMemory) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a"});
  testing_support::TempDir work;
  {
    testing_support::ScopedCwd cwd(work.path());  // no virtualdb/ here
    RVIDSenderPtr sender = Start(site, server.port(), -1);
    ASSERT_TRUE(server.WaitForCount(1, kWait));
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadProgress(work / ProgressPath("127.0.0.1", server.port())).offset == 1247; },
        kWait));
    sender->StopAndJoin();
  }
  testing_support::TempDir blocked;
  testing_support::WriteFile(blocked / "virtualdb", "a file, not a directory");
  {
    testing_support::ScopedCwd cwd(blocked.path());
    NetlogTestServer other;
    RVIDSenderPtr sender = Start(site, other.port(), -1);
    ASSERT_TRUE(other.WaitForCount(1, kWait));  // sent all the same
    site.Append(Midnight(0), {"b"});
    ASSERT_TRUE(other.WaitForCount(2, kWait));
    EXPECT_EQ((Strings{"a", "b"}), Accounts(other.Requests()));  // nothing twice
    sender->StopAndJoin();
  }
}

// A progress file that cannot be written (a full disk) does not stop the
// sending; the progress is kept in memory, nothing is sent twice, and the
// file catches up once it can be written again.
TEST(RVIDSenderTest, ProgressFileThatCannotBeWrittenCatchesUpLater) {
  Site site;
  NetlogTestServer server;
  site.Append(Midnight(0), {"a", "b"});
  const std::string spg = ProgressPath("127.0.0.1", server.port());
  WriteProgress(spg, static_cast<std::int32_t>(Midnight(0)), 0);
  FaultEnv disk;
  disk.Fail(FaultEnv::kWrite, ".spg", ENOSPC);
  RVIDSenderPtr sender = Start(site, server.port(), -1, QuickPacing(), &disk);
  ASSERT_TRUE(server.WaitForCount(2, kWait));
  EXPECT_EQ(0u, ReadProgress(spg).offset);
  EXPECT_TRUE(WaitUntil([&] { return disk.failures() >= 2; }, kWait));  // both were tried

  disk.Heal();
  site.Append(Midnight(0), {"c"});
  ASSERT_TRUE(server.WaitForCount(3, kWait));
  EXPECT_TRUE(WaitUntil([&] { return ReadProgress(spg).offset == 3 * 1247; }, kWait));
  EXPECT_EQ((Strings{"a", "b", "c"}), Accounts(server.Requests()));
  sender->StopAndJoin();
}

TEST(RVIDSenderTest, StopEndsASendWaitingForASilentServer) {
  Site site;
  NetlogTestServer server;
  server.SetReply(Reply::kSilent);
  site.Append(Midnight(0), {"a"});
  RVIDSenderPtr sender = Start(site, server.port(), -1, RVIDSenderPacing());  // 90 s reply wait
  ASSERT_TRUE(server.WaitForCount(1, kWait));
  auto start = std::chrono::steady_clock::now();
  sender->StopAndJoin();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(sender->isAlive());
  EXPECT_EQ(0u, ReadProgress(ProgressPath("127.0.0.1", server.port())).offset);
}

TEST(RVIDSenderTest, NextMidnightFollowsTheCalendar) {
  {
    // Central European time: 25 October 2026 has 25 hours.
    testing_support::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    std::tm local = {};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 9;
    local.tm_mday = 25;
    local.tm_isdst = -1;
    std::time_t longDay = std::mktime(&local);
    std::time_t next = NextLocalMidnight(longDay);
    EXPECT_EQ(25 * 3600, next - longDay);
    localtime_r(&next, &local);
    EXPECT_EQ(26, local.tm_mday);
    EXPECT_EQ(0, local.tm_hour);
    EXPECT_EQ(longDay, LocalMidnight(longDay + 24 * 3600 + 1800));
  }
  tzset();
}
