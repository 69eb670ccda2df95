// virtualdb.db as a site that ran the service before leaves it: a run of
// 132-byte records, each 128 bytes of NUL-padded keyword text and 4 zero
// bytes. The layout is written out here rather than through the service's
// own writer so that a reworked service is measured against the same file.
#ifndef TESSEL_BENCH_KEYWORDSTOREFILE_H
#define TESSEL_BENCH_KEYWORDSTOREFILE_H

#include <ctime>
#include <string>

namespace ingest {

// Writes `count` distinct keywords of IM accounts at one seat that logged on
// at `seatLogon`; the service keeps a keyword for three days after that time,
// so a recent one makes every keyword current. None of them is the keyword
// of a record the benchmark sends. False when the file cannot be written.
bool WriteKeywordStore(const std::string& path, long count, std::time_t seatLogon);

}  // namespace ingest

#endif
