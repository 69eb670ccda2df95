#include "lists/PreTreatHandle.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cerrno>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "TestEnv.h"
#include "TestSupport.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "RecordExportReader.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"
#include "common/GbkTexts.h"

using namespace tessel;

using testing_support::Exists;
using testing_support::FileSize;
using testing_support::ImRecord;
using testing_support::InfoRecord;
using testing_support::ListDir;
using testing_support::ScopedEnv;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

const long kRecord = static_cast<long>(rec::kSize);

// 2023-11-14 22:13:20 UTC, already 15 November at UTC+8.
const int kLateEvening = 1700000000;

// "%y%m%d" at UTC+8, worked out without the C library's time zones.
std::string ChinaDayStamp(std::time_t t) {
  std::time_t shifted = t + 8 * 3600;
  std::tm utc;
  ::gmtime_r(&shifted, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%y%m%d", &utc);
  return text;
}

// Ends a pass of the handler as its thread would.
class PassEnding : public preTreatHandle {
 public:
  PassEnding(const SiteContext& site, int drainIntervalMs) : preTreatHandle(site, drainIntervalMs) {}
  using preTreatHandle::FinishPass;
};

// A temporary site at UTC+8 with a handler whose pauses are short.
class PreTreatTest : public ::testing::Test {
 protected:
  PreTreatTest() : tz("TZ", "CST-8") {
    ::tzset();
    handler = NewHandler();
    worker = new MakeUpIAFileWorker(Site());
    worker->SetPaths("", site / "ia");
    worker->SetUnitIdentity("4401020001");
  }
  ~PreTreatTest() override { ::tzset(); }

  preTreatHandlePtr NewHandler() const {
    preTreatHandlePtr h = new preTreatHandle(Site(), 50);
    h->Initialize();
    return h;
  }
  SiteContext Site(port::Env* env = port::Env::Default()) const { return SiteAt(env, site.path()); }
  std::string Vdb() const { return site / "virtualdb"; }
  std::string DayFile() const {
    return DayFileName(Site().VirtualDbDir(), ChinaDayStamp(std::time(nullptr)));
  }
  std::string Put(VirtualIdRecord record, int flag) {
    testing::internal::CaptureStdout();
    handler->PutNetLogToP2P(record, flag);
    return testing::internal::GetCapturedStdout();
  }
  void Apply(VirtualIdRecord record) {
    testing::internal::CaptureStdout();
    handler->UpdateList(record);
    testing::internal::GetCapturedStdout();
  }

  TempDir site;
  ScopedEnv tz;
  preTreatHandlePtr handler;
  MakeUpIAFileWorkerPtr worker;
};

}  // namespace

TEST_F(PreTreatTest, SameRecordPutOnTwiceIsWrittenOnce) {
  const int now = static_cast<int>(std::time(nullptr));
  const std::string prefix = "4401020001_3232235786_" + std::to_string(now) + "_";
  VirtualIdRecord im = ImRecord(prefix, 1001, "12345", 77, 88, 0);
  const std::string keyword =
      "4401020001_3232235786_" + std::to_string(now) + "_1001_12345_77_1";
  EXPECT_EQ(Put(im, 1), "preTreatHandle::PutNetLogToP2P -- keyword : " + keyword +
                            "; Input Flag:1,Info Type:2,Output Flag:1, " + gbk::kLogonTimeWord +
                            ":0," + gbk::kLogoffTimeWord + ":0;" + gbk::kLogonTimeWord + ":0," +
                            gbk::kLogoffTimeWord + ":0.\r\n");
  EXPECT_EQ(Put(im, 1), "");
  EXPECT_EQ(Put(im, 0), "");  // same kind, same keyword
  EXPECT_EQ(FileSize(DayFile()), kRecord);
  const std::string ipFile = Vdb() + "/" + ChinaDayStamp(now) + "_3232235786.RiaBase";
  EXPECT_EQ(FileSize(ipFile), kRecord);
  std::vector<VirtualIdRecord> written;
  ASSERT_TRUE(ReadRecords(port::Env::Default(), DayFile(), &written).ok());
  EXPECT_EQ(written[0].InputFlag(), 1);
  EXPECT_EQ(handler->SentKeywordCount(), 1u);
  EXPECT_TRUE(handler->HasSentKeyword(keyword));
  EXPECT_EQ(testing_support::ReadFile(Vdb() + "/virtualdb.db").substr(0, keyword.size() + 1),
            keyword + '\0');
}

