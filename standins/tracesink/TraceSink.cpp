#include "TraceSink.h"

#include <Ice/Ice.h>

#include <ctime>

extern "C" __attribute__((visibility("default"))) int PrintString(const char* line) {
  if (line == nullptr) return -1;
  std::time_t now = std::time(nullptr);
  std::tm local;
  char stamp[40] = "";
  // Local time with its offset from UTC (2026-12-09T11:14:35+0800): a line
  // read on another host, or across a change of summer time, is not
  // mistaken.
  if (::localtime_r(&now, &local) != nullptr)
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
  // The host's process logger: standard error, or wherever the host sends
  // its lines (a log file, the systemd journal).
  Ice::getProcessLogger()->print(std::string(stamp) + " " + line);
  return 0;
}
