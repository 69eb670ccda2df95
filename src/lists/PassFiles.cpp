#include "lists/PassFiles.h"

#include <IceUtil/Thread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "common/GiveWay.h"
#include "common/SiteFiles.h"
#include "port/Port.h"
#include "record/RiaBaseFile.h"

namespace tessel {

namespace {

// Files open at once: a few thousand seats, and never more than a quarter
// of the descriptors the process may hold (the rest serve connections).
const std::size_t kMostOpen = 4096;
const std::size_t kLeastOpen = 16;
// Files synced at once. A sync waits mostly for the disk, which serves
// several at a time: 500 files take some 50 ms one after the other and a
// quarter of that eight at a time.
const std::size_t kSyncsAtOnce = 8;

// Syncs files[i] for every i it takes from `next`, each result in place.
class SyncWorker : public IceUtil::Thread {
 public:
  SyncWorker(const std::vector<port::File*>& files, std::vector<port::Status>* results,
             std::atomic<std::size_t>* next)
      : files_(files), results_(results), next_(next) {}
  void run() override {
    for (std::size_t i; (i = next_->fetch_add(1)) < files_.size();)
      (*results_)[i] = files_[i]->Sync();
  }

 private:
  const std::vector<port::File*>& files_;
  std::vector<port::Status>* results_;
  std::atomic<std::size_t>* next_;
};

// Syncs every file, several at once; the result of each in `results`.
void SyncEach(const std::vector<port::File*>& files, std::vector<port::Status>* results) {
  results->assign(files.size(), port::Status::OK());
  if (files.empty()) return;
  std::atomic<std::size_t> next{0};
  std::vector<IceUtil::ThreadControl> helpers;
  // Threads of their own only for more files than one thread syncs well
  // alone: a pass over a few seats starts none.
  const std::size_t wanted = files.size() > kSyncsAtOnce ? kSyncsAtOnce - 1 : 0;
  for (std::size_t i = 0; i < wanted; ++i) {
    try {
      helpers.push_back(IceUtil::ThreadPtr(new SyncWorker(files, results, &next))->start());
    } catch (const IceUtil::Exception&) {
      break;  // no more threads to be had: fewer syncs at once
    }
  }
  SyncWorker(files, results, &next).run();  // this thread takes its share
  for (IceUtil::ThreadControl& helper : helpers) helper.join();
}

}  // namespace

PassFiles::PassFiles(port::Env* env, bool durable)
    : env_(env),
      durable_(durable),
      maxOpen_(std::max(kLeastOpen, std::min(kMostOpen, port::MaxOpenFiles() / 4))) {}

port::Status PassFiles::Open(const std::string& path, OpenFile* open) {
  const bool created = durable_ && !env_->FileExists(path);
  port::Status status = env_->OpenFile(path, port::File::kAppend, &open->file);
  if (status.error() == EMFILE || status.error() == ENFILE) {
    // Descriptors ran out (connections hold them too): the pass gives back
    // half of its own and tries once more.
    CloseLeastRecentlyUsed(open_.size() / 2 + 1);
    status = env_->OpenFile(path, port::File::kAppend, &open->file);
  }
  if (status.ok() && created) newDirs_.insert(DirOf(path));
  return status;
}

port::Status PassFiles::Append(const std::string& path, const std::string& records) {
  std::unordered_map<std::string, OpenFile>::iterator it = open_.find(path);
  if (it == open_.end()) {
    if (open_.size() >= maxOpen_) CloseLeastRecentlyUsed(1);
    OpenFile opened;
    const port::Status status = Open(path, &opened);
    if (!status.ok()) return status;
    it = open_.emplace(path, std::move(opened)).first;
  }
  it->second.lastUse = ++uses_;
  const port::Status status = AppendWholeTo(it->second.file.get(), records.data(), records.size());
  // A file that failed is opened afresh next time (it may have been
  // replaced or repaired meanwhile).
  if (!status.ok()) open_.erase(it);
  else if (durable_) unsynced_.insert(path);
  return status;
}

port::Status PassFiles::SyncAll() {
  // Exactly the files this writer appended to are synced, never the whole
  // file system: a site's latency must not depend on what other programs
  // left to write. Write-back of every file starts first, so that the disk
  // works on all of them, and several syncs wait at once.
  std::vector<std::pair<std::string, port::File*> > files;
  std::vector<std::unique_ptr<port::File> > reopened;
  files.reserve(unsynced_.size());
  for (const std::string& path : unsynced_) {
    std::unordered_map<std::string, OpenFile>::iterator open = open_.find(path);
    if (open != open_.end()) {
      files.emplace_back(path, open->second.file.get());
      continue;
    }
    // Closed since its append: a sync through a new descriptor puts the
    // same file's data on the disk. One removed since (handed over) has
    // nothing left to sync.
    if (!env_->FileExists(path)) {
      files.emplace_back(path, nullptr);
      continue;
    }
    std::unique_ptr<port::File> file;
    const port::Status status = env_->OpenFile(path, port::File::kAppend, &file);
    if (!status.ok()) return status;
    files.emplace_back(path, file.get());
    reopened.push_back(std::move(file));
  }
  std::vector<port::File*> handles;
  for (const auto& file : files)
    if (file.second != nullptr) handles.push_back(file.second);
  for (port::File* handle : handles) {
    GiveWayIfDue();  // each start submits the file's pages to the disk: tens of microseconds
    handle->StartSync();
  }
  std::vector<port::Status> results;
  SyncEach(handles, &results);
  port::Status failure;
  std::size_t at = 0;
  for (const auto& file : files) {
    const port::Status status = file.second != nullptr ? results[at++] : port::Status::OK();
    // What was synced is done with; a file that failed stays for the next
    // call, and the first failure is the answer.
    if (status.ok()) unsynced_.erase(file.first);
    else if (failure.ok()) failure = status;
  }
  if (!failure.ok()) return failure;
  for (std::set<std::string>::iterator it = newDirs_.begin(); it != newDirs_.end();) {
    const port::Status status = env_->SyncDir(*it);
    if (!status.ok()) return status;
    it = newDirs_.erase(it);
  }
  return port::Status::OK();
}

void PassFiles::Close(const std::string& path) { open_.erase(path); }

void PassFiles::CloseLeastRecentlyUsed(std::size_t count) {
  std::vector<std::pair<std::uint64_t, std::string> > byUse;
  byUse.reserve(open_.size());
  for (const auto& entry : open_) byUse.emplace_back(entry.second.lastUse, entry.first);
  count = std::min(count, byUse.size());
  std::partial_sort(byUse.begin(), byUse.begin() + count, byUse.end());
  for (std::size_t i = 0; i < count; ++i) open_.erase(byUse[i].second);
}

}  // namespace tessel
