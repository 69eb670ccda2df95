#include "iafile/RiaBaseFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "TestSupport.h"

using testing_support::FileSize;
using testing_support::ImRecord;
using testing_support::TempDir;

TEST(RiaBaseFileTest, ReadsWholeRecordsAndIgnoresAShortTail) {
  TempDir dir;
  const std::string path = dir / "261207.RiaBase";
  const VirtualIdRecord a = ImRecord("U_1_2_", 1001, "a", 1, 2, 0);
  const VirtualIdRecord b = ImRecord("U_1_2_", 1001, "b", 1, 2, 0);
  ASSERT_TRUE(AppendRecord(path, a));
  ASSERT_TRUE(AppendRecord(path, b));
  testing_support::AppendFile(path, std::string(100, 'x'));
  std::vector<VirtualIdRecord> records;
  ASSERT_TRUE(ReadRecords(path, &records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].Text(rec::kAccount, 30), "b");
  EXPECT_FALSE(ReadRecords(dir / "missing", &records));
}

TEST(RiaBaseFileTest, NamesOfTheRecordFiles) {
  TempDir dir;
  testing_support::ScopedEnv home("TESSEL_HOME", dir.path());
  EXPECT_EQ(VirtualDbDir(), dir.path() + "/virtualdb/");
  EXPECT_EQ(DayFilePath("261207"), dir.path() + "/virtualdb/261207.RiaBase");
  EXPECT_EQ(IpFileName("261207", "3232235786"), "261207_3232235786.RiaBase");
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
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
    if (!AppendRecord(path, record)) ::_exit(4);
    if (AppendRecord(path, record)) ::_exit(5);  // must fail
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileSize(path), static_cast<long>(rec::kSize));
}
