// A power cut through the Env seam, on the real file system: the Env
// remembers, for every file written through it, how much of it was synced,
// and which creations, renames and removals their directory has not been
// synced since. After the cut, ApplyCut leaves the disk as a power cut
// would: every file goes back to its synced length or, at random, to any
// length between that and what was written (a torn tail), each page written
// over in place since its file's last sync keeps, at random, what the sync
// left or what was written, files whose creation was not synced go, and
// unsynced renames and removals are undone.
//
// The cut comes after a chosen number of changes (writes, syncs, renames,
// removals): from then on every change fails, as nothing reaches a disk
// without power. Syncs are remembered, not made: the disk is never flushed,
// so a test can cut hundreds of times in seconds.
//
// A sync can be made to fail as a disk error fails it (FailSyncLosingPages):
// what it was to write is lost then, and stays lost even when a later sync
// of the file succeeds (the system marked those pages clean), so after the
// cut that part of the file reads as zeros while what follows it is kept.
#ifndef TESSEL_TESTS_POWERCUTENV_H
#define TESSEL_TESTS_POWERCUTENV_H

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "port/Env.h"

namespace testing_support {

class PowerCutEnv : public tessel::port::EnvWrapper {
 public:
  // Removed and replaced files are kept in `backupDir` (on the same file
  // system) until their removal is synced. `seed` picks the torn tails.
  PowerCutEnv(const std::string& backupDir, std::uint32_t seed);

  // The power goes after `changes` more changes; a negative count never.
  void CutAfter(long changes);
  // The next sync of a file whose path contains `pathPart` fails with EIO
  // and loses what was written since the file's last sync.
  void FailSyncLosingPages(const std::string& pathPart);
  bool Dead();
  long changes();
  // Leaves the disk as the cut left it; call once every user of the Env is
  // gone.
  void ApplyCut();

  tessel::port::Status OpenFile(const std::string& path, tessel::port::File::Mode mode,
                                std::unique_ptr<tessel::port::File>* file) override;
  tessel::port::Status RemoveFile(const std::string& path) override;
  tessel::port::Status RenameFile(const std::string& from, const std::string& to) override;
  tessel::port::Status SyncDir(const std::string& dir) override;
  tessel::port::Status SyncFileSystem(const std::string& path) override;

  // The file's side (PowerCutEnv's files call these).
  tessel::port::Status Change(const std::string& what);
  void Synced(const std::string& path, std::uint64_t size);
  // A sync of `path` that is to fail and lose its pages: its error, or OK.
  tessel::port::Status FailedSync(const std::string& path, std::uint64_t size);
  void Written(const std::string& path, std::uint64_t offset, std::uint64_t length);
  // Before `file` is written at `offset`: keeps what the disk holds of the
  // pages the write covers below the synced length.
  void BeforeWrite(const std::string& path, tessel::port::File* file, std::uint64_t offset,
                   std::size_t length);
  void Truncated(const std::string& path, std::uint64_t size);

 private:
  struct Tracked {
    std::uint64_t synced = 0;
    bool created = false;  // its name is not on the disk until its directory is synced
    std::vector<std::pair<std::uint64_t, std::uint64_t> > lost;  // [from, to): zeros after the cut
    std::map<std::uint64_t, std::string> syncedPages;  // page offset -> its bytes at the last sync
  };
  struct DirChange {
    std::string from, to;  // a removal has no `to`
    std::string backup;    // the file a rename replaced, or the one removed
    bool hadTracked = false;
    Tracked tracked;       // what was known of the replaced or removed file
  };

  std::string Backup();
  void Rewritten(Tracked* file, std::uint64_t from, std::uint64_t to);
  void Commit(const std::string& dir, bool all);
  void TrackLocked(const std::string& path, tessel::port::File::Mode mode);

  std::mutex mutex_;
  const std::string backupDir_;
  std::mt19937 random_;
  long left_ = -1;
  long changes_ = 0;
  bool dead_ = false;
  int backups_ = 0;
  std::map<std::string, Tracked> files_;
  std::vector<DirChange> pending_;
  std::vector<std::string> failSyncs_;
};

}  // namespace testing_support

#endif
