// Day files kept for a number of days, once every upstream has them: an
// opt-in (tesselWriteService.DayFileKeepDays) so that a site's disk does
// not fill with years of records. A day file older than the days kept goes,
// with the damaged copies of it set aside, once the progress of every
// server the list serves has moved past its day; its IA-file counter goes
// once no IP file of that day waits any more. IP files and IA files are
// never touched (the site's collecting software takes the IA files).
#ifndef TESSEL_FORWARD_DAYFILERETENTION_H
#define TESSEL_FORWARD_DAYFILERETENTION_H

#include <cstdint>
#include <ctime>
#include <string>

#include "common/SiteContext.h"
#include "forward/ServerList.h"

namespace tessel {

class DayFileRetention {
 public:
  static constexpr std::int64_t kEveryMs = 3600 * 1000;

  // `keepDays` 0: nothing is ever removed.
  DayFileRetention(const SiteContext& site, int keepDays) : site_(site), keepDays_(keepDays) {}

  // Removes what may go, at most once every kEveryMs (the first call at
  // once). `list`: the servers as last read; an unusable one removes
  // nothing. Returns the number of files removed.
  int Pass(const ServerList& list);

 private:
  // The earliest day (local midnight) any served server's progress is on;
  // 0 when one of them has no readable progress (nothing it has not sent
  // may go).
  std::time_t EarliestProgress(const ServerList& list) const;

  const SiteContext site_;
  const int keepDays_;
  bool ran_ = false;
  std::int64_t lastRunMs_ = 0;
};

}  // namespace tessel

#endif
