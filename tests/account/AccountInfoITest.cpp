// The on-line servant over a real loopback connection.
#include "account/AccountInfoI.h"

#include <Ice/Ice.h>
#include <gtest/gtest.h>

#include <mutex>

#include "SiteEnv.h"
#include "TestSupport.h"
#include "common/GbkTexts.h"

using namespace tessel;

using namespace testing_support;

namespace {

// 127.0.0.1 as the interface carries it: first octet in the low byte.
const Ice::Int kLoopbackIp = 0x0100007F;

class RecordingServant : public AccountInfoI {
 public:
  explicit RecordingServant(const Ice::CommunicatorPtr& c)
      : AccountInfoI(c, tessel::port::Env::Default()) {}
  // Takes every record until `refuseAfter` were taken, then refuses.
  using AccountInfoI::handleRecord;
  virtual Receipt handleRecord(const VirtualIdRecord& record) {
    Receipt receipt;
    if (handled.size() >= refuseAfter) {
      receipt.status = port::Status::Refused("3 records wait to be stored");
      return receipt;
    }
    handled.push_back(record);
    receipt.sequence = handled.size();
    return receipt;
  }
  std::vector<VirtualIdRecord> handled;
  std::size_t refuseAfter = SIZE_MAX;
  std::map<std::string, std::set<std::string> > online() {
    IceUtil::RecMutex::Lock lock(mutex);
    return onlineAccounts;
  }
  std::string unit() const { return unitIdentity; }
};
typedef IceUtil::Handle<RecordingServant> RecordingServantPtr;

class CountingLogger : public Ice::Logger {
 public:
  void print(const std::string&) {}
  void trace(const std::string&, const std::string&) {}
  void warning(const std::string&) {}
  void error(const std::string& message) {
    std::lock_guard<std::mutex> guard(lock);
    errors.push_back(message);
  }
  std::string getPrefix() { return ""; }
  Ice::LoggerPtr cloneWithPrefix(const std::string&) { return this; }
  std::mutex lock;
  std::vector<std::string> errors;
};

class AccountInfoITest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(site / "siteenv.cfg", "Audit.Unit.Identity=4401020001\n");
    ASSERT_EQ(SiteEnv_Init(), 0);
    server = Ice::initialize();
    adapter = server->createObjectAdapterWithEndpoints("Test", "tcp -h 127.0.0.1");
    servant = new RecordingServant(server);
    Ice::ObjectPrx object = adapter->add(servant, Ice::stringToIdentity("tesselWriteService"));
    adapter->activate();
    client = Ice::initialize();
    prx = Audit::VirtualPersion::AccountInfoPrx::uncheckedCast(
        client->stringToProxy(object->ice_toString())->ice_collocationOptimized(false));
  }
  void TearDown() override {
    client->destroy();
    server->destroy();
    SiteEnv_Release();
  }

  static Ice::ByteSeq Seq(const VirtualIdRecord& record) { return Bytes(record); }

  TempDir site;
  ScopedEnv home{"TESSEL_HOME", site.path()};
  Ice::CommunicatorPtr server, client;
  Ice::ObjectAdapterPtr adapter;
  RecordingServantPtr servant;
  Audit::VirtualPersion::AccountInfoPrx prx;
};

TEST_F(AccountInfoITest, RegistrationKeysTheAccountByPrefixPeerTypeAndAccount) {
  VirtualIdRecord first = ImRecord("U_1_2_", 1001, "12345", 100, 0, 7);
  first.bytes[rec::kAccountLastByte] = 'Z';
  prx->registAccount(Seq(first));
  VirtualIdRecord second = ImRecord("U_1_2_", 1001, "12345", 150, 0, 7);
  prx->registAccount(Seq(second));

  auto online = servant->online();
  ASSERT_EQ(online.size(), 1u);
  EXPECT_EQ(online["127.0.0.1"], (std::set<std::string>{"U_1_2_127.0.0.1_100112345"}));
  ASSERT_EQ(servant->handled.size(), 2u);
  for (const VirtualIdRecord& handled : servant->handled) {
    EXPECT_EQ(handled.EndTime(), handled.BeginTime());
    EXPECT_EQ(handled.ImStatus(), 0);
    EXPECT_EQ(handled.bytes[rec::kAccountLastByte], 0);
  }
  EXPECT_EQ(servant->handled[1].BeginTime(), 150);

  // The first registration is the one kept: AccountOff writes it.
  prx->AccountOff(kLoopbackIp, 500, 3);
  ASSERT_EQ(servant->handled.size(), 3u);
  const VirtualIdRecord& off = servant->handled[2];
  EXPECT_EQ(off.BeginTime(), 100);
  EXPECT_EQ(off.EndTime(), 500);
  EXPECT_EQ(off.ImStatus(), 1);
  EXPECT_EQ(off.Int(rec::kOffCode), 3);
}

