// The intake journal: every record handed to the list thread is appended to
// it before the call that handed it over returns, so that a record the
// service accepted survives a crash of the process until the list thread
// has stored it. The journal is two files that take turns: appends go to
// one while the records of the other are being stored, and a file is
// emptied once everything it holds is in the record files. At start the
// records of both are read back, in the order they were appended.
//
// Each entry is one write of 1263 bytes (little-endian):
//   0  4     magic "TIJ1"
//   4  8     sequence number, one more for each record appended
//   12 1247  the record
//   1259 4   CRC-32 of the sequence number and the record
// A torn or damaged entry, or one numbered 2^64 - 1 (which no number could
// follow), ends a file's entries.
#ifndef TESSEL_LISTS_INTAKEJOURNAL_H
#define TESSEL_LISTS_INTAKEJOURNAL_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/Env.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

class IntakeJournal {
 public:
  static constexpr std::size_t kEntrySize = 4 + 8 + rec::kSize + 4;

  IntakeJournal(port::Env* env, const std::string& dir);

  // Opens both files and reads back the records they hold, oldest first (a
  // torn tail is cut off). A failure leaves the journal unusable: appends
  // then fail and nothing is read back.
  port::Status Open(std::vector<VirtualIdRecord>* records);

  // Appends one record with one write. Not thread-safe: the caller
  // serialises appends and Take.
  port::Status Append(const VirtualIdRecord& record);

  // The queue is being taken: everything appended so far is in it. Later
  // appends go to the other file when that one is empty. Serialised with
  // Append. Gives the mark to hand to Release.
  std::uint64_t Take();

  // Everything up to the mark Take gave is stored: the file that appends
  // no longer go to, when it holds nothing newer, is emptied. Called by the
  // thread that calls Take, without the appenders' lock.
  // `durable`: the emptying is synced before this returns.
  port::Status Release(std::uint64_t mark, bool durable);

  // The two files' names in `dir`.
  static std::string FileName(const std::string& dir, int which);

  // What a sync has to put on the disk: the files appended to since the
  // last sync, and the sequence number of the last entry they hold. Made
  // under the appenders' lock (PrepareSync), carried out without it (Run),
  // so that appends go on while the disk works; one sync covers every entry
  // appended before it was prepared.
  struct SyncJob {
    port::File* files[2] = {nullptr, nullptr};
    std::uint64_t appends[2] = {0, 0};
    std::uint64_t upTo = 0;
    port::Status Run() const;
  };
  SyncJob PrepareSync();
  // The job ran without a failure (under the appenders' lock again); a
  // failed job leaves its files to the next one.
  void Synced(const SyncJob& job);

  bool usable() const { return open_; }
  // The sequence number of the last entry appended; 0 before the first.
  std::uint64_t lastSequence() const { return nextSequence_ - 1; }

 private:
  struct Half {
    std::unique_ptr<port::File> file;
    std::string path;
    std::uint64_t entries = 0;  // whole entries in the file
    std::uint64_t lastSequence = 0;
    std::uint64_t appends = 0;  // counts every append, for the syncs
    std::uint64_t synced = 0;   // the appends a sync has covered
  };

  port::Status ReadHalf(Half* half, std::vector<std::pair<std::uint64_t, VirtualIdRecord> >* out);

  port::Env* const env_;
  const std::string dir_;
  Half halves_[2];
  int active_ = 0;
  std::uint64_t nextSequence_ = 1;
  bool open_ = false;
};

}  // namespace tessel

#endif
