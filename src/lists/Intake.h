// The intake of the list thread: the queue of records accepted and not yet
// applied, the journal that keeps them until they are stored, the bound on
// what may wait, and the answer a caller gets for its records.
//
// A record is accepted only once its journal entry is written: with
// Durability::kProcess the caller is then answered (the entry survives a
// crash of the process); with kPower (the default) once the entry is synced
// as well, so that it survives a power cut. Calls do not write: they number
// their entries and leave them with the intake, and one thread of the intake
// writes whatever came while it wrote the last batch with one write, syncs
// it with one sync (group commit), queues its records for the list thread
// and answers every caller it covered. No caller pays a write or a sync of
// its own, and none holds the intake lock while the disk works.
//
// While maxWaitingRecords records wait (to be written, queued, in the pass
// under way, or held by the write side because their files cannot be
// written), a new record waits up to roomWaitMs for room and is then
// refused, and so is every record after it until room is made: the caller is
// told, never answered as if its record were kept. A journal entry that
// cannot be written (or synced) is a refusal too.
//
// The list thread waits for its next pass here: a pass is due after its
// pause, or as soon as passTriggerRecords records are queued, so that the
// writer keeps pace with a burst instead of letting it reach the bound.
#ifndef TESSEL_LISTS_INTAKE_H
#define TESSEL_LISTS_INTAKE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <IceUtil/Handle.h>

#include "common/FaultSpell.h"
#include "common/SiteOptions.h"
#include "lists/IntakeJournal.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

// What the records a call handed over met: the first refusal, or the
// journal sequence numbers of the first and the last record taken (0 when
// none was).
struct Receipt {
  port::Status status;
  std::uint64_t sequence = 0;
  std::uint64_t first = 0;

  // Keeps the first failure and the latest sequence number.
  void Add(const Receipt& later);
};

// The intake's state for an operator.
struct IntakeCounters {
  std::uint64_t accepted = 0;   // records taken since start
  std::uint64_t refused = 0;    // records refused since start
  std::uint64_t waiting = 0;    // queued, in the pass, or held by the write side
  bool journalFailing = false;
  std::string journalError;     // the last failure while it fails
  std::time_t journalFailingSince = 0;
};

class Intake {
 public:
  typedef std::function<void(const port::Status&)> Done;

  Intake(port::Env* env, const WriteOptions& options);
  // Shutdown, if not done yet.
  ~Intake();
  Intake(const Intake&) = delete;
  Intake& operator=(const Intake&) = delete;

  // Opens the journal in `dir` and queues the records it holds, ahead of
  // any new one. When it cannot be opened, records are refused, and the
  // journal is opened again at most once a second until it can be. An
  // intake never opened keeps its records in memory only (lists that store
  // nothing, in tests).
  port::Status Open(const std::string& dir);

  // Calls `each` (when set) for every record queued and not yet taken by a
  // pass, oldest first, and gives their number: before the first pass, what
  // the journal gave back at Open (accepted, not yet stored). `each` runs
  // under the intake lock and must not call the intake.
  std::size_t ForEachQueued(const std::function<void(const VirtualIdRecord&)>& each) const;

  // Takes the record: it is queued once its journal entry is written.
  Receipt Add(const VirtualIdRecord& record);
  // Calls `done` once the records of the receipt are as safe as the
  // durability promises, with the failure of the write or sync when one of
  // them could not be kept. `done` runs with no lock held, on the caller's
  // thread or the intake's journal thread.
  void WhenSafe(const Receipt& receipt, Done done);
  // The same for the one record numbered `sequence`.
  void WhenSafe(std::uint64_t sequence, Done done);
  // From now on every record is refused: the service is stopping. Calls
  // waiting for room are refused at once.
  void Close();
  // Closes the intake and ends the journal thread: what waits to be written
  // is written first, and every caller is answered (and its answer
  // released) before this returns. Once is enough.
  void Shutdown();

  // The list thread's side.
  // Returns when a pass is due: after `milliseconds`, once enough records
  // are queued, or at once after Wake.
  void WaitForPass(int milliseconds);
  void Wake();
  // Takes every queued record into `taken` (whose memory serves pass after
  // pass) and gives the journal mark of the last one.
  std::uint64_t Take(std::vector<VirtualIdRecord>* taken);
  // The pass that took up to `mark` has ended: `stored` when everything it
  // took is in the record files, `held` the records the write side still
  // holds. The journal lets go of what is stored, and room is made.
  void PassDone(std::uint64_t mark, bool stored, std::size_t held);

  IntakeCounters Counters() const;

 private:
  struct Waiter {
    std::uint64_t first, last;
    Done done;
  };
  // A batch whose entries were not kept, and what the callers are told.
  struct Failed {
    std::uint64_t first, last;
    port::Status refusal;
  };

  void PublishLocked();
  bool JournalUsableLocked();
  std::size_t WaitingLocked() const {
    return pending_.size() + inWrite_ + queued_.size() + inPass_ + held_;
  }
  bool WaitForRoomLocked(std::unique_lock<std::mutex>& lock);
  void NoteRefusalLocked(bool full);
  void NoteJournalLocked(const port::Status& status);
  port::Status AnswerLocked(std::uint64_t first, std::uint64_t last) const;
  void WriteLoop();

  port::Env* const env_;
  const WriteOptions options_;
  std::string dir_;
  bool opened_ = false;

  mutable std::mutex mutex_;
  std::condition_variable room_;      // waiters for room
  std::condition_variable passDue_;   // the list thread between passes
  std::condition_variable writeDue_;  // the journal thread
  std::unique_ptr<IntakeJournal> journal_;
  std::int64_t nextJournalOpenMs_ = 0;
  std::vector<VirtualIdRecord> pending_;  // accepted, their entries not yet written
  std::condition_variable batchDone_;     // a batch of the journal thread is settled
  std::uint64_t pendingFirst_ = 0;        // the sequence number of pending_[0]
  std::size_t inWrite_ = 0;               // records of the batch being written
  bool writerIdle_ = false;
  std::vector<VirtualIdRecord> queued_;
  std::size_t inPass_ = 0;
  std::size_t held_ = 0;
  FaultSpell refusal_;  // a wait for room ran out; no room since
  FaultSpell journalFault_;  // the journal cannot be written
  bool woken_ = false;
  bool closed_ = false;
  bool ending_ = false;    // the journal thread is to end
  std::uint64_t settled_ = 0;  // every entry up to here was written (and synced) or failed
  std::deque<Failed> failed_;
  std::vector<Waiter> waiters_;
  IntakeCounters counters_;  // under mutex_
  // What Counters() reads, kept up to date under mutex_: numbers a reader
  // takes without any lock, and the journal's state (which changes rarely)
  // under a lock of its own.
  std::atomic<std::uint64_t> accepted_{0}, refused_{0}, waiting_{0};
  mutable std::mutex journalStateLock_;
  IntakeCounters journalState_;
  // The journal thread: writes and syncs the batches.
  class Writer;
  IceUtil::Handle<Writer> writer_;
};

}  // namespace tessel

#endif
