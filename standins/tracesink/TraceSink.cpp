#include "TraceSink.h"

#include <Ice/Ice.h>

#include <ctime>

extern "C" __attribute__((visibility("default"))) int PrintString(const char* line) {
  if (line == nullptr) return -1;
  std::time_t now = std::time(nullptr);
  std::tm local;
  char stamp[32] = "";
  if (::localtime_r(&now, &local) != nullptr)
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  // The host's own logger: standard error, or wherever the host sends its
  // lines (a log file, the systemd journal).
  Ice::getProcessLogger()->print(std::string("[") + stamp + "] " + line);
  return 0;
}
