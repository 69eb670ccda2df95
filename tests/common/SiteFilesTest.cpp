#include "common/SiteFiles.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/PathHelpers.h"

using namespace tessel;
using testing_support::TempDir;

TEST(SiteFilesTest, NamesOfTheRecordFiles) {
  TempDir dir;
  const SiteContext site = SiteAt(port::Env::Default(), dir.path());
  EXPECT_EQ(site.VirtualDbDir(), dir.path() + "/virtualdb/");
  EXPECT_EQ(DayFileName(site.VirtualDbDir(), "261207"), dir.path() + "/virtualdb/261207.RiaBase");
  EXPECT_EQ(IpFileBaseName("261207", "3232235786"), "261207_3232235786.RiaBase");
  std::string stamp;
  EXPECT_TRUE(ParseDayFileName("261207.RiaBase", &stamp));
  EXPECT_EQ(stamp, "261207");
  EXPECT_FALSE(ParseDayFileName("261207_3232235786.RiaBase", &stamp));
  EXPECT_FALSE(ParseDayFileName("26120x.RiaBase", &stamp));
  EXPECT_FALSE(ParseDayFileName("261207.RiaBase.1796688000", &stamp));
  EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
}

TEST(SiteFilesTest, NamesOfTheOtherFiles) {
  EXPECT_EQ(KeywordStoreFileName("/s/virtualdb/"), "/s/virtualdb/virtualdb.db");
  EXPECT_EQ(IaCounterFileName("/s/virtualdb/", "261207"), "/s/virtualdb/261207_iaFileNum.dat");
  EXPECT_EQ(SetAsideFileName("/s/virtualdb/261207.RiaBase", 1796688000),
            "/s/virtualdb/261207.RiaBase.1796688000");
  EXPECT_EQ(ProgressFileName("virtualdb", "10.1.2.3", 8000), "virtualdb/10.1.2.3_8000.spg");
  std::string server;
  EXPECT_TRUE(ParseProgressFileName("10.1.2.3_8000.spg", &server));
  EXPECT_EQ(server, "10.1.2.3_8000");
  EXPECT_FALSE(ParseProgressFileName("10.1.2.3_8000.spgx", &server));
  EXPECT_EQ(OnlineExportFileName("/w/temp", 1796688000, 0), "/w/temp/1796688000.OLV");
  EXPECT_EQ(OnlineExportFileName("/w/temp", 1796688000, 2), "/w/temp/1796688000_2.OLV");
  std::time_t second = 0;
  EXPECT_TRUE(ParseOnlineExportFileName("1796688000_2.OLV", &second));
  EXPECT_EQ(second, 1796688000);
  for (const char* other : {"01796688000.OLV", "1796688000_0.OLV", "1796688000_.OLV", "a.OLV",
                            ".OLV", "1796688000.olv", "99999999999.OLV", "1796688000_2_3.OLV"})
    EXPECT_FALSE(ParseOnlineExportFileName(other, &second)) << other;
}

// The IA file is named after the IP file; a name cut to 258 characters
// before its extension loses the cut part, and one with no extension left
// cannot be named at all.
TEST(SiteFilesTest, IaFileNames) {
  std::string path;
  ASSERT_TRUE(IaFileName("/up", "4401020001", "261207_3232235786.RiaBase", 3, &path));
  EXPECT_EQ(path, "/up/4401020001_261207_3232235786_3.ria");
  const std::string longIp(300, '7');
  EXPECT_FALSE(IaFileName("/up", "4401020001", "261207_" + longIp + ".RiaBase", 1, &path));
}
