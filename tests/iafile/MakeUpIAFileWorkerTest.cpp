#include "iafile/MakeUpIAFileWorker.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <list>

#include "TestSupport.h"
#include "RecordExportReader.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

using namespace tessel;

using testing_support::Exists;
using testing_support::ImRecord;
using testing_support::InfoRecord;
using testing_support::ListDir;
using testing_support::ReadFile;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

const char kPrefix[] = "4401020001_3232235786_1700000000_";

// Runs SelectRecords on a fresh worker and returns what it chose.
std::vector<VirtualIdRecord> Select(std::list<VirtualIdRecord> group) {
  TempDir site;
  MakeUpIAFileWorkerPtr worker = new MakeUpIAFileWorker(SiteAt(port::Env::Default(), site.path()));
  worker->SelectRecords(group);
  return std::vector<VirtualIdRecord>(worker->Selected().begin(), worker->Selected().end());
}

VirtualIdRecord Interval(int type, int begin, int end, const std::string& account = "acc") {
  return InfoRecord(kPrefix, type, account, begin, end);
}

VirtualIdRecord AltInterval(int type, int begin, int end) {
  VirtualIdRecord record = InfoRecord(kPrefix, type, "acc", 0, 0);
  record.SetInt(rec::kAltBeginTime, begin);
  record.SetInt(rec::kAltEndTime, end);
  return record;
}


int ReadCounter(const std::string& path) {
  const std::string bytes = ReadFile(path);
  if (bytes.size() != 4) return -1;
  VirtualIdRecord scratch;
  std::memcpy(scratch.bytes, bytes.data(), 4);
  return scratch.Int(0);
}

// A site with its virtualdb directory, an IA output directory and a worker.
class IPFileTest : public ::testing::Test {
 protected:
  IPFileTest() : context(SiteAt(port::Env::Default(), site.path())) {
    MakeDirsFor(context.VirtualDbDir());
    ia = site / "up";
    MakeDirsFor(ia + "/");
    worker = new MakeUpIAFileWorker(context);
    worker->SetPaths("ignored", ia);
    worker->SetUnitIdentity("4401020001");
  }
  static void MakeDirsFor(const std::string& dir) {
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  }
  std::string IpFile() const { return context.VirtualDbDir() + "261207_3232235786.RiaBase"; }
  void Convert() { worker->MakeUpIPFile(IpFile(), "261207_3232235786.RiaBase", "261207"); }
  std::string IaFile(int n) const {
    return ia + "/4401020001_261207_3232235786_" + std::to_string(n) + ".ria";
  }
  std::string Counter() const { return context.VirtualDbDir() + "261207_iaFileNum.dat"; }

  TempDir site;
  const SiteContext context;
  std::string ia;
  MakeUpIAFileWorkerPtr worker;
};

}  // namespace

TEST(SelectRecordsTest, ImGroupMergesIntoItsFirstRecord) {
  std::vector<VirtualIdRecord> chosen =
      Select({Interval(1001, 10, 50, "first"), Interval(1001, 5, 40), Interval(1001, 20, 60)});
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].Text(rec::kAccount, 30), "first");
  EXPECT_EQ(chosen[0].BeginTime(), 5);
  EXPECT_EQ(chosen[0].EndTime(), 60);
}

TEST(SelectRecordsTest, IntervalGroupTakesEarliestThenLatest) {
  // The second takes E and is not compared for L; the third takes L.
  std::vector<VirtualIdRecord> chosen =
      Select({Interval(2, 10, 50), Interval(2, 5, 70), Interval(2, 20, 60)});
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0].BeginTime(), 5);
  EXPECT_EQ(chosen[1].BeginTime(), 20);
  // Alternative times for types 3 and 4; equal times keep the earlier record.
  chosen = Select({AltInterval(3, 10, 50), AltInterval(3, 10, 50)});
  ASSERT_EQ(chosen.size(), 1u);
  chosen = Select({AltInterval(3, 10, 50), AltInterval(3, 10, 50), AltInterval(3, 9, 49)});
  ASSERT_EQ(chosen.size(), 2u);  // E moved, L stayed on the first
  EXPECT_EQ(chosen[0].Int(rec::kAltBeginTime), 9);
  EXPECT_EQ(chosen[1].Int(rec::kAltEndTime), 50);
  chosen = Select({AltInterval(4, 10, 50), AltInterval(4, 11, 51)});
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[1].Int(rec::kAltEndTime), 51);
  // Types 19, 20 and the thousands 2 to 5 and 10 follow the same rule.
  for (int type : {19, 20, 2000, 5999, 10000, 10999}) {
    chosen = Select({Interval(type, 10, 50), Interval(type, 10, 51)});
    ASSERT_EQ(chosen.size(), 2u) << type;
  }
}

