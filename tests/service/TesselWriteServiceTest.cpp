// The module inside the real icebox server, called by a real Ice client.
#include <gtest/gtest.h>

#include <regex>

#include "IceBoxSite.h"
#include "common/GbkTexts.h"

namespace gbk = tessel::gbk;

using namespace testing_support;

TEST(TesselWriteServiceTest, AnswersAsAccountInfoAndLogsItsStartAndStop) {
  IceBoxSite site;
  ASSERT_TRUE(site.start()) << site.serverStderr();
  Audit::VirtualPersion::AccountInfoPrx prx = site.proxy();

  Ice::StringSeq ids = prx->ice_ids();
  EXPECT_EQ(ids, (Ice::StringSeq{"::Audit::VirtualPersion::AccountInfo", "::Ice::Object"}));
  EXPECT_TRUE(prx->ice_isA("::Audit::VirtualPersion::AccountInfo"));

  std::vector<Ice::Byte> out;
  EXPECT_THROW(prx->ice_invoke("NoSuchOperation", Ice::Normal, std::vector<Ice::Byte>(), out),
               Ice::OperationNotExistException);
  // Wrong-length records and the ignored notification are answered normally.
  prx->write(Ice::ByteSeq(1246, 0));
  prx->NotifyToUpChatContent(1, 2, 3);

  EXPECT_EQ(site.stop(), 0);
  const std::string log = site.serverStderr();
  const char* lines[] = {"KavoServer Service : tesselWriteService Begin Start",
                         "KavoServer Service : tesselWriteService End Start",
                         "KavoServer Service : tesselWriteService Start Stop",
                         "KavoServer Service : tesselWriteService End Stop"};
  size_t last = 0;
  for (const char* line : lines) {
    size_t at = log.find(line);
    ASSERT_NE(at, std::string::npos) << line << "\n" << log;
    EXPECT_EQ(CountOf(log, line), 1u) << line;
    EXPECT_GE(at, last) << "out of order: " << line;
    last = at;
  }
}

TEST(TesselWriteServiceTest, SiteWithoutSiteEnvFailsToStartWithItsMessage) {
  IceBoxSite site("");  // no siteenv.cfg
  EXPECT_FALSE(site.start());
  EXPECT_FALSE(site.running());
  const std::string log = site.serverStderr();
  // The file and the system's reason first, then the service's words in
  // UTF-8: no GBK byte that a UTF-8 log would show as a blob.
  EXPECT_NE(log.find("the site environment cannot be set up: open " + site.file("siteenv.cfg") +
                     ": No such file or directory (" + gbk::kSiteEnvInitFailedUtf8 + ")"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(std::string(gbk::kSiteEnvInitFailed, 4)), std::string::npos) << log;
  EXPECT_NE(log.find("KavoServer Service : tesselWriteService Begin Start"), std::string::npos);
  EXPECT_EQ(log.find("KavoServer Service : tesselWriteService End Start"), std::string::npos);
  // start() failed before the adapter existed, so there is nothing to serve.
  EXPECT_THROW(site.proxy()->ice_ping(), Ice::LocalException);
}

TEST(TesselWriteServiceTest, ExpandsConfiguredPathsIntoTheSite) {
  IceBoxSite site;
  site.setProperty("tesselServiceIA.Path", "*ia/");
  site.setProperty("tesselServiceIA.upPath", "*up/");
  site.setProperty("QQRecordFilePath", "*qq/records/");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  EXPECT_TRUE(Exists(site.file("ia")));
  EXPECT_TRUE(Exists(site.file("up")));
  EXPECT_TRUE(Exists(site.file("qq/records")));
  EXPECT_EQ(site.stop(), 0);
}

// With Ice.LogFile every line of the service goes to that file, the start
// and stop lines too, each stamped with its zone offset; a setting nothing
// reads is named there at start.
TEST(TesselWriteServiceTest, LogFileTakesEveryLineStampedWithItsZone) {
  IceBoxSite site;
  site.setProperty("Ice.LogFile", site.file("icebox.log"));
  site.setProperty("tesselWriteService.Durabilty", "process");
  ASSERT_TRUE(site.start()) << site.serverStderr() << ReadFile(site.file("icebox.log"));
  EXPECT_EQ(site.stop(), 0);
  const std::string log = ReadFile(site.file("icebox.log"));
  const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d{4} )");
  for (const char* line : {"KavoServer Service : tesselWriteService Begin Start",
                           "tesselWriteService.Durabilty: no such setting",
                           "version ",
                           "KavoServer Service : tesselWriteService End Stop"}) {
    const std::size_t at = log.find(line);
    ASSERT_NE(at, std::string::npos) << line << "\n" << log;
    const std::size_t begin = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
    EXPECT_TRUE(std::regex_search(log.substr(begin, at - begin), stamp)) << log.substr(begin, at - begin);
    EXPECT_EQ(site.serverStderr().find(line), std::string::npos) << line;
  }
}

// A port another program holds: the start fails naming the endpoints.
TEST(TesselWriteServiceTest, APortInUseIsNamed) {
  IceBoxSite first;
  ASSERT_TRUE(first.start()) << first.serverStderr();
  IceBoxSite second;
  const std::string endpoints = "tcp -h 127.0.0.1 -p " + std::to_string(first.port());
  second.setProperty("tesselWriteService.Endpoints", endpoints);
  EXPECT_FALSE(second.start());
  EXPECT_NE(second.serverStderr().find("tesselWriteService.Endpoints=" + endpoints +
                                       ": cannot listen: Address already in use"),
            std::string::npos)
      << second.serverStderr();
}
