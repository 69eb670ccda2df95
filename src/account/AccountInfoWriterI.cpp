#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>

#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "port/Port.h"
#include "record/VirtualIdRecord.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

// Threads. The servant owns every thread of the service:
//
//   list thread      preTreat; started here, a pass over the queued records
//                    every second: it applies them to the lists, then writes
//                    what they put on and off (the pre-treatment and the
//                    IA-file worker run inside the pass).
//   sender manager   senderManager; started here, reads netbarcfg.ini every
//                    5 s and owns one day-file sender thread per upstream
//                    server, each pausing 10 ms between records and 5 s when
//                    idle or refused.
//   IA-file worker   iaWorker; a thread object that is never started: it
//                    works on the list thread.
//
// Ice threads meet the list thread only at its intake queue, whose lock is
// held to append a record (and its journal entry) or to take the queue; they
// never wait for its files. Lock order: the servant's lock, then the intake
// lock; an export shares the list lock, then reads the unit identity under
// the intake lock.
//
// Each thread stops through its stop signal, which also cuts its pauses
// short. The destructor stops them in this order: the IA-file worker (a
// flag), the list thread (raised, then joined: its last pass stores every
// record accepted before the stop, and what it cannot store stays in the
// intake journal for the next start), then the sender manager, which stops
// and joins its senders before it returns. The joins happen here, in the
// servant's destructor, because Ice releases the servant once the adapter
// has finished its calls and before the host unloads the module: no call can
// queue a record any more, and no thread may run this module's code after
// it is unloaded.
AccountInfoWriterI::AccountInfoWriterI(const Ice::CommunicatorPtr& communicator,
                                       const std::string& path, const std::string& upPath,
                                       port::Env* env)
    : AccountInfoI(communicator), env(env), path(path), upPath(upPath) {
  // Set-up never fails the service: whatever step throws ends the set-up,
  // and the servant answers with what it has.
  try {
    qqRecordPath = communicator->getProperties()->getProperty("QQRecordFilePath");
    ExpandPath(qqRecordPath);
    loadUnitIdentity();

    iaWorker = new MakeUpIAFileWorker(MakeUpIAFileWorker::kRenameLimitMs,
                                      MakeUpIAFileWorker::kRenameStepMs, env);
    iaWorker->SetPaths(path, upPath);
    iaWorker->SetUnitIdentity(unitIdentity);

    preTreat = new preTreatHandle(preTreatHandle::kDrainIntervalMs, env);
    preTreat->SetIAFileWorker(iaWorker.get());
    preTreatThread = preTreat->start();
    preTreatStarted = true;

    senderManager = new RVIDSenderManager(RVIDSenderManager::kPassPauseMs, RVIDSender::Pacing(), env);
    senderManager->start();
  } catch (...) {
  }
}

AccountInfoWriterI::~AccountInfoWriterI() {
  if (iaWorker) iaWorker->Stop();
  if (preTreat) {
    preTreat->Stop();
    if (preTreatStarted) preTreatThread.join();
  }
  if (senderManager) senderManager->Stop();
  senderManager = 0;
  iaWorker = 0;
  preTreat = 0;
}

void AccountInfoWriterI::handleRecord(const Ice::ByteSeq& record) {
  if (record.size() == rec::kSize) processRecord(record.data(), static_cast<int>(record.size()));
}

void AccountInfoWriterI::processRecord(const void* data, int length) {
  if (data == nullptr || length != static_cast<int>(rec::kSize)) return;
  try {
    const VirtualIdRecord record = VirtualIdRecord::FromBytes(data);
    loadUnitIdentity();  // on failure the last identity obtained is used
    preTreat->AddNetLog(record, unitIdentity.c_str());
  } catch (...) {
  }
}

std::string AccountInfoWriterI::NextExportPath(const std::string& dir) {
  // One file per call, named by the second of the call. A second call in
  // the same second gets "<seconds>_<n>.OLV" instead of adding its records
  // to the first call's file, so every file holds what its count says.
  const std::time_t now = env->NowSeconds();
  if (now != lastExportSecond) {
    lastExportSecond = now;
    exportsInSecond = 0;
  }
  for (;;) {
    const std::string candidate = tessel::OnlineExportFileName(dir, now, exportsInSecond++);
    if (!env->FileExists(candidate)) return candidate;
  }
}

void AccountInfoWriterI::GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                               const Ice::Current&) {
  const std::string dir = tessel::JoinPath(port::CurrentDir(), tessel::kOnlineExportDirName);
  if (!env->FileExists(dir)) env->CreateDir(dir);  // one level; a failure shows in the export
  std::lock_guard<std::mutex> guard(exportMutex);
  filePath = NextExportPath(dir);
  int exported = 0;
  preTreat->ExportToFile(filePath.c_str(), exported);
  count = exported;
}
