#include "common/StoppableThread.h"

namespace tessel {

StoppableThread::StoppableThread(port::Env* env) : stop_(env) {}

void StoppableThread::RequestStop() {
  if (stop_.Raise()) OnStopRequested();
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
  std::lock_guard<std::mutex> guard(joinLock_);
  if (joined_) return;
  joined_ = true;
  control.join();
}

}  // namespace tessel
