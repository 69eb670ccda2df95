// The write side of the pre-treatment: the records put on or off that wait
// to be written, the files of a pass, the keywords written (in memory and in
// the keyword store), and the hand-off of a seat's IP file to the IA-file
// worker.
//
// Each output goes on by itself. A record goes first to the day file, which
// every other output follows: the day file takes a pass's records in one
// write, and a day file that cannot be written holds everything (nothing
// else may be written before it). Once in the day file, a record waits in
// the queue of its seat's IP file, and its keyword for the keyword store.
// An IP file that cannot be written holds only its own records; a keyword
// store that cannot be written holds nothing (the keywords stay in memory
// and are saved when it can be written); an IA file that cannot be made
// holds only its seat's IP file (the hand-off is tried again every pass,
// and the seat's later records wait behind it). Nothing waits inside a pass.
//
// The order of writes leaves nothing half done by a crash or a power cut:
// with durability "power" the day file and the IP files are synced before
// the keywords of their records are appended to the store (and synced), so
// a keyword on disk always has its record in the day file. What a crash cuts
// short is put right at the next start (Open), from three sources: the day
// files' records stored after the last keyword the store holds (taken back:
// their keywords saved), the intake journal's records (replayed by the
// first pass after a start, while Reconciling), and the notes of hand-offs.
// A record of these that its IP file lacks is appended to it again, unless
// its seat's IP file was made an IA file already (HandOffNote), so no IA
// file is made twice and none lacks a record.
//
// Keywords stay in memory for at least three days, and for as long as the
// identity of their record is still listed as on line (a listed identity's
// records are put off when its seat logs off, and a keyword forgotten then
// would write them again).
#ifndef TESSEL_LISTS_RECORDWRITER_H
#define TESSEL_LISTS_RECORDWRITER_H

#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/Faults.h"
#include "common/SiteOptions.h"
#include "lists/Fifo.h"
#include "lists/KeywordSet.h"
#include "lists/KeywordStore.h"
#include "lists/PassFiles.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

class MakeUpIAFileWorker;

namespace tessel {

// The names under which the write side's outputs show as faults.
inline constexpr char kDayFileOutput[] = "day file";
inline constexpr char kIpFileOutput[] = "IP file";
inline constexpr char kKeywordStoreOutput[] = "keyword store";
inline constexpr char kIaDirectoryOutput[] = "IA directory";
inline constexpr char kRecordSyncOutput[] = "record files, at their sync";

// The write side's state for an operator.
struct WriteCounters {
  std::uint64_t stored = 0;      // records written since start
  std::size_t waiting = 0;       // records that wait for the day file or an IP file
  std::size_t keywords = 0;      // keywords held in memory
  std::size_t unsavedKeywords = 0;
  std::size_t storeRecords = 0;  // records in the keyword store
  std::size_t handOffsWaiting = 0;
  std::vector<Fault> faults;     // outputs that cannot be written now
  std::string failingFile;       // the first of them, while there is one
  std::string failure;
  std::time_t failingSince = 0;
};

class RecordWriter {
 public:
  // The keywords of the records listed as on line now (see above).
  typedef std::function<void(std::vector<std::string>*)> ListedKeywords;

  // Writes into the virtualdb directory `dir`.
  RecordWriter(port::Env* env, const std::string& dir, const WriteOptions& options);

  // Not owned; it must outlive the writer's use of it.
  void SetIAFileWorker(MakeUpIAFileWorker* worker) { worker_ = worker; }
  void SetListedKeywords(ListedKeywords listed) { listed_ = std::move(listed); }
  // With durability "power": the record files are synced (and the keywords
  // of their records saved) at most this often, the files of several
  // passes at once; 0 (the default) syncs at every WriteQueued.
  void SetCheckpointEvery(std::int64_t milliseconds) { checkpointMs_ = milliseconds; }
  // The next WriteQueued syncs whatever the time (the last pass of a stop).
  void CheckpointNow() { lastCheckpointMs_ = kNever; }

  // Cuts the record files' torn tails back to whole records. Called at
  // start before anything reads them (the upstream senders included).
  void CutTornTails();
  // Puts the files in order at start (see above) and loads the keywords;
  // reconciling goes on until EndReconciling. The store's failure when it
  // could not be read (IsNotFound: no store yet).
  port::Status Open();
  // The records replayed at start have all been applied.
  void EndReconciling();
  bool Reconciling() const { return reconciling_; }

  // True when a record of this keyword was written or waits to be.
  bool Knows(const std::string& keyword) const { return Knows(KeywordDigest::Of(keyword)); }
  bool Knows(const KeywordDigest& digest) const {
    return known_.Contains(digest) || queued_.Contains(digest);
  }
  // Queues the record to be written under its keyword (whose digest the
  // caller may have made already); `kind` is its net-log kind.
  void Queue(const VirtualIdRecord& record, std::string keyword, int kind) {
    const KeywordDigest digest = KeywordDigest::Of(keyword);
    Queue(record, std::move(keyword), digest, kind);
  }
  void Queue(const VirtualIdRecord& record, std::string keyword, const KeywordDigest& digest,
             int kind);
  // A record whose keyword is known, met while reconciling: appended to its
  // IP file if the file lacks it (see above).
  void Reconcile(const VirtualIdRecord& record, const std::string& keyword, int kind) {
    ReconcileWord(record, keyword, kind, kNoWord);
  }
  // Writes what waits, in order. True when every record is in the day file
  // and its IP file: the intake journal may let go of them.
  bool WriteQueued();
  // After the intake has let go of what a pass stored (`released`): the
  // notes of hand-offs no record can come back for any more are removed.
  void PassReleased(bool released);
  // Lets the keywords whose time has come leave memory (looked at every
  // few minutes at most), and compacts the store when it is due.
  void ExpireIfDue();
  // Appends the keywords not saved yet to the store: 0 when they are in it,
  // -1 when they wait for the next save.
  int SaveKeywords();

