// A seat's identities stay on line through a restart of the service: after
// a stop, or a kill -9, the seat's log-off takes the IM accounts registered
// before it off line (day file, upstream, IA file) once each, and the
// on-line export still lists them.
#include <gtest/gtest.h>

#include <map>

#include "E2eSite.h"
#include "EventRecords.h"
#include "RecordExportReader.h"
#include "SeatSiteTest.h"
#include "record/DayStamp.h"
#include "record/Keyword.h"

using namespace tessel;
using namespace testing_support;

namespace {

enum class Restart { kStop, kKillOnceStored, kKillAtOnce };

class OnLineRestartTest : public SeatSiteTest, public ::testing::WithParamInterface<Restart> {
 protected:
  void SetUp() override {
    PrepareSite();
    ASSERT_TRUE(site.start()) << site.serverStderr();
  }

  events::Event SeatEvent() const {
    events::Event e = seat;
    e.account = "440102199001011234";
    return e;
  }

  std::string IaFile() {
    std::string ip;
    GetIpKey(events::SeatPrefix(seat.unit, seat.ip, seat.seatLogon), &ip);
    return site.file("ia/" + seat.unit + "_" + DayStamp(seat.seatLogon) + "_" + ip + "_1.ria");
  }
};

std::string Account(const VirtualIdRecord& record) { return record.Text(rec::kAccount, 30); }

TEST_P(OnLineRestartTest, ASeatsLogOffAfterARestartTakesItsAccountsOffLineOnce) {
  site.proxy()->write(Bytes(events::SeatEventRecord(SeatEvent())));
  site.proxy()->registAccount(Bytes(ImOnRecord("11111")));
  site.proxy()->registAccount(Bytes(ImOnRecord("22222")));
  switch (GetParam()) {
    case Restart::kStop:
      ASSERT_TRUE(DayFileHolds(3)) << site.serverStdout();
      ASSERT_EQ(site.stop(), 0) << site.serverStderr();
      break;
    case Restart::kKillOnceStored:
      ASSERT_TRUE(DayFileHolds(3)) << site.serverStdout();
      site.kill();
      break;
    case Restart::kKillAtOnce:  // the calls returned: their records are in the journal
      site.kill();
      break;
  }
  ASSERT_TRUE(site.start()) << site.serverStderr();

  // The export lists the seat and both accounts, as before the restart.
  Ice::Int count = 0;
  std::string path;
  site.proxy()->GetAllOnLineVirtualId(count, path);
  EXPECT_EQ(count, 3);
  std::vector<RecordExportEntry> exported;
  ASSERT_TRUE(ReadRecordExportFile(path, &exported)) << path;
  std::vector<std::string> accounts;
  for (const RecordExportEntry& entry : exported) accounts.push_back(entry.account);
  EXPECT_EQ(accounts, (std::vector<std::string>{"11111", "22222", "440102199001011234"}));

  events::Event off = SeatEvent();
  off.logoffTime = seat.seatLogon + 50;
  site.proxy()->RealNameClientOff(events::InterfaceIp(seat.ip),
                                  Bytes(events::SeatEventRecord(off)), seat.seatLogon,
                                  off.logoffTime);

  // Both accounts' off-line records, then the seat's log-off: once each.
  ASSERT_TRUE(DayFileHolds(6)) << site.serverStdout();
  const std::vector<VirtualIdRecord> stored = TodaysRecords(site.dir());
  std::map<std::string, int> keywords;
  for (const VirtualIdRecord& record : stored) ++keywords[KeywordOf(record)];
  for (const auto& keyword : keywords) EXPECT_EQ(keyword.second, 1) << keyword.first;
  for (int i : {3, 4}) {
    EXPECT_EQ(stored[i].InfoType(), 1001);
    EXPECT_EQ(stored[i].ImStatus(), 1);
    EXPECT_EQ(stored[i].EndTime(), off.logoffTime);
    EXPECT_EQ(stored[i].Int(rec::kOffCode), rec::kSeatLogoffOffCode);
  }
  EXPECT_EQ(Account(stored[3]), "11111");
  EXPECT_EQ(Account(stored[4]), "22222");
  EXPECT_EQ(stored[5].InfoType(), 900);

  // Upstream gets every stored record; those made after the restart once
  // each. (A record in flight when the service went down may come twice:
  // its acknowledgement was not kept.)
  std::map<std::string, int> upstreamViews;
  ASSERT_TRUE(WaitUntil(
      [&] {
        upstreamViews.clear();
        for (const netlog::Request& request : recorder.requests())
          ++upstreamViews[UpstreamView(request)];
        for (const VirtualIdRecord& record : stored)
          if (upstreamViews.count(ConvertedView(record)) == 0) return false;
        return true;
      },
      kDeadline))
      << site.serverStderr();
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const int times = upstreamViews[ConvertedView(stored[i])];
    if (i < 3)
      EXPECT_GE(times, 1) << "record " << i;
    else
      EXPECT_EQ(times, 1) << "record " << i;
  }

  // The seat's IA file holds the accounts with their end times.
  ASSERT_TRUE(WaitUntil([&] { return Exists(IaFile()); }, kDeadline)) << site.serverStderr();
  std::vector<RecordExportEntry> ia;
  ASSERT_TRUE(ReadRecordExportFile(IaFile(), &ia));
  std::map<std::string, int> endTimes;
  for (const RecordExportEntry& entry : ia)
    if (entry.infoType == 1001) endTimes[entry.account] = entry.record.EndTime();
  EXPECT_EQ(endTimes, (std::map<std::string, int>{{"11111", off.logoffTime},
                                                  {"22222", off.logoffTime}}));
  EXPECT_EQ(site.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(Restarts, OnLineRestartTest,
                         ::testing::Values(Restart::kStop, Restart::kKillOnceStored,
                                           Restart::kKillAtOnce),
                         [](const ::testing::TestParamInfo<Restart>& info) {
                           switch (info.param) {
                             case Restart::kStop: return std::string("Stop");
                             case Restart::kKillOnceStored: return std::string("KillOnceStored");
                             case Restart::kKillAtOnce: return std::string("KillAtOnce");
                           }
                           return std::string();
                         });

}  // namespace
