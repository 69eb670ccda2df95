#include "common/JobThread.h"

#include <utility>

namespace tessel {

bool JobThread::Post(Job job) {
  if (!HasStarted()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    jobs_.push_back(std::move(job));
  }
  due_.notify_one();
  return true;
}

void JobThread::OnStopRequested() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  due_.notify_one();
}

void JobThread::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    due_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and every job run
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    job = nullptr;  // what the job holds is let go outside the lock
    lock.lock();
  }
}

}  // namespace tessel
