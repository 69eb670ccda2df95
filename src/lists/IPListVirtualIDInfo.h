// The per-IP lists of the identities on line at each client seat, kept by
// the list thread. Records are queued by AddNetLog and applied once a second,
// in arrival order; each one turns into put-on (flag 1) and put-off (flag 0)
// events through the hook PutNetLogToP2P, which a subclass implements.
//
// A caller of AddNetLog never waits for the list thread's work: the queue
// has a lock of its own, held only to append a record (and its entry in the
// intake journal, when one is open) or to take the whole queue at the start
// of a pass. The pass applies what it took under the list lock, then leaves
// the lock before the subclass stores the results (FinishPass).
#ifndef TESSEL_LISTS_IPLISTVIRTUALIDINFO_H
#define TESSEL_LISTS_IPLISTVIRTUALIDINFO_H

#include <IceUtil/Handle.h>
#include <IceUtil/Thread.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "common/StopSignal.h"
#include "lists/IntakeJournal.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

class IPListVirtualIDInfo : public IceUtil::Thread {
 public:
  // Group key -> the identity's first record and, once another arrived, its
  // latest one.
  typedef std::map<std::string, std::vector<VirtualIdRecord> > IdentityMap;

  // `drainIntervalMs`: the pause between two passes over the queue. Files
  // and the clock are reached through `env`.
  static constexpr int kDrainIntervalMs = 1000;
  explicit IPListVirtualIDInfo(int drainIntervalMs = kDrainIntervalMs,
                               tessel::port::Env* env = tessel::port::Env::Default());
  virtual ~IPListVirtualIDInfo();

  // Initialize, then a pass over the queue every interval until Stop. The
  // records queued when Stop is requested are applied by one last pass, then
  // run returns. Shutdown: Stop(), then join the ThreadControl that start()
  // returned; the thread ends within a pass and one interval at most (the
  // pause is cut short by Stop).
  virtual void run();
  // Queues a copy of the record, after its entry in the intake journal, and
  // keeps `unitIdentity` (null counts as empty) for the exports. While
  // kMaxWaitingRecords records wait, a record is refused (and the refusal
  // logged) rather than memory grown without limit.
  virtual void AddNetLog(const VirtualIdRecord& record, const char* unitIdentity);
  // Adds every listed record to the file through the record export library;
  // `count` receives the number of records that reached the file.
  virtual void ExportToFile(const char* filePath, int& count);
  // Asks the thread to end; returns at once.
  virtual void Stop();
  // Called once when the thread starts; the result is not used.
  virtual int Initialize() = 0;
  virtual void UpdateListForOneIP(VirtualIdRecord& record, IdentityMap& entry, int kind,
                                  std::string groupKey);
  // Puts every stored record of the entry, in group-key order, with `flag`.
  virtual void PutAllNetLogToP2P(IdentityMap& entry, int flag);
  // Puts one record on (flag 1) or off (flag 0).
  virtual void PutNetLogToP2P(VirtualIdRecord& record, int flag) = 0;

  // Applies one record to the lists (called by run for every queued record).
  void UpdateList(VirtualIdRecord& record);

  // Records queued or waiting to be stored, beyond which AddNetLog refuses.
  static constexpr std::size_t kMaxWaitingRecords = 50000;

 protected:
  // Opens the intake journal in `dir` and queues the records it still
  // holds, ahead of any new one. Called before the first AddNetLog.
  void OpenIntakeJournal(const std::string& dir);

  // Called after every pass, outside the list lock: stores what the pass
  // put on and off. True when everything the pass took is stored, so that
  // the journal may let go of it.
  virtual bool FinishPass() { return true; }

  // Records the subclass holds that wait to be stored (counted against
  // kMaxWaitingRecords); set by the list thread.
  std::atomic<std::size_t> waitingRecords{0};
  // True while a pass applies the records it took (list thread only): the
  // hooks then leave storing to FinishPass.
  bool inPass = false;

  std::string unitIdentity;
  std::vector<VirtualIdRecord> pending;
  std::map<std::string, IdentityMap> ipList;
  tessel::port::Env* const env;
  // Raised by Stop; the pause between passes ends early when it is.
  tessel::StopSignal stopping;
  // Guards ipList. Each pass holds it exclusively while it applies the
  // records it took (memory only: no file is touched under it), and
  // ExportToFile shares it, so exports may run side by side but never
  // during a pass. No caller takes it again on a thread that already holds
  // it, so a recursive lock is not needed.
  mutable std::shared_mutex lock;
  // Guards pending, unitIdentity and the journal's appends. Taken inside
  // the servant's lock (AddNetLog) and inside `lock` (ExportToFile reads the
  // unit identity); nothing is taken while holding it.
  std::mutex intakeLock;

 private:
  void DrainPass();
  void NoteRefusal(bool refused);

  const int drainIntervalMs;
  std::unique_ptr<tessel::IntakeJournal> journal;
  bool journalFailing = false;   // under intakeLock
  std::size_t refused = 0;       // under intakeLock
};

typedef IceUtil::Handle<IPListVirtualIDInfo> IPListVirtualIDInfoPtr;

#endif
