#include "common/StopSignal.h"

namespace tessel {

bool StopSignal::Raise() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (raised_) return false;
    raised_ = true;
  }
  wake_.notify_all();
  return true;
}

bool StopSignal::Raised() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return raised_;
}

bool StopSignal::Pause(int milliseconds) {
  std::unique_lock<std::mutex> guard(mutex_);
  return !env_->WaitFor(wake_, guard, milliseconds, [this] { return raised_; });
}

}  // namespace tessel
