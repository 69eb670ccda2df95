// The service's own lines. Diagnostic lines go to standard output and are
// flushed once per pass of the list thread (ConsoleFlush), so a redirected
// log shows them within a second without a flush per line. Operator lines
// (a file that cannot be written, a queue that is full) go to standard
// error, each flushed at once.
#ifndef TESSEL_COMMON_CONSOLE_H
#define TESSEL_COMMON_CONSOLE_H

#include <string>

namespace tessel {

// printf-style; the text is written as given (GBK bytes included).
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Hands the diagnostic lines written so far to the system.
void ConsoleFlush();

// The text with bytes below 0x20 and 0x7f shown as \xNN, for a log line.
std::string Printable(const std::string& text);

// One line on standard error, "tesselWriteService: " before it and a line
// end after it.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tessel

#endif
