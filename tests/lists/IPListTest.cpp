#include "lists/IPListVirtualIDInfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "TestSupport.h"
#include "RecordExportReader.h"

using namespace tessel;

using testing_support::ImRecord;
using testing_support::InfoRecord;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

const char kIp1[] = "4401020001_3232235786_1700000000_";
const char kIp2[] = "4401020001_3232235787_1700000000_";

struct Put {
  std::string account;
  int flag;
  bool operator==(const Put& o) const { return account == o.account && flag == o.flag; }
};

std::ostream& operator<<(std::ostream& out, const Put& put) {
  return out << "{" << put.account << "," << put.flag << "}";
}

// The lists with recording hooks: every put is remembered, and the record
// is stamped with the flag as the real hook does.
class RecordingList : public IPListVirtualIDInfo {
 public:
  explicit RecordingList(int intervalMs = 1000)
      : IPListVirtualIDInfo(tessel::port::Env::Default(), intervalMs) {}
  int Initialize() override {
    std::lock_guard<std::mutex> guard(mutex);
    ++initialized;
    return 0;
  }
  void PutNetLogToP2P(VirtualIdRecord& record, int flag) override {
    record.SetInt(rec::kInputFlag, flag + 10);
    std::lock_guard<std::mutex> guard(mutex);
    puts.push_back(Put{record.Text(rec::kAccount, 30), flag});
  }
  std::vector<Put> TakePuts() {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<Put> taken;
    taken.swap(puts);
    return taken;
  }
  using IPListVirtualIDInfo::Lists;
  IdentityMap& Entry(const std::string& ip) { return Lists().at(ip); }
  std::size_t Pending() { return intake().Counters().waiting; }

  std::mutex mutex;
  std::vector<Put> puts;
  int initialized = 0;
};

typedef IceUtil::Handle<RecordingList> RecordingListPtr;

VirtualIdRecord Logon(const char* prefix, const std::string& account) {
  return SeatRecord(prefix, account, 1700000000, 1700000000, 1);
}
VirtualIdRecord Logoff(const char* prefix, const std::string& account) {
  return SeatRecord(prefix, account, 1700000000, 1700003600, 1);
}
VirtualIdRecord Im(const char* prefix, const std::string& account, int status, int begin = 1) {
  return ImRecord(prefix, 1001, account, begin, begin + 1, status);
}

// Applies a record and returns what it printed.
std::string Apply(RecordingList& list, VirtualIdRecord record) {
  testing::internal::CaptureStdout();
  list.UpdateList(record);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(IPListTest, UnlistedIpStoresOnlyLogonKinds) {
  RecordingListPtr list = new RecordingList;
  EXPECT_EQ(Apply(*list, Logon(kIp1, "seat")),
            "\nIPList :3232235786 type:0\nthis ->PutNetLogOnToP2P(UpdateList) .\r\n");
  EXPECT_EQ(Apply(*list, Im(kIp2, "qq", 0)),
            "\nIPList :3232235787 type:2\nthis ->PutNetLogOnToP2P(UpdateList) .\r\n");
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"seat", 1}, {"qq", 1}}));

  const char* unlisted = "4401020001_99_1700000000_";
  EXPECT_EQ(Apply(*list, Logoff(unlisted, "off")),
            "\nIPList :99 type:1\nthis ->PutNetLogOffToP2P(UpdateList) .\r\n");
  Apply(*list, Im(unlisted, "imoff", 1));
  Apply(*list, Im(unlisted, "imother", 7));
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"off", 0}, {"imoff", 0}, {"imother", 0}}));
  EXPECT_EQ(list->Lists().count("99"), 0u);

  Apply(*list, InfoRecord(unlisted, 6000, "info", 1, 2));
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"info", 1}}));
  EXPECT_EQ(list->Entry("99").size(), 1u);
  // The queued record was stamped; the stored copy kept its flag.
  EXPECT_EQ(list->Entry("99").begin()->second[0].InputFlag(), 0);
}

