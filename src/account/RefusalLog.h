// The calls the service refuses, told in its own lines rather than in one
// Ice warning per call: each reason the first time, then at most once a
// minute with the number of refusals since it was last told. Records
// refused are also counted per minute for the last hour, so that the
// status can say how many were refused lately (health that recovers once
// the cause is gone) beside the totals since the start.
#ifndef TESSEL_ACCOUNT_REFUSALLOG_H
#define TESSEL_ACCOUNT_REFUSALLOG_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "port/Env.h"

namespace tessel {

class RefusalLog {
 public:
  static constexpr std::int64_t kTellEveryMs = 60 * 1000;
  static constexpr int kMinutesKept = 60;
  // Distinct reasons remembered; past it, a new one is told and counted
  // under "other reasons", so that texts naming many files or addresses
  // cannot make the service grow.
  static constexpr std::size_t kMaxReasons = 256;

  explicit RefusalLog(port::Env* env);

  // One refused call for `reason`. `record`: a record was refused (counted
  // per minute); `tell`: told here (false when another note tells it).
  void Note(const std::string& reason, bool record, bool tell);

  // Records refused in each minute, the current one first, for the last
  // kMinutesKept minutes (by the Env's steady clock).
  std::vector<std::uint64_t> RecordsPerMinute() const;

 private:
  struct Reason {
    std::uint64_t untold = 0;  // refusals since it was last told
    std::int64_t toldAtMs = 0;
  };

  port::Env* const env_;
  // Taken alone: nothing else is locked while it is held.
  mutable std::mutex mutex_;
  std::map<std::string, Reason> reasons_;
  std::uint64_t perMinute_[kMinutesKept] = {};
  std::int64_t minuteOf_[kMinutesKept] = {};  // which minute each slot counts
};

}  // namespace tessel

#endif
