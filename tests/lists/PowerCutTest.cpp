// Power cuts at hundreds of points of a load of seat log-ons, IM records and
// real-name log-offs, sent in two halves: after each, the service starts again on what the disk
// kept, and every record it acknowledged is in the day file exactly once, no
// keyword in the store lacks its record, every stored log-off made exactly
// one IA file, and the day file holds whole records (so its senders go on
// where they were).
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <map>
#include <set>

#include "PowerCutEnv.h"
#include "RecordExportReader.h"
#include "KeywordStoreContent.h"
#include "TestSupport.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "lists/KeywordStore.h"
#include "lists/PreTreatHandle.h"
#include "record/DayStamp.h"
#include "record/Keyword.h"
#include "record/RiaBaseFile.h"

using namespace tessel;
using namespace testing_support;

namespace {

const std::chrono::milliseconds kDeadline(10000);
const char kUnit[] = "4401020001";

// Three seats, two sessions each: a log-on, two IM accounts, a log-off.
std::vector<VirtualIdRecord> Load() {
  const int now = static_cast<int>(std::time(nullptr));
  std::vector<VirtualIdRecord> records;
  for (int session = 0; session < 2; ++session) {
    for (int seat = 1; seat <= 3; ++seat) {
      const int logon = now - 3000 + session * 1000 + seat;
      const std::string prefix =
          std::string(kUnit) + "_" + std::to_string(seat) + "_" + std::to_string(logon) + "_";
      const std::string id = "s" + std::to_string(seat) + "n" + std::to_string(session);
      records.push_back(SeatRecord(prefix, id, logon, 0, 1));
      records.push_back(ImRecord(prefix, 1001, id + "a", logon + 1, logon + 1, 0));
      records.push_back(ImRecord(prefix, 1002, id + "b", logon + 2, logon + 2, 0));
      records.push_back(SeatRecord(prefix, id, logon, logon + 600, 1));
    }
  }
  return records;
}

bool IsLogoff(VirtualIdRecord record) { return GetNetLogKind(record) == REALNAME_LOGOFF; }

struct Site {
  TempDir dir;
  SiteContext Context(port::Env* env) const { return SiteAt(env, dir.path()); }
  std::string Vdb() const { return Context(port::Env::Default()).VirtualDbDir(); }
  std::string Ia() const { return dir / "ia"; }
};

// The list thread with its IA-file worker on `env`, for as long as it lives.
class Service {
 public:
  Service(const Site& site, port::Env* env) {
    worker_ = new MakeUpIAFileWorker(site.Context(env), true);
    worker_->SetPaths("", site.Ia());
    worker_->SetUnitIdentity(kUnit);
    handler_ = new preTreatHandle(site.Context(env), 10);
    handler_->SetIAFileWorker(worker_.get());
    control_ = handler_->start();
  }
  ~Service() {
    handler_->Stop();
    control_.join();
  }
  preTreatHandle& handler() { return *handler_; }
  // True once everything queued is stored.
  bool Drained() {
    return handler_->intake().Counters().waiting == 0 && handler_->WriteCounters().waiting == 0;
  }

