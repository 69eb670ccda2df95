// The list thread's passes over what it takes: a record that cannot be
// applied, and keywords of identities that stay on line for days.
#include "lists/PreTreatHandle.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "TestEnv.h"
#include "TestSupport.h"
#include "common/SiteFiles.h"
#include "record/RiaBaseFile.h"

using namespace tessel;
using testing_support::ImRecord;
using testing_support::ListDir;
using testing_support::SeatRecord;
using testing_support::TempDir;

namespace {

// The pre-treatment with its passes run by the test; PutNetLogToP2P fails
// for accounts beginning "bad" while `failures` lasts.
class Passes : public preTreatHandle {
 public:
  // Every pass syncs what it wrote, so that it can say it stored it.
  static WriteOptions EveryPass() {
    WriteOptions options;
    options.checkpointMs = 0;
    return options;
  }
  Passes(const SiteContext& site) : preTreatHandle(site, 10, EveryPass()) {}
  void PutNetLogToP2P(VirtualIdRecord& record, int flag) override {
    if (record.Text(rec::kAccount, 30).compare(0, 3, "bad") == 0 && failures > 0) {
      --failures;
      throw std::runtime_error("no memory");
    }
    preTreatHandle::PutNetLogToP2P(record, flag);
  }
  using preTreatHandle::DrainPass;
  using preTreatHandle::FinishPass;
  int failures = 0;
};

class ListPassTest : public ::testing::Test {
 protected:
  std::string Vdb() const { return site / "virtualdb"; }
  // Every record of the day files, in day and file order.
  std::vector<std::string> Stored() const {
    std::vector<std::string> accounts;
    std::string day;
    for (const std::string& name : ListDir(Vdb())) {
      if (!ParseDayFileName(name, &day)) continue;
      std::vector<VirtualIdRecord> records;
      ReadRecords(port::Env::Default(), Vdb() + "/" + name, &records);
      for (const VirtualIdRecord& record : records) accounts.push_back(record.Text(rec::kAccount, 30));
    }
    return accounts;
  }
  static std::string Prefix(std::time_t logon) {
    return "4401020001_3232235786_" + std::to_string(logon) + "_";
  }

  TempDir site;
};

}  // namespace

// A record whose application fails ends the pass there: it and the records
// after it wait, in order, and the journal keeps them; one that fails three
// passes in a row is set aside in a file of its own, counted, and the
// records after it go on.
TEST_F(ListPassTest, ARecordThatCannotBeAppliedWaitsThenIsSetAside) {
  const std::time_t logon = std::time(nullptr) - 60;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  IceUtil::Handle<Passes> passes = new Passes(SiteAt(port::Env::Default(), site.path()));
  passes->Initialize();
  auto add = [&](const char* account) {
    ASSERT_TRUE(
        passes->AddNetLog(ImRecord(Prefix(logon), 1001, account, logon, logon, 0), "4401020001")
            .status.ok());
  };
  // Records reach the queue once the journal thread has written them.
  auto queued = [&](std::size_t count) {
    return testing_support::WaitUntil(
        [&] { return passes->intake().ForEachQueued(nullptr) == count; },
        std::chrono::seconds(10));
  };
  passes->failures = 1;
  add("first");
  add("bad");
  add("after");
  ASSERT_TRUE(queued(3));
  EXPECT_FALSE(passes->DrainPass());
  EXPECT_EQ(Stored(), (std::vector<std::string>{"first"}));
  EXPECT_EQ(passes->intake().Counters().waiting, 2u);
  EXPECT_TRUE(passes->DrainPass());
  EXPECT_EQ(Stored(), (std::vector<std::string>{"first", "bad", "after"}));

  passes->failures = 3;
  add("bad again");
  add("last");
  ASSERT_TRUE(queued(2));
  EXPECT_FALSE(passes->DrainPass());
  EXPECT_FALSE(passes->DrainPass());
  EXPECT_TRUE(passes->DrainPass());
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Stored(), (std::vector<std::string>{"first", "bad", "after", "last"}));
  EXPECT_EQ(passes->Unapplied(), 1u);
  EXPECT_EQ(testing_support::FileSize(Vdb() + "/" + kUnappliedFileName),
            static_cast<long>(rec::kSize));
}

// The keywords of identities still on line stay in memory past three days,
// so a seat's log-off four days on puts its stored records off without
// writing them again (no false off-line events upstream); once the seat is
// gone they may leave.
TEST_F(ListPassTest, KeywordsOfIdentitiesOnLineStayForAsLongAsTheyAre) {
  testing_support::MovedClockEnv clock;
  const std::time_t logon = std::time(nullptr) - 60;
  testing::internal::CaptureStdout();
  IceUtil::Handle<Passes> passes = new Passes(SiteAt(&clock, site.path()));
  passes->Initialize();
  VirtualIdRecord seat = SeatRecord(Prefix(logon), "seat", static_cast<int>(logon), 0, 1);
  VirtualIdRecord im = ImRecord(Prefix(logon), 1001, "qq", logon + 1, logon + 1, 0);
  passes->UpdateList(seat);
  passes->UpdateList(im);
  clock.Advance(4 * 86400 * 1000);
  passes->FinishPass();
  EXPECT_EQ(passes->SentKeywordCount(), 2u);

  VirtualIdRecord off = SeatRecord(Prefix(logon), "seat", static_cast<int>(logon),
                                   static_cast<int>(logon) + 4 * 86400, 1);
  passes->UpdateList(off);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"seat", "qq", "seat"}));
  clock.Advance(4 * 86400 * 1000);
  passes->FinishPass();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(passes->SentKeywordCount(), 0u);
}
