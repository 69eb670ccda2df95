// The intake: one sync answers every caller it covered, a record the intake
// cannot keep is refused with the reason, never taken silently, and a sync
// that fails and loses its pages costs nothing acknowledged after it.
#include "lists/Intake.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

#include "PowerCutEnv.h"
#include "TestEnv.h"
#include "TestSupport.h"

using namespace tessel;
using testing_support::ImRecord;
using testing_support::TempDir;
using testing_support::WaitUntil;

namespace {

const std::chrono::milliseconds kDeadline(5000);

// Syncs wait at a gate the test opens, and are counted.
class GatedSyncEnv : public port::EnvWrapper {
 public:
  GatedSyncEnv() : EnvWrapper(port::Env::Default()) {}

  port::Status OpenFile(const std::string& path, port::File::Mode mode,
                        std::unique_ptr<port::File>* file) override {
    port::Status status = target()->OpenFile(path, mode, file);
    if (status.ok()) file->reset(new GatedFile(this, std::move(*file)));
    return status;
  }
  void Open() {
    std::lock_guard<std::mutex> guard(mutex);
    open = true;
    wake.notify_all();
  }

  std::mutex mutex;
  std::condition_variable wake;
  bool open = false;
  std::atomic<int> syncs{0}, waiting{0};

 private:
  class GatedFile : public port::File {
   public:
    GatedFile(GatedSyncEnv* env, std::unique_ptr<port::File> file)
        : env_(env), file_(std::move(file)) {}
    port::Status Size(std::uint64_t* size) override { return file_->Size(size); }
    port::Status Write(const void* data, std::size_t length, std::uint64_t offset,
                       std::size_t* written) override {
      return file_->Write(data, length, offset, written);
    }
    port::Status Read(void* data, std::size_t length, std::uint64_t offset,
                      std::size_t* read) override {
      return file_->Read(data, length, offset, read);
    }
    port::Status Truncate(std::uint64_t size) override { return file_->Truncate(size); }
    port::Status Close() override { return file_->Close(); }
    port::Status Sync() override {
      ++env_->waiting;
      std::unique_lock<std::mutex> guard(env_->mutex);
      env_->wake.wait(guard, [this] { return env_->open; });
      ++env_->syncs;
      return file_->Sync();
    }

   private:
    GatedSyncEnv* env_;
    std::unique_ptr<port::File> file_;
  };
};

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

VirtualIdRecord Numbered(int n) { return ImRecord("U_1_2_", 1001, std::to_string(n), n, n, 0); }

}  // namespace

TEST(IntakeTest, OneSyncAnswersEveryCallerItCovered) {
  TempDir dir;
  GatedSyncEnv disk;
  Intake intake(&disk, WriteOptions());
  ASSERT_TRUE(intake.Open(dir.path()).ok());
  std::atomic<int> answered{0};
  auto add = [&](int n) {
    const Receipt receipt = intake.Add(Numbered(n));
    ASSERT_TRUE(receipt.status.ok());
    intake.WhenSafe(receipt.sequence, [&](const port::Status& status) {
      EXPECT_TRUE(status.ok());
      ++answered;
    });
  };
  add(0);
  ASSERT_TRUE(WaitUntil([&] { return disk.waiting == 1; }, kDeadline));  // its sync has begun
  for (int n = 1; n < 50; ++n) add(n);
  EXPECT_EQ(answered, 0);  // nobody is answered before the disk has the entry
  disk.Open();
  ASSERT_TRUE(WaitUntil([&] { return answered == 50; }, kDeadline));
  EXPECT_EQ(disk.syncs, 2);  // the first caller's, then one for the other 49
}

TEST(IntakeTest, RefusesWhatItCannotKeepAndSaysWhy) {
  TempDir dir;
  testing_support::FaultEnv disk;
  {
    // A site it cannot write to: the reason is the directory's.
    disk.Fail(testing_support::FaultEnv::kCreateDir, "virtualdb", EACCES);
    Intake unwritable(&disk, WriteOptions());
    EXPECT_EQ(unwritable.Open(dir / "virtualdb/").error(), EACCES);
    disk.Heal();
  }
  WriteOptions options;
  options.maxWaitingRecords = 2;
  options.roomWaitMs = 50;
  Intake intake(&disk, options);
  ASSERT_TRUE(intake.Open(dir.path()).ok());
  testing::internal::CaptureStderr();

  // The answer of a record whose entry failed: its refusal.
  auto answer = [&](const Receipt& receipt) {
    std::mutex lock;
    std::condition_variable done;
    bool answered = false;
    port::Status result;
    intake.WhenSafe(receipt, [&](const port::Status& status) {
      std::lock_guard<std::mutex> guard(lock);
      result = status;
      answered = true;
      done.notify_all();
    });
    std::unique_lock<std::mutex> guard(lock);
    EXPECT_TRUE(done.wait_for(guard, kDeadline, [&] { return answered; }));
    return result;
  };
  disk.Fail(testing_support::FaultEnv::kWrite, "intake.journal", ENOSPC);
  Receipt receipt = intake.Add(Numbered(1));
  ASSERT_TRUE(receipt.status.ok());
  EXPECT_TRUE(answer(receipt).IsRefused());
  EXPECT_EQ(intake.Counters().refused, 1u);
  EXPECT_EQ(intake.Counters().waiting, 0u);  // not queued either
  disk.Heal();

  disk.Fail(testing_support::FaultEnv::kSync, "intake.journal", EIO);
  receipt = intake.Add(Numbered(2));
  ASSERT_TRUE(receipt.status.ok());
  EXPECT_TRUE(answer(receipt).IsRefused());  // in the file, but not known to be on the disk
  disk.Heal();

  // The bound: one more record fits, then a wait for room, then refusals at
  // once until a pass makes room.
  receipt = intake.Add(Numbered(3));
  EXPECT_TRUE(answer(receipt).ok());
  receipt = intake.Add(Numbered(4));
  EXPECT_TRUE(receipt.status.IsRefused());
  EXPECT_EQ(intake.Counters().waiting, 2u);
  EXPECT_FALSE(intake.Add(Numbered(5)).status.ok());
  std::vector<VirtualIdRecord> taken;
  intake.PassDone(intake.Take(&taken), true, 0);
  EXPECT_EQ(taken.size(), 2u);  // 2 (in the file, though its sync failed) and 3
  receipt = intake.Add(Numbered(6));
  EXPECT_TRUE(answer(receipt).ok());

  // A call whose records went in two batches, the first of which failed,
  // is refused although its last record was kept.
  disk.Fail(testing_support::FaultEnv::kWrite, "intake.journal", ENOSPC);
  Receipt call = intake.Add(Numbered(10));
  ASSERT_TRUE(answer(call).IsRefused());
  disk.Heal();
  call.Add(intake.Add(Numbered(11)));
  EXPECT_TRUE(answer(call).IsRefused());

  intake.Close();
  EXPECT_TRUE(intake.Add(Numbered(7)).status.IsRefused());
  testing::internal::GetCapturedStderr();
  const IntakeCounters counters = intake.Counters();
  EXPECT_EQ(counters.accepted, 4u);  // 2, 3, 6, 11
  EXPECT_EQ(counters.refused, 5u);   // 1, 4, 5, 10, 7
}