TEST(IPListTest, PrefixWithoutTwoUnderscoresIsDropped) {
  RecordingListPtr list = new RecordingList;
  EXPECT_EQ(Apply(*list, Logon("4401020001_3232235786", "seat")), "");
  EXPECT_EQ(Apply(*list, Logon("4401020001", "seat")), "");
  EXPECT_TRUE(list->TakePuts().empty());
  EXPECT_TRUE(list->Lists().empty());
}

TEST(IPListTest, RealnameLogoffPutsTheWholeSeatOffAndRemovesIt) {
  RecordingListPtr list = new RecordingList;
  Apply(*list, Logon(kIp1, "seat"));
  Apply(*list, Im(kIp1, "qq", 0, 1));
  Apply(*list, Im(kIp1, "qq", 0, 2));
  Apply(*list, InfoRecord(kIp1, 2, "zz", 1, 2));
  list->TakePuts();
  EXPECT_EQ(Apply(*list, Logoff(kIp1, "seat")),
            "\nIPList :3232235786 type:1\nthis ->PutNetLogOff - 2 ToP2P(UpdateList) .\r\n");
  // Group-key order: "..._1001_qq" < "..._2_zz" < "..._900_seat".
  EXPECT_EQ(list->TakePuts(),
            (std::vector<Put>{{"qq", 0}, {"qq", 0}, {"zz", 0}, {"seat", 0}, {"seat", 0}}));
  EXPECT_EQ(list->Lists().count("3232235786"), 0u);
}

TEST(IPListTest, RealnameLogonAtAListedIpStartsTheSeatAfresh) {
  RecordingListPtr list = new RecordingList;
  Apply(*list, Logon(kIp1, "old"));
  Apply(*list, Im(kIp1, "qq", 0));
  list->TakePuts();
  EXPECT_EQ(Apply(*list, Logon(kIp1, "new")),
            "\nIPList :3232235786 type:0\n"
            "this ->PutNetLogOffToP2P(UpdateListForOneIP) for REALNAME_LOGON .\r\n"
            "this ->PutNetLogOnToP2P(UpdateListForOneIP) .\r\n");
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"qq", 0}, {"old", 0}, {"new", 1}}));
  IPListVirtualIDInfo::IdentityMap& entry = list->Entry("3232235786");
  ASSERT_EQ(entry.size(), 1u);
  EXPECT_EQ(entry.begin()->second[0].Text(rec::kAccount, 30), "new");
}

TEST(IPListTest, AnIdentityKeepsItsFirstAndLatestRecord) {
  RecordingListPtr list = new RecordingList;
  Apply(*list, Logon(kIp1, "seat"));
  Apply(*list, Im(kIp1, "qq", 0, 1));
  EXPECT_EQ(Apply(*list, Im(kIp1, "qq", 0, 2)),
            "\nIPList :3232235786 type:2\nthis ->PutNetLogOnToP2P(UpdateListForOneIP) .\r\n");
  Apply(*list, Im(kIp1, "qq", 0, 3));
  const std::vector<CompactRecord>& qq =
      list->Entry("3232235786").at(std::string(kIp1) + "1001_qq");
  ASSERT_EQ(qq.size(), 2u);
  EXPECT_EQ(qq[0].BeginTime(), 1);
  EXPECT_EQ(qq[1].BeginTime(), 3);
  EXPECT_EQ(list->TakePuts().size(), 4u);
}

TEST(IPListTest, ImLogoffAndImOtherAtAListedIp) {
  RecordingListPtr list = new RecordingList;
  Apply(*list, Im(kIp1, "qq", 0));
  list->TakePuts();
  // Never seen: put off, the entry is unchanged.
  EXPECT_EQ(Apply(*list, Im(kIp1, "other", 1)),
            "\nIPList :3232235786 type:3\n"
            "this ->PutNetLogOffToP2P(UpdateListForOneIP) for IM_LOGOFF .\r\n");
  EXPECT_EQ(list->Entry("3232235786").size(), 1u);
  // IM_OTHER at a listed IP does nothing at all.
  EXPECT_EQ(Apply(*list, Im(kIp1, "qq", 2)), "\nIPList :3232235786 type:5\n");
  // Seen: the identity goes, the IP entry stays even when empty.
  Apply(*list, Im(kIp1, "qq", 1));
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"other", 0}, {"qq", 0}}));
  ASSERT_EQ(list->Lists().count("3232235786"), 1u);
  EXPECT_TRUE(list->Entry("3232235786").empty());
}

