// Records followed from a real Ice client through the service in icebox to
// the record files, the IA file and an upstream server on loopback.
#include <gtest/gtest.h>

#include <ctime>

#include "E2eSite.h"
#include "SeatSiteTest.h"
#include "EventRecords.h"
#include "SiteViews.h"
#include "RecordExportReader.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

using namespace tessel;

using namespace testing_support;

namespace {


class RoadOfAnEventTest : public SeatSiteTest {
 protected:
  void SetUp() override {
    PrepareSite();
    ASSERT_TRUE(site.start()) << site.serverStderr();
  }

  Ice::ByteSeq Seq(const VirtualIdRecord& record) { return Bytes(record); }

  void SeatOn() {
    events::Event e = seat;
    e.account = "440102199001011234";
    e.logoffTime = 0;
    site.proxy()->write(Seq(events::SeatEventRecord(e)));
  }
  void ImOn(const std::string& account) { site.proxy()->registAccount(Seq(ImOnRecord(account))); }
  void SeatOff() {
    events::Event e = seat;
    e.account = "440102199001011234";
    e.logoffTime = seat.seatLogon + 50;
    site.proxy()->RealNameClientOff(events::InterfaceIp(seat.ip), Seq(events::SeatEventRecord(e)),
                                    seat.seatLogon, e.logoffTime);
  }
  std::string IpFile() {
    std::string ip;
    GetIpKey(events::SeatPrefix(seat.unit, seat.ip, seat.seatLogon), &ip);
    return site.file("virtualdb/" + DayStamp(seat.seatLogon) + "_" + ip + ".RiaBase");
  }

};

TEST_F(RoadOfAnEventTest, RecordsReachTheFilesTheIaFileAndUpstreamInOrder) {
  SeatOn();
  ImOn("12345");
  events::Event info = seat;
  info.infoType = 2001;
  info.account = "mail@example.org";
  site.proxy()->write(Seq(events::IdentityEventRecord(info, 0)));

  ASSERT_TRUE(DayFileHolds(3)) << site.serverStdout();
  std::vector<VirtualIdRecord> stored = TodaysRecords(site.dir());
  for (const VirtualIdRecord& record : stored) EXPECT_EQ(record.InputFlag(), 1);
  // The keywords follow their records, in the day file and the IP file, into
  // the store.
  EXPECT_TRUE(WaitUntil([&] { return FileSize(site.file("virtualdb/virtualdb.db")) == 3 * 132; },
                        std::chrono::seconds(10)))
      << FileSize(site.file("virtualdb/virtualdb.db"));
  std::vector<VirtualIdRecord> ipRecords;
  ASSERT_TRUE(ReadRecords(port::Env::Default(), IpFile(), &ipRecords).ok());
  EXPECT_EQ(ipRecords.size(), 3u);

  // The seat logs off: its IM account goes off, the log-off is stored, and
  // the seat's IP file becomes the day's first IA file.
  SeatOff();
  ASSERT_TRUE(DayFileHolds(5)) << site.serverStdout();
  stored = TodaysRecords(site.dir());
  EXPECT_EQ(stored[3].InfoType(), 1001);
  EXPECT_EQ(stored[3].ImStatus(), 1);
  EXPECT_EQ(stored[4].InfoType(), 900);
  EXPECT_EQ(stored[4].InputFlag(), 0);
  std::string ip;
  GetIpKey(stored[4].Prefix(), &ip);
  const std::string ria = site.file("ia/4401020001_" + DayStamp(seat.seatLogon) + "_" + ip + "_1.ria");
  // The IA file is put in place, then the IP file goes.
  ASSERT_TRUE(WaitUntil([&] { return Exists(ria) && !Exists(IpFile()); }, kDeadline));
  std::vector<RecordExportEntry> exported;
  ASSERT_TRUE(ReadRecordExportFile(ria, &exported));
  EXPECT_FALSE(exported.empty());

  // Upstream gets every stored record, converted, in day-file order.
  ASSERT_TRUE(UpstreamHolds(5));
  std::vector<netlog::Request> sent = recorder.requests();
  for (size_t i = 0; i < stored.size(); ++i) {
    EXPECT_EQ(sent[i].sequence, static_cast<int>(i));
    EXPECT_EQ(UpstreamView(sent[i]), ConvertedView(stored[i])) << "record " << i;
  }
  const std::string spg = site.file("virtualdb/127.0.0.1_" + std::to_string(upstream.port()) + ".spg");
  views::Progress progress;
  EXPECT_TRUE(WaitUntil(
      [&] { return views::ReadProgress(spg, &progress) && progress.offset == 5 * 1247; }, kDeadline));
}

TEST_F(RoadOfAnEventTest, ARestartWritesNothingTwiceAndResendsNothingAcknowledged) {
  SeatOn();
  ImOn("12345");
  ASSERT_TRUE(DayFileHolds(2));
  ASSERT_TRUE(UpstreamHolds(2));

  ASSERT_EQ(site.stop(), 0);
  ASSERT_TRUE(site.start()) << site.serverStderr();
  SeatOn();       // the same records again: their keywords are known
  ImOn("12345");
  ImOn("67890");  // and one new one, which must be the only one to arrive
  ASSERT_TRUE(DayFileHolds(3)) << site.serverStdout();
  ASSERT_TRUE(UpstreamHolds(3));
  EXPECT_EQ(recorder.requests()[2].items.at(0).data, "67890");
}

TEST_F(RoadOfAnEventTest, NothingOnLineExportsNoFile) {
  Ice::Int count = -1;
  std::string path;
  site.proxy()->GetAllOnLineVirtualId(count, path);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(path.rfind(site.dir() + "/temp/", 0), 0u) << path;
  EXPECT_EQ(path.substr(path.size() - 4), ".OLV");
  EXPECT_TRUE(Exists(site.dir() + "/temp"));
  EXPECT_FALSE(Exists(path));
}

TEST_F(RoadOfAnEventTest, OnLineExportMatchesItsCount) {
  SeatOn();
  ImOn("12345");
  ImOn("12345");  // a second record of the same identity
  ASSERT_TRUE(DayFileHolds(2));
  Ice::Int first = 0, second = 0;
  std::string firstPath, secondPath;
  site.proxy()->GetAllOnLineVirtualId(first, firstPath);
  site.proxy()->GetAllOnLineVirtualId(second, secondPath);
  EXPECT_EQ(first, 2);  // the seat and the IM identity's latest record
  EXPECT_EQ(second, 2);
  EXPECT_NE(firstPath, secondPath);
  for (const std::string& path : {firstPath, secondPath}) {
    EXPECT_EQ(path.rfind(site.dir() + "/temp/", 0), 0u) << path;
    std::vector<RecordExportEntry> entries;
    ASSERT_TRUE(ReadRecordExportFile(path, &entries)) << path;
    EXPECT_EQ(entries.size(), 2u) << path;
  }
}

TEST_F(RoadOfAnEventTest, BadInputChangesNothing) {
  site.proxy()->write(Ice::ByteSeq(1246, 1));
  site.proxy()->registAccount(Ice::ByteSeq(1248, 1));
  site.proxy()->writeAccount(Ice::ByteSeq());
  site.proxy()->RealNameClientOff(1, Ice::ByteSeq(10, 0), 1, 1);
  std::vector<Ice::Byte> out;
  EXPECT_THROW(site.proxy()->ice_invoke("delete", Ice::Normal, std::vector<Ice::Byte>(), out),
               Ice::OperationNotExistException);
  ImOn("marker");  // a good record after the bad ones is the only one stored
  ASSERT_TRUE(DayFileHolds(1));
  EXPECT_EQ(TodaysRecords(site.dir())[0].Text(rec::kAccount, 30), "marker");
}

TEST_F(RoadOfAnEventTest, StopKeepsEveryAcceptedRecord) {
  const int kRecords = 40;
  for (int i = 0; i < kRecords; ++i) ImOn("acc" + std::to_string(i));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(site.stop(), 0) << site.serverStderr();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8));
  EXPECT_EQ(TodaysRecords(site.dir()).size(), static_cast<size_t>(kRecords));
}

}  // namespace
