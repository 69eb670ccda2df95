// The one way a thread of the service is told to end: a flag that, once
// raised, stays raised, and pauses that end early when it is raised. Each
// thread owns one; its owner raises it and then joins the thread.
#ifndef TESSEL_COMMON_STOPSIGNAL_H
#define TESSEL_COMMON_STOPSIGNAL_H

#include <condition_variable>
#include <mutex>

#include "port/Env.h"

namespace tessel {

class StopSignal {
 public:
  explicit StopSignal(port::Env* env) : env_(env) {}
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  // Raises the signal and wakes every pause; safe from any thread. False
  // when it was raised already.
  bool Raise();
  bool Raised() const;
  // Pauses for the given time, through the Env's clock. False, early or at
  // once, when the signal is raised.
  bool Pause(int milliseconds);

 private:
  port::Env* env_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool raised_ = false;
};

}  // namespace tessel

#endif
