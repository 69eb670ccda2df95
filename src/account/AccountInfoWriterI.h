// The servant the service registers: AccountInfoI plus the record handler
// that feeds the storage pipeline, and the on-line export. It owns the
// workers: the pre-treatment (list) thread, the IA-file worker and the
// sender manager.
#ifndef TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H
#define TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H

#include <IceUtil/Thread.h>

#include <ctime>
#include <mutex>
#include <string>

#include "account/AccountInfoI.h"
#include "account/ServiceStatus.h"
#include "forward/RVIDSenderManager.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "lists/PreTreatHandle.h"
#include "port/Env.h"

class AccountInfoWriterI : public AccountInfoI {
 public:
  // Works on `site` (its Env, directories), which every worker is given
  // too; `options` shape the write path. A set-up that fails throws with
  // the reason, after undoing what it had started.
  AccountInfoWriterI(const Ice::CommunicatorPtr& communicator, const std::string& path,
                     const std::string& upPath, const tessel::SiteContext& site,
                     const tessel::WriteOptions& options = tessel::WriteOptions());
  virtual ~AccountInfoWriterI();

  virtual void GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                     const Ice::Current& current);
  virtual tessel::Receipt handleRecord(const Ice::ByteSeq& record);
  virtual tessel::Receipt processRecord(const void* data, int length);
  virtual void WhenSafe(const tessel::Receipt& receipt, Done done);

  // The service is stopping: every record from now on is refused, and
  // calls waiting for room fail at once.
  void BeginStop();

  // How the service is doing now (any thread).
  tessel::ServiceStatus Status() const;

 private:
  void StopWorkers();
  // A name for this export's .OLV file that no earlier export was given.
  std::string NextExportPath(const std::string& dir);

  const tessel::SiteContext site;
  tessel::port::Env* const env;
  const tessel::WriteOptions options;
  std::string path;          // expanded "tesselServiceIA.Path"
  std::string upPath;        // expanded "tesselServiceIA.upPath": the IA output directory
  std::string qqRecordPath;  // expanded "QQRecordFilePath"
  preTreatHandlePtr preTreat;
  MakeUpIAFileWorkerPtr iaWorker;
  RVIDSenderManagerPtr senderManager;

  // Serialises on-line exports and the choice of their file names.
  std::mutex exportMutex;
  std::time_t lastExportSecond = 0;
  int exportsInSecond = 0;
};

typedef IceUtil::Handle<AccountInfoWriterI> AccountInfoWriterIPtr;

#endif
