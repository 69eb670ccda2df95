// A thread that runs the jobs handed to it, one at a time, in the order
// they came: work that must not hold the thread that hands it over (an
// on-line export, which may take seconds, must not hold the one thread that
// reads the agents' calls).
#ifndef TESSEL_COMMON_JOBTHREAD_H
#define TESSEL_COMMON_JOBTHREAD_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "common/StoppableThread.h"

namespace tessel {

class JobThread : public StoppableThread {
 public:
  typedef std::function<void()> Job;

  explicit JobThread(port::Env* env) : StoppableThread(env) {}

  // Queues `job`. False, and the job dropped, once a stop was asked for or
  // before the thread was started: the caller runs it itself.
  bool Post(Job job);

  // StopAndJoin runs every job queued before it returns.

 protected:
  void run() override;
  void OnStopRequested() override;

 private:
  std::mutex mutex_;
  std::condition_variable due_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
};

typedef IceUtil::Handle<JobThread> JobThreadPtr;

}  // namespace tessel

#endif
