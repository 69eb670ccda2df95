#include "forward/StoppableThread.h"

#include <chrono>

StoppableThread::StoppableThread() : stop_(false), joined_(false) {}

void StoppableThread::RequestStop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stop_) return;
    stop_ = true;
  }
  wake_.notify_all();
  OnStopRequested();
}

bool StoppableThread::HasStarted() {
  IceUtil::Mutex::Lock guard(_stateMutex);
  return _started;
}

void StoppableThread::StopAndJoin() {
  RequestStop();
  if (!HasStarted()) return;
  IceUtil::ThreadControl control = getThreadControl();
  if (control == IceUtil::ThreadControl()) return;  // the thread itself
  // Not lock_: the thread takes that one in its pauses while it ends.
  std::lock_guard<std::mutex> guard(joinLock_);
  if (joined_) return;
  joined_ = true;
  control.join();
}

bool StoppableThread::StopRequested() {
  std::lock_guard<std::mutex> guard(lock_);
  return stop_;
}

bool StoppableThread::Pause(int milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  return !wake_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return stop_; });
}
