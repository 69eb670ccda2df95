// Long passes give way. The list thread works through thousands of records
// at a time; a thread woken meanwhile (the one that reads the callers'
// requests, the one that answers them) is queued on the CPU where it was
// woken, often the list thread's, and a short-idle other core does not take
// it over. On a machine of two cores, callers then waited behind a pass for
// milliseconds while a core sat idle (a sixth of the time under full load).
// A pass calls GiveWayIfDue as it goes: every fifth of a millisecond, it
// yields the CPU to whatever waits for it (at once back when nothing does).
#ifndef TESSEL_COMMON_GIVEWAY_H
#define TESSEL_COMMON_GIVEWAY_H

#include <cstddef>

namespace tessel {

void GiveWayIfDue();

// A loop over records calls it once in this many (a look at the clock
// costs about as much as a record's smallest step).
inline constexpr std::size_t kRecordsPerGiveWayLook = 8;

}  // namespace tessel

#endif
