// The pre-treatment: the list thread's hook that writes every record put on
// or off to the day file and the seat's IP file, once per keyword, and hands
// a seat's IP file to the IA-file worker when its real-name user logs off.
#ifndef TESSEL_LISTS_PRETREATHANDLE_H
#define TESSEL_LISTS_PRETREATHANDLE_H

#include <set>
#include <string>

#include "lists/IPListVirtualIDInfo.h"

class MakeUpIAFileWorker;

class preTreatHandle : public IPListVirtualIDInfo {
 public:
  // `drainIntervalMs`: pause between passes over the queue; `retryPauseMs`:
  // pause between two attempts to write a record. Files and the clock are
  // reached through `env`.
  static const int kRetryPauseMs = 1000;
  explicit preTreatHandle(int drainIntervalMs = kDrainIntervalMs, int retryPauseMs = kRetryPauseMs,
                          tessel::port::Env* env = tessel::port::Env::Default());

  // Loads the keyword store.
  virtual int Initialize();
  virtual void PutNetLogToP2P(VirtualIdRecord& record, int flag);

  // The keyword base of a record (without the output flag):
  // <prefix less its last character>_<infoType>_<account, 30 bytes>_<begin or 0>.
  virtual std::string& MakeKeyword(const VirtualIdRecord& record, std::string& out);
  // The worker is not owned; it must outlive the thread's use of it.
  virtual void SetIAFileWorker(MakeUpIAFileWorker* worker);
  // 0 when virtualdb.db was read, -1 when it cannot be opened.
  virtual int LoadVirtualDB();
  // 0 when every keyword was written, -1 otherwise.
  virtual int SaveVirtualDB();
  // 1 when the record went whole into today's day file, 0 otherwise.
  virtual int WriteRiaBase(VirtualIdRecord& record);
  // 1 when the record went whole into its IP file in `directory`, 0 otherwise.
  virtual int WriteIPRiaBase(VirtualIdRecord& record, const std::string& directory);
  // The seat log-on time of a prefix text; 0 when there is none.
  virtual int GetLogonTime(const char* prefix);

  const std::set<std::string>& SentKeywords() const { return sentKeywords; }

 protected:
  std::set<std::string> sentKeywords;
  MakeUpIAFileWorker* iaFileWorker;

 private:
  const int retryPauseMs;
};

typedef IceUtil::Handle<preTreatHandle> preTreatHandlePtr;

#endif