TEST_F(PreTreatTest, OtherInfoPutOffWritesNothingAndKeepsNoKeyword) {
  VirtualIdRecord info = InfoRecord("4401020001_3232235786_0", 6000, "info", 5, 6);
  const std::string printed = Put(info, 0);
  EXPECT_NE(printed.find("keyword : 4401020001_3232235786__6000_info_0_1; Input Flag:0,Info "
                         "Type:4,Output Flag:1"),
            std::string::npos)
      << printed;
  EXPECT_FALSE(Exists(DayFile()));
  EXPECT_EQ(handler->SentKeywordCount(), 0u);
  // Put on later, it is written; with time key 0 its IP file has today's date.
  Put(info, 1);
  EXPECT_EQ(FileSize(DayFile()), kRecord);
  EXPECT_EQ(FileSize(Vdb() + "/" + ChinaDayStamp(std::time(nullptr)) + "_3232235786.RiaBase"),
            kRecord);
}

TEST_F(PreTreatTest, RealnameLogoffClosesTheSeatIntoANumberedIaFile) {
  handler->SetIAFileWorker(worker.get());
  const std::string prefix = "4401020001_3232235786_" + std::to_string(kLateEvening) + "_";
  const std::string stamp = ChinaDayStamp(kLateEvening);
  ASSERT_EQ(stamp, "231115");
  Apply(SeatRecord(prefix, "seat", kLateEvening, 0, 1));  // logoff 0: a log-on
  Apply(ImRecord(prefix, 1001, "12345", 10, 20, 0));
  const std::string ipFile = Vdb() + "/231115_3232235786.RiaBase";
  std::vector<VirtualIdRecord> seatRecords;
  ASSERT_TRUE(ReadRecords(port::Env::Default(), ipFile, &seatRecords).ok());
  ASSERT_EQ(seatRecords.size(), 2u);
  EXPECT_EQ(seatRecords[0].LogoffTime(), kLateEvening);  // written as a log-on

  Apply(SeatRecord(prefix, "seat", kLateEvening, kLateEvening + 3600, 1));
  EXPECT_FALSE(Exists(ipFile));
  EXPECT_EQ(ListDir(site / "ia"), std::vector<std::string>{"4401020001_231115_3232235786_1.ria"});
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(site / "ia/4401020001_231115_3232235786_1.ria", &entries));
  ASSERT_EQ(entries.size(), 2u);  // the IM account, then the seat's log-off
  EXPECT_EQ(entries[0].infoType, 1001);
  EXPECT_EQ(entries[1].record.LogoffTime(), kLateEvening + 3600);
  EXPECT_EQ(entries[1].record.InputFlag(), 0);

  std::vector<VirtualIdRecord> day;
  ASSERT_TRUE(ReadRecords(port::Env::Default(), DayFile(), &day).ok());
  ASSERT_EQ(day.size(), 3u);  // the IM put off has the keyword of its put on
  EXPECT_EQ(day[2].InputFlag(), 0);
  EXPECT_TRUE(handler->HasSentKeyword("4401020001_3232235786_" + std::to_string(kLateEvening) +
                                      "_900_seat_0_0"));
  EXPECT_EQ(testing_support::ReadFile(Vdb() + "/231115_iaFileNum.dat"),
            std::string("\x02\0\0\0", 4));
}

TEST_F(PreTreatTest, WithoutAWorkerTheIpFileStays) {
  const std::string prefix = "4401020001_3232235786_" + std::to_string(kLateEvening) + "_";
  Put(SeatRecord(prefix, "seat", kLateEvening, kLateEvening + 60, 1), 0);
  EXPECT_EQ(FileSize(DayFile()), kRecord);
  EXPECT_EQ(FileSize(Vdb() + "/231115_3232235786.RiaBase"), kRecord);
}

