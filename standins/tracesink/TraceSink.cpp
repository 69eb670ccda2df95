#include "TraceSink.h"

#include <Ice/Ice.h>

#include <chrono>
#include <cstdio>
#include <ctime>

extern "C" __attribute__((visibility("default"))) int PrintString(const char* line) {
  if (line == nullptr) return -1;
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long millis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local;
  char date[32] = "", zone[8] = "", stamp[48] = "";
  // Local time with its offset from UTC (2026-12-09T11:14:35.120+0800), as
  // the service stamps its own lines: a line read on another host, or
  // across a change of summer time, is not mistaken.
  if (::localtime_r(&seconds, &local) != nullptr) {
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    std::snprintf(stamp, sizeof stamp, "%s.%03ld%s", date, millis, zone);
  }
  // The host's process logger: standard error, or wherever the host sends
  // its lines (a log file, the systemd journal).
  Ice::getProcessLogger()->print(std::string(stamp) + " " + line);
  return 0;
}
