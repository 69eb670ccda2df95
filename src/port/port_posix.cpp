// POSIX implementation of the platform layer (Linux).
#include "port/Port.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace port {

namespace {

// Copies `from` to `to` (replacing it) and removes `from`: the fallback of
// RenameReplace when the two lie on different file systems.
int CopyThenRemove(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  struct stat st;
  if (::fstat(in, &st) != 0) {
    int saved = errno;
    ::close(in);
    errno = saved;
    return -1;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                   st.st_mode & 0777);
  if (out < 0) {
    int saved = errno;
    ::close(in);
    errno = saved;
    return -1;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) { ok = false; break; }
      done += w;
    }
    if (!ok) break;
  }
  int saved = errno;
  ::close(in);
  if (::close(out) != 0 && ok) { ok = false; saved = errno; }
  if (!ok) {
    ::unlink(to.c_str());  // never leave a half copy under the new name
    errno = saved;
    return -1;
  }
  return ::unlink(from.c_str()) == 0 ? 0 : -1;
}

}  // namespace

std::string ExecutableDir() {
  std::vector<char> buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  std::string path(buffer.data(), static_cast<size_t>(n));
  std::string::size_type cut = path.rfind(kPathSeparator);
  if (cut != std::string::npos) path.erase(cut);
  return path + kPathSeparator;
}

std::string GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::string(value) : std::string();
}

bool PathExists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

bool MakeDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
}

int RenameReplace(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return -1;
  return CopyThenRemove(from, to);
}

void SleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool LocalTime(std::time_t t, std::tm* out) {
  return ::localtime_r(&t, out) != nullptr;
}

std::string CurrentDir() {
  std::vector<char> buffer(4096, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
  return std::string(buffer.data());
}

File::~File() { Close(); }

bool File::Open(const std::string& path, Mode mode) {
  Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case kRead: flags |= O_RDONLY; break;
    case kAppend: flags |= O_WRONLY | O_APPEND | O_CREAT; break;
    case kUpdate: flags |= O_RDWR; break;
    case kUpdateCreate: flags |= O_RDWR | O_CREAT; break;
  }
  fd_ = ::open(path.c_str(), flags, 0644);
  mode_ = mode;
  return fd_ >= 0;
}

bool File::Close() {
  if (fd_ < 0) return true;
  const bool ok = ::close(fd_) == 0;
  fd_ = -1;
  return ok;
}

long long File::Size() const {
  struct stat st;
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::size_t File::Write(const void* data, std::size_t length, long long offset) {
  const char* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (fd_ >= 0 && done < length) {
    ssize_t n = mode_ == kAppend
                    ? ::write(fd_, bytes + done, length - done)
                    : ::pwrite(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

long long File::ReadAt(void* data, std::size_t length, long long offset) const {
  char* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (fd_ >= 0 && done < length) {
    ssize_t n = ::pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<long long>(done) : -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return fd_ >= 0 ? static_cast<long long>(done) : -1;
}

bool File::Truncate(long long size) {
  return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

}  // namespace port
