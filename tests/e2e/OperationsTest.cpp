// The service as operators and clients meet it through the real icebox: a
// stop and a start of the service in the same process through IceBox's
// admin, a listening endpoint written the short (dual-stack) way, and
// prefixes from clients that try to name files.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>

#include "E2eSite.h"
#include "SeatSiteTest.h"
#include "EventRecords.h"
#include "SiteStatus.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"

using namespace tessel;
using namespace testing_support;

namespace {

std::string Account(const VirtualIdRecord& record) {
  return record.Text(rec::kAccount, rec::kSeatAccountWidth);
}

class OperationsTest : public SeatSiteTest {
 protected:
  void SetUp() override { PrepareSite(); }

  void SendIm(const std::string& account) { site.proxy()->write(Bytes(ImOnRecord(account))); }
};

// iceboxadmin run against the site's icebox; its exit status.
int IceBoxAdmin(const IceBoxSite& site, int adminPort, const std::string& command) {
  ChildProcess admin({ICEBOXADMIN,
                      "--IceBoxAdmin.ServiceManager.Proxy=TesselBox/admin -f IceBox.ServiceManager:"
                      "tcp -h 127.0.0.1 -p " + std::to_string(adminPort),
                      command, "tesselWriteService"},
                     {}, site.dir(), site.file("admin.out"), site.file("admin.err"));
  return admin.wait(std::chrono::seconds(20));
}

}  // namespace

TEST_F(OperationsTest, StopAndStartAgainInTheSameProcess) {
  const int adminPort = FreePort();
  site.setProperty("Ice.Admin.Endpoints", "tcp -h 127.0.0.1 -p " + std::to_string(adminPort));
  site.setProperty("Ice.Admin.InstanceName", "TesselBox");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  for (const char* account : {"a0", "a1", "a2"}) SendIm(account);
  ASSERT_TRUE(DayFileHolds(3));
  ASSERT_TRUE(UpstreamHolds(3));

  ASSERT_EQ(IceBoxAdmin(site, adminPort, "stop"), 0) << ReadFile(site.file("admin.err")) << site.serverStderr() << ReadFile(site.file("admin.out"));
  EXPECT_THROW(site.proxy()->ice_ping(), Ice::Exception);
  ASSERT_EQ(IceBoxAdmin(site, adminPort, "start"), 0) << ReadFile(site.file("admin.err"))
                                                        << site.serverStderr();
  for (const char* account : {"b0", "b1", "b2"}) SendIm(account);
  SendIm("a1");  // written before the stop: not again
  ASSERT_TRUE(DayFileHolds(6)) << site.serverStderr();
  ASSERT_TRUE(UpstreamHolds(6));
  EXPECT_TRUE(site.running());
  std::vector<std::string> stored, forwarded;
  for (const VirtualIdRecord& record : TodaysRecords(site.dir())) stored.push_back(Account(record));
  for (const netlog::Request& request : recorder.requests())
    forwarded.push_back(request.items.empty() ? "" : request.items[0].data);
  const std::vector<std::string> expected = {"a0", "a1", "a2", "b0", "b1", "b2"};
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(forwarded, expected);
  // The status facet is the started service's, registered again in place of
  // the stopped one's: its counters begin again.
  const Tessel::SiteState state =
      Tessel::SiteStatusPrx::uncheckedCast(
          site.client()->stringToProxy(
              "TesselBox/admin -f IceBox.Service.tesselWriteService.Status:tcp -h 127.0.0.1 -p " +
              std::to_string(adminPort)))
          ->read();
  EXPECT_EQ(state.accepted, 4);
  EXPECT_EQ(state.stored, 3);
}

// Listening the short way ("tcp -p"), Ice 3.7 accepts IPv4 clients on a
// dual-stack socket: the seat of a client at 127.0.0.1 must still be
// 127.0.0.1, so that its real-name log-off puts its IM account off.
TEST_F(OperationsTest, DualStackEndpointKeysTheSeatByItsIPv4Address) {
  site.setProperty("tesselWriteService.Endpoints", "tcp -p " + std::to_string(site.port()));
  ASSERT_TRUE(site.start()) << site.serverStderr();
  events::Event im = seat;
  im.infoType = 1001;
  im.account = "12345";
  im.beginTime = seat.seatLogon + 5;
  site.proxy()->registAccount(Bytes(events::IdentityEventRecord(im, 0)));
  events::Event off = seat;
  off.account = "440102199001011234";
  off.logoffTime = seat.seatLogon + 50;
  site.proxy()->RealNameClientOff(events::InterfaceIp(seat.ip), Bytes(events::SeatEventRecord(off)),
                                  seat.seatLogon, off.logoffTime);
  ASSERT_TRUE(DayFileHolds(3)) << site.serverStdout();
  const std::vector<VirtualIdRecord> stored = TodaysRecords(site.dir());
  EXPECT_EQ(stored[1].InfoType(), 1001);
  EXPECT_EQ(stored[1].ImStatus(), 1);  // put off by the seat's log-off
  EXPECT_EQ(stored[1].Int(rec::kOffCode), rec::kSeatLogoffOffCode);
}

// IP keys with "/" or control characters never become part of a file name:
// their records are in the day file only, nothing is created anywhere but in
// the site's virtualdb and IA directories, and no control character of a
// client reaches the log.
TEST_F(OperationsTest, ClientTextNeverNamesAPath) {
  ASSERT_TRUE(site.start()) << site.serverStderr();
  const std::vector<std::string> hostile = {"../../escape", "a/b", std::string("c\x01" "d"),
                                            "/abs"};
  const std::string logon = std::to_string(seat.seatLogon);
  for (const std::string& key : hostile) {
    VirtualIdRecord on = SeatRecord("4401020001_" + key + "_" + logon + "_", "id", seat.seatLogon,
                                    seat.seatLogon, 1);
    VirtualIdRecord off = SeatRecord("4401020001_" + key + "_" + logon + "_", "id",
                                     seat.seatLogon, seat.seatLogon + 50, 1);
    site.proxy()->write(Bytes(on));
    site.proxy()->write(Bytes(off));
  }
  // A dotted key is harmless and keeps its IP file.
  site.proxy()->write(Bytes(ImRecord("4401020001_10.0.0.5_" + logon + "_", 1001, "qq",
                                     seat.seatLogon, seat.seatLogon, 0)));
  ASSERT_TRUE(DayFileHolds(2 * hostile.size() + 1)) << site.serverStderr();
  EXPECT_EQ(site.stop(), 0);

  std::set<std::string> created;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(site.dir()))
    created.insert(std::filesystem::relative(entry.path(), site.dir()).string());
  const std::string today = DayStamp(std::time(nullptr));
  const std::set<std::string> expected = {
      "icebox.cfg", "siteenv.cfg", "netbarcfg.ini", "server.out", "server.err", "ia", "temp",
      "virtualdb", "virtualdb/" + today + ".RiaBase", "virtualdb/virtualdb.db",
      "virtualdb/intake.journal.0", "virtualdb/intake.journal.1",
      "virtualdb/" + DayStamp(seat.seatLogon) + "_10.0.0.5.RiaBase",
      "virtualdb/127.0.0.1_" + std::to_string(upstream.port()) + ".spg"};
  for (const std::string& name : created)
    EXPECT_TRUE(expected.count(name) != 0 || name == "temp") << "unexpected " << name;
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(site.dir()).parent_path() / "escape"));
  const std::string log = site.serverStderr();
  EXPECT_EQ(log.find('\x01'), std::string::npos) << log;
}
