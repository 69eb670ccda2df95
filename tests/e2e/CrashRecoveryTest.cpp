// The real service killed with SIGKILL at any moment, and a day file it
// cannot write: every record whose call returned is in the day file after a
// restart, and every record is there once, even when it is sent again.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <map>
#include <thread>

#include "E2eSite.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"

using namespace tessel;
using namespace testing_support;

namespace {

const std::chrono::seconds kDeadline(20);

// IM records with distinct accounts, of a seat that logged on a minute ago.
std::vector<VirtualIdRecord> Records(int count, const std::string& tag) {
  const std::string prefix =
      "4401020001_16777343_" + std::to_string(std::time(nullptr) - 60) + "_";
  std::vector<VirtualIdRecord> records;
  for (int i = 0; i < count; ++i)
    records.push_back(ImRecord(prefix, 1001, tag + std::to_string(i), 100 + i, 100 + i, 0));
  return records;
}

// How often each account stands in today's day file.
std::map<std::string, int> DayFileAccounts(const std::string& site) {
  std::map<std::string, int> seen;
  for (const VirtualIdRecord& record : TodaysRecords(site))
    ++seen[record.Text(rec::kAccount, rec::kSeatAccountWidth)];
  return seen;
}

std::string Account(const VirtualIdRecord& record) {
  return record.Text(rec::kAccount, rec::kSeatAccountWidth);
}

// Sends records one call after the other until they are all sent or a call
// fails (the server was killed); the number of calls that returned.
int SendUntilFailure(IceBoxSite& site, const std::vector<VirtualIdRecord>& records) {
  int returned = 0;
  try {
    for (const VirtualIdRecord& record : records) {
      site.proxy()->write(Bytes(record));
      ++returned;
    }
  } catch (const Ice::Exception&) {
  }
  return returned;
}

// The day file the status shows as failing; empty when none is.
std::string DayFileFault(const Tessel::SiteState& state) {
  for (const Tessel::OutputFault& fault : state.faults)
    if (fault.output == "day file") return fault.target;
  return std::string();
}

bool DayFileHoldsAll(IceBoxSite& site, const std::vector<VirtualIdRecord>& records, int count) {
  return WaitUntil(
      [&] {
        std::map<std::string, int> seen = DayFileAccounts(site.dir());
        for (int i = 0; i < count; ++i)
          if (seen.count(Account(records[i])) == 0) return false;
        return true;
      },
      kDeadline);
}

}  // namespace

TEST(CrashRecoveryTest, KilledAtAnyMomentKeepsEveryReturnedRecordOnce) {
  IceBoxSite site;
  std::vector<VirtualIdRecord> all;
  // Kills early in a burst, in the middle of one, and late in one.
  for (int delayMs : {20, 150, 400}) {
    ASSERT_TRUE(site.start()) << site.serverStderr();
    const std::vector<VirtualIdRecord> burst = Records(600, "k" + std::to_string(delayMs) + "_");
    std::atomic<int> returned(0);
    std::thread sender([&] { returned = SendUntilFailure(site, burst); });
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    site.kill();
    sender.join();
    ASSERT_TRUE(site.start()) << site.serverStderr();
    EXPECT_TRUE(DayFileHoldsAll(site, burst, returned)) << returned << " returned";
    all.insert(all.end(), burst.begin(), burst.end());
  }

  // Everything sent again: still once each.
  EXPECT_EQ(SendUntilFailure(site, all), static_cast<int>(all.size()));
  ASSERT_TRUE(DayFileHoldsAll(site, all, static_cast<int>(all.size())));
  EXPECT_EQ(site.stop(), 0);
  const std::map<std::string, int> seen = DayFileAccounts(site.dir());
  EXPECT_EQ(seen.size(), all.size());
  for (const auto& account : seen) EXPECT_EQ(account.second, 1) << account.first;
}

