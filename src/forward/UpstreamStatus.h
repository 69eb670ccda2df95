// How one upstream server's day-file sender is doing, as an operator asks:
// a copy taken at one moment, which another thread may read at leisure.
#ifndef TESSEL_FORWARD_UPSTREAMSTATUS_H
#define TESSEL_FORWARD_UPSTREAMSTATUS_H

#include <cstdint>
#include <ctime>
#include <string>

namespace tessel {

struct UpstreamStatus {
  std::string host;          // as configured
  unsigned short port = 0;
  std::string dayStamp;      // the day file being sent ("%y%m%d")
  std::uint32_t offset = 0;  // in it, of the first record not yet acknowledged
  // Whole records not yet dealt with: the rest of the day file being sent
  // and, when that is a past day's, every later day file up to today's.
  std::uint64_t recordsBehind = 0;
  bool connected = false;          // the last exchange was acknowledged
  std::time_t lastAcknowledged = 0;  // 0: none yet
  // The last failure and when the server went down with it; both are kept
  // once it is back, as the last trouble seen (0 and empty: none yet).
  std::string lastError;
  std::time_t downSince = 0;
  std::uint64_t retries = 0;  // sends of the waiting record since it went down; 0 once back
  // Since when records have waited without a break (0: none waits): the
  // age of the oldest record not yet acknowledged, as far as the sender
  // can tell (one found in a past day's file is at least as old as the
  // end of that day).
  std::time_t waitingSince = 0;
};

}  // namespace tessel

#endif
