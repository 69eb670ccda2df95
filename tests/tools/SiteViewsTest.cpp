// What riadump shows of a site.
#include "SiteViews.h"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <map>
#include <sstream>

#include "TestSupport.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "lists/IntakeJournal.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"
#include "common/PathHelpers.h"

using namespace tessel;

using namespace testing_support;

namespace {

std::string ProgressBytes(std::int32_t day, std::int32_t offset) {
  VirtualIdRecord scratch;
  scratch.SetInt(0, day);
  scratch.SetInt(4, offset);
  return std::string(reinterpret_cast<const char*>(scratch.bytes), 8);
}

void AppendRecords(const std::string& path, int n) {
  for (int i = 0; i < n; ++i) ASSERT_TRUE(AppendRecord(port::Env::Default(), path, ImRecord("U_1_2_", 1001, "a", i, i, 0)).ok());
}

}  // namespace

TEST(SiteViewsTest, StatusCountsTodayAndHowFarEachServerIsBehind) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  TempDir site;
  MakeDirs((site / "virtualdb/").c_str(), tessel::port::Env::Default());
  const std::time_t now = 1796688000 + 3600;  // 2026-12-08 01:00 UTC
  const std::time_t yesterday = 1796688000 - 86400;
  AppendRecords(site / ("virtualdb/" + DayStamp(yesterday) + ".RiaBase"), 4);
  AppendRecords(site / ("virtualdb/" + DayStamp(now) + ".RiaBase"), 3);
  WriteFile(site / "virtualdb/virtualdb.db", std::string(2 * 132, '\0'));
  // One server is one record into yesterday; the other is done.
  WriteFile(site / "virtualdb/127.0.0.1_9000.spg", ProgressBytes(static_cast<std::int32_t>(yesterday), 1247));
  WriteFile(site / "virtualdb/127.0.0.1_9001.spg",
            ProgressBytes(static_cast<std::int32_t>(now - 3600), 3 * 1247));

  views::SiteStatus status = views::CollectStatus(site.path(), site.path(), now);
  EXPECT_EQ(status.today, "261208");
  EXPECT_EQ(status.todayRecords, 3);
  EXPECT_EQ(status.keywords, 2);
  ASSERT_EQ(status.servers.size(), 2u);
  std::map<std::string, long> behind;
  for (const auto& server : status.servers) behind[server.name] = server.behind;
  EXPECT_EQ(behind["127.0.0.1_9000"], 3 + 3);
  EXPECT_EQ(behind["127.0.0.1_9001"], 0);

  std::ostringstream out;
  views::ShowStatus(status, out);
  EXPECT_NE(out.str().find("upstream 127.0.0.1_9000: at 261207 offset 1247, 6 records behind"),
            std::string::npos) << out.str();
}

// A damaged progress file naming a day long ago (1901): the day files there
// are count, and only they are looked at, not every day since.
TEST(SiteViewsTest, StatusOfAProgressFileFromLongAgo) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  TempDir site;
  MakeDirs((site / "virtualdb/").c_str(), tessel::port::Env::Default());
  const std::time_t now = 1796688000 + 3600;  // 2026-12-08 01:00 UTC
  AppendRecords(site / ("virtualdb/" + DayStamp(now - 3 * 86400) + ".RiaBase"), 2);
  AppendRecords(site / ("virtualdb/" + DayStamp(now) + ".RiaBase"), 3);
  AppendRecords(site / ("virtualdb/" + DayStamp(now) + "_3232235786.RiaBase"), 5);  // an IP file
  WriteFile(site / "virtualdb/127.0.0.1_9000.spg", ProgressBytes(-2145916800, 1247));  // 1902-01-01
  views::SiteStatus status = views::CollectStatus(site.path(), site.path(), now);
  ASSERT_EQ(status.servers.size(), 1u);
  EXPECT_EQ(status.servers[0].behind, 2 + 3);
}