TEST_F(PreTreatTest, KeywordSurvivesARestart) {
  const int recent = static_cast<int>(std::time(nullptr)) - 100;
  const std::string prefix = "4401020001_3232235786_" + std::to_string(recent) + "_";
  VirtualIdRecord im = ImRecord(prefix, 1001, "12345", 1, 2, 0);
  Put(im, 1);
  handler = NewHandler();
  EXPECT_EQ(handler->SentKeywordCount(), 1u);
  EXPECT_EQ(Put(im, 1), "");
  EXPECT_EQ(FileSize(DayFile()), kRecord);
}

// A stop between a record's write and its keyword's save: at the next start
// the keyword is taken back from the day file and the record appended to
// its IP file again, so the same record sent again is not written twice.
TEST_F(PreTreatTest, KeywordsMissingForTheLastRecordsAreTakenBackAtStart) {
  const int recent = static_cast<int>(std::time(nullptr)) - 100;
  const std::string prefix = "4401020001_3232235786_" + std::to_string(recent) + "_";
  VirtualIdRecord kept = ImRecord(prefix, 1001, "kept", 1, 2, 0);
  Put(kept, 1);
  VirtualIdRecord unkept = ImRecord(prefix, 1001, "unkept", 1, 2, 0);
  unkept.SetInt(rec::kInputFlag, 1);
  ASSERT_TRUE(AppendRecord(port::Env::Default(), DayFile(), unkept).ok());
  const std::string ipFile = Vdb() + "/" + ChinaDayStamp(recent) + "_3232235786.RiaBase";
  ASSERT_EQ(FileSize(ipFile), kRecord);

  testing::internal::CaptureStderr();
  handler = NewHandler();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(handler->SentKeywordCount(), 2u);
  EXPECT_EQ(FileSize(ipFile), 2 * kRecord);
  EXPECT_EQ(Put(unkept, 1), "");
  EXPECT_EQ(FileSize(DayFile()), 2 * kRecord);
  handler = NewHandler();  // the keyword is in the store now: nothing more to take back
  EXPECT_EQ(FileSize(ipFile), 2 * kRecord);
  EXPECT_EQ(FileSize(Vdb() + "/virtualdb.db"), 2 * 132);
}

// Keywords leave memory once a restart would drop them and they have been
// in memory for three days: a seat log-on time of 0 or one nearly three
// days old does not make a record sent again be written again, and the
// store sheds their records once they outnumber the live ones.
TEST_F(PreTreatTest, KeywordsLeaveMemoryAfterThreeDaysInIt) {
  testing_support::MovedClockEnv clock;
  IceUtil::Handle<PassEnding> running = new PassEnding(Site(&clock), 50);
  running->Initialize();
  const int soonOld = static_cast<int>(std::time(nullptr)) - 259200 + 30;
  VirtualIdRecord old = ImRecord("4401020001_3232235786_" + std::to_string(soonOld) + "_", 1001,
                                 "old", 1, 2, 0);
  VirtualIdRecord timeless = ImRecord("4401020001_3232235786_0_", 1001, "zero", 1, 2, 0);
  testing::internal::CaptureStdout();
  running->PutNetLogToP2P(old, 1);
  running->PutNetLogToP2P(timeless, 1);
  EXPECT_EQ(running->SentKeywordCount(), 2u);
  clock.Advance(61 * 1000);
  running->FinishPass();  // the minute's look: both stay
  running->PutNetLogToP2P(old, 1);
  running->PutNetLogToP2P(timeless, 1);
  EXPECT_EQ(FileSize(DayFile()), 2 * kRecord);
  EXPECT_EQ(running->SentKeywordCount(), 2u);

  clock.Advance(259200 * 1000);
  running->FinishPass();
  EXPECT_EQ(running->SentKeywordCount(), 0u);
  EXPECT_EQ(FileSize(Vdb() + "/virtualdb.db"), 0);
  running->PutNetLogToP2P(old, 1);
  testing::internal::GetCapturedStdout();
  // As after a restart: written again, into the day file of three days on.
  EXPECT_EQ(FileSize(DayFileName(Site().VirtualDbDir(), ChinaDayStamp(clock.NowSeconds()))), kRecord);
}

