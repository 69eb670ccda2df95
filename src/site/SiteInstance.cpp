#include "site/SiteInstance.h"

#include <utility>

#include "common/Console.h"
#include "common/DiskUse.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "common/Version.h"
#include "lists/RestoreSeatLists.h"

// Threads. The instance owns every thread of the service:
//
//   list thread      preTreat; a pass over the queued records every second,
//                    or at once when enough are queued: it applies them to
//                    the lists, then writes what they put on and off (the
//                    pre-treatment and the IA-file worker run inside the pass).
//   journal sync     the intake's own (durability "power" only): syncs the
//                    intake journal while calls append to it, and answers
//                    every call whose records the sync covered.
//   sender manager   senderManager; reads netbarcfg.ini every 5 s and owns
//                    one day-file sender thread per upstream server, each
//                    pausing 10 ms between records and 5 s when idle or
//                    refused.
//   IA-file worker   iaWorker; no thread of its own: it works on the list
//                    thread.
//
// Ice threads meet the list thread only at its intake, whose lock is held to
// append a record (and its journal entry) or to take the queue; they never
// wait for its files, nor for a sync: a call is answered later, by the sync
// thread, when its records are safe. Lock order: the servant's lock, then
// the intake lock; an export shares the list lock, then reads the unit
// identity under its own small lock.

