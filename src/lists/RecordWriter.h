// The write side of the pre-treatment: the records put on or off that wait
// to be written, the files of a pass, the keywords written (in memory and in
// the keyword store), and the hand-off of a seat's IP file to the IA-file
// worker.
//
// Records are written in the order they were put, a pass at a time: each
// file takes its share of the pass in one write, so a pass of thousands of
// records costs a few writes per file instead of two per record. A pass is
// cut after every real-name log-off, whose seat's IP file is handed over
// before a later record of the seat could go into it.
//
// The order of writes leaves nothing half done by a crash or a power cut:
// a record goes to the day file, then to its IP file; with durability
// "power" both are synced; only then is its keyword appended to the store
// (and synced); only then is a log-off's IP file handed over, and only once
// every keyword is saved may the intake let go of the journal entries. A
// record that cannot be written to a file waits, with every record after
// it, and the next pass tries again, without a second copy in a file that
// took it already.
//
// At start (Open), before anything is written: the record files' torn tails
// are cut back to whole records; hand-offs a crash cut short are finished;
// records at the end of the day files stored after the last keyword the
// store holds are taken back (their keywords saved, their IP files given
// the record again, a log-off among them handed over once); and IP files
// whose last record is a stored real-name log-off are handed over.
#ifndef TESSEL_LISTS_RECORDWRITER_H
#define TESSEL_LISTS_RECORDWRITER_H

#include <ctime>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/SiteOptions.h"
#include "lists/KeywordSet.h"
#include "lists/KeywordStore.h"
#include "lists/PassFiles.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

class MakeUpIAFileWorker;

namespace tessel {

// The write side's state for an operator.
struct WriteCounters {
  std::uint64_t stored = 0;      // records written since start
  std::size_t waiting = 0;       // records that wait to be written
  std::size_t keywords = 0;      // keywords held in memory
  std::size_t storeRecords = 0;  // records in the keyword store
  std::string failingFile;       // the first file that cannot be written, while one cannot
  std::string failure;
  std::time_t failingSince = 0;
};

class RecordWriter {
 public:
  // Writes into the virtualdb directory `dir`.
  RecordWriter(port::Env* env, const std::string& dir, const WriteOptions& options);

  // Not owned; it must outlive the writer's use of it.
  void SetIAFileWorker(MakeUpIAFileWorker* worker) { worker_ = worker; }

  // Puts the files in order at start (see above) and loads the keywords.
  // The store's failure when it could not be read (IsNotFound: no store yet).
  port::Status Open();

  // True when a record of this keyword was written or waits to be.
  bool Knows(const std::string& keyword) const;
  // Queues the record to be written under its keyword.
  void Queue(const VirtualIdRecord& record, const std::string& keyword);
  // Writes what waits, in order. True when nothing waits any more: every
  // record written and every keyword saved.
  bool WriteQueued();
  // Lets the keywords whose time has come leave memory (looked at once a
  // minute at most), and compacts the store when it is due.
  void ExpireIfDue();
  // Appends the keywords not saved yet to the store: 0 when they are in it,
  // -1 when they wait for the next save.
  int SaveKeywords();

  // One record into today's day file / its IP file at once, outside the
  // queue (the pre-treatment's own operations).
  port::Status AppendToDayFile(const VirtualIdRecord& record);
  // False (and nothing written) when the record has no IP file: no IP key,
  // or one that cannot be part of a file name.
  bool AppendToIpFile(const VirtualIdRecord& record, port::Status* status);

  std::size_t waiting() const { return queue_.size() - head_; }
  const KeywordSet& keywords() const { return known_; }
  WriteCounters Counters() const;

 private:
  struct Pending {
    VirtualIdRecord record;
    std::string keyword;
    std::string ipFile;    // empty: the record goes to the day file only
    std::string ipName;    // the IP file's own name, and the day of its seat
    std::string dayStamp;
    bool handOff = false;  // a real-name log-off: its IP file goes to the worker
    bool inDayFile = false;
    bool inIpFile = false;
  };
  struct HandOff {
    std::string path, name, dayStamp;
  };

  // The IP file of a record; false when it has none.
  bool IpFileOf(const VirtualIdRecord& record, std::string* path, std::string* name,
                std::string* dayStamp);
  Pending MakePending(const VirtualIdRecord& record, const std::string& keyword);
  bool WriteSegment(std::size_t end, const std::string& dayFile);
  void Written(const Pending& pending);
  bool HandOverIfSaved();
  void NoteWrite(const port::Status& status, const std::string& path);

  void CutTornTails();
  void TakeBack();
  void HandOverClosedSeats();

  port::Env* const env_;
  const std::string dir_;
  const bool durable_;
  MakeUpIAFileWorker* worker_ = nullptr;

  KeywordSet known_;     // keywords written
  KeywordSet queued_;    // keywords of the records that wait
  KeywordStore store_;
  PassFiles files_;
  std::vector<Pending> queue_;  // from head_ on: the records that wait
  std::size_t head_ = 0;
  std::vector<std::string> unsaved_;  // keywords written, not yet in the store
  std::vector<HandOff> handOffs_;     // log-offs stored, their IP files not yet handed over
  bool storeFailing_ = false;
  std::time_t lastExpiry_ = 0;

  // The buffers of a pass, kept from pass to pass.
  std::string dayRecords_;
  std::map<std::string, std::string> ipRecords_;

  // Files that cannot be written, each with its failure and since when.
  struct Failing {
    std::string failure;
    std::time_t since;
  };
  std::map<std::string, Failing> failing_;
  std::uint64_t stored_ = 0;
};

}  // namespace tessel

#endif
