#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "port/Port.h"
#include "record/VirtualIdRecord.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

// A property holding a whole number from 1 to `max`; `fallback` when unset.
std::int64_t ReadCount(const Ice::PropertiesPtr& properties, const char* name,
                       std::int64_t fallback, std::int64_t max) {
  const std::string text = properties->getProperty(name);
  if (text.empty()) return fallback;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < 1 || value > max)
    throw std::runtime_error(std::string(name) + "=" + text + ": not a whole number from 1 to " +
                             std::to_string(max));
  return value;
}

tessel::ExportRetention ReadExportRetention(const Ice::PropertiesPtr& properties) {
  tessel::ExportRetention retention;
  retention.keepSeconds = ReadCount(properties, tessel::kExportKeepSecondsProperty,
                                    retention.keepSeconds, 0x7FFFFFFF);
  retention.maxFiles = static_cast<std::size_t>(ReadCount(
      properties, tessel::kExportMaxFilesProperty, retention.maxFiles, 1000000));
  return retention;
}

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
                                       const tessel::WriteOptions& options)
    : AccountInfoI(communicator, site.env),
      site(site),
      env(site.env),
      options(options),
      path(path),
      upPath(upPath) {
  try {
    const Ice::PropertiesPtr properties = communicator->getProperties();
    const std::string allowed = properties->getProperty(tessel::kAllowedClientsProperty);
    const port::Status parsed = tessel::AddressList::Parse(allowed, &allowedClients);
    if (!parsed.ok())
      throw std::runtime_error(std::string(tessel::kAllowedClientsProperty) + "=" + allowed + ": " +
                               parsed.ToString());
    exports.reset(new tessel::OnlineExportFiles(env, ReadExportRetention(properties)));
    qqRecordPath = communicator->getProperties()->getProperty("QQRecordFilePath");
    ExpandPath(qqRecordPath, site);
    loadUnitIdentity();

    iaWorker = new MakeUpIAFileWorker(site, MakeUpIAFileWorker::kRenameLimitMs,
                                      MakeUpIAFileWorker::kRenameStepMs,
                                      options.durability == tessel::Durability::kPower);
    iaWorker->SetPaths(path, upPath);
    iaWorker->SetUnitIdentity(unitIdentity);

    preTreat = new preTreatHandle(site, preTreatHandle::kDrainIntervalMs, options);
    preTreat->SetIAFileWorker(iaWorker.get());
    // Exports made before the first record (records taken back from the
    // journal fill the lists at start) carry the site's identity too.
    preTreat->SetUnitIdentity(unitIdentity);
    preTreat->start();

    senderManager = new RVIDSenderManager(site);
    senderManager->start();
  } catch (...) {
    // A servant that could not set itself up must not answer: the service's
    // start fails with the reason instead, and what was started is stopped.
    StopWorkers();
    throw;
  }
}

AccountInfoWriterI::~AccountInfoWriterI() { StopWorkers(); }

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
  }
  if (senderManager) status.upstreams = senderManager->Statuses();
  status.disallowed = Notes().Disallowed();
  status.malformed = Notes().Malformed();
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
  const std::string dir = tessel::JoinPath(site.workDir, tessel::kOnlineExportDirName);
  if (!env->FileExists(dir)) env->CreateDir(dir);  // one level; a failure shows below
  std::lock_guard<std::mutex> guard(exportMutex);
  std::string next;
  const port::Status named = exports->Next(dir, &next);
  if (!named.ok()) return named;
  filePath = next;
  int exported = 0;
  preTreat->ExportToFile(filePath.c_str(), exported);
  count = exported;
  return port::Status::OK();
}
