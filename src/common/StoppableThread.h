// A worker thread that can be asked to stop: its loop and every pause it
// takes obey the request, and the owner joins it before letting it go.
#ifndef TESSEL_COMMON_STOPPABLETHREAD_H
#define TESSEL_COMMON_STOPPABLETHREAD_H

#include <IceUtil/Thread.h>

#include <mutex>

#include "common/StopSignal.h"
#include "port/Env.h"

namespace tessel {

class StoppableThread : public IceUtil::Thread {
 public:
  explicit StoppableThread(port::Env* env);

  // Asks the thread to end; returns at once. Safe from any thread.
  void RequestStop();

  // Asks the thread to end and waits until it has ended (nothing to wait
  // for when it was never started). Not to be called by the thread itself.
  void StopAndJoin();

  // True once start() has been called on this thread.
  bool HasStarted();

 protected:
  bool StopRequested() const { return stop_.Raised(); }

  // Sleeps for the given time; false (early) when a stop is requested.
  bool Pause(int milliseconds) { return stop_.Pause(milliseconds); }

  // Called once by RequestStop after the flag is set, to end waits that
  // are not pauses (a blocked network call, say).
  virtual void OnStopRequested() {}

 private:
  StopSignal stop_;
  std::mutex joinLock_;
  bool joined_ = false;
};

}  // namespace tessel

#endif
