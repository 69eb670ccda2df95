#include "record/RiaBaseFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "TestEnv.h"
#include "TestSupport.h"

using namespace tessel;

using testing_support::FileSize;
using testing_support::ImRecord;
using testing_support::TempDir;

TEST(RiaBaseFileTest, ReadsWholeRecordsAndIgnoresAShortTail) {
  TempDir dir;
  const std::string path = dir / "261207.RiaBase";
  const VirtualIdRecord a = ImRecord("U_1_2_", 1001, "a", 1, 2, 0);
  const VirtualIdRecord b = ImRecord("U_1_2_", 1001, "b", 1, 2, 0);
  ASSERT_TRUE(AppendRecord(port::Env::Default(), path, a).ok());
  ASSERT_TRUE(AppendRecord(port::Env::Default(), path, b).ok());
  testing_support::AppendFile(path, std::string(100, 'x'));
  std::vector<VirtualIdRecord> records;
  ASSERT_TRUE(ReadRecords(port::Env::Default(), path, &records).ok());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].Text(rec::kAccount, 30), "b");
  EXPECT_FALSE(ReadRecords(port::Env::Default(), dir / "missing", &records).ok());
}

// A file-size limit makes the second append fall short: it must report
// failure and leave exactly the first record in the file.
TEST(RiaBaseFileTest, ShortAppendIsCutBackAndFails) {
  TempDir dir;
  const std::string path = dir / "day.RiaBase";
  const VirtualIdRecord record = ImRecord("U_1_2_", 1001, "a", 1, 2, 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {static_cast<rlim_t>(rec::kSize + 500),
                           static_cast<rlim_t>(rec::kSize + 500)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    if (!AppendRecord(port::Env::Default(), path, record).ok()) ::_exit(4);
    if (AppendRecord(port::Env::Default(), path, record).ok()) ::_exit(5);  // must fail
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileSize(path), static_cast<long>(rec::kSize));
}

// A disk that fills up in the middle of a record: the part that went in is
// taken back, and the failure names the file and the reason.
TEST(RiaBaseFileTest, AppendCutShortByAFullDiskLeavesWholeRecords) {
  TempDir dir;
  const std::string path = dir / "day.RiaBase";
  testing_support::FaultEnv disk;
  ASSERT_TRUE(AppendRecord(&disk, path, ImRecord("U_1_2_", 1001, "a", 1, 1, 0)).ok());
  disk.ShortWrite("day.RiaBase", 500);
  const port::Status status = AppendRecord(&disk, path, ImRecord("U_1_2_", 1001, "b", 1, 1, 0));
  EXPECT_EQ(status.error(), ENOSPC);
  EXPECT_NE(status.ToString().find(path), std::string::npos);
  EXPECT_EQ(FileSize(path), static_cast<long>(rec::kSize));
}

// The reader tells a file of whole records from one whose last record is
// still being appended, and from one that ends in part of a record for good.
TEST(RiaBaseFileTest, ReaderTellsWholeGrowingAndDamagedFiles) {
  TempDir dir;
  const std::string path = dir / "day.RiaBase";
  port::Env* env = port::Env::Default();
  const VirtualIdRecord a = ImRecord("U_1_2_", 1001, "a", 1, 1, 0);
  ASSERT_TRUE(AppendRecord(env, path, a).ok());
  RiaBaseReader reader(env);
  ASSERT_TRUE(reader.Open(path).ok());
  EXPECT_EQ(reader.Look(true), RiaBaseReader::kWhole);
  VirtualIdRecord read;
  ASSERT_TRUE(reader.ReadAt(0, &read));
  EXPECT_EQ(read.Text(rec::kAccount, 30), "a");
  EXPECT_FALSE(reader.ReadAt(rec::kSize, &read));

  testing_support::AppendFile(path, std::string(100, 'x'));
  EXPECT_EQ(reader.Look(true), RiaBaseReader::kStillGrowing);
  EXPECT_EQ(reader.Look(false), RiaBaseReader::kDamaged);
  EXPECT_EQ(reader.size(), rec::kSize + 100);
  EXPECT_FALSE(reader.ReadAt(rec::kSize, &read));
  EXPECT_FALSE(RiaBaseReader(env).Open(dir / "missing").ok());
}