 private:
  MakeUpIAFileWorkerPtr worker_;
  preTreatHandlePtr handler_;
  IceUtil::ThreadControl control_;
};

// Sends the load, remembering which records were acknowledged, until every
// record is answered or the power is off; the changes the disk saw.
long SendLoad(const Site& site, PowerCutEnv& env, const std::vector<VirtualIdRecord>& load,
         std::vector<bool>* acknowledged) {
  std::unique_ptr<std::atomic<int>[]> answers(new std::atomic<int>[load.size()]);
  {
    Service service(site, &env);
    for (std::size_t i = 0; i < load.size(); ++i) {
      // The second half once the first is stored: the journal files are
      // emptied and written over meanwhile.
      if (i == load.size() / 2)
        WaitUntil([&] { return env.Dead() || service.Drained(); }, kDeadline);
      answers[i] = 0;
      const Receipt receipt = service.handler().AddNetLog(load[i], kUnit);
      if (!receipt.status.ok()) {
        answers[i] = -1;
        continue;
      }
      std::atomic<int>* answer = &answers[i];
      service.handler().intake().WhenSafe(
          receipt.sequence, [answer](const port::Status& status) { *answer = status.ok() ? 1 : -1; });
    }
    WaitUntil([&] { return env.Dead() || service.Drained(); }, kDeadline);
  }
  acknowledged->assign(load.size(), false);
  for (std::size_t i = 0; i < load.size(); ++i) (*acknowledged)[i] = answers[i] == 1;
  return env.changes();
}

// What a cut at `cutAfter` changes leaves, once the service has started
// again and stored what it could; failures name the cut.
void CutAndCheck(const std::vector<VirtualIdRecord>& load, long cutAfter, std::uint32_t seed) {
  SCOPED_TRACE("cut after " + std::to_string(cutAfter) + " changes, seed " + std::to_string(seed));
  Site site;
  std::vector<bool> acknowledged;
  {
    PowerCutEnv env(site.dir / "cut-backups", seed);
    env.CutAfter(cutAfter);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    SendLoad(site, env, load, &acknowledged);
    env.ApplyCut();
  }
  {
    Service again(site, port::Env::Default());
    ASSERT_TRUE(WaitUntil([&] { return again.Drained(); }, kDeadline));
  }
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();

  const std::string dayFile = DayFileName(site.Vdb(), DayStamp(std::time(nullptr)));
  ASSERT_EQ(std::max(0L, FileSize(dayFile)) % static_cast<long>(rec::kSize), 0) << "a torn record";
  std::vector<VirtualIdRecord> stored;
  ReadRecords(port::Env::Default(), dayFile, &stored);
  std::map<std::string, int> times;
  for (const VirtualIdRecord& record : stored) ++times[KeywordOf(record)];
  for (std::size_t i = 0; i < load.size(); ++i) {
    const std::string keyword = KeywordOf(load[i]);
    if (acknowledged[i]) {
      EXPECT_EQ(times[keyword], 1) << "acknowledged: " << keyword;
    }
    EXPECT_LE(times[keyword], 1) << "twice: " << keyword;
  }
  std::set<std::string> keywords;
  testing_support::LoadKeywordStore(port::Env::Default(), KeywordStoreFileName(site.Vdb()), std::time(nullptr),
                     &keywords);
  for (const std::string& keyword : keywords) {
    EXPECT_EQ(times.count(keyword), 1u) << "a keyword without its record: " << keyword;
  }

  // Each log-off stored made one IA file, holding it.
  std::map<int, int> iaFilesOf;  // log-off time -> IA files holding it
  for (const std::string& name : ListDir(site.Ia())) {
    std::vector<RecordExportEntry> entries;
    ASSERT_TRUE(ReadRecordExportFile(site.Ia() + "/" + name, &entries)) << name;
    for (const RecordExportEntry& entry : entries)
      if (IsLogoff(entry.record)) ++iaFilesOf[entry.record.LogoffTime()];
  }
  for (const VirtualIdRecord& record : stored) {
    if (IsLogoff(record)) {
      EXPECT_EQ(iaFilesOf[record.LogoffTime()], 1) << KeywordOf(record);
    }
  }
  for (const auto& made : iaFilesOf) EXPECT_EQ(made.second, 1) << "log-off at " << made.first;
}

}  // namespace

TEST(PowerCutTest, NothingAcknowledgedIsLostOrRepeatedWhereverThePowerGoes) {
  const std::vector<VirtualIdRecord> load = Load();
  long changes = 0;
  {
    Site site;
    PowerCutEnv env(site.dir / "cut-backups", 1);
    std::vector<bool> acknowledged;
    testing::internal::CaptureStdout();
    changes = SendLoad(site, env, load, &acknowledged);
    testing::internal::GetCapturedStdout();
    for (std::size_t i = 0; i < load.size(); ++i) ASSERT_TRUE(acknowledged[i]) << i;
  }
  ASSERT_GT(changes, 20);
  // Every point of the load once, then as many at random.
  std::vector<long> cuts;
  const long step = std::max(1L, changes / 120);
  for (long at = 0; at < changes; at += step) cuts.push_back(at);
  std::mt19937 random(20261208);
  while (cuts.size() < 240) cuts.push_back(static_cast<long>(random() % changes));
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    CutAndCheck(load, cuts[i], static_cast<std::uint32_t>(i));
    if (HasFailure()) break;
  }
}
