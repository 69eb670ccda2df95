// The intake journal: every record handed to the list thread is written to
// it before the call that handed it over is answered, so that a record the
// service accepted survives a crash of the process (and, once synced, a
// power cut) until the list thread has stored it.
//
// Entries are written in batches: whatever the calls appended while the
// last batch was being written goes to the file in one write, and one sync
// covers it all (see Intake). Batches are prepared under the appenders'
// lock, written and synced without it, and settled under it again.
//
// The journal is a set of numbered files, intake.journal.<n>. Two take
// turns: appends go to one while the records of the other are being stored,
// and a file is emptied once everything it holds is in the record files:
// its first entry is cleared and the file is written again from its start,
// over the blocks it has (until a stop, it keeps the size of its largest
// round).
// A write or sync that failed may have lost pages of its file, and an entry
// appended behind a lost one could never be read back (the reader stops at
// the first bad entry): after such a failure, appends go to a fresh file
// with the next number, and the failed file is kept, untouched, until the
// records it holds are stored; then it is removed. At start the records of
// every file are read back, in the order they were appended, and the two
// highest-numbered files take turns from then on.
//
// Each entry is 1263 bytes (little-endian):
//   0  4     magic "TIJ1"
//   4  8     sequence number, one more for each record appended
//   12 1247  the record
//   1259 4   CRC-32 of the sequence number and the record
// A torn or damaged entry, one numbered 2^64 - 1 (which no number could
// follow), or one not numbered one more than the entry before it (left by
// an earlier round) ends a file's entries.
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

  // With `syncNames`, a file made after a failure has its name synced
  // before anything is written to it (power-cut durability).
  IntakeJournal(port::Env* env, const std::string& dir, bool syncNames = false);

  // Opens every file (making the first two when there are none) and reads
  // back the records they hold, oldest first (a torn tail is cut off). A
  // failure leaves the journal unusable: appends then fail and nothing is
  // read back.
  port::Status Open(std::vector<VirtualIdRecord>* records);

  // Numbers the next entry (under the appenders' lock).
  std::uint64_t NextSequence() { return nextSequence_++; }
  // Appends the entry of `record`, numbered `sequence`, to `out`.
  static void Encode(std::uint64_t sequence, const VirtualIdRecord& record, std::string* out);

  // A batch of entries numbered first to last, in one file.
  struct Batch {
    std::uint64_t file = 0;    // the number of its file
    port::File* handle = nullptr;
    std::uint64_t offset = 0;  // where it goes
    std::uint64_t first = 0, last = 0;
    std::uint64_t lastBefore = 0;  // the file's last sequence number before it
    bool written = false;      // the write went through (the sync may still fail)
  };
  // Reserves the room of entries first..last at the end of the file appends
  // go to, after a fresh file is made if the last batch failed (under the
  // appenders' lock). Fails when no file can take them.
  port::Status Prepare(std::uint64_t first, std::uint64_t last, Batch* batch);
  // Writes the batch's encoded entries with one write and, with `sync`,
  // syncs them (without the lock: appends go on meanwhile).
  static port::Status Run(const std::string& entries, bool sync, Batch* batch);
  // Settles a batch that ran (under the lock again). After a failure, the
  // file is given up for appends: a batch not written is taken back, and
  // the next one goes to a fresh file.
  void Settle(const Batch& batch, const port::Status& status);

  // Numbers, prepares, writes and settles one entry: a batch of one (tests,
  // and single-threaded use).
  port::Status Append(const VirtualIdRecord& record);

  // The queue is being taken: everything written so far is in it. Later
  // appends go to the other file when that one is empty. Serialised with
  // Prepare and Settle. Gives the mark to hand to Release.
  std::uint64_t Take();

  // Everything up to the mark Take gave is stored: each file that appends
  // no longer go to and that holds nothing newer is emptied, or removed if
  // a failure gave it up.
  port::Status Release(std::uint64_t mark);

  // Gives the disk back the room of every file that holds nothing (the
  // journal is done with: a stop). Appends may go on after it.
  void Trim();

  // The records the file at `path` holds, read as Open reads them.
  static port::Status CountEntries(port::Env* env, const std::string& path, std::size_t* count);

  // The name of the file numbered `number` in `dir`.
  static std::string FileName(const std::string& dir, std::uint64_t number);
  // True for the name of a journal file; *number gets its number.
  static bool ParseFileName(const std::string& name, std::uint64_t* number);

  bool usable() const { return open_; }
  // The sequence number of the last entry numbered; 0 before the first.
  std::uint64_t lastSequence() const { return nextSequence_ - 1; }

 private:
  struct Segment {
    std::uint64_t number = 0;
    std::string path;
    std::unique_ptr<port::File> file;
    std::uint64_t entries = 0;  // whole entries, a batch under way included
    std::uint64_t lastSequence = 0;
    bool givenUp = false;       // a write or sync failed: no more appends
  };

  port::Status OpenSegment(std::uint64_t number, std::vector<std::pair<std::uint64_t, VirtualIdRecord> >* out);
  // Reads a file's entries from its start (into `out` when not null) up to
  // the first that ends them; *end gets the offset after the last.
  static port::Status ReadEntries(port::File* file,
                                  std::vector<std::pair<std::uint64_t, VirtualIdRecord> >* out,
                                  std::uint64_t* end);
  port::Status Empty(Segment* segment);
  port::Status Fresh();
  Segment* Find(std::uint64_t number);
  void Remove(std::size_t index);

  port::Env* const env_;
  const std::string dir_;
  const bool syncNames_;
  std::size_t inFlight_ = 0;  // batches prepared and not yet settled
  std::vector<std::unique_ptr<Segment> > segments_;  // by number
  Segment* active_ = nullptr;
  bool needFresh_ = false;
  std::uint64_t nextSequence_ = 1;
  std::uint64_t lastWritten_ = 0;  // the last entry of the last batch written
  bool open_ = false;
};

}  // namespace tessel

#endif
