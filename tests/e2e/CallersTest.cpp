// The service's callers through the real icebox: a client outside the
// allowed ones is refused, a bad value of the properties fails the start,
// malformed records are answered as before but told once per client and
// reason, and the on-line exports are kept for their time and bounded.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <utility>

#include "E2eSite.h"
#include "EventRecords.h"
#include "RecordExportReader.h"
#include "SeatSiteTest.h"

using namespace tessel;
using namespace testing_support;

namespace {

// The text of the Ice exception a call fails with; empty when it succeeds.
template <typename Call>
std::string Refusal(Call call) {
  try {
    call();
  } catch (const Ice::UnknownException& e) {
    return e.unknown;
  }
  return std::string();
}

class CallersTest : public SeatSiteTest {
 protected:
  void SetUp() override { PrepareSite(); }
};

}  // namespace

TEST_F(CallersTest, OnlyTheAllowedClientsAreServed) {
  const int adminPort = FreePort();
  ShowStatusFacet(site, adminPort);
  site.setProperty("tesselWriteService.AllowedClients", "10.0.0.0/8 fd00::/8");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  Audit::VirtualPersion::AccountInfoPrx prx = site.proxy();
  Ice::Int count = 0;
  std::string path;
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Refusal([&] { prx->registAccount(Bytes(ImOnRecord("12345"))); }),
              "tesselWriteService: calls from 127.0.0.1 are not taken: the address is not among "
              "the allowed clients");
  EXPECT_NE(Refusal([&] { prx->GetAllOnLineVirtualId(count, path); }), "");
  EXPECT_NE(Refusal([&] { prx->NotifyToUpChatContent(1, 2, 3); }), "");
  EXPECT_EQ(ReadStatusFacet(site, adminPort).disallowed, 4);
  EXPECT_EQ(site.stop(), 0);
  EXPECT_TRUE(TodaysRecords(site.dir()).empty());

  site.setProperty("tesselWriteService.AllowedClients", "::1 127.0.0.0/8");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  site.proxy()->registAccount(Bytes(ImOnRecord("12345")));
  EXPECT_TRUE(DayFileHolds(1));
}

TEST_F(CallersTest, ABadValueFailsTheStartNamingIt) {
  struct {
    const char* name;
    const char* value;
    const char* line;
  } const bad[] = {
      {"tesselWriteService.AllowedClients", "127.0.0.1 10.0.0.300",
       "tesselWriteService.AllowedClients=127.0.0.1 10.0.0.300: 10.0.0.300: not an IPv4 or IPv6 "
       "address"},
      {"tesselWriteService.OnlineExportKeepSeconds", "1h",
       "tesselWriteService.OnlineExportKeepSeconds=1h: not a whole number from 1 to"},
  };
  for (const auto& value : bad) {
    IceBoxSite failing;
    failing.setProperty(value.name, value.value);
    EXPECT_FALSE(failing.start());
    EXPECT_NE(failing.serverStderr().find(value.line), std::string::npos)
        << failing.serverStderr();
  }
}

TEST_F(CallersTest, MalformedRecordsAreAnsweredAndCounted) {
  const int adminPort = FreePort();
  ShowStatusFacet(site, adminPort);
  // A unit identity that pushes the IP key of a seat's log-off past the
  // prefix's 50 bytes.
  WriteFile(site.file("siteenv.cfg"), "Audit.Unit.Identity=" + std::string(45, '7') + "\n");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  Audit::VirtualPersion::AccountInfoPrx prx = site.proxy();
  const int logon = seat.seatLogon;
  const std::string time = "_" + std::to_string(logon) + "_";
  events::Event off = seat;
  off.account = "440102199001011234";
  off.logoffTime = logon + 50;
  for (int i = 0; i < 2; ++i) {  // every call answered normally
    prx->write(Ice::ByteSeq(1246, 1));
    prx->registAccount(Ice::ByteSeq(1248, 1));
    prx->write(Bytes(ImRecord("4401020001-127.0.0.1-" + std::to_string(logon), 1001, "a", logon, logon, 0)));
    prx->registAccount(Bytes(ImRecord("4401020001_" + std::string(40, '1') + time, 1001, "b",
                                      logon, logon, 0)));
    prx->RealNameClientOff(events::InterfaceIp(seat.ip), Bytes(events::SeatEventRecord(off)),
                           logon, -1);
  }
  prx->write(Bytes(ImRecord("4401020001_127.0.0.1" + time, 1001, "marker", logon, logon, 0)));
  ASSERT_TRUE(DayFileHolds(1)) << site.serverStdout();  // none of the others is stored
  EXPECT_EQ(TodaysRecords(site.dir())[0].Text(rec::kAccount, 30), "marker");
  EXPECT_EQ(ReadStatusFacet(site, adminPort).malformed, 10);  // every call of the loop
}

TEST_F(CallersTest, OnLineExportsAreKeptForTheirTimeAndBoundedInNumber) {
  site.setProperty("tesselWriteService.OnlineExportMaxFiles", "2");
  std::filesystem::create_directory(site.file("temp"));
  const std::string old = site.file("temp/" + std::to_string(std::time(nullptr) - 3601) + ".OLV");
  WriteFile(old, "an export past its hour");
  WriteFile(site.file("temp/notes.OLV"), "not an export's name");
  ASSERT_TRUE(site.start()) << site.serverStderr();
  site.proxy()->registAccount(Bytes(ImOnRecord("12345")));
  Ice::Int count = 0;
  std::string first, second, third;
  ASSERT_TRUE(WaitUntil(
      [&] {
        site.proxy()->GetAllOnLineVirtualId(count, first);
        return count == 1;
      },
      kDeadline));
  EXPECT_FALSE(Exists(old));
  EXPECT_TRUE(Exists(site.file("temp/notes.OLV")));
  site.proxy()->GetAllOnLineVirtualId(count, second);
  EXPECT_EQ(count, 1);
  EXPECT_NE(Refusal([&] { site.proxy()->GetAllOnLineVirtualId(count, third); })
                .find("no on-line export is made: 2 exports of the last 3600 s are kept in"),
            std::string::npos);
  for (const std::string& path : {first, second}) {
    std::vector<RecordExportEntry> entries;
    ASSERT_TRUE(ReadRecordExportFile(path, &entries)) << path;
    EXPECT_EQ(entries.size(), 1u) << path;
  }
}