// A record that cannot be written waits, with every record after it, and is
// written once, in its place, when the day file can be written again.
TEST_F(PreTreatTest, AFailedWriteWaitsAndIsWrittenOnceInOrder) {
  ASSERT_EQ(std::system(("rm -rf '" + Vdb() + "'").c_str()), 0);
  VirtualIdRecord info = InfoRecord("4401020001_3232235786_0_", 6000, "info", 5, 6);
  Put(info, 1);
  Put(info, 1);  // already waiting: not queued twice
  EXPECT_EQ(handler->SentKeywordCount(), 0u);
  EXPECT_EQ(handler->QueuedWrites(), 1u);
  ASSERT_TRUE(MakeDirs((Vdb() + "/").c_str(), port::Env::Default()));
  Put(InfoRecord("4401020001_3232235786_0_", 6000, "next", 5, 6), 1);
  EXPECT_EQ(handler->QueuedWrites(), 0u);
  std::vector<VirtualIdRecord> day;
  ASSERT_TRUE(ReadRecords(port::Env::Default(), DayFile(), &day).ok());
  ASSERT_EQ(day.size(), 2u);
  EXPECT_EQ(day[0].Text(rec::kAccount, 30), "info");
  EXPECT_EQ(day[1].Text(rec::kAccount, 30), "next");
  EXPECT_EQ(handler->SentKeywordCount(), 2u);
}

// A full disk under the day file: records wait without a pause or a retry
// loop, one try for each record put, until there is room again.
TEST_F(PreTreatTest, DayFileWithoutSpaceTakesNothingUntilThereIsRoom) {
  testing_support::FaultEnv disk;
  disk.Fail(testing_support::FaultEnv::kWrite, ".RiaBase", ENOSPC);
  preTreatHandlePtr full = new preTreatHandle(Site(&disk), 50);
  full->Initialize();
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  auto put = [&](const char* account) {
    VirtualIdRecord record = InfoRecord("4401020001_3232235786_0_", 6000, account, 5, 6);
    full->PutNetLogToP2P(record, 1);
  };
  put("a");
  put("b");
  EXPECT_EQ(full->QueuedWrites(), 2u);
  EXPECT_TRUE(full->SentKeywordCount() == 0);
  EXPECT_LE(FileSize(DayFile()), 0);
  EXPECT_EQ(FileSize(Vdb() + "/virtualdb.db"), 0);  // no keyword saved
  const int tries = disk.failures();

  disk.Heal();
  put("c");
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(tries, 2);  // one for each record put, none in between
  EXPECT_EQ(FileSize(DayFile()), 3 * kRecord);
  EXPECT_EQ(full->SentKeywordCount(), 3u);
}

// Under a file-size limit the day file takes the first record and refuses
// the second: the short write is taken back and the keyword not stored.
TEST_F(PreTreatTest, ShortAppendIsAFailure) {
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {static_cast<rlim_t>(rec::kSize + 200),
                           static_cast<rlim_t>(rec::kSize + 200)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    VirtualIdRecord a = InfoRecord("4401020001_3232235786_0_", 6000, "a", 5, 6);
    VirtualIdRecord b = InfoRecord("4401020001_3232235786_0_", 6000, "b", 5, 6);
    handler->PutNetLogToP2P(a, 1);
    handler->PutNetLogToP2P(b, 1);
    ::_exit(handler->SentKeywordCount() == 1 ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileSize(DayFile()), kRecord);
}

TEST(PreTreatHandleTest, KeywordAndLogonTimeFromTheRecord) {
  TempDir site;
  preTreatHandlePtr handler = new preTreatHandle(SiteAt(port::Env::Default(), site.path()));
  std::string keyword;
  VirtualIdRecord record = InfoRecord("U_1_2_", 1000, std::string(40, 'a'), 123, 456);
  EXPECT_EQ(handler->MakeKeyword(record, keyword), "U_1_2_1000_" + std::string(30, 'a') + "_123");
  record = SeatRecord("U_1_2_", "seat", 5, 5, 1);
  record.SetInt(rec::kBeginTime, 99);
  EXPECT_EQ(handler->MakeKeyword(record, keyword), "U_1_2_900_seat_0");
  EXPECT_EQ(handler->GetLogonTime("K_3232235786_1700000000_"), 1700000000);
  EXPECT_EQ(handler->GetLogonTime("K_3232235786_1700000000_0"), 0);
  EXPECT_EQ(handler->GetLogonTime("K3232235786"), 0);
}
