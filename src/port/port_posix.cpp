// POSIX implementation of the platform layer (Linux): the process facts of
// Port.h and the default Env.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "port/Env.h"
#include "port/Port.h"

namespace tessel::port {

std::string ExecutableDir() {
  std::vector<char> buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return std::string();
  std::string path(buffer.data(), static_cast<size_t>(n));
  std::string::size_type cut = path.rfind(kPathSeparator);
  if (cut != std::string::npos) path.erase(cut);
  return path + kPathSeparator;
}

std::string CurrentDir() {
  std::vector<char> buffer(4096, '\0');
  if (::getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
  return std::string(buffer.data());
}

std::size_t MaxOpenFiles() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1024;
  return static_cast<std::size_t>(limit.rlim_cur);
}

bool LocalTime(std::time_t t, std::tm* out) { return ::localtime_r(&t, out) != nullptr; }

namespace {

Status Errno(const char* operation, const std::string& path) {
  return Status::Error(errno, std::string(operation) + " " + path);
}

class PosixFile : public File {
 public:
  PosixFile(int fd, Mode mode, const std::string& path) : fd_(fd), mode_(mode), path_(path) {}
  ~PosixFile() override { Close(); }

  Status Size(std::uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return Errno("stat", path_);
    *size = static_cast<std::uint64_t>(st.st_size);
    return Status::OK();
  }

  Status Write(const void* data, std::size_t length, std::uint64_t offset,
               std::size_t* written) override {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    Status status;
    while (done < length) {
      ssize_t n = mode_ == kAppend
                      ? ::write(fd_, bytes + done, length - done)
                      : ::pwrite(fd_, bytes + done, length - done,
                                 static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        status = Status::Error(n < 0 ? errno : ENOSPC, "write " + path_);
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    *written = done;
    return status;
  }

  Status Read(void* data, std::size_t length, std::uint64_t offset, std::size_t* read) override {
    char* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < length) {
      ssize_t n = ::pread(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *read = done;
        return Errno("read", path_);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    *read = done;
    return Status::OK();
  }

  Status Truncate(std::uint64_t size) override {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 ? Status::OK()
                                                            : Errno("truncate", path_);
  }

  Status Sync() override {
    return ::fdatasync(fd_) == 0 ? Status::OK() : Errno("sync", path_);
  }

  void StartSync() override {
    // Write-back of the dirty pages begins now; fdatasync waits for it and
    // for the file's size (errors show there).
    if (fd_ >= 0) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }

  Status Close() override {
    if (fd_ < 0) return Status::OK();
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? Status::OK() : Errno("close", path_);
  }

 private:
  int fd_;
  Mode mode_;
  std::string path_;
};

// Copies `from` to `to` (replacing it) and removes `from`: the fallback of
// RenameFile when the two lie on different file systems.
Status CopyThenRemove(const std::string& from, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Errno("open", from);
  struct stat st;
  if (::fstat(in, &st) != 0) {
    Status status = Errno("stat", from);
    ::close(in);
    return status;
  }
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    Status status = Errno("create", to);
    ::close(in);
    return status;
  }
  char buffer[65536];
  Status status;
  while (status.ok()) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) status = Errno("read", from);
    if (n <= 0) break;
    for (ssize_t done = 0; done < n && status.ok();) {
      ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) status = Status::Error(w < 0 ? errno : ENOSPC, "write " + to);
      else done += w;
    }
  }
  ::close(in);
  if (::close(out) != 0 && status.ok()) status = Errno("close", to);
  if (!status.ok()) {
    ::unlink(to.c_str());  // never leave a half copy under the new name
    return status;
  }
  return ::unlink(from.c_str()) == 0 ? Status::OK() : Errno("remove", from);
}

class PosixEnv : public Env {
 public:
  Status OpenFile(const std::string& path, File::Mode mode,
                  std::unique_ptr<File>* file) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case File::kRead: flags |= O_RDONLY; break;
      case File::kAppend: flags |= O_WRONLY | O_APPEND | O_CREAT; break;
      case File::kUpdate: flags |= O_RDWR; break;
      case File::kUpdateCreate: flags |= O_RDWR | O_CREAT; break;
      case File::kTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    }
    const int fd = ::open(path.c_str(), flags, 0666);  // the umask decides
    if (fd < 0) {
      file->reset();
      return Errno("open", path);
    }
    file->reset(new PosixFile(fd, mode, path));
    return Status::OK();
  }

  bool FileExists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  Status FileSize(const std::string& path, std::uint64_t* size) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Errno("stat", path);
    *size = static_cast<std::uint64_t>(st.st_size);
    return Status::OK();
  }

  Status RemoveFile(const std::string& path) override {
    return ::unlink(path.c_str()) == 0 ? Status::OK() : Errno("remove", path);
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return Status::OK();
    if (errno != EXDEV) return Errno("rename", from + " to " + to);
    return CopyThenRemove(from, to);
  }

  Status CreateDir(const std::string& path) override {
    return ::mkdir(path.c_str(), 0777) == 0 ? Status::OK() : Errno("create directory", path);
  }

  Status GetChildren(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return Errno("list", dir);
    while (struct dirent* entry = ::readdir(d)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(d);
    return Status::OK();
  }

  Status SyncDir(const std::string& dir) override {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Errno("open directory", dir);
    const int result = ::fsync(fd);
    Status status = result == 0 ? Status::OK() : Errno("sync directory", dir);
    ::close(fd);
    return status;
  }

  Status SyncFileSystem(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Errno("open", path);
    const int result = ::syncfs(fd);
    Status status = result == 0 ? Status::OK() : Errno("sync the file system of", path);
    ::close(fd);
    return status;
  }

  std::string GetVariable(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
  }

  std::time_t NowSeconds() override { return std::time(nullptr); }

  std::int64_t NowMillis() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void SleepMs(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  bool WaitFor(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int milliseconds,
               const std::function<bool()>& done) override {
    return wake.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: threads may use it at exit
  return env;
}

Status ReadFileToString(Env* env, const std::string& path, std::string* content) {
  content->clear();
  std::unique_ptr<File> file;
  Status status = env->OpenFile(path, File::kRead, &file);
  char buffer[65536];
  for (std::uint64_t offset = 0; status.ok();) {
    std::size_t read = 0;
    status = file->Read(buffer, sizeof buffer, offset, &read);
    content->append(buffer, read);
    offset += read;
    if (read < sizeof buffer) break;
  }
  return status;
}

}  // namespace tessel::port
