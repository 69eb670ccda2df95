#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>

#include <cstdio>

#include "account/VirtualIdRecord.h"
#include "port/Port.h"
#include "service/PathHelpers.h"

AccountInfoWriterI::AccountInfoWriterI(const Ice::CommunicatorPtr& communicator,
                                       const std::string& path, const std::string& upPath)
    : AccountInfoI(communicator), path(path), upPath(upPath) {
  // Set-up never fails the service: whatever step throws ends the set-up,
  // and the servant answers with what it has.
  try {
    qqRecordPath = communicator->getProperties()->getProperty("QQRecordFilePath");
    ExpandPath(qqRecordPath);
    loadUnitIdentity();

    iaWorker = new MakeUpIAFileWorker;
    iaWorker->SetPaths(path, upPath);
    iaWorker->SetUnitIdentity(unitIdentity);

    preTreat = new preTreatHandle;
    preTreat->SetIAFileWorker(iaWorker.get());
    preTreatThread = preTreat->start();
    preTreatStarted = true;

    senderManager = new RVIDSenderManager;
    senderManager->start();
  } catch (...) {
  }
}

AccountInfoWriterI::~AccountInfoWriterI() {
  // The threads are joined here, not left to run on: the list thread's last
  // pass stores every record already accepted, and no thread may still run
  // this module's code once the host unloads it.
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
  const std::time_t now = std::time(nullptr);
  if (now != lastExportSecond) {
    lastExportSecond = now;
    exportsInSecond = 0;
  }
  for (;;) {
    char name[64];
    if (exportsInSecond == 0)
      std::snprintf(name, sizeof name, "%u.OLV", static_cast<unsigned>(now));
    else
      std::snprintf(name, sizeof name, "%u_%d.OLV", static_cast<unsigned>(now), exportsInSecond);
    ++exportsInSecond;
    const std::string candidate = dir + port::kPathSeparator + name;
    if (!port::PathExists(candidate)) return candidate;
  }
}

void AccountInfoWriterI::GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                               const Ice::Current&) {
  const std::string dir = port::CurrentDir() + port::kPathSeparator + "temp";
  if (!port::PathExists(dir)) port::MakeDir(dir);  // one level; a failure shows in the export
  std::lock_guard<std::mutex> guard(exportMutex);
  filePath = NextExportPath(dir);
  int exported = 0;
  preTreat->ExportToFile(filePath.c_str(), exported);
  count = exported;
}
