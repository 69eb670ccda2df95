// The service's own lines.
//
// Diagnostic lines (ConsolePrintf) go to standard output, as the service has
// always printed them, and are flushed once per pass of the list thread
// (ConsoleFlush), so a redirected log shows them within a second without a
// flush per line; they carry identity numbers, so a site may turn them off.
//
// Operator lines (LogLine: a file that cannot be written, a queue that is
// full) go to the communicator's logger once the service hands it over
// (SetOperatorSink), which stamps them and sends them where Ice.LogFile or
// Ice.UseSystemdJournal say; before that, and in the tools' tests, to
// standard error, each flushed at once.
#ifndef TESSEL_COMMON_CONSOLE_H
#define TESSEL_COMMON_CONSOLE_H

#include <functional>
#include <string>

namespace tessel {

// printf-style; the text is written as given (GBK bytes included). Client
// text among the arguments goes through Printable first.
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Hands the diagnostic lines written so far to the system.
void ConsoleFlush();

// Diagnostic lines on (the default) or off.
void SetDiagnosticLines(bool on);
// True while diagnostic lines are on: a caller builds the text of a line
// (keywords, printable copies) only then.
bool DiagnosticLinesOn();

// The text with bytes below 0x20 and 0x7f shown as \xNN, for a log line.
std::string Printable(const std::string& text);

// One operator line, "tesselWriteService: " before it (standard error) or
// the logger's own prefix.
void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where operator lines go from now on: `sink` gets each line's text without
// the service's name; an empty sink means standard error again.
void SetOperatorSink(std::function<void(const std::string&)> sink);

}  // namespace tessel

#endif
