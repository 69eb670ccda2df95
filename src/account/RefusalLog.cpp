#include "account/RefusalLog.h"

#include "common/Console.h"

namespace tessel {

namespace {

const char kOtherReasons[] = "other reasons";

}  // namespace

RefusalLog::RefusalLog(port::Env* env) : env_(env) {
  for (std::int64_t& minute : minuteOf_) minute = -1;
}

void RefusalLog::Note(const std::string& reason, bool record, bool tell) {
  const std::int64_t nowMs = env_->NowMillis();
  std::string line;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (record) {
      const std::int64_t minute = nowMs / 60000;
      const int slot = static_cast<int>(minute % kMinutesKept);
      if (minuteOf_[slot] != minute) {
        minuteOf_[slot] = minute;
        perMinute_[slot] = 0;
      }
      ++perMinute_[slot];
    }
    if (!tell) return;
    std::string key = reason;
    if (reasons_.count(key) == 0 && reasons_.size() >= kMaxReasons) key = kOtherReasons;
    const bool first = reasons_.count(key) == 0;
    Reason& entry = reasons_[key];
    ++entry.untold;
    if (!first && nowMs - entry.toldAtMs < kTellEveryMs) return;
    line = first ? "a call refused: " + reason
                 : std::to_string(entry.untold) + " calls refused since " +
                       std::to_string((nowMs - entry.toldAtMs) / 1000) + " s ago: " + key;
    entry.untold = 0;
    entry.toldAtMs = nowMs;
  }
  LogLine("%s", Printable(line).c_str());
}

std::vector<std::uint64_t> RefusalLog::RecordsPerMinute() const {
  const std::int64_t minute = env_->NowMillis() / 60000;
  std::vector<std::uint64_t> counts(kMinutesKept, 0);
  std::lock_guard<std::mutex> guard(mutex_);
  for (int back = 0; back < kMinutesKept; ++back) {
    const std::int64_t wanted = minute - back;
    if (wanted < 0) break;
    const int slot = static_cast<int>(wanted % kMinutesKept);
    if (minuteOf_[slot] == wanted) counts[back] = perMinute_[slot];
  }
  return counts;
}

}  // namespace tessel
