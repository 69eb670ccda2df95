// Trace sink: one-line operator messages such as a service's start and stop.
// This stand-in writes each line, behind a local timestamp, to standard error.
#ifndef TESSEL_STANDINS_TRACESINK_H
#define TESSEL_STANDINS_TRACESINK_H

extern "C" {

// Writes one line; 0 on success, -1 for a null text or a failed write.
int PrintString(const char* line);

}

#endif
