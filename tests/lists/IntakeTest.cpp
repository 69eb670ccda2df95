// The intake: one sync answers every caller it covered, and a record the
// intake cannot keep is refused with the reason, never taken silently.
#include "lists/Intake.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>

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
    EXPECT_EQ(unwritable.Open(dir / "virtualdb/").ToString(),
              "create directory " + (dir / "virtualdb") + ": Permission denied");
    disk.Heal();
  }
  WriteOptions options;
  options.maxWaitingRecords = 2;
  options.roomWaitMs = 50;
  Intake intake(&disk, options);
  ASSERT_TRUE(intake.Open(dir.path()).ok());
  testing::internal::CaptureStderr();

  disk.Fail(testing_support::FaultEnv::kWrite, "intake.journal", ENOSPC);
  Receipt receipt = intake.Add(Numbered(1));
  EXPECT_NE(receipt.status.ToString().find("journal entry cannot be written"), std::string::npos)
      << receipt.status.ToString();
  EXPECT_EQ(intake.Counters().waiting, 0u);  // not queued either
  disk.Heal();

  disk.Fail(testing_support::FaultEnv::kSync, "intake.journal", EIO);
  receipt = intake.Add(Numbered(2));
  ASSERT_TRUE(receipt.status.ok());
  std::atomic<bool> failed{false};
  intake.WhenSafe(receipt.sequence, [&](const port::Status& status) { failed = !status.ok(); });
  ASSERT_TRUE(WaitUntil([&] { return failed.load(); }, kDeadline));
  disk.Heal();

  // The bound: one more record fits, then a wait for room, then refusals at
  // once until a pass makes room.
  EXPECT_TRUE(intake.Add(Numbered(3)).status.ok());
  receipt = intake.Add(Numbered(4));
  EXPECT_NE(receipt.status.ToString().find("2 records wait to be stored"), std::string::npos)
      << receipt.status.ToString();
  EXPECT_FALSE(intake.Add(Numbered(5)).status.ok());
  std::vector<VirtualIdRecord> taken;
  intake.PassDone(intake.Take(&taken), true, 0);
  EXPECT_EQ(taken.size(), 2u);
  EXPECT_TRUE(intake.Add(Numbered(6)).status.ok());

  intake.Close();
  EXPECT_NE(intake.Add(Numbered(7)).status.ToString().find("stopping"), std::string::npos);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("accepted again; 2 were refused"), std::string::npos) << log;
  const IntakeCounters counters = intake.Counters();
  EXPECT_EQ(counters.accepted, 3u);
  EXPECT_EQ(counters.refused, 4u);
}
