// The per-IP lists of the identities on line at each client seat, kept by
// the list thread. Records are queued by AddNetLog and applied in arrival
// order by passes of the thread; each one turns into put-on (flag 1) and
// put-off (flag 0) events through the hook PutNetLogToP2P, which a subclass
// implements. What a record puts on and off is decided by the lists alone
// (lists/SeatLists.h); the operations here print the lines and call the
// hook for each record put.
//
// A caller of AddNetLog never waits for the list thread's work: the queue is
// the intake's (lists/Intake.h), whose lock is held only to append a record
// and its journal entry or to take the whole queue at the start of a pass.
// A pass starts once a second, or at once when a burst has queued enough
// records; it applies what it took under the list lock, then leaves the lock
// before the subclass stores the results (FinishPass).
#ifndef TESSEL_LISTS_IPLISTVIRTUALIDINFO_H
#define TESSEL_LISTS_IPLISTVIRTUALIDINFO_H

#include <IceUtil/Handle.h>
#include <IceUtil/Thread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "common/SiteOptions.h"
#include "common/StoppableThread.h"
#include "lists/Intake.h"
#include "lists/SeatLists.h"
#include "port/Env.h"
#include "record/CompactRecord.h"
#include "record/VirtualIdRecord.h"

class IPListVirtualIDInfo : public tessel::StoppableThread {
 public:
  // Group key -> the identity's first record and, once another arrived, its
  // latest one (see SeatLists).
  typedef tessel::SeatLists::IdentityMap IdentityMap;

  // `drainIntervalMs`: the longest pause between two passes over the
  // queue. Files and the clock are reached through `env`.
  static constexpr int kDrainIntervalMs = 1000;
  explicit IPListVirtualIDInfo(tessel::port::Env* env, int drainIntervalMs = kDrainIntervalMs,
                               const tessel::WriteOptions& options = tessel::WriteOptions());
  virtual ~IPListVirtualIDInfo();

  // Initialize, then passes over the queue until Stop. The records queued
  // when Stop is requested are applied by one last pass, then run returns.
  // Shutdown: StopAndJoin() (or Stop(), then join the ThreadControl that
  // start() returned); the thread ends within a pass (the pause is cut short
  // by Stop).
  void run() override;
  // Queues a copy of the record, after its entry in the intake journal, and
  // keeps `unitIdentity` (null counts as empty) for the exports. The
  // receipt says whether the record was taken, and its journal sequence
  // number; a record the intake refuses (the bound reached, the journal
  // failing, a stop under way) is not queued.
  virtual tessel::Receipt AddNetLog(const VirtualIdRecord& record, const char* unitIdentity);
  // Adds every listed record to the file through the record export library;
  // `count` receives the number of records that reached the file.
  virtual void ExportToFile(const char* filePath, int& count);
  // Asks the thread to end; returns at once.
  virtual void Stop();
  // A stop ends the pause between passes.
  void OnStopRequested() override;
  // Called once when the thread starts; the result is not used.
  virtual int Initialize() = 0;
  // Applies a record of kind `kind` to a listed seat's entry (UpdateList
  // does this itself for a listed seat; kept for direct callers).
  virtual void UpdateListForOneIP(VirtualIdRecord& record, IdentityMap& entry, int kind,
                                  std::string groupKey);
  // Puts every stored record of the entry, in group-key order, with `flag`;
  // what the hook changes in them stays in the entry.
  virtual void PutAllNetLogToP2P(IdentityMap& entry, int flag);
  // Puts one record on (flag 1) or off (flag 0).
  virtual void PutNetLogToP2P(VirtualIdRecord& record, int flag) = 0;

  // Applies one record to the lists (called by run for every queued record).
  void UpdateList(VirtualIdRecord& record);

  // The unit identity for the exports until the first AddNetLog gives one.
  void SetUnitIdentity(const std::string& identity);

  // Replaces the lists with the seats still on line when the service last
  // stopped (lists/RestoreSeatLists.h). Called before the thread starts;
  // then ListsRestored runs.
  void RestoreLists(tessel::SeatLists lists);
  // True once the records the intake journal gave back at start (queued
  // when RestoreLists ran) are applied to the lists: an export made before
  // would miss identities on line. Waits up to `milliseconds` for that.
  bool WaitForRestoredRecords(int milliseconds);
  tessel::Intake& intake() { return intake_; }

