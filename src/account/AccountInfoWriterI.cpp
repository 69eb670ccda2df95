#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>

#include <stdexcept>

#include "common/Console.h"
#include "common/DiskUse.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "common/Version.h"
#include "lists/RestoreSeatLists.h"
#include "port/Port.h"
#include "record/VirtualIdRecord.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

// How long an on-line export waits, right after a start, for the records
// the intake journal gave back to be applied.
const int kRestoredRecordsWaitMs = 10000;

}  // namespace

// Threads. The servant owns every thread of the service:
//
//   list thread      preTreat; started here, a pass over the queued records
//                    every second, or at once when enough are queued: it
//                    applies them to the lists, then writes what they put
//                    on and off (the pre-treatment and the IA-file worker
//                    run inside the pass).
//   journal sync     the intake's own (durability "power" only): syncs the
//                    intake journal while calls append to it, and answers
//                    every call whose records the sync covered.
//   sender manager   senderManager; started here, reads netbarcfg.ini every
//                    5 s and owns one day-file sender thread per upstream
//                    server, each pausing 10 ms between records and 5 s when
//                    idle or refused.
//   IA-file worker   iaWorker; no thread of its own: it works on the list
//                    thread.
//
// Ice threads meet the list thread only at its intake, whose lock is held to
// append a record (and its journal entry) or to take the queue; they never
// wait for its files, nor for a sync: a call is answered later, by the sync
// thread, when its records are safe. Lock order: the servant's lock, then
// the intake lock; an export shares the list lock, then reads the unit
// identity under its own small lock.
//
// Every thread of the service is a StoppableThread (common/): it stops
// through its stop signal, which also cuts its pauses short, and its owner
// joins it (StopAndJoin). A stop first closes the intake (BeginStop: records are refused
// from then on). The destructor stops the threads in this order: the IA-file
// worker (a flag), the list thread (raised, then joined: its last pass stores every
// record accepted before the stop, and what it cannot store stays in the
// intake journal for the next start), then the sender manager, which stops
// and joins its senders before it returns. The service's stop calls
// StopWorkers once the adapter has finished its calls, before the host may
// unload the module or the process may exit: no call can queue a record any
// more, and no thread may run this module's code after that. The destructor
// does it too, for a servant that never got that far.
AccountInfoWriterI::AccountInfoWriterI(const Ice::CommunicatorPtr& communicator,
                                       const std::string& path, const std::string& upPath,
                                       const tessel::SiteContext& site,
                                       const tessel::ServiceSettings& settings)
    : AccountInfoI(communicator, site.env),
      site(site),
      env(site.env),
      settings(settings),
      options(settings.write),
      path(path),
      upPath(upPath),
      exportFaults(site.env) {
  try {
    allowedClients = settings.allowedClients;
    tessel::ExportRetention retention;
    retention.keepSeconds = settings.onlineExportKeepSeconds;
    retention.maxFiles = settings.onlineExportMaxFiles;
    exports.reset(new tessel::OnlineExportFiles(env, retention));
    qqRecordPath = settings.qqRecordPath;
    ExpandPath(qqRecordPath, site);
    loadUnitIdentity();

    iaWorker = new MakeUpIAFileWorker(site, options.durability == tessel::Durability::kPower);
    iaWorker->SetPaths(path, upPath);
    iaWorker->SetUnitIdentity(unitIdentity);

    preTreat = new preTreatHandle(site, preTreatHandle::kDrainIntervalMs, options);
    preTreat->SetIAFileWorker(iaWorker.get());
    // Exports made before the first record (records taken back from the
    // journal fill the lists at start) carry the site's identity too.
    preTreat->SetUnitIdentity(unitIdentity);
    // Only the writer decides that a record file ends in a torn record: its
    // torn tails are cut before any sender reads them.
    preTreat->PrepareFiles();
    // The lists and the on-line table as the files left them, before the
    // first call and the first pass.
    RestoreOnLineState();
    preTreat->start();

    senderManager = new RVIDSenderManager(site);
    senderManager->SetDayFileKeepDays(settings.dayFileKeepDays);
    senderManager->start();
  } catch (...) {
    // A servant that could not set itself up must not answer: the service's
    // start fails with the reason instead, and what was started is stopped.
    StopWorkers();
    throw;
  }
}

AccountInfoWriterI::~AccountInfoWriterI() { StopWorkers(); }

