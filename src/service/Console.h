// Diagnostic lines on the process's standard output. Each line is flushed at
// once, so an operator following a redirected log sees it when it happens.
#ifndef TESSEL_SERVICE_CONSOLE_H
#define TESSEL_SERVICE_CONSOLE_H

// printf-style; the text is written as given (GBK bytes included).
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif
