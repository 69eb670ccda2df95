#include "PowerCutEnv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace testing_support {

namespace port = tessel::port;

namespace {

std::string Dir(const std::string& path) {
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::string::size_type cut = dir.rfind('/');
  return cut == std::string::npos ? "." : dir.substr(0, cut == 0 ? 1 : cut);
}

std::string Plain(const std::string& dir) {
  std::string plain = dir;
  while (plain.size() > 1 && plain.back() == '/') plain.pop_back();
  return plain;
}

std::uint64_t RealSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool RealExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

const std::uint64_t kPage = 4096;

// A file whose changes ask the Env first, and whose syncs are remembered.
class CutFile : public port::File {
 public:
  CutFile(PowerCutEnv* env, const std::string& path, bool appending,
          std::unique_ptr<port::File> file)
      : env_(env), path_(path), appending_(appending), file_(std::move(file)) {}

  port::Status Size(std::uint64_t* size) override { return file_->Size(size); }
  port::Status Read(void* data, std::size_t length, std::uint64_t offset,
                    std::size_t* read) override {
    return file_->Read(data, length, offset, read);
  }
  port::Status Write(const void* data, std::size_t length, std::uint64_t offset,
                     std::size_t* written) override {
    *written = 0;
    port::Status status = env_->Change("write " + path_);
    std::uint64_t at = offset;
    if (status.ok() && appending_) status = file_->Size(&at);
    if (status.ok()) env_->BeforeWrite(path_, file_.get(), at, length);
    if (status.ok()) status = file_->Write(data, length, offset, written);
    if (*written > 0) env_->Written(path_, at, *written);
    return status;
  }
  port::Status Truncate(std::uint64_t size) override {
    port::Status status = env_->Change("truncate " + path_);
    if (status.ok()) status = file_->Truncate(size);
    if (status.ok()) env_->Truncated(path_, size);
    return status;
  }
  port::Status Sync() override {
    port::Status status = env_->Change("sync " + path_);
    std::uint64_t size = 0;
    if (status.ok()) status = file_->Size(&size);
    if (status.ok()) status = env_->FailedSync(path_, size);
    if (status.ok()) env_->Synced(path_, size);
    return status;
  }
  port::Status Close() override { return file_->Close(); }

 private:
  PowerCutEnv* env_;
  std::string path_;
  bool appending_;
  std::unique_ptr<port::File> file_;
};

}  // namespace

PowerCutEnv::PowerCutEnv(const std::string& backupDir, std::uint32_t seed)
    : EnvWrapper(port::Env::Default()), backupDir_(backupDir), random_(seed) {
  ::mkdir(backupDir.c_str(), 0777);
}

void PowerCutEnv::CutAfter(long changes) {
  std::lock_guard<std::mutex> guard(mutex_);
  left_ = changes;
}

bool PowerCutEnv::Dead() {
  std::lock_guard<std::mutex> guard(mutex_);
  return dead_;
}

long PowerCutEnv::changes() {
  std::lock_guard<std::mutex> guard(mutex_);
  return changes_;
}

port::Status PowerCutEnv::Change(const std::string& what) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!dead_ && left_ == 0) dead_ = true;
  if (dead_) return port::Status::Error(EIO, what + " (the power is off)");
  if (left_ > 0) --left_;
  ++changes_;
  return port::Status::OK();
}

void PowerCutEnv::Synced(const std::string& path, std::uint64_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::map<std::string, Tracked>::iterator file = files_.find(path);
  if (file == files_.end()) return;
  file->second.synced = size;
  file->second.syncedPages.clear();
}

void PowerCutEnv::BeforeWrite(const std::string& path, port::File* file, std::uint64_t offset,
                              std::size_t length) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::map<std::string, Tracked>::iterator tracked = files_.find(path);
  if (tracked == files_.end()) return;
  Tracked& known = tracked->second;
  const std::uint64_t end = std::min<std::uint64_t>(offset + length, known.synced);
  // The first write over a page since the sync finds what the sync left.
  for (std::uint64_t page = offset / kPage * kPage; page < end; page += kPage) {
    if (known.syncedPages.count(page) != 0) continue;
    std::string bytes(std::min(kPage, known.synced - page), '\0');
    std::size_t read = 0;
    file->Read(&bytes[0], bytes.size(), page, &read);
    bytes.resize(read);
    known.syncedPages.emplace(page, bytes);
  }
}