  // One record into today's day file / its IP file at once, outside the
  // queues (the pre-treatment's own operations).
  port::Status AppendToDayFile(const VirtualIdRecord& record);
  // False (and nothing written) when the record has no IP file: no IP key,
  // or one that cannot be part of a file name.
  bool AppendToIpFile(const VirtualIdRecord& record, port::Status* status);

  // Records not yet in the day file: they count against the intake's bound.
  std::size_t waitingForDayFile() const { return dayQueue_.size(); }
  // Records not yet in the day file or in their IP file.
  std::size_t waiting() const { return dayQueue_.size() + ipWaiting_; }
  const KeywordSet& keywords() const { return known_; }
  WriteCounters Counters() const;

 private:
  struct IpTarget {
    std::string path;      // empty: the record goes to the day file only
    std::string name;      // the IP file's own name
    std::string dayStamp;  // the day of its seat
  };
  struct Pending {
    VirtualIdRecord record;
    std::string keyword;
    KeywordDigest digest;
    const IpTarget* ip;  // in targets_; null: the record goes to the day file only
    bool handOff;        // a real-name log-off: its IP file goes to the worker
  };
  struct IpItem {
    VirtualIdRecord record;
    bool handOff;
    bool written;        // in the file: a log-off whose hand-off waits
    std::uint64_t word;  // its keyword's place in words_ (kNoWord: none)
  };
  // A keyword waits to be saved until its record is in the day file and its
  // IP file (synced with durability "power"), and until every keyword
  // before it may be saved: the store takes keywords in day-file order, so
  // that the records after its last keyword are exactly those to take back.
  struct Word {
    std::string keyword;
    bool ready;
  };
  static constexpr std::uint64_t kNoWord = ~std::uint64_t(0);
  std::uint64_t AddWord(std::string keyword);
  void WordsSynced();
  struct IpQueue {
    std::string path, name, dayStamp;
    Fifo<IpItem> items;
  };

  // The IP file of a record; false when it has none.
  bool IpTargetOf(const VirtualIdRecord& record, IpTarget* target);
  // The same, remembered by the record's prefix (a seat's records share
  // it): null when the record has no IP file. Valid while records wait for
  // the day file.
  const IpTarget* SeatTargetOf(const VirtualIdRecord& record);
  bool HandsOff(int kind) const;
  void QueueForIpFile(const IpTarget& ip, const VirtualIdRecord& record, bool handOff,
                      bool written, std::uint64_t word = kNoWord);

  bool CheckpointDue() const;
  bool WriteDayFile();
  void WriteIpFiles();
  bool HandOverWaiting();

  // Reconcile, the record's keyword at `word` waiting for it; false when
  // the record is not queued for its IP file.
  bool ReconcileWord(const VirtualIdRecord& record, const std::string& keyword, int kind,
                     std::uint64_t word);
  void TakeBack();
  void AddListedKeywords();
  void HandOverClosedSeats();
  void ReadHandedNotes();
  // The keywords of an IP file's records (while reconciling).
  std::unordered_set<std::string>& KeywordsIn(const IpTarget& ip);

  port::Env* const env_;
  const std::string dir_;
  const bool durable_;
  MakeUpIAFileWorker* worker_ = nullptr;
  ListedKeywords listed_;

  KeywordSet known_;     // keywords written
  KeywordSet queued_;    // keywords of the records that wait for the day file
  KeywordStore store_;
  PassFiles files_;
  Faults faults_;
  std::vector<Pending> dayQueue_;                // not yet in the day file, in order
  // By IP file name: the order of their paths, as they share the directory,
  // and a shorter key to compare.
  std::map<std::string, IpQueue> ipQueues_;
  // Seat prefix -> its IP file (path empty: none); emptied, when it has
  // grown, while no pending record points into it.
  std::unordered_map<std::string, IpTarget> targets_;
  std::size_t ipWaiting_ = 0;                    // records in ipQueues_ not yet written
  std::deque<Word> words_;             // keywords not yet ready to be saved, in day-file order
  std::uint64_t firstWord_ = 0;        // the number of words_.front()
  std::vector<std::uint64_t> written_; // words whose records were written, not yet synced
  std::vector<std::string> unsaved_;   // keywords ready, not yet in the store
  std::time_t lastExpiry_ = 0;
  std::uint64_t stored_ = 0;
  static constexpr std::int64_t kNever = -(std::int64_t(1) << 62);
  std::int64_t checkpointMs_ = 0;
  std::int64_t lastCheckpointMs_ = kNever;

  // Reconciling at start: the seats whose IP files were made IA files
  // lately (IP file -> the latest seat log-on time handed over), and the
  // keywords of the IP files looked at.
  bool reconciling_ = false;
  std::map<std::string, std::time_t> handed_;
  std::unordered_map<std::string, std::unordered_set<std::string> > ipKeywords_;
  // Hand-off notes to remove: made since the last release, and made before
  // it (removed once every keyword is saved).
  std::vector<std::string> notesMade_, notesReleased_;

  // The buffers of a pass, kept from pass to pass.
  std::string dayRecords_;
  std::string ipRecords_;
};

}  // namespace tessel

#endif
