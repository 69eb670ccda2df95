// The pre-treatment: the list thread's hook that writes every record put on
// or off to the day file and the seat's IP file, once per keyword, and hands
// a seat's IP file to the IA-file worker when its real-name user logs off.
//
// The hook decides what is written (a keyword not seen before, information
// put on); the write side (lists/RecordWriter.h) writes it: a record put on
// or off during a pass waits in its queue until the end of the pass
// (FinishPass), when the queue is written in order with each file taking
// its share at once. An output that cannot be written holds only what needs
// it, and the next pass tries again; nothing is given up.
#ifndef TESSEL_LISTS_PRETREATHANDLE_H
#define TESSEL_LISTS_PRETREATHANDLE_H

#include <mutex>
#include <string>

#include "common/SiteContext.h"
#include "lists/IPListVirtualIDInfo.h"
#include "lists/RecordWriter.h"

class MakeUpIAFileWorker;

class preTreatHandle : public IPListVirtualIDInfo {
 public:
  // Writes into the site's virtualdb directory and opens its intake
  // journal there. `drainIntervalMs`: the longest pause between passes over
  // the queue. Files and the clock are reached through the site's Env;
  // `options` shape the write path.
  explicit preTreatHandle(const tessel::SiteContext& site, int drainIntervalMs = kDrainIntervalMs,
                          const tessel::WriteOptions& options = tessel::WriteOptions());

  // Cuts the record files' torn tails: called at start before anything
  // else reads them (Initialize does it when nothing did).
  void PrepareFiles();
  // Loads the keyword store and puts the record files in order after a
  // stop (see RecordWriter::Open).
  virtual int Initialize();
  // Queues the record for writing when its keyword is new; writes it at
  // once when called outside a pass.
  virtual void PutNetLogToP2P(VirtualIdRecord& record, int flag);

  // The keyword base of a record (without the output flag):
  // <prefix less its last character>_<infoType>_<account, 30 bytes>_<begin or 0>.
  virtual std::string& MakeKeyword(const VirtualIdRecord& record, std::string& out);
  // The worker is not owned; it must outlive the thread's use of it.
  virtual void SetIAFileWorker(MakeUpIAFileWorker* worker);
  // 0 when virtualdb.db was read, -1 when it cannot be (missing included).
  virtual int LoadVirtualDB();
  // Appends the keywords written since the last save: 0 when they are in
  // the store, -1 when they wait for the next save.
  virtual int SaveVirtualDB();
  // 1 when the record went whole into today's day file (and, as far as it
  // could, into its IP file), 0 otherwise.
  virtual int WriteRiaBase(VirtualIdRecord& record);
  // 1 when the record went whole into its IP file, 0 otherwise.
  virtual int WriteIPRiaBase(VirtualIdRecord& record, const std::string& directory);
  // The seat log-on time of a prefix text; 0 when there is none.
  virtual int GetLogonTime(const char* prefix);

  // True when a record of the keyword was written.
  bool HasSentKeyword(const std::string& keyword) const;
  std::size_t SentKeywordCount() const { return writer.keywords().size(); }
  // Records put on or off that wait to be written (list thread).
  std::size_t QueuedWrites() const { return writer.waiting(); }
  // Reconciling at start (see RecordWriter); list thread.
  bool Reconciling() const { return writer.Reconciling(); }
  // The write side as the last pass left it; read from any thread.
  tessel::WriteCounters WriteCounters() const;

 protected:
  virtual bool FinishPass();
  virtual void AfterPass(bool released);
  virtual std::size_t HeldRecords() const { return writer.waitingForDayFile(); }

 private:
  void PublishCounters();
  // The keywords of every record the lists hold (list thread).
  void ListedKeywords(std::vector<std::string>* keywords);

  const std::string virtualdbDir;
  tessel::RecordWriter writer;
  MakeUpIAFileWorker* iaFileWorker;
  bool filesPrepared = false;
  mutable std::mutex countersLock;  // taken by the list thread and readers only
  tessel::WriteCounters counters;
};

typedef IceUtil::Handle<preTreatHandle> preTreatHandlePtr;

#endif
