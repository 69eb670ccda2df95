#include "common/SiteFiles.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "common/PathHelpers.h"

using namespace tessel;
using testing_support::TempDir;

namespace {

std::string DirLess(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

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

// Every name the service makes in virtualdb reads back as its kind, with
// its day, IP key or number; names that only look like one read as none.
TEST(SiteFilesTest, ParseFileNameTellsEveryKind) {
  struct Case {
    const char* name;
    SiteFileType type;
    const char* dayStamp;
    const char* ipKey;
    std::uint64_t number;
  };
  const Case cases[] = {
      {"261207.RiaBase", SiteFileType::kDayFile, "261207", "", 0},
      {"261207_3232235786.RiaBase", SiteFileType::kIpFile, "261207", "3232235786", 0},
      {"261207.RiaBase.1796688000", SiteFileType::kSetAsideDayFile, "261207", "", 1796688000},
      {"261207_3232235786.RiaBase.handoff", SiteFileType::kHandOffNote, "261207", "3232235786", 0},
      {"261207_3232235786.RiaBase.handed", SiteFileType::kHandedNote, "261207", "3232235786", 0},
      {"261207_3232235786.RiaBase_tmp", SiteFileType::kIaTempFile, "261207", "3232235786", 0},
      {"261207_iaFileNum.dat", SiteFileType::kIaCounter, "261207", "", 0},
      {"virtualdb.db", SiteFileType::kKeywordStore, "", "", 0},
      {"intake.journal.0", SiteFileType::kIntakeJournal, "", "", 0},
      {"intake.journal.17", SiteFileType::kIntakeJournal, "", "", 17},
      {"unapplied.RiaBase", SiteFileType::kUnapplied, "", "", 0},
      {"10.1.2.3_8000.spg", SiteFileType::kProgressFile, "", "", 0},
  };
  for (const Case& c : cases) {
    SiteFile file;
    ASSERT_TRUE(ParseFileName(c.name, &file)) << c.name;
    EXPECT_EQ(file.type, c.type) << c.name;
    EXPECT_EQ(file.dayStamp, c.dayStamp) << c.name;
    EXPECT_EQ(file.ipKey, c.ipKey) << c.name;
    EXPECT_EQ(file.number, c.number) << c.name;
  }
  SiteFile progress;
  ASSERT_TRUE(ParseFileName("10.1.2.3_8000.spg", &progress));
  EXPECT_EQ(progress.server, "10.1.2.3_8000");

  for (const char* other :
       {"", "26120x.RiaBase", "2612070.RiaBase", "261207_.RiaBase", "261207-1.RiaBase",
        ".RiaBase", "261207.riabase", "261207.RiaBase.", "261207.RiaBase.12a",
        "261207_1.RiaBase.1796688000", "261207.RiaBase.handed", "261207.RiaBase.handoff",
        "x.RiaBase.handed", "261207_1.RiaBase.handedx", "26120_iaFileNum.dat",
        "2612077_iaFileNum.dat", "virtualdb.db.old", "intake.journal", "intake.journal.",
        "intake.journal.01", "intake.journal.1x", "intake.journal.1234567890123456789",
        "_tmp", "x_tmp", ".spg", "261207.RiaBase~", "1796688000.OLV"}) {
    SiteFile file;
    EXPECT_FALSE(ParseFileName(other, &file)) << other;
  }
}

// A name made here and read back gives what it was made from.
TEST(SiteFilesTest, MadeNamesReadBack) {
  SiteFile file;
  const std::string ipFile = IpFileBaseName("261207", "10.0.0.7");
  ASSERT_TRUE(ParseFileName(ipFile, &file));
  EXPECT_EQ(IpFileBaseName(file.dayStamp, file.ipKey), ipFile);
  ASSERT_TRUE(ParseFileName(DirLess(HandOffFileName(ipFile)), &file));
  EXPECT_EQ(file.type, SiteFileType::kHandOffNote);
  EXPECT_EQ(IpFileBaseName(file.dayStamp, file.ipKey), ipFile);
  ASSERT_TRUE(ParseFileName(DirLess(IntakeJournalFileName("/s/virtualdb", 123456789012345678ull)),
                            &file));
  EXPECT_EQ(file.number, 123456789012345678ull);
  ASSERT_TRUE(ParseFileName(DirLess(IaCounterFileName("/s/virtualdb/", "261207")), &file));
  EXPECT_EQ(file.type, SiteFileType::kIaCounter);
  ASSERT_TRUE(ParseFileName(DirLess(ProgressFileName("virtualdb", "h", 1)), &file));
  EXPECT_EQ(file.server, "h_1");
}
