// What the service leaves on disk, shown to a person: record files, the
// keyword store, sender progress, exports, and a site's status.
#ifndef TESSEL_TOOLS_SITEVIEWS_H
#define TESSEL_TOOLS_SITEVIEWS_H

#include <cstdint>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

#include "record/ProgressFile.h"
#include "record/VirtualIdRecord.h"

namespace views {

// One line describing a record (texts as UTF-8).
std::string DescribeRecord(const VirtualIdRecord& record);

// Each view writes to `out` and returns false (with a message on `err`) when
// the file cannot be read or is not of its kind.
bool ShowRiaBase(const std::string& path, std::ostream& out, std::ostream& err);
bool ShowKeywords(const std::string& path, std::time_t now, std::ostream& out, std::ostream& err);
bool ShowProgress(const std::string& path, std::ostream& out, std::ostream& err);
bool ShowExport(const std::string& path, std::ostream& out, std::ostream& err);

// As the sender reads it: the offset at a record boundary.
typedef tessel::Progress Progress;
// Reads an 8-byte progress file; false when it is missing or short.
bool ReadProgress(const std::string& path, Progress* progress);

struct ServerStatus {
  std::string name;      // "<host>_<port>" from the progress file name
  Progress progress;
  long behind = 0;       // whole records in the day files not yet acknowledged
  bool future = false;   // its day is after today: the sender starts today's file afresh
};
struct SiteStatus {
  std::string today;     // day stamp
  long todayRecords = 0; // whole records in today's day file
  long keywords = 0;     // keyword records in virtualdb.db
  std::vector<ServerStatus> servers;
  // What the files show to be wrong, one line each: a damaged day file, one
  // set aside, a progress file that is not 8 bytes or names a day after
  // today, an intake journal holding records not stored for a minute.
  std::vector<std::string> problems;
};

// A journal file written this long ago and not emptied holds records the
// service has not stored.
inline constexpr long kJournalStaleSeconds = 60;

// Status of the site directory `site` whose service runs in `workDir` (its
// progress files are under workDir/virtualdb/).
SiteStatus CollectStatus(const std::string& site, const std::string& workDir, std::time_t now);
// Adds a problem for each server more than `limit` records behind.
void CheckBehind(long limit, SiteStatus* status);
void ShowStatus(const SiteStatus& status, std::ostream& out);

}  // namespace views

#endif