TEST(SelectRecordsTest, SeatGroupTakesItsLastRealLogoff) {
  std::vector<VirtualIdRecord> chosen =
      Select({SeatRecord(kPrefix, "a", 100, 100, 1), SeatRecord(kPrefix, "b", 100, 100, 1)});
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].Text(rec::kAccount, 30), "a");
  chosen = Select({SeatRecord(kPrefix, "a", 100, 100, 1), SeatRecord(kPrefix, "b", 100, 0, 1),
                   SeatRecord(kPrefix, "c", 100, 100, 1)});
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].Text(rec::kAccount, 30), "b");
  chosen = Select({SeatRecord(kPrefix, "a", 100, 200, 1), SeatRecord(kPrefix, "b", 100, -1, 1)});
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0].Text(rec::kAccount, 30), "a");
}

TEST(SelectRecordsTest, OtherTypesYieldTheirFirstRecord) {
  for (int type : {6000, 0, 7, 1, -2500}) {
    std::vector<VirtualIdRecord> chosen =
        Select({Interval(type, 10, 50, "first"), Interval(type, 1, 90), Interval(type, 0, 99)});
    ASSERT_EQ(chosen.size(), 1u) << type;
    EXPECT_EQ(chosen[0].Text(rec::kAccount, 30), "first") << type;
  }
}

TEST(SetPathsTest, EmptyValuesKeepWhatWasSet) {
  TempDir site;
  MakeUpIAFileWorkerPtr worker = new MakeUpIAFileWorker(SiteAt(port::Env::Default(), site.path()));
  worker->SetPaths("p", "/up");
  worker->SetPaths("p", "");
  EXPECT_EQ(worker->IaPath(), "/up");
  worker->SetUnitIdentity("44");
  worker->SetUnitIdentity("");
  EXPECT_EQ(worker->UnitIdentity(), "44");
  worker->Stop();
  EXPECT_TRUE(worker->Stopping());
}

TEST_F(IPFileTest, ConvertsGroupsInKeyOrderAndCountsFromOne) {
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(1001, 10, 50)).ok());
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(1001, 5, 60)).ok());
  Convert();

  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(IaFile(1), &entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].infoType, 1001);  // "...1001_acc" sorts before "...2_acc"
  EXPECT_EQ(entries[0].record.BeginTime(), 5);
  EXPECT_EQ(entries[0].record.EndTime(), 60);
  EXPECT_EQ(entries[1].infoType, 2);
  EXPECT_EQ(entries[0].unit, "4401020001");
  EXPECT_EQ(entries[0].unitHead, "44");
  EXPECT_EQ(entries[0].unitTail, "01020001");
  EXPECT_FALSE(Exists(IpFile()));
  EXPECT_FALSE(Exists(IpFile() + "_tmp"));
  EXPECT_EQ(ReadCounter(Counter()), 2);

  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  Convert();
  EXPECT_TRUE(Exists(IaFile(2)));
  EXPECT_EQ(ReadCounter(Counter()), 3);
}

TEST_F(IPFileTest, EmptyIpFileMakesNoIaFileButAdvancesTheCounter) {
  testing_support::WriteFile(IpFile(), "");
  Convert();
  EXPECT_TRUE(ListDir(ia).empty());
  EXPECT_FALSE(Exists(IpFile()));
  EXPECT_FALSE(Exists(IpFile() + "_tmp"));
  EXPECT_EQ(ReadCounter(Counter()), 2);
}

TEST_F(IPFileTest, MissingIaDirectoryIsCreated) {
  worker->SetPaths("", site / "gone/deeper");
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  Convert();
  EXPECT_TRUE(Exists(site / "gone/deeper/4401020001_261207_3232235786_1.ria"));
  EXPECT_FALSE(Exists(IpFile()));
}

