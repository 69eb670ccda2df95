#include "common/GiveWay.h"

#include <chrono>
#include <thread>

namespace tessel {

namespace {

const std::chrono::microseconds kGiveWayEvery(200);

thread_local std::chrono::steady_clock::time_point last;

}  // namespace

void GiveWayIfDue() {
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  if (now - last < kGiveWayEvery) return;
  std::this_thread::yield();
  last = std::chrono::steady_clock::now();
}

}  // namespace tessel
