// Envs for tests, stacked on the real one: FaultEnv makes chosen file
// operations fail as a full disk or a refused permission would, and
// MovedClockEnv lets a test move time forward instead of waiting for it.
#ifndef TESSEL_TESTS_TESTENV_H
#define TESSEL_TESTS_TESTENV_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "port/Env.h"

namespace testing_support {

class FaultEnv : public tessel::port::EnvWrapper {
 public:
  enum Op { kOpen, kWrite, kSync, kRename, kRemove, kCreateDir };

  explicit FaultEnv(tessel::port::Env* target = tessel::port::Env::Default())
      : EnvWrapper(target) {}

  // From now on, `op` on a path containing `pathPart` fails with `error`.
  // kOpen fails only openings for writing: a file that cannot be written
  // can usually still be read.
  void Fail(Op op, const std::string& pathPart, int error);
  // The next write to a path containing `pathPart` writes only `bytes`
  // bytes and then fails with ENOSPC, as a disk that fills up mid-write.
  void ShortWrite(const std::string& pathPart, std::size_t bytes);
  // Every operation works again.
  void Heal();
  // How many operations were made to fail so far.
  int failures() const { return failures_; }

  // The error of `op` on `path`, 0 when it is to work; counts a failure.
  int Check(Op op, const std::string& path);
  // Bytes the next write to `path` may write before it fails (a short
  // write), or -1 for no limit; a limit is used once.
  long TakeShortWrite(const std::string& path);

  tessel::port::Status OpenFile(const std::string& path, tessel::port::File::Mode mode,
                                std::unique_ptr<tessel::port::File>* file) override;
  tessel::port::Status RenameFile(const std::string& from, const std::string& to) override;
  tessel::port::Status RemoveFile(const std::string& path) override;
  tessel::port::Status CreateDir(const std::string& path) override;

 private:
  struct Rule {
    Op op;
    std::string pathPart;
    int error;
  };
  std::mutex mutex_;
  std::vector<Rule> rules_;
  std::vector<std::pair<std::string, std::size_t> > shortWrites_;
  std::atomic<int> failures_{0};
};

// Pauses of at least `threshold` milliseconds wait on a clock of the test's
// (shorter ones take their real time), and the wall clock follows it: a
// test lets a thread's long pause pass with Advance, at once.
class MovedClockEnv : public tessel::port::EnvWrapper {
 public:
  explicit MovedClockEnv(int thresholdMs = 1000,
                         tessel::port::Env* target = tessel::port::Env::Default())
      : EnvWrapper(target), thresholdMs_(thresholdMs) {}

  // Moves the clock forward; pauses whose end it reaches return.
  void Advance(int milliseconds);
  // Waits (really) until `count` threads sit in long pauses; false after
  // `timeoutMs`.
  bool WaitForLongPauses(int count, int timeoutMs);
  // Moves the clock past the long pause a thread sits in, then waits (really)
  // until a long pause begins again: the thread has done its work and
  // pauses anew. False after `timeoutMs`.
  bool AdvanceToNextLongPause(int milliseconds, int timeoutMs);
  // The length of every long pause begun so far, in order.
  std::vector<int> LongPauses();

  std::time_t NowSeconds() override;
  std::int64_t NowMillis() override;
  void SleepMs(int milliseconds) override;
  bool WaitFor(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int milliseconds,
               const std::function<bool()>& done) override;

 private:
  const int thresholdMs_;
  std::atomic<std::int64_t> movedMs_{0};
  std::atomic<int> inLongPause_{0};
  std::mutex mutex_;
  std::vector<int> longPauses_;
};

}  // namespace testing_support

#endif
