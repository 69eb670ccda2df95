// The record files one pass of the list thread appends to. Each file is
// opened once for the pass (however many seats the pass hears from, up to a
// few thousand files at once, well inside the process's descriptor limit)
// and takes each of its shares of the pass in one write; all are closed at
// the end of the pass, and one before its IP file is handed to the IA-file
// worker.
//
// With `durable`, what was appended is synced before the pass lets its
// keywords be saved (SyncAll), and so is the directory of a file the pass
// created, so that after a power cut no keyword on disk lacks its record.
#ifndef TESSEL_LISTS_PASSFILES_H
#define TESSEL_LISTS_PASSFILES_H

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "port/Env.h"

namespace tessel {

class PassFiles {
 public:
  PassFiles(port::Env* env, bool durable);

  // Appends whole records to the file at `path` with one write, opening it
  // (and creating it) on first use; a write that fails leaves the file as
  // it was, and the file is opened afresh next time.
  port::Status Append(const std::string& path, const std::string& records);
  // Syncs every file appended to since its last sync (each on its own, not
  // the file system), then the directories of the files created. The first
  // failure names its file; what could not be synced stays for the next
  // call.
  port::Status SyncAll();
  // True while something appended waits for SyncAll.
  bool Unsynced() const { return !unsynced_.empty() || !newDirs_.empty(); }
  // Closes the file at `path` if it is open.
  void Close(const std::string& path);
  void CloseAll() { open_.clear(); }

 private:
  struct OpenFile {
    std::unique_ptr<port::File> file;
    std::uint64_t lastUse = 0;
  };

  port::Status Open(const std::string& path, OpenFile* open);
  void CloseLeastRecentlyUsed(std::size_t count);

  port::Env* const env_;
  const bool durable_;
  const std::size_t maxOpen_;
  std::uint64_t uses_ = 0;
  std::unordered_map<std::string, OpenFile> open_;
  std::set<std::string> unsynced_;  // paths appended to since their last sync
  std::set<std::string> newDirs_;   // directories of files created, not yet synced
};

}  // namespace tessel

#endif
