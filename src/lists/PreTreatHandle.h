// The pre-treatment: the list thread's hook that writes every record put on
// or off to the day file and the seat's IP file, once per keyword, and hands
// a seat's IP file to the IA-file worker when its real-name user logs off.
//
// A record put on or off waits in a queue of writes until the end of the
// pass (FinishPass), when the queue is written in order with each file
// opened once. A record that cannot be written to the day file stays at the
// front of the queue, with every record after it, and the next pass tries
// again; nothing is given up.
//
// Each record goes to the day file, then to its IP file, and only then is
// its keyword appended to the keyword store (a pass's keywords in one write,
// and always before an IP file is handed over). A crash can thus leave the
// last records of a day file without their keywords; at start those
// keywords are taken back from the day file (and the records appended to
// their IP files again, where a second copy does no harm), so that a record
// sent again is not written twice.
#ifndef TESSEL_LISTS_PRETREATHANDLE_H
#define TESSEL_LISTS_PRETREATHANDLE_H

#include <ctime>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "lists/IPListVirtualIDInfo.h"
#include "lists/KeywordExpiry.h"
#include "lists/KeywordStore.h"
#include "lists/PassFiles.h"

class MakeUpIAFileWorker;

class preTreatHandle : public IPListVirtualIDInfo {
 public:
  // `drainIntervalMs`: pause between passes over the queue. Files and the
  // clock are reached through `env`. Opens the intake journal of the site's
  // virtualdb directory.
  explicit preTreatHandle(int drainIntervalMs = kDrainIntervalMs,
                          tessel::port::Env* env = tessel::port::Env::Default(),
                          const tessel::WriteOptions& options = tessel::WriteOptions());

  // Loads the keyword store and takes back the keywords of records stored
  // just before a stop.
  virtual int Initialize();
  // Queues the record for writing when its keyword is new; writes it at
  // once when called outside a pass.
  virtual void PutNetLogToP2P(VirtualIdRecord& record, int flag);

  // The keyword base of a record (without the output flag):
  // <prefix less its last character>_<infoType>_<account, 30 bytes>_<begin or 0>.
  virtual std::string& MakeKeyword(const VirtualIdRecord& record, std::string& out);
  // The worker is not owned; it must outlive the thread's use of it.
  virtual void SetIAFileWorker(MakeUpIAFileWorker* worker);
  // 0 when virtualdb.db was read, -1 when it cannot be opened.
  virtual int LoadVirtualDB();
  // Appends the keywords written since the last save: 0 when they are in
  // the store, -1 when they wait for the next save.
  virtual int SaveVirtualDB();
  // 1 when the record went whole into today's day file (and, as far as it
  // could, into its IP file), 0 otherwise.
  virtual int WriteRiaBase(VirtualIdRecord& record);
  // 1 when the record went whole into its IP file in `directory`, 0 otherwise.
  virtual int WriteIPRiaBase(VirtualIdRecord& record, const std::string& directory);
  // The seat log-on time of a prefix text; 0 when there is none.
  virtual int GetLogonTime(const char* prefix);

  const std::set<std::string>& SentKeywords() const { return sentKeywords; }
  // Records put on or off that wait to be written.
  std::size_t QueuedWrites() const { return queuedWrites.size(); }

  // Records of today's and yesterday's day file looked at, from their end,
  // for keywords a stop left unsaved; a pass saves at least this often.
  static constexpr std::size_t kRecoveryWindow = 1024;
  static constexpr std::size_t kSaveEvery = 256;

 protected:
  virtual bool FinishPass();
  virtual std::size_t HeldRecords() const { return queuedWrites.size(); }

  std::set<std::string> sentKeywords;
  MakeUpIAFileWorker* iaFileWorker;

 private:
  struct QueuedWrite {
    VirtualIdRecord record;
    std::string keyword;
  };

  // The IP file of a record: its path in `directory`, its name and the day
  // stamp of the seat's log-on. False when the prefix has no IP key.
  bool IpFileOf(const VirtualIdRecord& record, const std::string& directory, std::string* path,
                std::string* name, std::string* dayStamp);
  // The whole keyword of a record as written (with its output flag).
  std::string KeywordOf(VirtualIdRecord record);
  // Writes the queued records in order; true when none is left.
  bool WriteQueued();
  // The record's keyword is known from now on and waits to be saved; a
  // real-name log-off hands its IP file over once the keyword is saved.
  void Written(const VirtualIdRecord& record, const std::string& keyword);
  void TakeBackUnkeptRecords();
  void ExpireKeywordsIfDue();
  void NoteWriteResult(const tessel::port::Status& status, const std::string& path);

  std::set<std::string> queuedKeywords;    // keywords of queuedWrites
  std::deque<QueuedWrite> queuedWrites;
  std::vector<std::string> unsavedKeywords;
  tessel::KeywordStore store;
  tessel::KeywordExpiry expiry;
  tessel::PassFiles files;
  std::string failingFile;   // the day file while appending to it fails
  bool storeFailing = false;
  std::time_t lastExpiry = 0;
};

typedef IceUtil::Handle<preTreatHandle> preTreatHandlePtr;

#endif