namespace tessel {

namespace {

// How long an on-line export waits, right after a start, for the records
// the intake journal gave back to be applied.
const int kRestoredRecordsWaitMs = 10000;

std::string Expanded(std::string path, const SiteContext& site) {
  ExpandPath(path, site);
  return path;
}

ExportRetention RetentionOf(const ServiceSettings& settings) {
  ExportRetention retention;
  retention.keepSeconds = settings.onlineExportKeepSeconds;
  retention.maxFiles = settings.onlineExportMaxFiles;
  return retention;
}

}  // namespace

SiteInstance::SiteInstance(const SiteContext& site, const ServiceSettings& settings)
    : site(site),
      env(site.env),
      settings(settings),
      path(Expanded(settings.iaPath, site)),
      upPath(Expanded(settings.iaUpPath, site)),
      qqRecordPath(Expanded(settings.qqRecordPath, site)),
      exportFaults(site.env),
      exports(site.env, RetentionOf(settings)) {
  iaWorker = new MakeUpIAFileWorker(site, settings.write.durability == Durability::kPower);
  iaWorker->SetPaths(path, upPath);
  preTreat = new preTreatHandle(site, preTreatHandle::kDrainIntervalMs, settings.write);
  preTreat->SetIAFileWorker(iaWorker.get());
  senderManager = new RVIDSenderManager(site);
  senderManager->SetDayFileKeepDays(settings.dayFileKeepDays);
  asideThread = new JobThread(site.env);
}

SiteInstance::~SiteInstance() { Stop(); }

void SiteInstance::Start(const std::string& unitIdentity, const OnLine& online) {
  try {
    iaWorker->SetUnitIdentity(unitIdentity);
    // Exports made before the first record (records taken back from the
    // journal fill the lists at start) carry the site's identity too.
    preTreat->SetUnitIdentity(unitIdentity);
    // Only the writer decides that a record file ends in a torn record: its
    // torn tails are cut before any sender reads them.
    preTreat->PrepareFiles();
    // The lists and the on-line table as the files left them, before the
    // first call and the first pass.
    RestoreOnLineState(online);
    preTreat->start();
    senderManager->start();
    asideThread->start();
  } catch (...) {
    Stop();
    throw;
  }
}

// Before the list thread and the adapter start: the seats on line and the
// registrations as the last run left them, from the seats' IP files, then
// the journal's records (accepted, not yet stored; the first pass applies
// them to the lists as it does any record).
void SiteInstance::RestoreOnLineState(const OnLine& online) {
  const std::int64_t startMs = env->NowMillis();
  SeatLists lists;
  RestoreCounts counts;
  RestoreSeatLists(env, site.VirtualDbDir(), &lists, &counts, online);
  const std::size_t journal = preTreat->intake().ForEachQueued(online);
  const std::size_t seats = lists.seats().size();
  const std::size_t records = lists.RecordCount();
  preTreat->RestoreLists(std::move(lists));
  if (counts.records > 0 || journal > 0)
    LogLine("on line at start: %zu seats holding %zu records, from %zu seat files, and "
            "%zu records from the intake journal (%lld ms)",
            seats, records, counts.ipFiles, journal,
            static_cast<long long>(env->NowMillis() - startMs));
}

void SiteInstance::BeginStop() { preTreat->intake().Close(); }

// The stop order: the intake is closed first, so that nothing is accepted
// that the list thread's last pass would not see. Then the thread of slow
// calls, once its last exports have answered (the lists they read are still
// there). Then the IA-file worker
// (a flag: a conversion under way ends, no new one begins), then the list
// thread, raised and joined: its last pass stores every record accepted
// before the stop, and what it cannot store stays in the intake journal for
// the next start. Then the journal's own thread, once it has answered every
// caller. The sender manager goes last, stopping and joining its
// senders before it returns: it only reads what the list thread wrote. The
// service calls this once the adapter has finished its calls, before the
// host may unload the module: no thread may run this module's code after.
void SiteInstance::Stop() {
  std::lock_guard<std::mutex> guard(stopMutex);
  if (stopped) return;
  stopped = true;
  BeginStop();
  asideThread->StopAndJoin();
  iaWorker->Stop();
  preTreat->StopAndJoin();
  // The journal thread answers the last callers, then ends: their answers
  // hold the servant, which the service releases once this returns.
  preTreat->intake().Shutdown();
  senderManager->Stop();
}

Receipt SiteInstance::AddNetLog(const VirtualIdRecord& record, const char* unitIdentity) {
  return preTreat->AddNetLog(record, unitIdentity);
}

void SiteInstance::WhenSafe(const Receipt& receipt, Done done) {
  preTreat->intake().WhenSafe(receipt, std::move(done));
}

void SiteInstance::RunAside(JobThread::Job job) {
  if (!asideThread->Post(job)) job();
}

port::Status SiteInstance::ExportOnLine(int* count, std::string* filePath) {
  // Right after a start, the identities the journal gave back are on line
  // only once the list thread has applied them.
  if (!preTreat->WaitForRestoredRecords(kRestoredRecordsWaitMs))
    return port::Status::Refused(
        "the identities on line are still being read back after the start; ask again");
  const std::string dir = JoinPath(site.workDir, kOnlineExportDirName);
  if (!env->FileExists(dir)) env->CreateDir(dir);  // one level; a failure shows below
  std::lock_guard<std::mutex> guard(exportMutex);
  std::string next;
  const port::Status named = exports.Next(dir, &next);
  if (!named.ok()) return named;
  // The export library cannot say that it could not make the file: the
  // file is made here first, so that a directory that cannot be written
  // fails the call (and shows in the status) instead of a count of 0.
  std::unique_ptr<port::File> probe;
  port::Status made = env->OpenFile(next, port::File::kAppend, &probe);
  if (made.ok()) made = probe->Close();
  if (!exportFaults.Note(kOnlineExportOutput, dir, made, "on-line exports fail"))
    return port::Status::Refused("no on-line export is made: " + made.ToString());
  *filePath = next;
  int exported = 0;
  preTreat->ExportToFile(filePath->c_str(), exported);
  *count = exported;
  if (exported == 0) env->RemoveFile(*filePath);  // nothing on line: no file, as before
  return port::Status::OK();
}

ServiceStatus SiteInstance::Status() const {
  ServiceStatus status;
  status.options = settings.write;
  status.intake = preTreat->intake().Counters();
  status.writes = preTreat->WriteCounters();
  status.lastPassAt = preTreat->LastPassAt();
  status.lastPassMs = preTreat->LastPassMs();
  status.unapplied = preTreat->Unapplied();
  status.upstreams = senderManager->Statuses();
  {
    std::lock_guard<std::mutex> guard(exportMutex);
    status.exportFaults = exportFaults.Current();
  }
  status.siteName = settings.siteName;
  status.version = Version();
  status.virtualDbBytes = BytesInDir(env, site.VirtualDbDir());
  status.virtualDbFreeBytes = FreeBytesAt(site.VirtualDbDir());
  return status;
}

}  // namespace tessel
