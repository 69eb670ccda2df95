#include "common/Console.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace tessel {

namespace {

std::atomic<bool> diagnosticLines{true};

std::mutex sinkLock;
std::function<void(const std::string&)>& Sink() {
  static std::function<void(const std::string&)>* sink = new std::function<void(const std::string&)>;
  return *sink;  // never destroyed: threads may log at exit
}

}  // namespace

void ConsolePrintf(const char* format, ...) {
  if (!DiagnosticLinesOn()) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}

void SetDiagnosticLines(bool on) { diagnosticLines = on; }

bool DiagnosticLinesOn() { return diagnosticLines.load(std::memory_order_relaxed); }

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) {
      out += static_cast<char>(c);
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
    out += escaped;
  }
  return out;
}

void ConsoleFlush() { std::fflush(stdout); }

void LogLine(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> guard(sinkLock);
    sink = Sink();
  }
  if (sink) {
    sink(text);
    return;
  }
  // One write of the whole line, so lines of two threads never mix.
  const std::string line = std::string("tesselWriteService: ") + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void SetOperatorSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> guard(sinkLock);
  Sink() = std::move(sink);
}

}  // namespace tessel