  // Records set aside since start because they could not be applied.
  std::uint64_t Unapplied() const { return unapplied_.load(std::memory_order_relaxed); }

  // When the last pass began (seconds since 1970, 0 before the first) and
  // how long it took, for an operator; read from any thread.
  std::time_t LastPassAt() const { return lastPassAt_.load(std::memory_order_relaxed); }
  std::int64_t LastPassMs() const { return lastPassMs_.load(std::memory_order_relaxed); }

 protected:
  // Opens the intake journal in `dir` and queues the records it still
  // holds, ahead of any new one. Called before the first AddNetLog.
  void OpenIntakeJournal(const std::string& dir);

  // One pass: takes the queue, applies it to the lists, stores what it put
  // on and off. True when everything it took is stored.
  bool DrainPass();

  // Called after every pass, outside the list lock: stores what the pass
  // put on and off. True when everything the pass took is stored, so that
  // the journal may let go of it.
  virtual bool FinishPass() { return true; }
  // Records the subclass holds that wait to be stored (counted against the
  // intake's bound); asked after every pass.
  virtual std::size_t HeldRecords() const { return 0; }
  // Called after every pass, once the intake has let go of what it stored
  // (`released`) or kept it.
  virtual void AfterPass(bool /*released*/) {}
  // True while records a pass could not apply wait for the next (list
  // thread).
  bool Carrying() const { return !carried_.empty(); }
  // True while a pass applies the records it took (list thread only): the
  // hooks then leave storing to FinishPass.
  bool InPass() const { return inPass_; }

  // The lists, for the hooks and a subclass's own views (list thread, or
  // with the list lock).
  tessel::SeatLists::Seats& Lists() { return lists_.seats(); }
  const tessel::SeatLists& SeatState() const { return lists_; }

  // Called by RestoreLists once the restored lists are in place, before the
  // thread starts: a subclass learns what is on line (SeatState) without
  // any of it having been applied by a pass.
  virtual void ListsRestored() {}

 private:
  // Prints the lines of `out` and calls the hook for each record it puts;
  // `input` is the record that was applied.
  void PutOutcome(VirtualIdRecord& input, const tessel::SeatLists::Outcome& out);

  // A record of the queue has been applied (or dropped).
  void NoteApplied();

  tessel::port::Env* const env;
  tessel::SeatLists lists_;
  // What the record being applied put: kept from record to record for its
  // memory (only the list thread applies records).
  tessel::SeatLists::Outcome outcome_;
  // Records given back by the journal at start and not yet applied.
  std::atomic<std::size_t> restoredLeft_{0};
  std::mutex restoredLock_;
  std::condition_variable restoredApplied_;
  // Guards lists_. Each pass holds it exclusively while it applies the
  // records it took (memory only: no file is touched under it), and
  // ExportToFile shares it, so exports may run side by side but never
  // during a pass. No caller takes it again on a thread that already holds
  // it, so a recursive lock is not needed.
  mutable std::shared_mutex lock;
  // Guards unitIdentity, which AddNetLog replaces and the exports read.
  mutable std::mutex identityLock;
  std::string unitIdentity;
  tessel::Intake intake_;
  // A record that cannot be applied ends its pass; after this many passes
  // in a row it is set aside in its own file so that it holds nothing up.
  static constexpr int kSetAsideAfterFailures = 3;
  // Passes a stop may take beyond its first, while they store something.
  static constexpr int kLastPasses = 3;
  // False when the pass must end at the record; true once it is set aside.
  bool SetAsideIfStuck(const VirtualIdRecord& record, const std::string& failure,
                       std::size_t waiting);

  // The records of the pass under way; its memory serves every pass.
  std::vector<VirtualIdRecord> taken_;
  // Records a pass could not apply, first in line for the next one.
  std::vector<VirtualIdRecord> carried_;
  std::string stuck_;  // the bytes of the record that failed last
  int failuresInRow_ = 0;
  std::string unappliedPath_;  // empty: the lists store nothing
  std::atomic<std::uint64_t> unapplied_{0};
  bool inPass_ = false;
  const int drainIntervalMs;
  const bool durable_;
  std::atomic<std::time_t> lastPassAt_{0};
  std::atomic<std::int64_t> lastPassMs_{0};
};

typedef IceUtil::Handle<IPListVirtualIDInfo> IPListVirtualIDInfoPtr;

#endif
