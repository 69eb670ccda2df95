// One site at work: the settings read once at start and the workers that
// take a record from the intake to the record files, the IA files and the
// upstream servers. The service makes it in its start and stops it in its
// stop; the servant hands it every record it accepts.
#ifndef TESSEL_SITE_SITEINSTANCE_H
#define TESSEL_SITE_SITEINSTANCE_H

#include <IceUtil/Handle.h>
#include <IceUtil/Shared.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/Faults.h"
#include "common/JobThread.h"
#include "common/ServiceSettings.h"
#include "common/SiteContext.h"
#include "forward/RVIDSenderManager.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "lists/Intake.h"
#include "lists/PreTreatHandle.h"
#include "record/VirtualIdRecord.h"
#include "site/OnlineExportFiles.h"
#include "site/ServiceStatus.h"

namespace tessel {

// The name on-line export faults carry.
inline constexpr char kOnlineExportOutput[] = "on-line export directory";

class SiteInstance : public IceUtil::Shared {
 public:
  typedef std::function<void(const VirtualIdRecord&)> OnLine;
  typedef Intake::Done Done;

  // Works on `site` with `settings`: the IA paths and "QQRecordFilePath" are
  // expanded here (their directories made), and the workers built; no
  // thread runs before Start. Throws when a worker cannot be built.
  SiteInstance(const SiteContext& site, const ServiceSettings& settings);
  // Stops what still runs.
  ~SiteInstance();
  SiteInstance(const SiteInstance&) = delete;
  SiteInstance& operator=(const SiteInstance&) = delete;

  // Puts the record files in order, gives `online` every record on line as
  // the last run left it (the seats' IP files, then the intake journal),
  // then starts the list thread and the sender manager. `unitIdentity`
  // names the IA files and the exports until a record brings one. Throws
  // with the reason, after stopping what it started.
  void Start(const std::string& unitIdentity, const OnLine& online);
  // The service is stopping: every record from now on is refused, and calls
  // waiting for room fail at once.
  void BeginStop();
  // Stops and joins every thread (begins the stop when that was not done).
  // Called once no call is under way any more; once is enough.
  void Stop();

  // Queues the record for the list thread, after its intake journal entry.
  Receipt AddNetLog(const VirtualIdRecord& record, const char* unitIdentity);
  // Calls `done` once the records of the receipt are safe.
  void WhenSafe(const Receipt& receipt, Done done);
  // Exports the records on line into a new .OLV file under the working
  // directory's export directory: its path in *filePath and their number
  // in *count, both untouched on a refusal.
  port::Status ExportOnLine(int* count, std::string* filePath);
  // Runs `job` on the instance's own thread for slow calls (on-line
  // exports), after those handed over before it; on the caller's thread
  // when that thread is not running (before Start, after Stop).
  void RunAside(JobThread::Job job);

  // How the workers are doing now (any thread); `callers` left empty.
  ServiceStatus Status() const;

  const SiteContext& Site() const { return site; }
  const ServiceSettings& Settings() const { return settings; }

 private:
  void RestoreOnLineState(const OnLine& online);

  const SiteContext site;
  port::Env* const env;
  const ServiceSettings settings;
  const std::string path;          // expanded "tesselServiceIA.Path"
  const std::string upPath;        // expanded "tesselServiceIA.upPath": the IA output directory
  const std::string qqRecordPath;  // expanded "QQRecordFilePath"
  MakeUpIAFileWorkerPtr iaWorker;
  preTreatHandlePtr preTreat;
  RVIDSenderManagerPtr senderManager;
  JobThreadPtr asideThread;  // slow calls, off the thread that dispatches

  std::mutex stopMutex;
  bool stopped = false;

  // Serialises on-line exports and the choice of their file names.
  mutable std::mutex exportMutex;
  Faults exportFaults;  // the export directory, while it cannot be written
  OnlineExportFiles exports;
};

typedef IceUtil::Handle<SiteInstance> SiteInstancePtr;

}  // namespace tessel

#endif