// Before the list thread and the adapter start: the seats on line and the
// registrations as the last run left them, from the seats' IP files, then
// the journal's records (accepted, not yet stored; the first pass applies
// them to the lists as it does any record).
void AccountInfoWriterI::RestoreOnLineState() {
  const std::int64_t startMs = env->NowMillis();
  tessel::SeatLists lists;
  tessel::RestoreCounts counts;
  tessel::RestoreSeatLists(env, site.VirtualDbDir(), &lists, &counts,
                           [this](const VirtualIdRecord& record) { RestoreOnline(record); });
  const std::size_t journal = preTreat->intake().ForEachQueued(
      [this](const VirtualIdRecord& record) { RestoreOnline(record); });
  const std::size_t seats = lists.seats().size();
  const std::size_t records = lists.RecordCount();
  preTreat->RestoreLists(std::move(lists));
  if (counts.records > 0 || journal > 0)
    tessel::LogLine("on line at start: %zu seats holding %zu records, from %zu seat files, and "
                    "%zu records from the intake journal (%lld ms)",
                    seats, records, counts.ipFiles, journal,
                    static_cast<long long>(env->NowMillis() - startMs));
}

void AccountInfoWriterI::StopWorkers() {
  if (iaWorker) iaWorker->Stop();
  if (preTreat) preTreat->StopAndJoin();
  if (senderManager) senderManager->Stop();
  senderManager = 0;
  iaWorker = 0;
  preTreat = 0;
}

void AccountInfoWriterI::BeginStop() {
  if (preTreat) preTreat->intake().Close();
}

tessel::ServiceStatus AccountInfoWriterI::Status() const {
  tessel::ServiceStatus status;
  status.options = options;
  if (preTreat) {
    status.intake = preTreat->intake().Counters();
    status.writes = preTreat->WriteCounters();
    status.lastPassAt = preTreat->LastPassAt();
    status.lastPassMs = preTreat->LastPassMs();
    status.unapplied = preTreat->Unapplied();
  }
  if (senderManager) status.upstreams = senderManager->Statuses();
  status.disallowed = Notes().Disallowed();
  status.malformed = Notes().Malformed();
  {
    std::lock_guard<std::mutex> guard(exportMutex);
    status.exportFaults = exportFaults.Current();
  }
  status.refusedPerMinute = Refusals().RecordsPerMinute();
  status.siteName = settings.siteName;
  status.version = tessel::Version();
  status.virtualDbBytes = tessel::BytesInDir(env, site.VirtualDbDir());
  status.virtualDbFreeBytes = tessel::FreeBytesAt(site.VirtualDbDir());
  return status;
}

tessel::Receipt AccountInfoWriterI::handleRecord(const Ice::ByteSeq& record) {
  if (record.size() != rec::kSize) return tessel::Receipt();
  return processRecord(record.data(), static_cast<int>(record.size()));
}

tessel::Receipt AccountInfoWriterI::processRecord(const void* data, int length) {
  if (data == nullptr || length != static_cast<int>(rec::kSize)) return tessel::Receipt();
  try {
    const VirtualIdRecord record = VirtualIdRecord::FromBytes(data);
    loadUnitIdentity();  // on failure the last identity obtained is used
    return preTreat->AddNetLog(record, unitIdentity.c_str());
  } catch (const std::exception& e) {
    tessel::Receipt refused;
    refused.status = port::Status::Refused(std::string("the record is not accepted: ") + e.what());
    return refused;
  }
}

void AccountInfoWriterI::WhenSafe(const tessel::Receipt& receipt, Done done) {
  preTreat->intake().WhenSafe(receipt, std::move(done));
}

port::Status AccountInfoWriterI::GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                                       const Ice::Current&) {
  // Right after a start, the identities the journal gave back are on line
  // only once the list thread has applied them.
  if (!preTreat->WaitForRestoredRecords(kRestoredRecordsWaitMs))
    return port::Status::Refused(
        "the identities on line are still being read back after the start; ask again");
  const std::string dir = tessel::JoinPath(site.workDir, tessel::kOnlineExportDirName);
  if (!env->FileExists(dir)) env->CreateDir(dir);  // one level; a failure shows below
  std::lock_guard<std::mutex> guard(exportMutex);
  std::string next;
  const port::Status named = exports->Next(dir, &next);
  if (!named.ok()) return named;
  // The export library cannot say that it could not make the file: the
  // file is made here first, so that a directory that cannot be written
  // fails the call (and shows in the status) instead of a count of 0.
  std::unique_ptr<port::File> probe;
  port::Status made = env->OpenFile(next, port::File::kAppend, &probe);
  if (made.ok()) made = probe->Close();
  if (!exportFaults.Note(tessel::kOnlineExportOutput, dir, made, "on-line exports fail"))
    return port::Status::Refused("no on-line export is made: " + made.ToString());
  filePath = next;
  int exported = 0;
  preTreat->ExportToFile(filePath.c_str(), exported);
  count = exported;
  if (exported == 0) env->RemoveFile(filePath);  // nothing on line: no file, as before
  return port::Status::OK();
}