void PowerCutEnv::Truncated(const std::string& path, std::uint64_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::map<std::string, Tracked>::iterator file = files_.find(path);
  if (file == files_.end()) return;
  if (file->second.synced > size) file->second.synced = size;
  Rewritten(&file->second, size, UINT64_MAX);  // nothing lost lies beyond the end
  file->second.syncedPages.erase(file->second.syncedPages.lower_bound(size),
                                  file->second.syncedPages.end());
}

void PowerCutEnv::FailSyncLosingPages(const std::string& pathPart) {
  std::lock_guard<std::mutex> guard(mutex_);
  failSyncs_.push_back(pathPart);
}

port::Status PowerCutEnv::FailedSync(const std::string& path, std::uint64_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (std::vector<std::string>::iterator part = failSyncs_.begin(); part != failSyncs_.end();
       ++part) {
    if (path.find(*part) == std::string::npos) continue;
    failSyncs_.erase(part);
    std::map<std::string, Tracked>::iterator file = files_.find(path);
    if (file != files_.end() && size > file->second.synced)
      file->second.lost.emplace_back(file->second.synced, size);
    return port::Status::Error(EIO, "sync " + path);
  }
  return port::Status::OK();
}

void PowerCutEnv::Written(const std::string& path, std::uint64_t offset, std::uint64_t length) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::map<std::string, Tracked>::iterator file = files_.find(path);
  if (file != files_.end()) Rewritten(&file->second, offset, offset + length);
}

void PowerCutEnv::Rewritten(Tracked* file, std::uint64_t from, std::uint64_t to) {
  // Bytes written again are new dirty pages: no longer lost.
  std::vector<std::pair<std::uint64_t, std::uint64_t> > kept;
  for (const auto& range : file->lost) {
    if (range.second <= from || range.first >= to) {
      kept.push_back(range);
      continue;
    }
    if (range.first < from) kept.emplace_back(range.first, from);
    if (range.second > to) kept.emplace_back(to, range.second);
  }
  file->lost.swap(kept);
}

void PowerCutEnv::TrackLocked(const std::string& path, port::File::Mode mode) {
  std::map<std::string, Tracked>::iterator file = files_.find(path);
  if (file == files_.end()) {
    // What was there before this Env saw it is on the disk.
    Tracked tracked;
    tracked.created = !RealExists(path);
    tracked.synced = RealSize(path);
    file = files_.emplace(path, tracked).first;
  }
  if (mode == port::File::kTruncate) file->second.synced = 0;
}

port::Status PowerCutEnv::OpenFile(const std::string& path, port::File::Mode mode,
                                   std::unique_ptr<port::File>* file) {
  if (mode != port::File::kRead) {
    if (!RealExists(path) || mode == port::File::kTruncate) {
      port::Status status = Change("create " + path);
      if (!status.ok()) return status;
    } else if (Dead()) {
      return port::Status::Error(EIO, "open " + path + " (the power is off)");
    }
    std::lock_guard<std::mutex> guard(mutex_);
    TrackLocked(path, mode);
  }
  port::Status status = target()->OpenFile(path, mode, file);
  if (status.ok() && mode != port::File::kRead) file->reset(new CutFile(this, path, mode == port::File::kAppend, std::move(*file)));
  return status;
}

std::string PowerCutEnv::Backup() {
  return backupDir_ + "/" + std::to_string(backups_++);
}

port::Status PowerCutEnv::RemoveFile(const std::string& path) {
  port::Status status = Change("remove " + path);
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> guard(mutex_);
  if (!RealExists(path)) return port::Status::Error(ENOENT, "remove " + path);
  std::map<std::string, Tracked>::iterator file = files_.find(path);
  if (file != files_.end() && file->second.created) {
    // Never on the disk: gone whatever comes.
    ::unlink(path.c_str());
    files_.erase(file);
    return status;
  }
  DirChange change;
  change.from = path;
  change.backup = Backup();
  if (file != files_.end()) {
    change.hadTracked = true;
    change.tracked = file->second;
    files_.erase(file);
  }
  if (::rename(path.c_str(), change.backup.c_str()) != 0)
    return port::Status::Error(errno, "remove " + path);
  pending_.push_back(change);
  return status;
}

port::Status PowerCutEnv::RenameFile(const std::string& from, const std::string& to) {
  port::Status status = Change("rename " + from);
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> guard(mutex_);
  if (!RealExists(from)) return port::Status::Error(ENOENT, "rename " + from);
  TrackLocked(from, port::File::kUpdate);
  DirChange change;
  change.from = from;
  change.to = to;
  if (RealExists(to)) {
    change.backup = Backup();
    std::map<std::string, Tracked>::iterator replaced = files_.find(to);
    if (replaced != files_.end()) {
      change.hadTracked = true;
      change.tracked = replaced->second;
    }
    ::rename(to.c_str(), change.backup.c_str());
  }
  if (::rename(from.c_str(), to.c_str()) != 0) return port::Status::Error(errno, "rename " + from);
  files_[to] = files_[from];
  files_.erase(from);
  pending_.push_back(change);
  return status;
}

