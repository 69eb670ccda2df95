// The seats' lists as a plain part: what a record puts, and the seats read
// back from the IP files after a restart.
#include "lists/SeatLists.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "common/SiteFiles.h"
#include "lists/IPListVirtualIDInfo.h"
#include "lists/RestoreSeatLists.h"
#include "record/RiaBaseFile.h"

using namespace tessel;
using testing_support::AppendFile;
using testing_support::ImRecord;
using testing_support::InfoRecord;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

const char kSeat[] = "4401020001_3232235786_1700000000_";

std::string Account(const VirtualIdRecord& record) { return record.Text(rec::kAccount, 30); }

void Append(const std::string& path, const std::vector<VirtualIdRecord>& records) {
  for (const VirtualIdRecord& record : records)
    ASSERT_TRUE(AppendRecord(port::Env::Default(), path, record).ok()) << path;
}

std::vector<std::string> Accounts(SeatLists::IdentityMap& seat) {
  std::vector<std::string> accounts;
  for (const auto* identity : SeatLists::InKeyOrder(seat))
    for (const CompactRecord& record : identity->second)
      accounts.push_back(Account(record.Expand()));
  return accounts;
}

}  // namespace

TEST(SeatListsTest, ARecordsKindIsReadWithoutChangingIt) {
  VirtualIdRecord logon = SeatRecord(kSeat, "seat", 1700000000, -1, 1);
  const VirtualIdRecord before = logon;
  EXPECT_EQ(NetLogKindOf(logon), REALNAME_LOGON);
  EXPECT_EQ(std::memcmp(logon.bytes, before.bytes, rec::kSize), 0);
  EXPECT_TRUE(SettleLogonLogoffTime(logon));
  EXPECT_EQ(logon.LogoffTime(), 1700000000);
  EXPECT_FALSE(SettleLogonLogoffTime(logon));
  EXPECT_EQ(NetLogKindOf(logon), REALNAME_LOGON);
  VirtualIdRecord logoff = SeatRecord(kSeat, "seat", 1700000000, 1700000100, 1);
  EXPECT_FALSE(SettleLogonLogoffTime(logoff));
  EXPECT_EQ(NetLogKindOf(logoff), REALNAME_LOGOFF);
}

// A new real-name user at a listed seat: the stored records are put off
// (their kinds their own, the flag stamped in the lists too), then the new
// log-on is put on; the lines sit between the puts they announce.
TEST(SeatListsTest, ApplyReturnsEveryPutInOrderWithItsFlagKindAndLine) {
  SeatLists lists;
  VirtualIdRecord old = SeatRecord(kSeat, "old", 1700000000, 0, 1);
  VirtualIdRecord qq = ImRecord(kSeat, 1001, "qq", 5, 5, 0);
  qq.SetInt(rec::kInputFlag, 7);
  lists.Apply(old);
  lists.Apply(qq);
  EXPECT_EQ(lists.seats().at("3232235786").at(GetGroupKey(qq))[0].InputFlag(), 7);

  VirtualIdRecord fresh = SeatRecord(kSeat, "new", 1700000000, 1700000000, 1);
  const SeatLists::Outcome out = lists.Apply(fresh);
  ASSERT_TRUE(out.applied);
  EXPECT_EQ(out.ipKey, "3232235786");
  EXPECT_EQ(out.kind, REALNAME_LOGON);
  ASSERT_EQ(out.puts.size(), 3u);
  EXPECT_EQ(Account(out.puts[0].record), "qq");
  EXPECT_EQ(out.puts[0].kind, IM_LOGON);
  EXPECT_EQ(Account(out.puts[1].record), "old");
  EXPECT_EQ(out.puts[1].kind, REALNAME_LOGON);
  EXPECT_EQ(out.puts[1].record.LogoffTime(), 1700000000);  // settled when first applied
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(out.puts[i].flag, 0);
    EXPECT_EQ(out.puts[i].record.InputFlag(), 0);
    EXPECT_FALSE(out.puts[i].input);
  }
  EXPECT_TRUE(out.puts[2].input);
  EXPECT_EQ(out.puts[2].flag, 1);
  EXPECT_EQ(out.puts[2].record.InputFlag(), 1);
  EXPECT_EQ(out.lines, (std::vector<std::pair<std::size_t, SeatLists::Line> >{
                           {0, SeatLists::kOffBeforeLogon}, {2, SeatLists::kOnListedSeat}}));
  // The stored copy of the new log-on keeps the flag it arrived with.
  EXPECT_EQ(lists.seats().at("3232235786").begin()->second[0].InputFlag(), 0);
  EXPECT_EQ(lists.RecordCount(), 1u);

  // A direct put of a seat's records stamps the stored copies.
  SeatLists::Outcome again;
  SeatLists::PutAll(lists.seats().at("3232235786"), 1, &again);
  EXPECT_EQ(lists.seats().at("3232235786").begin()->second[0].InputFlag(), 1);

  VirtualIdRecord noKey = SeatRecord("4401020001", "x", 1, 1, 1);
  EXPECT_FALSE(lists.Apply(noKey).applied);
}

