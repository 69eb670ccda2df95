// Diagnostic lines on the process's standard output. Each line is flushed at
// once, so an operator following a redirected log sees it when it happens.
#ifndef TESSEL_COMMON_CONSOLE_H
#define TESSEL_COMMON_CONSOLE_H

namespace tessel {

// printf-style; the text is written as given (GBK bytes included).
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tessel

#endif