TEST(IPListTest, NegativeLogoffTimeCountsAsLogonInTheStoredCopyToo) {
  RecordingListPtr list = new RecordingList;
  EXPECT_EQ(Apply(*list, SeatRecord(kIp1, "seat", 1700000000, -1, 1)),
            "\nIPList :3232235786 type:0\nthis ->PutNetLogOnToP2P(UpdateList) .\r\n");
  const CompactRecord& stored = list->Entry("3232235786").begin()->second[0];
  EXPECT_EQ(stored.LogoffTime(), 1700000000);
}

TEST(IPListTest, DirectCallsOfTheListOperations) {
  RecordingListPtr list = new RecordingList;
  Apply(*list, Logon(kIp1, "seat"));
  Apply(*list, Im(kIp1, "qq", 0));
  list->TakePuts();
  IPListVirtualIDInfo::IdentityMap& entry = list->Entry("3232235786");
  // The hook's changes reach the stored copies.
  list->PutAllNetLogToP2P(entry, 1);
  for (const auto& identity : entry) EXPECT_EQ(identity.second[0].InputFlag(), 11);
  list->TakePuts();

  VirtualIdRecord off = Logoff(kIp1, "seat");
  testing::internal::CaptureStdout();
  list->UpdateListForOneIP(off, entry, REALNAME_LOGOFF, GetGroupKey(off));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "this ->PutNetLogOffToP2P(UpdateListForOneIP) for REALNAME_LOGOFF .\r\n");
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"qq", 0}, {"seat", 0}}));  // not the record
  EXPECT_TRUE(entry.empty());
}

TEST(IPListTest, ExportToFileCountsWhatItExports) {
  TempDir dir;
  const std::string path = dir / "1700000000.OLV";
  RecordingListPtr list = new RecordingList;
  int count = -1;
  list->ExportToFile(path.c_str(), count);
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(testing_support::Exists(path));

  VirtualIdRecord first = Logon(kIp1, "seat");
  list->AddNetLog(first, "4401020001");  // sets the unit identity; applied below
  Apply(*list, first);
  Apply(*list, Im(kIp1, "qq", 0, 1));
  Apply(*list, Im(kIp1, "qq", 0, 2));
  Apply(*list, InfoRecord(kIp2, 2, "info", 1, 2));
  Apply(*list, InfoRecord(kIp2, 2, "info", 3, 4));
  list->ExportToFile(path.c_str(), count);
  // The IM account: its latest record only; other identities: both.
  EXPECT_EQ(count, 4);
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(path, &entries));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].record.BeginTime(), 2);  // ip ...786: "1001_qq" first
  EXPECT_EQ(entries[1].account, "seat");
  EXPECT_EQ(entries[2].record.BeginTime(), 1);  // ip ...787
  EXPECT_EQ(entries[3].record.BeginTime(), 3);
  EXPECT_EQ(entries[0].unitHead, "44");
  EXPECT_EQ(entries[0].unitTail, "01020001");

  // A file that cannot be written counts nothing.
  list->ExportToFile((dir / "missing/x.OLV").c_str(), count);
  EXPECT_EQ(count, 0);

  // A unit identity too short to split exports nothing.
  list->AddNetLog(first, "4");
  const std::string other = dir / "other.OLV";
  list->ExportToFile(other.c_str(), count);
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(testing_support::Exists(other));
}

