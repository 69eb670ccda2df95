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

}  // namespace port
