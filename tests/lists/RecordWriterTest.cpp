// The write side: a pass over many seats, a file that cannot be written, and
// the files put in order at start after a crash.
#include "lists/RecordWriter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <set>

#include "RecordExportReader.h"
#include "TestEnv.h"
#include "KeywordStoreContent.h"
#include "TestSupport.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "record/DayStamp.h"
#include "record/Keyword.h"
#include "record/RiaBaseFile.h"

using namespace tessel;
using testing_support::FileSize;
using testing_support::ImRecord;
using testing_support::ListDir;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

const long kRecord = static_cast<long>(rec::kSize);

class RecordWriterTest : public ::testing::Test {
 protected:
  RecordWriterTest() : logon(std::time(nullptr) - 600) {
    MakeDirs((Vdb() + "/").c_str(), port::Env::Default());
    MakeDirs((site / "ia/").c_str(), port::Env::Default());
    worker = new MakeUpIAFileWorker(Site());
    worker->SetPaths("", site / "ia");
    worker->SetUnitIdentity("4401020001");
  }

  SiteContext Site(port::Env* env = port::Env::Default()) const { return SiteAt(env, site.path()); }
  std::string Vdb() const { return site / "virtualdb"; }
  std::string DayFile() const { return DayFileName(Vdb(), DayStamp(std::time(nullptr))); }
  std::string IpFile(long long ip) const {
    return IpFileName(Vdb(), DayStamp(logon), std::to_string(ip));
  }
  std::string Prefix(long long ip) const {
    return "4401020001_" + std::to_string(ip) + "_" + std::to_string(logon) + "_";
  }
  VirtualIdRecord Logon(long long ip) const { return SeatRecord(Prefix(ip), "seat", logon, 0, 1); }
  VirtualIdRecord Logoff(long long ip) const {
    return SeatRecord(Prefix(ip), "seat", logon, logon + 60, 0);
  }
  VirtualIdRecord Im(long long ip, const std::string& account) const {
    return ImRecord(Prefix(ip), 1001, account, logon + 1, logon + 1, 0);
  }
  std::unique_ptr<RecordWriter> NewWriter(port::Env* env = port::Env::Default()) {
    std::unique_ptr<RecordWriter> writer(new RecordWriter(env, Vdb() + "/", WriteOptions()));
    writer->SetIAFileWorker(worker.get());
    return writer;
  }
  static void Put(RecordWriter& writer, const VirtualIdRecord& record) {
    VirtualIdRecord copy = record;
    writer.Queue(record, KeywordOf(record), GetNetLogKind(copy));
  }
  static std::vector<VirtualIdRecord> Records(const std::string& path) {
    std::vector<VirtualIdRecord> records;
    ReadRecords(port::Env::Default(), path, &records);
    return records;
  }
  std::vector<std::string> IaFiles() const { return ListDir(site / "ia"); }
  // A site as a crash left it: the records in the day file and the seat's
  // IP file, and the keywords of the first `kept` of them in the store.
  void Crashed(const std::vector<VirtualIdRecord>& records, std::size_t kept, long long ip) {
    std::vector<std::string> keywords;
    for (std::size_t i = 0; i < records.size(); ++i) {
      ASSERT_TRUE(AppendRecord(port::Env::Default(), DayFile(), records[i]).ok());
      ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(ip), records[i]).ok());
      if (i < kept) keywords.push_back(KeywordOf(records[i]));
    }
    ASSERT_TRUE(KeywordStore(port::Env::Default(), KeywordStoreFileName(Vdb())).Append(keywords).ok());
  }

  TempDir site;
  const std::time_t logon;
  MakeUpIAFileWorkerPtr worker;
};

}  // namespace

// Records of a thousand seats, taken in turns: the day file holds them in
// the order they were put, and each IP file its own, in order.
TEST_F(RecordWriterTest, OnePassOverAThousandSeatsLeavesEveryIpFileRight) {
  std::unique_ptr<RecordWriter> writer = NewWriter();
  ASSERT_TRUE(writer->Open().IsNotFound());
  const long long kFirst = 3232235000;
  std::vector<VirtualIdRecord> order;
  for (const char* account : {"", "qq1", "qq2"}) {
    for (long long ip = kFirst; ip < kFirst + 1000; ++ip) {
      order.push_back(*account ? Im(ip, account) : Logon(ip));
      Put(*writer, order.back());
    }
  }
  ASSERT_TRUE(writer->WriteQueued());
  const std::vector<VirtualIdRecord> day = Records(DayFile());
  ASSERT_EQ(day.size(), order.size());
  for (std::size_t i = 0; i < day.size(); ++i) ASSERT_EQ(day[i].Prefix(), order[i].Prefix()) << i;
  for (long long ip = kFirst; ip < kFirst + 1000; ++ip) {
    const std::vector<VirtualIdRecord> seat = Records(IpFile(ip));
    ASSERT_EQ(seat.size(), 3u) << ip;
    EXPECT_EQ(seat[0].InfoType(), 900);
    EXPECT_EQ(seat[1].Text(rec::kAccount, 30), "qq1");
    EXPECT_EQ(seat[2].Text(rec::kAccount, 30), "qq2");
  }
  EXPECT_EQ(writer->keywords().size(), order.size());
}

