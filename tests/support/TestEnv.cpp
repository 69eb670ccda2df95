#include "TestEnv.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace testing_support {

namespace port = tessel::port;

namespace {

// A file whose writes and syncs ask the FaultEnv first.
class FaultFile : public port::File {
 public:
  FaultFile(FaultEnv* env, const std::string& path, std::unique_ptr<port::File> file)
      : env_(env), path_(path), file_(std::move(file)) {}

  port::Status Size(std::uint64_t* size) override { return file_->Size(size); }
  port::Status Read(void* data, std::size_t length, std::uint64_t offset,
                    std::size_t* read) override {
    return file_->Read(data, length, offset, read);
  }
  port::Status Truncate(std::uint64_t size) override { return file_->Truncate(size); }
  port::Status Close() override { return file_->Close(); }

  port::Status Write(const void* data, std::size_t length, std::uint64_t offset,
                     std::size_t* written) override {
    *written = 0;
    if (int error = env_->Check(FaultEnv::kWrite, path_))
      return port::Status::Error(error, "write " + path_);
    const long limit = env_->TakeShortWrite(path_);
    if (limit < 0 || static_cast<std::size_t>(limit) >= length)
      return file_->Write(data, length, offset, written);
    file_->Write(data, static_cast<std::size_t>(limit), offset, written);
    return port::Status::Error(ENOSPC, "write " + path_);
  }

  port::Status Sync() override {
    if (int error = env_->Check(FaultEnv::kSync, path_))
      return port::Status::Error(error, "sync " + path_);
    return file_->Sync();
  }

 private:
  FaultEnv* env_;
  std::string path_;
  std::unique_ptr<port::File> file_;
};

}  // namespace

void FaultEnv::Fail(Op op, const std::string& pathPart, int error) {
  std::lock_guard<std::mutex> guard(mutex_);
  rules_.push_back(Rule{op, pathPart, error});
}

void FaultEnv::ShortWrite(const std::string& pathPart, std::size_t bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  shortWrites_.emplace_back(pathPart, bytes);
}

void FaultEnv::Heal() {
  std::lock_guard<std::mutex> guard(mutex_);
  rules_.clear();
  shortWrites_.clear();
}

int FaultEnv::Check(Op op, const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const Rule& rule : rules_) {
    if (rule.op == op && path.find(rule.pathPart) != std::string::npos) {
      ++failures_;
      return rule.error;
    }
  }
  return 0;
}

long FaultEnv::TakeShortWrite(const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto it = shortWrites_.begin(); it != shortWrites_.end(); ++it) {
    if (path.find(it->first) == std::string::npos) continue;
    const long bytes = static_cast<long>(it->second);
    shortWrites_.erase(it);
    ++failures_;
    return bytes;
  }
  return -1;
}

port::Status FaultEnv::OpenFile(const std::string& path, port::File::Mode mode,
                                std::unique_ptr<port::File>* file) {
  if (mode != port::File::kRead) {
    if (int error = Check(kOpen, path)) return port::Status::Error(error, "open " + path);
  }
  std::unique_ptr<port::File> real;
  port::Status status = target()->OpenFile(path, mode, &real);
  if (status.ok()) file->reset(new FaultFile(this, path, std::move(real)));
  return status;
}

port::Status FaultEnv::RenameFile(const std::string& from, const std::string& to) {
  if (int error = Check(kRename, from + "\n" + to))
    return port::Status::Error(error, "rename " + from);
  return target()->RenameFile(from, to);
}

port::Status FaultEnv::RemoveFile(const std::string& path) {
  if (int error = Check(kRemove, path)) return port::Status::Error(error, "remove " + path);
  return target()->RemoveFile(path);
}

port::Status FaultEnv::CreateDir(const std::string& path) {
  if (int error = Check(kCreateDir, path))
    return port::Status::Error(error, "create directory " + path);
  return target()->CreateDir(path);
}

void MovedClockEnv::Advance(int milliseconds) { movedMs_ += milliseconds; }

bool MovedClockEnv::WaitForLongPauses(int count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (inLongPause_ < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool MovedClockEnv::AdvanceToNextLongPause(int milliseconds, int timeoutMs) {
  const std::size_t begun = LongPauses().size();
  Advance(milliseconds);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (LongPauses().size() <= begun) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<int> MovedClockEnv::LongPauses() {
  std::lock_guard<std::mutex> guard(mutex_);
  return longPauses_;
}

std::time_t MovedClockEnv::NowSeconds() {
  return target()->NowSeconds() + static_cast<std::time_t>(movedMs_ / 1000);
}

std::int64_t MovedClockEnv::NowMillis() { return target()->NowMillis() + movedMs_; }

void MovedClockEnv::SleepMs(int milliseconds) {
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock<std::mutex> lock(mutex);
  WaitFor(never, lock, milliseconds, [] { return false; });
}

bool MovedClockEnv::WaitFor(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                            int milliseconds, const std::function<bool()>& done) {
  if (milliseconds < thresholdMs_) return target()->WaitFor(wake, lock, milliseconds, done);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    longPauses_.push_back(milliseconds);
  }
  const std::int64_t end = movedMs_ + milliseconds;
  ++inLongPause_;
  bool result;
  // The clock is looked at every few real milliseconds; `done` is told
  // through `wake` as usual.
  while (!(result = done()) && movedMs_ < end)
    wake.wait_for(lock, std::chrono::milliseconds(2));
  --inLongPause_;
  return result;
}

}  // namespace testing_support
