#include "common/Console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace tessel {

void ConsolePrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void ConsoleFlush() { std::fflush(stdout); }

void LogLine(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  // One write of the whole line, so lines of two threads never mix.
  const std::string line = std::string("tesselWriteService: ") + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace tessel