// Seats read back from the IP files: the files of a seat in day order,
// a seat whose log-off is in its file gone, a torn tail ignored, day files
// and other files left alone; every record is handed on in that order.
TEST(SeatListsTest, RestoreReadsTheSeatsStillOnLineFromTheIpFiles) {
  TempDir dir;
  const char kYesterday[] = "4401020001_16777343_1699990000_";
  const char kToday[] = "4401020001_16777343_1700080000_";
  // Seat 16777343: yesterday's user never logged off; today's did log on.
  Append(IpFileName(dir.path(), "231115", "16777343"),
         {SeatRecord(kYesterday, "yesterday", 1699990000, 0, 1),
          ImRecord(kYesterday, 1001, "old-qq", 10, 10, 0)});
  Append(IpFileName(dir.path(), "231116", "16777343"),
         {SeatRecord(kToday, "today", 1700080000, 0, 1), ImRecord(kToday, 1001, "qq", 20, 20, 0),
          ImRecord(kToday, 1001, "qq", 21, 21, 0), InfoRecord(kToday, 2001, "mail", 1, 2)});
  // Seat 3232235786: logged on and off; its file waits for its IA file.
  Append(IpFileName(dir.path(), "231116", "3232235786"),
         {SeatRecord(kSeat, "gone", 1700000000, 0, 1), ImRecord(kSeat, 1001, "im", 1, 1, 0),
          ImRecord(kSeat, 1001, "im", 1, 2, 1), SeatRecord(kSeat, "gone", 1700000000, 1700000500, 1)});
  // Seat 3232235787: a record cut short by a crash at its end.
  const std::string torn = IpFileName(dir.path(), "231116", "3232235787");
  Append(torn, {ImRecord("4401020001_3232235787_1700000000_", 1002, "wx", 3, 3, 0)});
  AppendFile(torn, std::string(100, 'x'));
  // Neither a day file nor anything else is a seat.
  Append(DayFileName(dir.path(), "231116"), {SeatRecord("4401020001_9_1700000000_", "d", 1, 1, 1)});
  testing_support::WriteFile(dir / "231116_9.RiaBase.handoff", "note");

  SeatLists lists;
  RestoreCounts counts;
  std::vector<std::string> seen;
  ASSERT_TRUE(RestoreSeatLists(port::Env::Default(), dir.path(), &lists, &counts,
                               [&](const VirtualIdRecord& r) { seen.push_back(Account(r)); })
                  .ok());
  EXPECT_EQ(counts.ipFiles, 4u);
  EXPECT_EQ(counts.records, 11u);
  EXPECT_EQ(counts.unreadable, 0u);
  EXPECT_EQ(seen, (std::vector<std::string>{"yesterday", "old-qq", "today", "qq", "qq", "mail",
                                            "gone", "im", "im", "gone", "wx"}));

  ASSERT_EQ(lists.seats().size(), 2u);
  // Group-key order: "..._1001_qq" < "..._2001_mail" < "..._900_today".
  EXPECT_EQ(Accounts(lists.seats().at("16777343")),
            (std::vector<std::string>{"qq", "qq", "mail", "today"}));
  EXPECT_EQ(Accounts(lists.seats().at("3232235787")), std::vector<std::string>{"wx"});

  // A site that has never run holds no seat.
  SeatLists none;
  RestoreCounts nothing;
  EXPECT_TRUE(RestoreSeatLists(port::Env::Default(), dir / "missing", &none, &nothing).ok());
  EXPECT_TRUE(none.seats().empty());
}

namespace {

// The lists over an intake journal, with a hook that writes nothing.
class JournalList : public IPListVirtualIDInfo {
 public:
  JournalList() : IPListVirtualIDInfo(port::Env::Default(), 60000) {}
  int Initialize() override { return 0; }
  void PutNetLogToP2P(VirtualIdRecord&, int) override {}
  using IPListVirtualIDInfo::Lists;
  using IPListVirtualIDInfo::OpenIntakeJournal;
};

}  // namespace

// Records the journal gives back at start are on line once the first pass
// has applied them; until then an export is told to wait.
TEST(SeatListsTest, RecordsGivenBackByTheJournalAreWaitedFor) {
  TempDir dir;
  {
    IceUtil::Handle<JournalList> before = new JournalList;
    before->OpenIntakeJournal(dir.path());
    ASSERT_TRUE(before->AddNetLog(SeatRecord(kSeat, "seat", 1700000000, 0, 1), "4401020001")
                    .status.ok());
    ASSERT_TRUE(before->AddNetLog(ImRecord(kSeat, 1001, "qq", 5, 5, 0), "4401020001").status.ok());
  }  // gone before any pass: both records stay in the journal

  IceUtil::Handle<JournalList> after = new JournalList;
  after->OpenIntakeJournal(dir.path());
  after->RestoreLists(SeatLists());
  EXPECT_FALSE(after->WaitForRestoredRecords(0));
  IceUtil::ThreadControl thread = after->start();
  EXPECT_TRUE(after->WaitForRestoredRecords(5000));
  after->Stop();
  thread.join();
  ASSERT_EQ(after->Lists().size(), 1u);
  EXPECT_EQ(after->Lists().begin()->second.size(), 2u);

  // Lists never restored have nothing to wait for.
  IceUtil::Handle<JournalList> fresh = new JournalList;
  EXPECT_TRUE(fresh->WaitForRestoredRecords(0));
}
