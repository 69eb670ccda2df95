// The per-IP lists of the identities on line at each client seat, kept by
// the list thread. Records are queued by AddNetLog and applied once a second,
// in arrival order; each one turns into put-on (flag 1) and put-off (flag 0)
// events through the hook PutNetLogToP2P, which a subclass implements.
#ifndef TESSEL_LISTS_IPLISTVIRTUALIDINFO_H
#define TESSEL_LISTS_IPLISTVIRTUALIDINFO_H

#include <IceUtil/Handle.h>
#include <IceUtil/Thread.h>

#include <map>
#include <shared_mutex>
#include <string>
#include <vector>

#include "common/StopSignal.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

class IPListVirtualIDInfo : public IceUtil::Thread {
 public:
  // Group key -> the identity's first record and, once another arrived, its
  // latest one.
  typedef std::map<std::string, std::vector<VirtualIdRecord> > IdentityMap;

  // `drainIntervalMs`: the pause between two passes over the queue. Files
  // and the clock are reached through `env`.
  static const int kDrainIntervalMs = 1000;
  explicit IPListVirtualIDInfo(int drainIntervalMs = kDrainIntervalMs,
                               tessel::port::Env* env = tessel::port::Env::Default());
  virtual ~IPListVirtualIDInfo();

  // Initialize, then a pass over the queue every interval until Stop. The
  // records queued when Stop is requested are applied by one last pass, then
  // run returns. Shutdown: Stop(), then join the ThreadControl that start()
  // returned; the thread ends within a pass and one interval at most (the
  // pause is cut short by Stop).
  virtual void run();
  // Queues a copy of the record and keeps `unitIdentity` (null counts as
  // empty) for the exports.
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

 protected:
  std::string unitIdentity;
  std::vector<VirtualIdRecord> pending;
  std::map<std::string, IdentityMap> ipList;
  tessel::port::Env* const env;
  // Raised by Stop; the pause between passes ends early when it is.
  tessel::StopSignal stopping;
  // Guards unitIdentity, pending and ipList. AddNetLog and each pass over the
  // queue hold it exclusively, ExportToFile shares it, so exports may run
  // side by side but never during a pass. No caller takes it again on a
  // thread that already holds it (the hooks run inside a pass and never call
  // back into AddNetLog or ExportToFile), so a recursive lock is not needed
  // and std::shared_mutex gives exactly these semantics.
  mutable std::shared_mutex lock;

 private:
  void DrainPass();

  const int drainIntervalMs;
};

typedef IceUtil::Handle<IPListVirtualIDInfo> IPListVirtualIDInfoPtr;

#endif