// An IP file that cannot be written holds its own seat alone: the day file
// and the other seat's IP file take their records at once, the failing
// seat's wait (no second copy in the day file), and once the file can be
// written they go in and only then is the seat handed over, with its
// log-off in the IA file.
TEST_F(RecordWriterTest, AFailedIpFileHoldsOnlyItsOwnSeat) {
  testing_support::FaultEnv disk;
  disk.Fail(testing_support::FaultEnv::kOpen, "_3232235786.RiaBase", EACCES);
  std::unique_ptr<RecordWriter> writer = NewWriter(&disk);
  writer->Open();
  testing::internal::CaptureStderr();
  for (const VirtualIdRecord& record : {Logon(3232235786), Im(3232235786, "qq"),
                                        Logoff(3232235786), Logon(3232235787)})
    Put(*writer, record);
  EXPECT_FALSE(writer->WriteQueued());
  EXPECT_FALSE(writer->WriteQueued());
  EXPECT_EQ(FileSize(DayFile()), 4 * kRecord);
  EXPECT_EQ(FileSize(IpFile(3232235787)), kRecord);
  EXPECT_EQ(writer->waiting(), 3u);
  ASSERT_EQ(writer->Counters().faults.size(), 1u);
  EXPECT_EQ(writer->Counters().faults[0].output, kIpFileOutput);
  EXPECT_EQ(writer->Counters().faults[0].target, IpFile(3232235786));
  EXPECT_TRUE(IaFiles().empty());

  disk.Heal();
  EXPECT_TRUE(writer->WriteQueued());
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(writer->Counters().faults.empty());
  EXPECT_EQ(FileSize(DayFile()), 4 * kRecord);
  ASSERT_EQ(IaFiles().size(), 1u);
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile((site / "ia") + "/" + IaFiles()[0], &entries));
  ASSERT_EQ(entries.size(), 2u);  // the IM account, then the seat's log-off
  EXPECT_EQ(entries[1].record.LogoffTime(), logon + 60);
  EXPECT_EQ(FileSize(IpFile(3232235786)), -1);
  EXPECT_EQ(FileSize(IpFile(3232235787)), kRecord);
}

// Torn tails are cut before anything is appended after them; whole records
// stay as they are.
TEST_F(RecordWriterTest, TornTailsAreCutAtStart) {
  const std::string day = std::string(2 * rec::kSize, 'd');
  testing_support::WriteFile(DayFile(), day + std::string(100, 't'));
  testing_support::WriteFile(IpFile(3232235786), std::string(rec::kSize + 10, 'i'));
  testing_support::WriteFile(IpFile(3232235787), std::string(rec::kSize, 'w'));
  testing::internal::CaptureStderr();
  NewWriter()->CutTornTails();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing_support::ReadFile(DayFile()), day);
  EXPECT_EQ(testing_support::ReadFile(IpFile(3232235786)), std::string(rec::kSize, 'i'));
  EXPECT_EQ(testing_support::ReadFile(IpFile(3232235787)), std::string(rec::kSize, 'w'));
}

