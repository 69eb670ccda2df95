#include "TraceSink.h"

#include <cstdio>
#include <ctime>

extern "C" __attribute__((visibility("default"))) int PrintString(const char* line) {
  if (line == nullptr) return -1;
  std::time_t now = std::time(nullptr);
  std::tm local;
  char stamp[32] = "";
  if (::localtime_r(&now, &local) != nullptr)
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  // One fprintf per line, so lines from several threads do not interleave.
  return std::fprintf(stderr, "[%s] %s\n", stamp, line) < 0 ? -1 : 0;
}
