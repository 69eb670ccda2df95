// The status facet of the service running in the real icebox, read through
// the admin object as an operator reads it, and riadump live on it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <ctime>

#include "E2eSite.h"
#include "SeatSiteTest.h"
#include "SiteStatus.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"

using namespace tessel;
using namespace testing_support;

namespace {

struct LiveRun {
  int status;
  std::string out;
};

class StatusFacetTest : public SeatSiteTest {
 protected:
  void SetUp() override {
    PrepareSite();
    site.setProperty("Ice.Admin.Endpoints", "tcp -h 127.0.0.1 -p " + std::to_string(adminPort));
    site.setProperty("Ice.Admin.InstanceName", "tessel-site");
  }

  Tessel::SiteState Read() {
    return Tessel::SiteStatusPrx::uncheckedCast(
               site.client()->stringToProxy(
                   "tessel-site/admin -f IceBox.Service.tesselWriteService.Status:tcp -h "
                   "127.0.0.1 -p " + std::to_string(adminPort)))
        ->read();
  }

  // riadump live --site <site> ARGS...: its exit status and standard output.
  LiveRun Live(std::vector<std::string> args) {
    args.insert(args.begin(), {RIADUMP, "live", "--site", site.dir()});
    ChildProcess live(args, {}, site.dir(), site.file("live.out"), site.file("live.err"));
    const int status = live.wait(std::chrono::seconds(20));
    return LiveRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
               ReadFile(site.file("live.out")) + ReadFile(site.file("live.err"))};
  }

  const int adminPort = FreePort();
};

const Tessel::UpstreamState* Upstream(const Tessel::SiteState& state, int port) {
  for (const Tessel::UpstreamState& upstream : state.upstreams)
    if (upstream.port == port) return &upstream;
  return nullptr;
}

}  // namespace

