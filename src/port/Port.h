// The platform layer: everything that differs between operating systems sits
// behind these few functions, so that porting the service means rewriting
// port_posix.cpp and nothing else.
#ifndef TESSEL_PORT_PORT_H
#define TESSEL_PORT_PORT_H

#include <ctime>
#include <string>

namespace port {

// The separator of every path the service builds.
inline constexpr char kPathSeparator = '/';
inline constexpr char kPathSeparatorText[] = "/";

// Directory of the running executable (the host server, not this module),
// ending in kPathSeparator; empty when the system cannot tell.
std::string ExecutableDir();

// Value of an environment variable; empty when it is unset.
std::string GetEnv(const std::string& name);

// True when a file or directory of that name exists.
bool PathExists(const std::string& path);

// Creates one directory level; true on success.
bool MakeDir(const std::string& path);

// Moves a file, replacing an existing target and copying when the target
// lies on another file system. 0 on success, -1 with errno on failure.
int RenameReplace(const std::string& from, const std::string& to);

// Blocks the calling thread for the given number of milliseconds.
void SleepMs(int milliseconds);

// Broken-down local time of t; false when the conversion fails.
bool LocalTime(std::time_t t, std::tm* out);

// Working directory of the process, without a trailing separator.
std::string CurrentDir();

}  // namespace port

#endif
