// virtualdb.db as a site that ran the service before leaves it: a run of
// 132-byte records, each 128 bytes of NUL-padded keyword text and 4 zero
// bytes. The layout is written out here rather than through the service's
// own writer so that a reworked service is measured against the same file.
#ifndef TESSEL_BENCH_KEYWORDSTOREFILE_H
#define TESSEL_BENCH_KEYWORDSTOREFILE_H

#include <ctime>
#include <string>

namespace ingest {

// Writes `count` distinct keywords of IM log-ons, as
// "<unit>_<ip>_<seat log-on>_1001_<account>_<begin>_1", spread over `seats`
// seats (those of ImLogonRecord) and over their log-ons of the last two days,
// the latest at `latestLogon`. The service keeps a keyword for three days
// after its seat log-on, so a recent one makes every keyword current. None
// of them is the keyword of a record the benchmark sends. Written a
// megabyte at a time: a million keywords (132 MB) take well under a second.
// False when the file cannot be written.
bool WriteKeywordStore(const std::string& path, long count, int seats, std::time_t latestLogon);

}  // namespace ingest

#endif