// Three records stored, sent to one upstream server, and waiting for another
// that listens nowhere.
TEST_F(StatusFacetTest, CountsRecordsAndTellsAnUpstreamDown) {
  const int closed = FreePort();
  WriteFile(site.file("netbarcfg.ini"),
            "[P2PVIRTUALID]\r\nAddrCount=2\r\nServerAddr_0=127.0.0.1\r\nServerPort_0=" +
                std::to_string(upstream.port()) + "\r\nServerAddr_1=127.0.0.1\r\nServerPort_1=" +
                std::to_string(closed) + "\r\n");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  for (const char* account : {"s0", "s1", "s2"})
    site.proxy()->write(Bytes(ImOnRecord(account)));
  Tessel::SiteState state;
  ASSERT_TRUE(WaitUntil(
      [&] {
        state = Read();
        const Tessel::UpstreamState* up = Upstream(state, upstream.port());
        const Tessel::UpstreamState* down = Upstream(state, closed);
        // Behind counts what a sender saw at its last look at the day file:
        // the upstream is caught up once its offset is past all three.
        return state.stored == 3 && up && up->offset == 3 * 1247 && up->recordsBehind == 0 &&
               up->connected && down &&
               down->downSince != 0 && down->recordsBehind == 3;
      },
      kDeadline))
      << site.serverStderr();
  EXPECT_EQ(state.accepted, 3);
  EXPECT_EQ(state.refused, 0);
  EXPECT_EQ(state.waiting, 0);
  EXPECT_EQ(state.keywordsHeld, 3);
  EXPECT_EQ(state.disallowed, 0);
  EXPECT_EQ(state.malformed, 0);
  EXPECT_FALSE(state.journalFailing);
  EXPECT_EQ(state.failingFile, "");
  EXPECT_GT(state.lastPassAt, 0);
  EXPECT_EQ(state.durability, "power");
  const Tessel::UpstreamState& up = *Upstream(state, upstream.port());
  EXPECT_EQ(up.host, "127.0.0.1");
  EXPECT_EQ(up.dayStamp, DayStamp(std::time(nullptr)));
  EXPECT_EQ(up.offset, 3 * 1247);
  EXPECT_GT(up.lastAcknowledged, 0);
  const Tessel::UpstreamState& down = *Upstream(state, closed);
  EXPECT_FALSE(down.connected);
  EXPECT_NE(down.lastError, "");
  EXPECT_EQ(down.lastAcknowledged, 0);

  const std::string server = "127.0.0.1:" + std::to_string(closed);
  LiveRun text = Live({});
  EXPECT_EQ(text.status, 1) << text.out;
  EXPECT_NE(text.out.find("records: 3 accepted, 3 stored, 0 refused, 0 waiting"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("problem: upstream " + server + " down for"), std::string::npos)
      << text.out;
  EXPECT_EQ(Live({"--max-down", "3600"}).status, 0);
  EXPECT_EQ(Live({"--max-down", "3600", "--max-behind", "2"}).status, 1);
  // Every series names its site: the site directory's name unless set.
  const std::string dir = site.dir();
  EXPECT_EQ(state.siteName, dir.substr(dir.find_last_of('/') + 1));
  EXPECT_FALSE(state.version.empty());
  EXPECT_GE(state.virtualDbBytes, 3 * 1247);
  EXPECT_GT(state.virtualDbFreeBytes, 0);
  const std::string label = "site=\"" + state.siteName + "\"";
  LiveRun prometheus = Live({"--prometheus", "--max-down", "3600"});
  EXPECT_EQ(prometheus.status, 0);
  for (const std::string& line : std::vector<std::string>{
           "\ntessel_records_stored_total{" + label + "} 3\n", "\ntessel_healthy{" + label + "} 1\n",
           "\ntessel_upstream_connected{" + label + ",server=\"" + server + "\"} 0\n",
           "\ntessel_upstream_records_behind{" + label + ",server=\"" + server + "\"} 3\n",
           "\ntessel_upstream_oldest_unacknowledged_age_seconds{" + label + ",server=\"" + server +
               "\"} ",
           "\ntessel_virtualdb_free_bytes{" + label + "} "})
    EXPECT_NE(prometheus.out.find(line), std::string::npos) << line << prometheus.out;
}

// A directory in the place of today's day file: the record waits, the facet
// names the file, and riadump live says so and ends non-zero, in each format.
TEST_F(StatusFacetTest, RiadumpLiveTellsADayFileThatCannotBeWritten) {
  // No upstream: its sender would set the directory aside as a damaged day file.
  WriteFile(site.file("netbarcfg.ini"), "[P2PVIRTUALID]\r\nAddrCount=0\r\n");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  const std::string dayFile =
      DayFileName(VirtualDbDirOf(site.dir()), DayStamp(std::time(nullptr)));
  ASSERT_EQ(::mkdir(dayFile.c_str(), 0755), 0);
  site.proxy()->write(Bytes(ImOnRecord("w0")));
  LiveRun text{0, ""};
  ASSERT_TRUE(WaitUntil([&] { return (text = Live({})).status != 0; }, kDeadline)) << text.out;
  EXPECT_EQ(text.status, 1) << text.out;
  EXPECT_NE(text.out.find("problem: records cannot be stored since"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find(dayFile), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("1 waiting"), std::string::npos) << text.out;
  LiveRun json = Live({"--json"});
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find("\"healthy\":false"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"failingFile\":\"" + dayFile + "\""), std::string::npos) << json.out;
  LiveRun prometheus = Live({"--prometheus"});
  EXPECT_EQ(prometheus.status, 1);
  EXPECT_NE(prometheus.out.find("\ntessel_write_failing{site=\""), std::string::npos)
      << prometheus.out;

  ASSERT_EQ(::rmdir(dayFile.c_str()), 0);
  EXPECT_TRUE(WaitUntil([&] { return Live({}).status == 0; }, kDeadline));
  EXPECT_EQ(site.stop(), 0);
  LiveRun gone = Live({"--prometheus"});
  EXPECT_EQ(gone.status, 3) << gone.out;
  EXPECT_NE(gone.out.find("tessel_up{site=\""), std::string::npos) << gone.out;
  EXPECT_NE(gone.out.find("\"} 0\n"), std::string::npos) << gone.out;
}

// A keyword store and an IA directory that cannot be written (a directory
// stands where the store should be, a file where the IA directory should
// be): the seats' records still reach the day file, the IP files and the
// upstream server; the seat logged off keeps its IP file; riadump live
// names both while they last, and once they can be written the keywords are
// saved and the IA file is made.
TEST_F(StatusFacetTest, AKeywordStoreAndAnIaDirectoryThatCannotBeWrittenHoldOnlyTheirOwn) {
  ASSERT_EQ(::mkdir(site.file("virtualdb").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(site.file("virtualdb/virtualdb.db").c_str(), 0755), 0);
  WriteFile(site.file("ia"), "not a directory");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  events::Event on = seat;
  on.account = "440102199001011234";
  site.proxy()->write(Bytes(events::SeatEventRecord(on)));
  site.proxy()->registAccount(Bytes(ImOnRecord("12345")));
  events::Event off = on;
  off.logoffTime = seat.seatLogon + 50;
  site.proxy()->RealNameClientOff(events::InterfaceIp(seat.ip), Bytes(events::SeatEventRecord(off)),
                                  seat.seatLogon, off.logoffTime);
  events::Event other = on;
  events::ParseIPv4("127.0.0.2", &other.ip);
  site.proxy()->write(Bytes(events::SeatEventRecord(other)));

  // Log-on, IM on, IM off, log-off, the other seat's log-on.
  ASSERT_TRUE(DayFileHolds(5)) << site.serverStderr();
  ASSERT_TRUE(UpstreamHolds(5));
  LiveRun text{0, ""};
  ASSERT_TRUE(WaitUntil(
      [&] {
        text = Live({"--max-down", "3600"});
        return text.out.find("the IA directory") != std::string::npos;
      },
      kDeadline))
      << text.out;
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find("the keyword store " + site.file("virtualdb/virtualdb.db")),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("IA files waiting to be made: 1"), std::string::npos) << text.out;
  EXPECT_TRUE(ListDir(site.file("virtualdb")).size() >= 4u);  // the two seats' IP files stay

  ASSERT_EQ(::rmdir(site.file("virtualdb/virtualdb.db").c_str()), 0);
  ASSERT_EQ(::unlink(site.file("ia").c_str()), 0);
  EXPECT_TRUE(WaitUntil([&] { return Live({"--max-down", "3600"}).status == 0; }, kDeadline))
      << Live({}).out;
  EXPECT_EQ(ListDir(site.file("ia")).size(), 1u);
  EXPECT_EQ(FileSize(site.file("virtualdb/virtualdb.db")), 5 * 132);
  EXPECT_EQ(site.stop(), 0);
}