TEST_F(IPFileTest, ExistingIaFileIsNeverReplaced) {
  testing_support::WriteFile(IaFile(1), "earlier");
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  Convert();
  EXPECT_EQ(ReadFile(IaFile(1)), "earlier");
  EXPECT_TRUE(Exists(IaFile(2)));
  EXPECT_EQ(ReadCounter(Counter()), 3);
}

TEST_F(IPFileTest, IaFileThatCannotBePlacedKeepsTheIpFile) {
  testing_support::WriteFile(site / "plain", "a file, not a directory");
  worker->SetPaths("", site / "plain/ia");
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  Convert();  // gives up after the worker's 200 ms
  EXPECT_EQ(testing_support::FileSize(IpFile()), static_cast<long>(rec::kSize));
  EXPECT_FALSE(Exists(IpFile() + "_tmp"));
  EXPECT_FALSE(Exists(Counter()));
  // Placed at the next log-off once the directory is usable again.
  worker->SetPaths("", ia);
  Convert();
  EXPECT_TRUE(Exists(IaFile(1)));
  EXPECT_FALSE(Exists(IpFile()));
}

// A name cut by the length limit before its extension holds no "." to
// put the number at: nothing is made, and the IP file and counter stay.
TEST_F(IPFileTest, NameCutBeforeItsExtensionMakesNothing) {
  // "<dir>/4401020001_261207_3232235786" alone reaches the 258-character cut.
  const std::string longDir = ia + "/" + std::string(232 - ia.size(), 'd');
  worker->SetPaths("", longDir);
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  Convert();
  EXPECT_EQ(testing_support::FileSize(IpFile()), static_cast<long>(rec::kSize));
  EXPECT_FALSE(Exists(IpFile() + "_tmp"));
  EXPECT_FALSE(Exists(Counter()));
  EXPECT_TRUE(ListDir(ia).empty());
}

TEST_F(IPFileTest, WithoutAnIaDirectoryNothingIsConverted) {
  MakeUpIAFileWorkerPtr unset = new MakeUpIAFileWorker(context);
  unset->SetUnitIdentity("4401020001");
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  unset->MakeUpIPFile(IpFile(), "261207_3232235786.RiaBase", "261207");
  EXPECT_TRUE(Exists(IpFile()));
  EXPECT_FALSE(Exists(Counter()));
}

// Under a file-size limit the IA file cannot take its one record: the IP
// file must survive for the next log-off instead of an empty IA file.
TEST_F(IPFileTest, FailedExportKeepsTheIpFile) {
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {2000, 2000};  // a record's line is over 2500 bytes
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    Convert();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(testing_support::FileSize(IpFile()), static_cast<long>(rec::kSize));
  EXPECT_FALSE(Exists(IpFile() + "_tmp"));
  EXPECT_TRUE(ListDir(ia).empty());
  EXPECT_FALSE(Exists(Counter()));
}

TEST_F(IPFileTest, ShortUnitIdentityStillMakesTheFile) {
  MakeUpIAFileWorkerPtr shortUnit = new MakeUpIAFileWorker(context);
  shortUnit->SetPaths("", ia);
  shortUnit->SetUnitIdentity("7");
  ASSERT_TRUE(AppendRecord(port::Env::Default(), IpFile(), Interval(2, 10, 50)).ok());
  shortUnit->MakeUpIPFile(IpFile(), "261207_3232235786.RiaBase", "261207");
  std::vector<RecordExportEntry> entries;
  ASSERT_TRUE(ReadRecordExportFile(ia + "/7_261207_3232235786_1.ria", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].unitHead, "7");
  EXPECT_EQ(entries[0].unitTail, "");
}

TEST_F(IPFileTest, MakeUpIAFileFailsOnAMissingSource) {
  const std::string source = context.VirtualDbDir() + "none.RiaBase";
  EXPECT_FALSE(worker->MakeUpIAFile(source.c_str(), IaFile(1).c_str(), {source}));
  EXPECT_FALSE(worker->MakeUpIAFile(nullptr, IaFile(1).c_str(), {source}));
  EXPECT_FALSE(Exists(source + "_tmp"));
  EXPECT_TRUE(ListDir(ia).empty());
}