TEST(SiteViewsTest, FileViewsDecodeAndRejectWhatIsNotTheirs) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  TempDir dir;
  std::ostringstream out, err;
  AppendFile(dir / "day.RiaBase", std::string(reinterpret_cast<const char*>(
      SeatRecord("4401020001_16777343_1700000000_", "\xd5\xc5\xc8\xfd", 1700000000, 0, 0x7F000001).bytes), 1247));
  AppendFile(dir / "day.RiaBase", std::string(100, 'x'));
  EXPECT_TRUE(views::ShowRiaBase(dir / "day.RiaBase", out, err));
  EXPECT_NE(out.str().find("1 records and 100 bytes of a partial record"), std::string::npos);
  EXPECT_NE(out.str().find("kind=REALNAME_LOGON"), std::string::npos);
  EXPECT_NE(out.str().find("account=\"张三\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("ip=127.0.0.1"), std::string::npos);

  WriteFile(dir / "x.spg", "1234");
  EXPECT_FALSE(views::ShowProgress(dir / "x.spg", out, err));
  WriteFile(dir / "y.spg", ProgressBytes(1796688000, 2494));
  EXPECT_TRUE(views::ShowProgress(dir / "y.spg", out, err));
  EXPECT_NE(out.str().find("day 261208"), std::string::npos);
  EXPECT_NE(out.str().find("offset 2494 = record 2"), std::string::npos);
  // An offset inside a record is shown where the sender resumes: that
  // record's start.
  WriteFile(dir / "z.spg", ProgressBytes(1796688000, 2494 + 100));
  std::ostringstream zout;
  EXPECT_TRUE(views::ShowProgress(dir / "z.spg", zout, err));
  EXPECT_NE(zout.str().find("offset 2494 = record 2"), std::string::npos) << zout.str();

  std::string keywords(132, '\0');
  keywords.replace(0, 30, "U_1_1796688000_1001_acc_0_1xxx");
  EXPECT_TRUE(views::ShowKeywords(dir / "missing.db", 0, out, err) == false);
  WriteFile(dir / "virtualdb.db", keywords);
  std::ostringstream kout;
  EXPECT_TRUE(views::ShowKeywords(dir / "virtualdb.db", 1796688000 + 259200, kout, err));
  EXPECT_NE(kout.str().find("expired at"), std::string::npos) << kout.str();
}

// Client text reaches the screen escaped: a control sequence in an account
// or an IP key, and bytes that are not GBK.
TEST(SiteViewsTest, ClientTextIsShownEscaped) {
  const VirtualIdRecord record =
      ImRecord("4401020001_\x1b[2J_1700000000_", 1001, "\x1b[2J\xff\xd5\xc5", 1700000000, 0, 0);
  const std::string line = views::DescribeRecord(record);
  EXPECT_EQ(std::string::npos, line.find('\x1b')) << line;
  EXPECT_NE(std::string::npos, line.find("prefix=\"4401020001_\\x1b[2J_1700000000_\"")) << line;
  EXPECT_NE(std::string::npos, line.find("account=\"\\x1b[2J\\xff张\"")) << line;
}

// Each trouble the files show is a problem line (and riadump exits 1).
TEST(SiteViewsTest, StatusTellsTheTroubleTheFilesShow) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  TempDir site;
  MakeDirs((site / "virtualdb/").c_str(), tessel::port::Env::Default());
  const std::time_t now = 1796688000 + 3600;  // 2026-12-08 01:00 UTC
  const std::string vdb = site / "virtualdb/";
  EXPECT_TRUE(views::CollectStatus(site.path(), site.path(), now).problems.empty());

  AppendRecords(vdb + "261208.RiaBase", 3);
  AppendFile(vdb + "261207.RiaBase", std::string(100, 'z'));
  WriteFile(vdb + "261206.RiaBase.1796500000", std::string(1247 + 5, 'z'));
  WriteFile(vdb + "127.0.0.1_9000.spg", ProgressBytes(1796688000 + 2 * 86400, 1247));
  WriteFile(vdb + "127.0.0.1_9001.spg", "1234");
  WriteFile(vdb + "127.0.0.1_9002.spg", ProgressBytes(1796688000, 1247));
  const auto entries = [](std::uint64_t first, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
      tessel::IntakeJournal::Encode(first + i, ImRecord("U_1_2_", 1001, "a", 1, 1, 0), &out);
    return out;
  };
  WriteFile(vdb + "intake.journal.0", entries(1, 1));
  WriteFile(vdb + "intake.journal.1", entries(2, 1));
  WriteFile(vdb + "intake.journal.7", entries(3, 2));  // made after a failed sync
  // Emptied: its first entry cleared, the rest of its size kept.
  WriteFile(vdb + "intake.journal.8", std::string(4, '\0') + entries(5, 2).substr(4));
  const timeval old[2] = {{now - 3600, 0}, {now - 3600, 0}};
  for (const char* name : {"intake.journal.0", "intake.journal.7", "intake.journal.8"})
    ASSERT_EQ(0, ::utimes((vdb + name).c_str(), old));
  const timeval fresh[2] = {{now - 10, 0}, {now - 10, 0}};
  ASSERT_EQ(0, ::utimes((vdb + "intake.journal.1").c_str(), fresh));

  views::SiteStatus status = views::CollectStatus(site.path(), site.path(), now);
  views::CheckBehind(2, &status);
  std::ostringstream out;
  views::ShowStatus(status, out);
  const std::string text = out.str();
  for (const char* problem : {
           "problem: day file 261207.RiaBase ends in 100 bytes of a partial record",
           "problem: damaged day file set aside: 261206.RiaBase.1796500000 (1252 bytes",
           "problem: intake journal intake.journal.0 holds 1 record accepted but not stored",
           "problem: intake journal intake.journal.7 holds 2 records",
           "problem: upstream 127.0.0.1_9000: progress file names day 261210, after today",
           "problem: upstream 127.0.0.1_9001: progress file 127.0.0.1_9001.spg holds 4 bytes, not 8",
           "problem: upstream 127.0.0.1_9000 is 3 records behind (more than 2)"})
    EXPECT_NE(std::string::npos, text.find(problem)) << problem << "\n" << text;
  EXPECT_EQ(7u, status.problems.size()) << text;
  // The future one starts today's file afresh: all of it is behind.
  EXPECT_NE(std::string::npos, text.find("upstream 127.0.0.1_9000: at 261210 (after today) offset "
                                         "1247, 3 records behind"))
      << text;
  EXPECT_NE(std::string::npos, text.find("upstream 127.0.0.1_9002: at 261208 offset 1247, 2 records "
                                         "behind"))
      << text;
}
