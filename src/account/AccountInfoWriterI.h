// The servant the service registers: AccountInfoI plus the record handler
// that feeds the storage pipeline, and the on-line export. It owns the
// workers: the pre-treatment (list) thread, the IA-file worker and the
// sender manager.
#ifndef TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H
#define TESSEL_ACCOUNT_ACCOUNTINFOWRITERI_H

#include <IceUtil/Thread.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "account/AccountInfoI.h"
#include "account/OnlineExportFiles.h"
#include "account/ServiceStatus.h"
#include "common/Faults.h"
#include "common/ServiceSettings.h"
#include "forward/RVIDSenderManager.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "lists/PreTreatHandle.h"
#include "port/Env.h"

namespace tessel {
inline constexpr char kOnlineExportOutput[] = "on-line export directory";
}

class AccountInfoWriterI : public AccountInfoI {
 public:
  // Works on `site` (its Env, directories), which every worker is given
  // too, with the settings read at start (`path` and `upPath` expanded; the
  // write options, allowed clients and export retention taken from
  // `settings`). A set-up that fails throws with the reason, after undoing
  // what it had started.
  AccountInfoWriterI(const Ice::CommunicatorPtr& communicator, const std::string& path,
                     const std::string& upPath, const tessel::SiteContext& site,
                     const tessel::ServiceSettings& settings = tessel::ServiceSettings());
  virtual ~AccountInfoWriterI();

  virtual tessel::port::Status GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                                     const Ice::Current& current);
  virtual tessel::Receipt handleRecord(const Ice::ByteSeq& record);
  virtual tessel::Receipt processRecord(const void* data, int length);
  virtual void WhenSafe(const tessel::Receipt& receipt, Done done);

  // The service is stopping: every record from now on is refused, and
  // calls waiting for room fail at once.
  void BeginStop();

  // Stops and joins every thread of the service (the destructor does it
  // too). Called once no call is under way any more.
  void StopWorkers();

  // How the service is doing now (any thread).
  tessel::ServiceStatus Status() const;

 private:
  // The per-IP lists and the on-line table as the files and the intake
  // journal leave them (the constructor, before any thread starts).
  void RestoreOnLineState();

  const tessel::SiteContext site;
  tessel::port::Env* const env;
  const tessel::ServiceSettings settings;
  const tessel::WriteOptions options;
  std::string path;          // expanded "tesselServiceIA.Path"
  std::string upPath;        // expanded "tesselServiceIA.upPath": the IA output directory
  std::string qqRecordPath;  // expanded "QQRecordFilePath"
  preTreatHandlePtr preTreat;
  MakeUpIAFileWorkerPtr iaWorker;
  RVIDSenderManagerPtr senderManager;

  // Serialises on-line exports and the choice of their file names.
  mutable std::mutex exportMutex;
  tessel::Faults exportFaults;  // the export directory, while it cannot be written
  std::unique_ptr<tessel::OnlineExportFiles> exports;
};

typedef IceUtil::Handle<AccountInfoWriterI> AccountInfoWriterIPtr;

#endif