TEST_F(AccountInfoITest, WriteAccountForgetsTheKeyButKeepsTheIpEntry) {
  prx->writeAccount(Seq(ImRecord("U_1_2_", 1002, "never", 10, 20, 0)));
  ASSERT_EQ(servant->handled.size(), 1u);
  EXPECT_EQ(servant->handled[0].ImStatus(), 1);
  EXPECT_TRUE(servant->online().empty());

  prx->registAccount(Seq(ImRecord("U_1_2_", 1002, "acc", 10, 0, 0)));
  prx->writeAccount(Seq(ImRecord("U_1_2_", 1002, "acc", 10, 30, 0)));
  auto online = servant->online();
  ASSERT_EQ(online.count("127.0.0.1"), 1u);
  EXPECT_TRUE(online["127.0.0.1"].empty());
  // Its stored record went with it: AccountOff has nothing to write.
  prx->AccountOff(kLoopbackIp, 99, 2);
  EXPECT_EQ(servant->handled.size(), 3u);
}

TEST_F(AccountInfoITest, AccountOffRules) {
  VirtualIdRecord keep = ImRecord("U_1_2_", 1001, "a-keep", 100, 0, 0);
  keep.SetInt(rec::kOffCode, rec::kKeepOffCode);
  prx->registAccount(Seq(keep));
  prx->registAccount(Seq(ImRecord("U_1_2_", 1001, "b-late", 300, 0, 0)));
  prx->registAccount(Seq(ImRecord("U_1_2_", 1001, "c-plain", 100, 0, 0)));
  servant->handled.clear();

  prx->AccountOff(0x0200007F, 200, 2);  // 127.0.0.2 was never seen
  EXPECT_TRUE(servant->handled.empty());

  prx->AccountOff(kLoopbackIp, 200, 2);
  ASSERT_EQ(servant->handled.size(), 2u);  // b-late began after 200: skipped
  EXPECT_EQ(servant->handled[0].Text(rec::kAccount, 30), "a-keep");
  EXPECT_EQ(servant->handled[0].Int(rec::kOffCode), 255);
  EXPECT_EQ(servant->handled[1].Text(rec::kAccount, 30), "c-plain");
  EXPECT_EQ(servant->handled[1].Int(rec::kOffCode), 2);

  prx->AccountOff(kLoopbackIp, 200, 2);  // nothing left before 300
  EXPECT_EQ(servant->handled.size(), 2u);
  prx->AccountOff(kLoopbackIp, 400, 4);
  ASSERT_EQ(servant->handled.size(), 3u);
  EXPECT_EQ(servant->handled[2].Text(rec::kAccount, 30), "b-late");
  EXPECT_EQ(servant->handled[2].EndTime(), 400);
  EXPECT_EQ(servant->online()["127.0.0.1"].size(), 3u);  // keys stay in the set
}

TEST_F(AccountInfoITest, RealNameClientOffTakesTheSeatOffAndBuildsThePrefix) {
  prx->registAccount(Seq(ImRecord("U_1_2_", 1001, "im", 100, 0, 0)));
  servant->handled.clear();
  VirtualIdRecord seat = SeatRecord("old-prefix", "id", 100, 200, 0);
  ::testing::internal::CaptureStdout();
  prx->RealNameClientOff(kLoopbackIp, Seq(seat), 1700000000, 200);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nRealNameClientOff:200\n");
  ASSERT_EQ(servant->handled.size(), 2u);
  EXPECT_EQ(servant->handled[0].Int(rec::kOffCode), 2);
  EXPECT_EQ(servant->handled[1].Prefix(), "4401020001_16777343_1700000000_");
  EXPECT_EQ(servant->unit(), "4401020001");

  // A negative off time skips taking the seat's identities off.
  prx->registAccount(Seq(ImRecord("U_1_2_", 1001, "im2", 100, 0, 0)));
  servant->handled.clear();
  prx->RealNameClientOff(kLoopbackIp, Seq(seat), -5, -1);
  ASSERT_EQ(servant->handled.size(), 1u);
  EXPECT_EQ(servant->handled[0].Prefix(), "4401020001_16777343_-5_");
}

TEST_F(AccountInfoITest, RealNameClientOffWithALongUnitFillsThePrefixWithoutNul) {
  SiteEnv_Release();
  WriteFile(site / "siteenv.cfg", "Audit.Unit.Identity=" + std::string(45, 'U') + "\n");
  ASSERT_EQ(SiteEnv_Init(), 0);
  prx->RealNameClientOff(kLoopbackIp, Seq(SeatRecord("p", "id", 1, 2, 0)), 7, -1);
  ASSERT_EQ(servant->handled.size(), 1u);
  const VirtualIdRecord& record = servant->handled[0];
  EXPECT_EQ(record.Prefix(), std::string(45, 'U') + "_1677");  // 50 bytes, no NUL
  EXPECT_EQ(record.InfoType(), 900);
}

TEST_F(AccountInfoITest, RecordsOfTheWrongLengthChangeNothing) {
  for (size_t size : {size_t(0), size_t(1246), size_t(1248)}) {
    Ice::ByteSeq bad(size, 'x');
    prx->write(bad);
    prx->registAccount(bad);
    prx->writeAccount(bad);
    prx->RealNameClientOff(kLoopbackIp, bad, 1, 2);
  }
  prx->NotifyToUpChatContent(-1, 0, 1);
  EXPECT_TRUE(servant->handled.empty());
  EXPECT_TRUE(servant->online().empty());
  prx->write(Seq(ImRecord("anything", 6000, "x", 0, 0, 0)));
  EXPECT_EQ(servant->handled.size(), 1u);
}