// A day file that cannot be written (here a directory stands in its place):
// the calls return at once, the records wait (through a kill as well), the
// status names the file, and once the file can be written they are all
// stored, in order, once each.
TEST(CrashRecoveryTest, RecordsWaitForADayFileThatCannotBeWritten) {
  IceBoxSite site;
  const int adminPort = FreePort();
  ShowStatusFacet(site, adminPort);
  const std::string dayFile =
      DayFileName(VirtualDbDirOf(site.dir()), DayStamp(std::time(nullptr)));
  ASSERT_TRUE(site.start()) << site.serverStderr();
  ASSERT_EQ(::mkdir(dayFile.c_str(), 0755), 0);
  const std::vector<VirtualIdRecord> records = Records(40, "w");
  EXPECT_EQ(SendUntilFailure(site, std::vector<VirtualIdRecord>(records.begin(),
                                                                records.begin() + 20)),
            20);
  EXPECT_TRUE(WaitUntil(
      [&] {
        const Tessel::SiteState state = ReadStatusFacet(site, adminPort);
        return DayFileFault(state) == dayFile && state.waiting == 20 && state.stored == 0;
      },
      kDeadline));
  site.kill();

  ASSERT_TRUE(site.start()) << site.serverStderr();
  EXPECT_EQ(SendUntilFailure(site, std::vector<VirtualIdRecord>(records.begin() + 20,
                                                                records.end())),
            20);
  ASSERT_EQ(::rmdir(dayFile.c_str()), 0);
  ASSERT_TRUE(DayFileHoldsAll(site, records, 40));
  EXPECT_TRUE(WaitUntil([&] { return DayFileFault(ReadStatusFacet(site, adminPort)).empty(); },
                        kDeadline));
  EXPECT_EQ(site.stop(), 0);
  const std::vector<VirtualIdRecord> stored = TodaysRecords(site.dir());
  ASSERT_EQ(stored.size(), records.size());
  for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(Account(stored[i]), Account(records[i]));
}

// A lowered bound while the day file cannot be written: the calls beyond it
// fail with the reason, never answered as if kept; the records accepted wait
// through a stop and are stored once each; the refused ones, sent again
// once there is room, are stored too.
TEST(CrashRecoveryTest, BeyondTheBoundACallFailsAndNothingAcceptedIsLost) {
  IceBoxSite site;
  const int adminPort = FreePort();
  ShowStatusFacet(site, adminPort);
  site.setProperty("tesselWriteService.MaxWaitingRecords", "10");
  const std::string dayFile =
      DayFileName(VirtualDbDirOf(site.dir()), DayStamp(std::time(nullptr)));
  ASSERT_TRUE(site.start()) << site.serverStderr();
  ASSERT_EQ(::mkdir(dayFile.c_str(), 0755), 0);
  const std::vector<VirtualIdRecord> records = Records(20, "b");
  std::vector<VirtualIdRecord> accepted, refused;
  for (const VirtualIdRecord& record : records) {
    try {
      site.proxy()->write(Bytes(record));
      accepted.push_back(record);
    } catch (const Ice::UnknownException& e) {
      EXPECT_NE(e.unknown.find("records wait to be stored"), std::string::npos) << e.unknown;
      refused.push_back(record);
    }
  }
  EXPECT_EQ(accepted.size(), 10u);
  EXPECT_EQ(refused.size(), 10u);
  const Tessel::SiteState state = ReadStatusFacet(site, adminPort);
  EXPECT_EQ(state.accepted, 10);
  EXPECT_EQ(state.refused, 10);
  EXPECT_EQ(state.waiting, 10);
  EXPECT_EQ(site.stop(), 0);

  ASSERT_EQ(::rmdir(dayFile.c_str()), 0);
  ASSERT_TRUE(site.start()) << site.serverStderr();
  ASSERT_TRUE(DayFileHoldsAll(site, accepted, static_cast<int>(accepted.size())));
  EXPECT_EQ(SendUntilFailure(site, refused), static_cast<int>(refused.size()));
  ASSERT_TRUE(DayFileHoldsAll(site, refused, static_cast<int>(refused.size())));
  EXPECT_EQ(site.stop(), 0);
  const std::map<std::string, int> seen = DayFileAccounts(site.dir());
  EXPECT_EQ(seen.size(), records.size());
  for (const auto& account : seen) EXPECT_EQ(account.second, 1) << account.first;
}
