#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>

#include "account/VirtualIdRecord.h"
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
  } catch (...) {
  }
}

AccountInfoWriterI::~AccountInfoWriterI() {}

void AccountInfoWriterI::handleRecord(const Ice::ByteSeq& record) {
  if (record.size() == rec::kSize) processRecord(record.data(), static_cast<int>(record.size()));
}

void AccountInfoWriterI::processRecord(const void* data, int length) {
  if (data == nullptr || length != static_cast<int>(rec::kSize)) return;
  try {
    VirtualIdRecord record = VirtualIdRecord::FromBytes(data);
    loadUnitIdentity();
    (void)record;
  } catch (...) {
  }
}

void AccountInfoWriterI::GetAllOnLineVirtualId(Ice::Int&, std::string&, const Ice::Current&) {}