TEST(IPListTest, ExportToFileDropsTheFirstRecordOnlyOfImAccounts) {
  TempDir dir;
  const std::string path = dir / "bounds.OLV";
  RecordingListPtr list = new RecordingList;
  list->AddNetLog(Logon(kIp1, "seat"), "4401020001");
  // Two records each for info types 1000 and 2000 (other information, both
  // exported) and 1999 (an IM account: its latest record only).
  Apply(*list, InfoRecord(kIp1, 1000, "a", 1, 2));
  Apply(*list, InfoRecord(kIp1, 1000, "a", 3, 4));
  Apply(*list, Im(kIp1, "b", 0, 1));
  Apply(*list, ImRecord(kIp1, 1999, "c", 1, 2, 0));
  Apply(*list, ImRecord(kIp1, 1999, "c", 3, 4, 0));
  Apply(*list, InfoRecord(kIp1, 2000, "d", 1, 2));
  Apply(*list, InfoRecord(kIp1, 2000, "d", 3, 4));
  int count = -1;
  list->ExportToFile(path.c_str(), count);
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(path, &entries));
  // Group-key order: "1000_a" < "1001_b" < "1999_c" < "2000_d".
  std::vector<std::pair<int, int> > seen;
  for (const RecordExportEntry& entry : entries)
    seen.push_back(std::make_pair(entry.infoType, entry.record.BeginTime()));
  EXPECT_EQ(seen, (std::vector<std::pair<int, int> >{
                      {1000, 1}, {1000, 3}, {1001, 1}, {1999, 3}, {2000, 1}, {2000, 3}}));
  EXPECT_EQ(count, 6);
}

// The thread has loaded its start-up state (Initialize ran once).
bool WaitForInitialize(const RecordingListPtr& list) {
  return testing_support::WaitUntil(
      [&] {
        std::lock_guard<std::mutex> guard(list->mutex);
        return list->initialized == 1;
      },
      std::chrono::milliseconds(2000));
}

TEST(IPListThreadTest, RecordsAreAppliedWithinAboutASecond) {
  RecordingListPtr list = new RecordingList(1000);
  IceUtil::ThreadControl control = list->start();
  ASSERT_TRUE(WaitForInitialize(list));
  list->AddNetLog(Logon(kIp1, "seat"), "4401020001");
  list->AddNetLog(Im(kIp1, "qq", 0), "4401020001");
  std::vector<Put> seen;
  EXPECT_TRUE(testing_support::WaitUntil(
      [&] {
        std::vector<Put> more = list->TakePuts();
        seen.insert(seen.end(), more.begin(), more.end());
        return seen.size() == 2;
      },
      std::chrono::milliseconds(1500)));
  EXPECT_EQ(seen, (std::vector<Put>{{"seat", 1}, {"qq", 1}}));
  list->Stop();
  control.join();
  EXPECT_EQ(list->initialized, 1);
}

TEST(IPListThreadTest, RecordsQueuedBeforeStopAreAppliedByALastPass) {
  RecordingListPtr list = new RecordingList(60000);  // only the first pass and the last
  IceUtil::ThreadControl control = list->start();
  ASSERT_TRUE(WaitForInitialize(list));
  testing_support::WaitUntil([] { return false; }, std::chrono::milliseconds(100));
  list->AddNetLog(Logon(kIp1, "seat"), "4401020001");
  list->AddNetLog(Logoff(kIp1, "seat"), "4401020001");
  const auto before = std::chrono::steady_clock::now();
  list->Stop();
  control.join();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_FALSE(list->isAlive());
  EXPECT_EQ(list->TakePuts(), (std::vector<Put>{{"seat", 1}, {"seat", 0}, {"seat", 0}}));
  EXPECT_EQ(list->Pending(), 0u);
}

// Beyond the bound of records waiting, a record is refused rather than
// memory grown, until a pass makes room.
TEST(IPListThreadTest, RecordsBeyondTheBoundAreRefusedUntilThereIsRoom) {
  RecordingListPtr list = new RecordingList(60000);
  testing::internal::CaptureStderr();
  const std::size_t bound = tessel::WriteOptions().maxWaitingRecords;
  std::size_t refused = 0;
  for (std::size_t i = 0; i < bound + 2; ++i)
    if (!list->AddNetLog(Im(kIp1, "qq", 0), "4401020001").status.ok()) ++refused;
  EXPECT_EQ(refused, 2u);
  EXPECT_EQ(list->Pending(), bound);
  IceUtil::ThreadControl control = list->start();  // its first pass takes the queue
  ASSERT_TRUE(testing_support::WaitUntil([&] { return list->Pending() == 0; },
                                         std::chrono::milliseconds(5000)));
  EXPECT_TRUE(list->AddNetLog(Im(kIp1, "qq", 0), "4401020001").status.ok());
  list->Stop();
  control.join();
  testing::internal::GetCapturedStderr();
}
