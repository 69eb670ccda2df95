// How the service is doing, as an operator asks (the status facet): a copy
// of counters each part keeps for itself, taken without any lock a call of
// an agent waits on. The site instance gives the workers' view; the servant
// adds what it notes of its callers.
#ifndef TESSEL_SITE_SERVICESTATUS_H
#define TESSEL_SITE_SERVICESTATUS_H

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/Faults.h"
#include "common/SiteOptions.h"
#include "forward/UpstreamStatus.h"
#include "lists/Intake.h"
#include "lists/RecordWriter.h"

namespace tessel {

// What the servant notes of its callers.
struct CallerCounts {
  std::uint64_t disallowed = 0;  // calls refused: the client is not allowed
  std::uint64_t malformed = 0;   // records of the wrong shape, ignored
  // Records refused in each of the last minutes, this minute first.
  std::vector<std::uint64_t> refusedPerMinute;
};

struct ServiceStatus {
  WriteOptions options;
  IntakeCounters intake;
  WriteCounters writes;
  std::time_t lastPassAt = 0;     // when the list thread's last pass began
  std::int64_t lastPassMs = 0;    // and how long it took
  std::uint64_t unapplied = 0;    // records set aside: they could not be applied
  std::vector<UpstreamStatus> upstreams;
  std::vector<Fault> exportFaults;  // the on-line export directory, while it fails
  CallerCounts callers;
  std::string siteName;  // the label of this site's metrics
  std::string version;
  std::int64_t virtualDbBytes = -1;      // in the files of virtualdb; -1: unknown
  std::int64_t virtualDbFreeBytes = -1;  // free on virtualdb's file system; -1: unknown
};

}  // namespace tessel

#endif
