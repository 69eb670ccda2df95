// The seam between the service and the system: every file it opens, every
// file operation, its reading of the clock and its pauses go through an Env.
// Env::Default() is the real system; tests wrap it (EnvWrapper) to fail
// chosen operations (a full disk, a permission refused, a short write) or to
// move time forward without waiting for it.
#ifndef TESSEL_PORT_ENV_H
#define TESSEL_PORT_ENV_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "port/Status.h"

namespace tessel::port {

// A file opened for one purpose and closed when the object goes. Files are
// shared with other openers (no locks), as every file of a site is.
class File {
 public:
  enum Mode {
    kRead,          // reading only
    kAppend,        // every write at the end; created when absent
    kUpdate,        // reading and writing in place; must exist
    kUpdateCreate,  // reading and writing in place; created when absent
    kTruncate,      // writing from an empty file; created when absent
  };

  virtual ~File() = default;

  virtual Status Size(std::uint64_t* size) = 0;
  // Writes `length` bytes (at the end for kAppend, else at `offset`);
  // *written gets how many went, which is less only with a failure (a full
  // disk, a file-size limit).
  virtual Status Write(const void* data, std::size_t length, std::uint64_t offset,
                       std::size_t* written) = 0;
  // Reads up to `length` bytes at `offset`; *read is less than `length`
  // only at the end of the file.
  virtual Status Read(void* data, std::size_t length, std::uint64_t offset,
                      std::size_t* read) = 0;
  virtual Status Truncate(std::uint64_t size) = 0;
  // Puts what was written on the disk.
  virtual Status Sync() = 0;
  // Starts putting what was written on the disk, without waiting: a Sync
  // of many files at once ends sooner when each was started first. Only a
  // Sync makes anything durable; a file that cannot start does nothing.
  virtual void StartSync() {}
  // Closes the file (once; later calls succeed and do nothing). A failed
  // close can mean lost data, so it is reported.
  virtual Status Close() = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The real system; never deleted.
  static Env* Default();

  virtual Status OpenFile(const std::string& path, File::Mode mode,
                          std::unique_ptr<File>* file) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  virtual Status FileSize(const std::string& path, std::uint64_t* size) = 0;
  virtual Status RemoveFile(const std::string& path) = 0;
  // Moves a file, replacing an existing target and copying when the target
  // lies on another file system.
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  // Creates one directory level.
  virtual Status CreateDir(const std::string& path) = 0;
  // Names of the entries of a directory ("." and ".." left out).
  virtual Status GetChildren(const std::string& dir, std::vector<std::string>* names) = 0;
  // Puts the directory's entries on the disk: a file created, renamed or
  // removed in it survives a power cut only once its directory is synced.
  virtual Status SyncDir(const std::string& dir) = 0;
  // Puts everything written to the file system that holds `path` on the
  // disk, files and directories alike: one call instead of a sync per file
  // when many files were written.
  virtual Status SyncFileSystem(const std::string& path) = 0;

  // The value of an environment variable of the process; empty when unset.
  virtual std::string GetVariable(const std::string& name) = 0;

  // Seconds since 1970 (the wall clock: record times, day stamps).
  virtual std::time_t NowSeconds() = 0;
  // Milliseconds of a clock that never goes back (deadlines).
  virtual std::int64_t NowMillis() = 0;
  virtual void SleepMs(int milliseconds) = 0;
  // Waits on `wake` (with `lock` held by the caller) until `done` holds or
  // `milliseconds` have passed; the result is done(). Every interruptible
  // pause of the service waits here.
  virtual bool WaitFor(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                       int milliseconds, const std::function<bool()>& done) = 0;
};

// Forwards every call to another Env; a test derives from it and overrides
// the calls it wants to change.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status OpenFile(const std::string& path, File::Mode mode,
                  std::unique_ptr<File>* file) override {
    return target_->OpenFile(path, mode, file);
  }
  bool FileExists(const std::string& path) override { return target_->FileExists(path); }
  Status FileSize(const std::string& path, std::uint64_t* size) override {
    return target_->FileSize(path, size);
  }
  Status RemoveFile(const std::string& path) override { return target_->RemoveFile(path); }
  Status RenameFile(const std::string& from, const std::string& to) override {
    return target_->RenameFile(from, to);
  }
  Status CreateDir(const std::string& path) override { return target_->CreateDir(path); }
  Status GetChildren(const std::string& dir, std::vector<std::string>* names) override {
    return target_->GetChildren(dir, names);
  }
  Status SyncDir(const std::string& dir) override { return target_->SyncDir(dir); }
  Status SyncFileSystem(const std::string& path) override {
    return target_->SyncFileSystem(path);
  }
  std::string GetVariable(const std::string& name) override { return target_->GetVariable(name); }
  std::time_t NowSeconds() override { return target_->NowSeconds(); }
  std::int64_t NowMillis() override { return target_->NowMillis(); }
  void SleepMs(int milliseconds) override { target_->SleepMs(milliseconds); }
  bool WaitFor(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, int milliseconds,
               const std::function<bool()>& done) override {
    return target_->WaitFor(wake, lock, milliseconds, done);
  }

 private:
  Env* target_;
};

// Whole-file helpers over an Env.
// Reads the whole file into *content.
Status ReadFileToString(Env* env, const std::string& path, std::string* content);

}  // namespace tessel::port

#endif
