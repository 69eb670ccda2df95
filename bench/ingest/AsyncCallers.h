// The callers of the sustained benchmark: threads that each keep a number of
// write() calls in flight (begin_write with a completion callback), on a
// connection of their own, with IM log-on records of distinct accounts (so
// every keyword is new) spread over many seats. Each call's latency runs
// from its send to its completion callback; a call that raised is counted
// as refused, never retried.
#ifndef TESSEL_BENCH_ASYNCCALLERS_H
#define TESSEL_BENCH_ASYNCCALLERS_H

#include <Ice/Ice.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "IngestClient.h"

namespace ingest {

struct AsyncPlan {
  int threads = 2;
  int inFlight = 64;  // per thread
  long records = 1000000;
  int seats = 500;    // record i comes from seat i % seats
  std::time_t seatLogon = 0;
};

struct AsyncOutcome {
  long answered = 0;            // calls that completed without an exception
  long refused = 0;             // calls that raised
  std::string firstRefusal;     // what the first of them raised
  Clock::time_point firstSend;
  Clock::time_point lastCompletion;
  std::vector<std::uint32_t> latencyUs;  // one per call, in no order
};

AsyncOutcome CallAsync(const Ice::CommunicatorPtr& client, const std::string& proxy,
                       const AsyncPlan& plan);

// The q-quantile (0..1) of the latencies in milliseconds; sorts them.
double LatencyQuantileMs(std::vector<std::uint32_t>* latencyUs, double q);

}  // namespace ingest

#endif
