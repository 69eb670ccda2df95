// What the process learns from the system that is neither a file nor the
// clock: where its executable lives, its environment, its working directory,
// the local calendar.
#ifndef TESSEL_PORT_PORT_H
#define TESSEL_PORT_PORT_H

#include <cstddef>
#include <ctime>
#include <string>

namespace tessel::port {

// The separator of every path the service builds.
inline constexpr char kPathSeparator = '/';

// Directory of the running executable (the host server, not this module),
// ending in kPathSeparator; empty when the system cannot tell.
std::string ExecutableDir();

// Working directory of the process, without a trailing separator.
std::string CurrentDir();

// How many files the process may hold open at once (its soft limit).
std::size_t MaxOpenFiles();

// Broken-down local time of t; false when the conversion fails.
bool LocalTime(std::time_t t, std::tm* out);

}  // namespace tessel::port

#endif
