// Steps both ingest modes take on a site: waiting for its day files, and
// reading the server's CPU time once it is at rest.
#ifndef TESSEL_BENCH_INGESTSTEPS_H
#define TESSEL_BENCH_INGESTSTEPS_H

#include <chrono>
#include <string>

#include "IngestClient.h"
#include "IngestSite.h"

namespace ingest {

double Seconds(Clock::duration d);

// One line on standard error, while the table goes to standard output.
void Progress(const std::string& text);

// Polls the day files every 5 ms until they hold `target` records, or none
// was added for `stall`; the records they hold, and in `when` the time the
// last of them was seen arriving.
long WaitForStored(IngestSite& site, long target, Clock::duration stall, Clock::time_point* when);

// Waits until the day files hold a record (the probe), for at most `limit`
// from `launch`; false, with the reason in `error`, when icebox ended or the
// time ran out.
bool WaitForFirstRecord(IngestSite& site, Clock::time_point launch, Clock::duration limit,
                        Clock::time_point* ready, std::string* error);

// The server's CPU time once it has stopped rising: work that follows a
// record into the day file (the keyword store's save) belongs to it.
double SettledCpuSeconds(const IngestSite& site);

}  // namespace ingest

#endif
