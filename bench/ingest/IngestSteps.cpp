#include "IngestSteps.h"

#include <iostream>
#include <thread>

namespace ingest {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Progress(const std::string& text) { std::cerr << "ingest: " << text << std::endl; }

long WaitForStored(IngestSite& site, long target, Clock::duration stall, Clock::time_point* when) {
  long stored = site.StoredRecords();
  Clock::time_point progress = Clock::now();
  while (stored < target && Clock::now() - progress < stall && site.Running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const long count = site.StoredRecords();
    if (count != stored) progress = Clock::now();
    stored = count;
  }
  *when = progress;
  return stored;
}

bool WaitForFirstRecord(IngestSite& site, Clock::time_point launch, Clock::duration limit,
                        Clock::time_point* ready, std::string* error) {
  for (*ready = Clock::now(); site.StoredRecords() < 1; *ready = Clock::now()) {
    if (!site.Running()) {
      *error = "icebox ended: " + site.ServerErrors();
      return false;
    }
    if (*ready - launch > limit) {
      *error = "the probe record was never stored";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

double SettledCpuSeconds(const IngestSite& site) {
  double cpu = site.ServerCpuSeconds();
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double later = site.ServerCpuSeconds();
    if (later == cpu) break;
    cpu = later;
  }
  return cpu;
}

}  // namespace ingest