TEST(IntakeTest, ASyncThatFailedAndLostItsPagesCostsNothingAcknowledgedAfterIt) {
  TempDir dir;
  testing_support::PowerCutEnv disk(dir / "backup", 7);
  const std::string journalDir = dir / "virtualdb";
  std::vector<int> acknowledged;
  {
    Intake intake(&disk, WriteOptions());
    ASSERT_TRUE(intake.Open(journalDir).ok());
    auto send = [&](int n) {
      const Receipt receipt = intake.Add(Numbered(n));
      ASSERT_TRUE(receipt.status.ok());
      std::mutex lock;
      std::condition_variable done;
      int answer = 0;
      intake.WhenSafe(receipt, [&](const port::Status& status) {
        std::lock_guard<std::mutex> guard(lock);
        answer = status.ok() ? 1 : -1;
        done.notify_all();
      });
      std::unique_lock<std::mutex> guard(lock);
      ASSERT_TRUE(done.wait_for(guard, kDeadline, [&] { return answer != 0; }));
      if (answer == 1) acknowledged.push_back(n);
    };
    send(1);
    send(2);
    disk.FailSyncLosingPages("intake.journal");
    send(3);  // refused: its sync failed, and its entry is lost with the page
    EXPECT_EQ(acknowledged, (std::vector<int>{1, 2}));
    for (int n = 4; n <= 6; ++n) send(n);
    EXPECT_EQ(acknowledged, (std::vector<int>{1, 2, 4, 5, 6}));

    // The power goes before any of it is stored.
    disk.CutAfter(0);
  }
  disk.ApplyCut();
  IntakeJournal journal(port::Env::Default(), journalDir);
  std::vector<VirtualIdRecord> left;
  ASSERT_TRUE(journal.Open(&left).ok());
  std::vector<int> back;
  for (const VirtualIdRecord& record : left) back.push_back(std::stoi(record.Text(rec::kAccount, 30)));
  EXPECT_EQ(back, (std::vector<int>{1, 2, 4, 5, 6}));
}

TEST(IntakeTest, AFileGivenUpAfterAFailedSyncGoesOnceItsRecordsAreStored) {
  TempDir dir;
  testing_support::PowerCutEnv disk(dir / "backup", 7);
  Intake intake(&disk, WriteOptions());
  ASSERT_TRUE(intake.Open(dir.path()).ok());
  auto settled = [&](int n) {
    std::atomic<bool> answered{false};
    intake.WhenSafe(intake.Add(Numbered(n)), [&](const port::Status&) { answered = true; });
    return WaitUntil([&] { return answered.load(); }, kDeadline);
  };
  ASSERT_TRUE(settled(1));
  disk.FailSyncLosingPages("intake.journal.0");
  ASSERT_TRUE(settled(2));  // refused; appends go to a fresh file
  ASSERT_TRUE(settled(3));
  const std::string failed = IntakeJournal::FileName(dir.path(), 0);
  const std::string fresh = IntakeJournal::FileName(dir.path(), 2);
  EXPECT_TRUE(Exists(fresh));
  EXPECT_TRUE(Exists(failed));  // 1 and 2 are not stored yet

  std::vector<VirtualIdRecord> taken;
  intake.PassDone(intake.Take(&taken), true, 0);
  EXPECT_EQ(taken.size(), 3u);  // 2 is in the file: stored once, though its caller was refused
  EXPECT_FALSE(Exists(failed));
  // The two files that take turns from now on: 1 and 2.
  ASSERT_TRUE(settled(4));
  intake.PassDone(intake.Take(&taken), true, 0);
  ASSERT_TRUE(settled(5));
  intake.PassDone(intake.Take(&taken), true, 0);
  std::vector<std::string> names;
  ASSERT_TRUE(port::Env::Default()->GetChildren(dir.path(), &names).ok());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"backup", "intake.journal.1", "intake.journal.2"}));
}