void PowerCutEnv::Commit(const std::string& dir, bool all) {
  const std::string plain = Plain(dir);
  for (std::map<std::string, Tracked>::iterator file = files_.begin(); file != files_.end(); ++file)
    if (all || Dir(file->first) == plain) file->second.created = false;
  for (std::vector<DirChange>::iterator change = pending_.begin(); change != pending_.end();) {
    const std::string affected = Dir(change->to.empty() ? change->from : change->to);
    if (!all && affected != plain) {
      ++change;
      continue;
    }
    if (!change->backup.empty()) ::unlink(change->backup.c_str());
    change = pending_.erase(change);
  }
}

port::Status PowerCutEnv::SyncDir(const std::string& dir) {
  port::Status status = Change("sync directory " + dir);
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> guard(mutex_);
  Commit(dir, false);
  return status;
}

port::Status PowerCutEnv::SyncFileSystem(const std::string& path) {
  port::Status status = Change("sync the file system of " + path);
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> guard(mutex_);
  for (std::map<std::string, Tracked>::iterator file = files_.begin(); file != files_.end(); ++file) {
    file->second.synced = RealSize(file->first);
    file->second.syncedPages.clear();
  }
  Commit(path, true);
  return status;
}

void PowerCutEnv::ApplyCut() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (std::vector<DirChange>::reverse_iterator change = pending_.rbegin();
       change != pending_.rend(); ++change) {
    if (change->to.empty()) {
      ::rename(change->backup.c_str(), change->from.c_str());
      if (change->hadTracked) files_[change->from] = change->tracked;
      continue;
    }
    if (RealExists(change->to)) ::rename(change->to.c_str(), change->from.c_str());
    std::map<std::string, Tracked>::iterator moved = files_.find(change->to);
    if (moved != files_.end()) {
      files_[change->from] = moved->second;
      files_.erase(moved);
    }
    if (!change->backup.empty()) {
      ::rename(change->backup.c_str(), change->to.c_str());
      if (change->hadTracked) files_[change->to] = change->tracked;
    }
  }
  pending_.clear();
  for (const auto& file : files_) {
    if (file.second.syncedPages.empty() || file.second.created || !RealExists(file.first))
      continue;
    // Pages written over in place: each one reached the disk, or did not.
    const std::uint64_t size = RealSize(file.first);
    const int fd = ::open(file.first.c_str(), O_WRONLY);
    for (const auto& page : file.second.syncedPages) {
      if (random_() % 2 == 0 || page.first >= size) continue;
      const std::size_t length = std::min<std::uint64_t>(page.second.size(), size - page.first);
      if (fd < 0 || ::pwrite(fd, page.second.data(), length, static_cast<off_t>(page.first)) < 0)
        std::perror("keep the synced page");
    }
    if (fd >= 0) ::close(fd);
  }
  for (const auto& file : files_) {
    if (!RealExists(file.first)) continue;
    if (file.second.created) {
      ::unlink(file.first.c_str());
      continue;
    }
    const std::uint64_t size = RealSize(file.first);
    if (size <= file.second.synced) continue;
    // What was written and not synced: all of it lost, or a torn part kept.
    std::uint64_t keep = file.second.synced;
    if (random_() % 2 == 0)
      keep = std::uniform_int_distribution<std::uint64_t>(file.second.synced, size)(random_);
    if (::truncate(file.first.c_str(), static_cast<off_t>(keep)) != 0) std::perror("truncate");
  }
  for (const auto& file : files_) {
    if (file.second.lost.empty() || !RealExists(file.first)) continue;
    const std::uint64_t size = RealSize(file.first);
    const int fd = ::open(file.first.c_str(), O_WRONLY);
    for (const auto& range : file.second.lost) {
      if (range.first >= size) continue;
      const std::string zeros(std::min(range.second, size) - range.first, '\0');
      if (fd < 0 || ::pwrite(fd, zeros.data(), zeros.size(), static_cast<off_t>(range.first)) < 0)
        std::perror("lose pages");
    }
    if (fd >= 0) ::close(fd);
  }
  files_.clear();
}

}  // namespace testing_support
