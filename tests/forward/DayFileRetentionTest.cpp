// Day files removed once older than the days kept and sent to every
// upstream; what is not theirs to remove, or not yet sent, stays. And the
// progress file of a server spelt another way.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/SiteFiles.h"
#include "forward/DayFileRetention.h"
#include "forward/ProgressSpelling.h"
#include "record/DayStamp.h"
#include "record/ProgressFile.h"

using namespace tessel;
using namespace testing_support;

namespace {

const std::time_t kDay = 24 * 3600;

class DayFileRetentionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port::Env::Default()->CreateDir(site / kVirtualDbDirName);
    context = SiteAt(port::Env::Default(), site.path() + "/");
    today = LocalMidnight(std::time(nullptr));
  }
  // The local midnight `days` before today's (noon first: a day of summer
  // time's change is not 24 hours long).
  std::time_t DaysAgo(int days) const { return LocalMidnight(today + kDay / 2 - days * kDay); }
  std::string InDb(const std::string& name) const {
    return JoinPath(site / kVirtualDbDirName, name);
  }
  std::string Day(int daysAgo) const { return DayStamp(DaysAgo(daysAgo)); }
  void Progress(const std::string& host, int port, int daysAgo) {
    tessel::Progress progress;
    progress.day = static_cast<std::int32_t>(DaysAgo(daysAgo));
    unsigned char bytes[kProgressSize];
    EncodeProgress(progress, bytes);
    WriteFile(ProgressFileName(site / kVirtualDbDirName, host, static_cast<unsigned short>(port)),
              std::string(reinterpret_cast<char*>(bytes), sizeof bytes));
  }
  ServerList Servers(const std::string& entries, int count) {
    return ParseServerList("[P2PVIRTUALID]\nAddrCount=" + std::to_string(count) + "\n" + entries);
  }

  TempDir site;
  SiteContext context;
  std::time_t today = 0;
};

}  // namespace

TEST_F(DayFileRetentionTest, RemovesOldDaysEveryUpstreamHasAndNothingElse) {
  for (int days : {10, 3, 1, 0})
    WriteFile(InDb(Day(days) + kRecordFileExtension), std::string(1247, 'r'));
  WriteFile(InDb(Day(10) + ".RiaBase.1700000000"), "damaged");
  WriteFile(InDb(Day(10) + "_iaFileNum.dat"), "3");
  WriteFile(InDb(Day(3) + "_iaFileNum.dat"), "1");
  WriteFile(InDb(Day(3) + "_3232235786.RiaBase"), std::string(1247, 'i'));  // its seat not yet off
  WriteFile(InDb("4401027777_" + Day(10) + "_3232235786_1.ria"), "ia");
  const ServerList list = Servers(
      "ServerAddr_0=10.0.0.1\nServerPort_0=9000\n"
      "ServerAddr_1=10.0.0.2\nServerPort_1=9001\nIsOverdue_1=1\n",
      2);
  Progress("10.0.0.1", 9000, 2);  // past day -3; the overdue server's progress is not asked

  // Off, and unusable lists, remove nothing.
  EXPECT_EQ(DayFileRetention(context, 0).Pass(list), 0);
  EXPECT_EQ(DayFileRetention(context, 2).Pass(ParseServerList("")), 0);

  DayFileRetention retention(context, 2);
  testing::internal::CaptureStderr();
  EXPECT_EQ(retention.Pass(list), 4);
  testing::internal::GetCapturedStderr();
  for (const std::string& gone : {Day(10) + ".RiaBase", Day(10) + ".RiaBase.1700000000",
                                  Day(10) + "_iaFileNum.dat", Day(3) + ".RiaBase"})
    EXPECT_FALSE(Exists(InDb(gone))) << gone;
  for (const std::string& kept :
       {Day(3) + "_iaFileNum.dat", Day(3) + "_3232235786.RiaBase", Day(1) + ".RiaBase",
        Day(0) + ".RiaBase", "4401027777_" + Day(10) + "_3232235786_1.ria"})
    EXPECT_TRUE(Exists(InDb(kept))) << kept;
}

TEST_F(DayFileRetentionTest, AServerBehindOrWithoutProgressKeepsWhatItHasNotSent) {
  WriteFile(InDb(Day(10) + kRecordFileExtension), std::string(1247, 'r'));
  const ServerList list = Servers(
      "ServerAddr_0=10.0.0.1\nServerPort_0=9000\n"
      "ServerAddr_1=10.0.0.2\nServerPort_1=9001\n",
      2);
  Progress("10.0.0.1", 9000, 0);
  DayFileRetention retention(context, 2);
  EXPECT_EQ(retention.Pass(list), 0);  // 10.0.0.2 has no progress yet
  Progress("10.0.0.2", 9001, 10);      // still on that day
  EXPECT_EQ(DayFileRetention(context, 2).Pass(list), 0);
  Progress("10.0.0.2", 9001, 9);
  EXPECT_EQ(retention.Pass(list), 0);  // once an hour
  testing::internal::CaptureStderr();
  EXPECT_EQ(DayFileRetention(context, 2).Pass(list), 1);
  testing::internal::GetCapturedStderr();
}

TEST_F(DayFileRetentionTest, AnotherSpellingOfTheSameServerIsFound) {
  const std::string dir = site / kVirtualDbDirName;
  Progress("127.0.0.1", 9000, 0);
  EXPECT_EQ(OtherSpellingProgress(port::Env::Default(), dir, "localhost", 9000),
            ProgressFileName(dir, "127.0.0.1", 9000));
  EXPECT_EQ(OtherSpellingProgress(port::Env::Default(), dir, "localhost", 9001), "");
  EXPECT_EQ(OtherSpellingProgress(port::Env::Default(), dir, "127.0.0.1", 9000), "");
  EXPECT_EQ(OtherSpellingProgress(port::Env::Default(), dir, "10.0.0.9", 9000), "");
  Progress("localhost", 9000, 0);  // both exist: the new spelling has its own
  EXPECT_EQ(OtherSpellingProgress(port::Env::Default(), dir, "localhost", 9000), "");
}