// A record the handler refuses fails its call with the reason, and what the
// call did not hand over stays for the caller's next attempt.
TEST_F(AccountInfoITest, ARefusedRecordFailsTheCallAndLeavesTheRestForTheNextAttempt) {
  prx->registAccount(Seq(ImRecord("U_1_2_", 1001, "a", 100, 0, 0)));
  prx->registAccount(Seq(ImRecord("U_1_2_", 1001, "b", 100, 0, 0)));
  servant->handled.clear();
  servant->refuseAfter = 1;
  try {
    prx->RealNameClientOff(kLoopbackIp, Seq(SeatRecord("p", "id", 1, 2, 0)), 7, 500);
    FAIL() << "a refused record answered as kept";
  } catch (const Ice::UnknownException& e) {
    EXPECT_NE(e.unknown.find("3 records wait to be stored"), std::string::npos) << e.unknown;
  }
  ASSERT_EQ(servant->handled.size(), 1u);  // a went off; b and the seat's log-off did not
  servant->refuseAfter = SIZE_MAX;
  prx->RealNameClientOff(kLoopbackIp, Seq(SeatRecord("p", "id", 1, 2, 0)), 7, 500);
  ASSERT_EQ(servant->handled.size(), 3u);
  EXPECT_EQ(servant->handled[1].Text(rec::kAccount, 30), "b");
  EXPECT_EQ(servant->handled[2].InfoType(), 900);
}

TEST_F(AccountInfoITest, UnitIdentityFailureIsLoggedOnce) {
  IceUtil::Handle<CountingLogger> logger = new CountingLogger;
  Ice::setProcessLogger(logger);
  SiteEnv_Release();
  EXPECT_FALSE(servant->loadUnitIdentity());
  // No identity, no real-name record: the caller is told.
  EXPECT_THROW(prx->RealNameClientOff(kLoopbackIp, Seq(SeatRecord("p", "id", 1, 2, 0)), 7, -1),
               Ice::UnknownException);
  EXPECT_TRUE(servant->handled.empty());
  EXPECT_FALSE(servant->loadUnitIdentity());
  std::lock_guard<std::mutex> guard(logger->lock);
  ASSERT_EQ(logger->errors.size(), 1u);
  EXPECT_EQ(logger->errors[0], gbk::kUnitIdentityQueryFailed);
}

// Records read back at start: registrations come back keyed by the seat's
// address from their IP key, and a seat's log-off then takes them off line
// as if the service had never stopped.
TEST_F(AccountInfoITest, RestoredRegistrationsGoOffWithTheirSeat) {
  const std::string prefix = "4401020001_16777343_1700000000_";
  servant->RestoreOnline(ImRecord(prefix, 1001, "reg", 100, 100, 0));
  servant->RestoreOnline(ImRecord(prefix, 1001, "reg", 120, 120, 0));    // the first stays
  servant->RestoreOnline(ImRecord(prefix, 1001, "written", 100, 0, 0));  // sent by write()
  servant->RestoreOnline(ImRecord(prefix, 1002, "gone", 100, 100, 0));
  servant->RestoreOnline(ImRecord(prefix, 1002, "gone", 100, 150, 1));   // went off line
  servant->RestoreOnline(ImRecord("U_10.0.0.9_5_", 1001, "dotted", 1, 1, 0));
  servant->RestoreOnline(SeatRecord(prefix, "seat", 1700000000, 0, 1));
  auto online = servant->online();
  EXPECT_EQ(online["127.0.0.1"], (std::set<std::string>{prefix + "127.0.0.1_1001reg"}));
  EXPECT_EQ(online["10.0.0.9"], (std::set<std::string>{"U_10.0.0.9_5_10.0.0.9_1001dotted"}));
  EXPECT_EQ(online.size(), 2u);

  prx->RealNameClientOff(kLoopbackIp, Seq(SeatRecord("p", "seat", 100, 500, 0)), 1700000000, 500);
  ASSERT_EQ(servant->handled.size(), 2u);
  const VirtualIdRecord& off = servant->handled[0];
  EXPECT_EQ(off.Text(rec::kAccount, 30), "reg");
  EXPECT_EQ(off.BeginTime(), 100);
  EXPECT_EQ(off.EndTime(), 500);
  EXPECT_EQ(off.ImStatus(), 1);
  EXPECT_EQ(off.Int(rec::kOffCode), 2);
  EXPECT_EQ(servant->handled[1].InfoType(), 900);

  EXPECT_EQ(SeatAddressOf("16777343"), "127.0.0.1");
  EXPECT_EQ(SeatAddressOf("4294967295"), "255.255.255.255");
  EXPECT_EQ(SeatAddressOf("4294967296"), "4294967296");
  EXPECT_EQ(SeatAddressOf("seat-7"), "seat-7");
}

}  // namespace
