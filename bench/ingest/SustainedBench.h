// The sustained mode of the ingest benchmark: a fixed number of records sent
// at full speed by async callers to the bare servant and to the service with
// each store size and durability, with refusals, stored rate, server CPU,
// call latency, peak memory and the time to the first stored record.
#ifndef TESSEL_BENCH_SUSTAINEDBENCH_H
#define TESSEL_BENCH_SUSTAINEDBENCH_H

#include <Ice/Ice.h>

#include <string>
#include <vector>

namespace ingest {

struct SustainedOptions {
  std::vector<long> keywords = {100000, 1000000};  // store sizes
  std::vector<std::string> durabilities = {"power", "process"};
  long records = 1000000;
  int threads = 2;
  int inFlight = 64;
  int ips = 500;
  bool diagnosticLines = false;  // as the installed site: off
  std::string serviceModule;
  std::string bareModule;
};

// Prints the table on standard output; 1 when a configuration could not be
// measured (the targets never fail it).
int RunSustained(const SustainedOptions& options, const Ice::CommunicatorPtr& client);

}  // namespace ingest

#endif
