// The platform layer: everything that differs between operating systems sits
// behind these few functions, so that porting the service means rewriting
// port_posix.cpp and nothing else.
#ifndef TESSEL_PORT_PORT_H
#define TESSEL_PORT_PORT_H

#include <cstddef>
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

// A file opened for one purpose and closed when the object goes. Files are
// shared with other openers (no locks), as every record file is.
class File {
 public:
  enum Mode {
    kRead,         // reading only
    kAppend,       // every write at the end; created when absent
    kUpdate,       // reading and writing in place; must exist
    kUpdateCreate  // reading and writing in place; created when absent
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False (errno set) when the file cannot be opened; an open file is closed
  // first.
  bool Open(const std::string& path, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }
  // Closes the file; false when the system reports a failed close.
  bool Close();

  // Size in bytes, or -1.
  long long Size() const;
  // Writes all `length` bytes (at the end for kAppend, else at `offset`);
  // the number of bytes written, which is less when the system stopped
  // short (a full disk, a file-size limit).
  std::size_t Write(const void* data, std::size_t length, long long offset = 0);
  // Reads up to `length` bytes at `offset`; the number read, 0 at the end,
  // -1 on failure.
  long long ReadAt(void* data, std::size_t length, long long offset) const;
  bool Truncate(long long size);

 private:
  int fd_ = -1;
  Mode mode_ = kRead;
};

}  // namespace port

#endif
