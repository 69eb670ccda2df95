#include "common/JobThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace tessel {
namespace {

// Jobs run off the posting thread, one at a time and in order, and a stop
// returns only once every job posted before it has run: the stop of a site
// relies on it to answer the exports the adapter has already let in.
TEST(JobThreadTest, RunsJobsInOrderOffTheCallerAndFinishesThemBeforeTheStopReturns) {
  JobThreadPtr thread = new JobThread(port::Env::Default());
  EXPECT_FALSE(thread->Post([] {}));  // not started: the caller runs it itself
  thread->start();

  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
  std::vector<int> order;
  std::atomic<bool> offCaller{true};
  const std::thread::id caller = std::this_thread::get_id();
  ASSERT_TRUE(thread->Post([&] {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return go; });
    order.push_back(0);
  }));
  for (int i = 1; i <= 3; ++i)
    ASSERT_TRUE(thread->Post([&, i] {
      if (std::this_thread::get_id() == caller) offCaller = false;
      std::lock_guard<std::mutex> lock(mutex);
      order.push_back(i);
    }));
  // The first job holds the thread; the caller is free meanwhile.
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(order.empty());
    go = true;
  }
  released.notify_all();
  thread->StopAndJoin();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(offCaller);
  EXPECT_FALSE(thread->Post([] {}));  // stopped
}

}  // namespace
}  // namespace tessel
