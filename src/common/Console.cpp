#include "common/Console.h"

#include <atomic>
#include <chrono>
#include <ctime>
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

std::string LogStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long millis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local;
  if (::localtime_r(&seconds, &local) == nullptr) return "?";
  char date[32], zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);
  char text[48];
  std::snprintf(text, sizeof text, "%s.%03ld%s", date, millis, zone);
  return text;
}

void SetOperatorSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> guard(sinkLock);
  Sink() = std::move(sink);
}

}  // namespace tessel