// After a crash, whatever was left: a log-off stored before the crash is
// handed over once, whether its keyword was saved, taken back from the day
// file, or its hand-off cut short; a store that did not load takes nothing
// back, so no IA file is made again.
TEST_F(RecordWriterTest, ACrashLeavesEverySeatHandedOverOnce) {
  // Saved, not handed over.
  Crashed({Logon(1), Logoff(1)}, 2, 1);
  // Handed over as far as its IA file; the IP file still there.
  Crashed({Logon(3)}, 1, 3);
  const std::string made = (site / "ia") + "/4401020001_" + DayStamp(logon) + "_3_1.ria";
  testing_support::WriteFile(made, "made before the crash");
  testing_support::WriteFile(HandOffFileName(IpFile(3)), made);
  // Stored last, the log-off's keyword not saved: taken back.
  Crashed({Logon(2), Logoff(2)}, 1, 2);

  testing::internal::CaptureStderr();
  NewWriter()->Open();
  testing::internal::GetCapturedStderr();
  const std::string stamp = DayStamp(logon);
  // One file each, numbered in the order they were made (the day's counter
  // is the site's): the interrupted hand-off, then the closed seats.
  EXPECT_EQ(IaFiles(), (std::vector<std::string>{"4401020001_" + stamp + "_1_2.ria",
                                                 "4401020001_" + stamp + "_2_3.ria",
                                                 "4401020001_" + stamp + "_3_1.ria"}));
  EXPECT_EQ(testing_support::ReadFile(made), "made before the crash");
  for (long long ip : {1, 2, 3}) EXPECT_EQ(FileSize(IpFile(ip)), -1) << ip;
  EXPECT_FALSE(testing_support::Exists(HandOffFileName(IpFile(3))));

  // Again, with the store gone: nothing is taken back or made again.
  Crashed({Logon(4), Logoff(4)}, 2, 4);
  worker->MakeUpIPFile(IpFile(4), IpFileBaseName(stamp, "4"), stamp);
  ASSERT_EQ(std::remove(KeywordStoreFileName(Vdb()).c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(NewWriter()->Open().IsNotFound());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(IaFiles().size(), 4u);
}

// A keyword store that cannot be written holds nothing: records go on into
// the day file and the IP files, the seat is handed over, the fault shows
// while it lasts, and the keywords are saved, in order, once it heals.
TEST_F(RecordWriterTest, AKeywordStoreThatCannotBeWrittenHoldsNothing) {
  testing_support::FaultEnv disk;
  std::unique_ptr<RecordWriter> writer = NewWriter(&disk);
  writer->Open();
  disk.Fail(testing_support::FaultEnv::kWrite, "virtualdb.db", EACCES);
  testing::internal::CaptureStderr();
  const std::vector<VirtualIdRecord> records = {Logon(7), Im(7, "qq"), Logoff(7), Logon(8)};
  for (const VirtualIdRecord& record : records) Put(*writer, record);
  EXPECT_TRUE(writer->WriteQueued());
  EXPECT_EQ(FileSize(DayFile()), 4 * kRecord);
  EXPECT_EQ(IaFiles().size(), 1u);
  EXPECT_EQ(FileSize(IpFile(8)), kRecord);
  ASSERT_EQ(writer->Counters().faults.size(), 1u);
  EXPECT_EQ(writer->Counters().faults[0].output, kKeywordStoreOutput);
  for (const VirtualIdRecord& record : records) EXPECT_TRUE(writer->Knows(KeywordOf(record)));
  EXPECT_EQ(FileSize(KeywordStoreFileName(Vdb())), 0);

  disk.Heal();
  EXPECT_TRUE(writer->WriteQueued());
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(writer->Counters().faults.empty());
  std::set<std::string> saved;
  testing_support::LoadKeywordStore(port::Env::Default(), KeywordStoreFileName(Vdb()), std::time(nullptr), &saved);
  EXPECT_EQ(saved.size(), 4u);
}

// An IA directory that cannot be written: one try per pass, nothing waits
// inside it; the other seats go on, the seat logged off keeps its IP file
// and its next session waits behind the hand-off; once the directory can
// be written the IA file is made and the next session gets its own IP file.
// Without any IA directory the fault stands from the start.
TEST_F(RecordWriterTest, AnIaDirectoryThatCannotBeWrittenHoldsOnlyItsSeats) {
  testing_support::FaultEnv disk;
  disk.Fail(testing_support::FaultEnv::kRename, "/ia/", EACCES);
  worker = new MakeUpIAFileWorker(Site(&disk));
  worker->SetPaths("", site / "ia");
  worker->SetUnitIdentity("4401020001");
  std::unique_ptr<RecordWriter> writer = NewWriter(&disk);
  writer->Open();
  testing::internal::CaptureStderr();
  const VirtualIdRecord again =
      SeatRecord("4401020001_7_" + std::to_string(logon + 100) + "_", "seat", logon + 100, 0, 1);
  for (const VirtualIdRecord& record : {Logon(7), Logoff(7), Logon(8)}) Put(*writer, record);
  const std::int64_t before = disk.NowMillis();
  EXPECT_TRUE(writer->WriteQueued());  // every record is in its files
  Put(*writer, again);
  EXPECT_FALSE(writer->WriteQueued());  // the next session waits for the hand-off
  EXPECT_LT(disk.NowMillis() - before, 1000);
  EXPECT_EQ(FileSize(DayFile()), 4 * kRecord);
  EXPECT_EQ(FileSize(IpFile(7)), 2 * kRecord);
  EXPECT_EQ(FileSize(IpFile(8)), kRecord);
  EXPECT_TRUE(IaFiles().empty());
  EXPECT_EQ(writer->Counters().handOffsWaiting, 1u);
  ASSERT_EQ(writer->Counters().faults.size(), 1u);
  EXPECT_EQ(writer->Counters().faults[0].output, kIaDirectoryOutput);

  disk.Heal();
  EXPECT_TRUE(writer->WriteQueued());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(IaFiles().size(), 1u);
  EXPECT_EQ(FileSize(IpFile(7)), kRecord);  // the next session's, alone
  EXPECT_TRUE(writer->Counters().faults.empty());

  MakeUpIAFileWorkerPtr unset = new MakeUpIAFileWorker(Site());
  RecordWriter without(port::Env::Default(), Vdb() + "/", WriteOptions());
  without.SetIAFileWorker(unset.get());
  testing::internal::CaptureStderr();
  without.Open();
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(without.Counters().faults.size(), 1u);
  EXPECT_EQ(without.Counters().faults[0].output, kIaDirectoryOutput);
}
