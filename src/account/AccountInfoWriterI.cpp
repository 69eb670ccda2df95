#include "account/AccountInfoWriterI.h"

#include <Ice/Ice.h>

#include <stdexcept>
#include <utility>

#include "record/VirtualIdRecord.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

AccountInfoWriterI::AccountInfoWriterI(const Ice::CommunicatorPtr& communicator,
                                       const tessel::SiteInstancePtr& instance)
    : AccountInfoI(communicator, instance->Site().env), instance(instance) {
  allowedClients = instance->Settings().allowedClients;
  loadUnitIdentity();  // on failure the instance starts with an empty one
}

tessel::Receipt AccountInfoWriterI::handleRecord(const Ice::ByteSeq& record) {
  if (record.size() != rec::kSize) return tessel::Receipt();
  return processRecord(record.data(), static_cast<int>(record.size()));
}

tessel::Receipt AccountInfoWriterI::handleRecord(const VirtualIdRecord& record) {
  return processRecord(record.bytes, static_cast<int>(rec::kSize));
}

tessel::Receipt AccountInfoWriterI::processRecord(const void* data, int length) {
  if (data == nullptr || length != static_cast<int>(rec::kSize)) return tessel::Receipt();
  try {
    const VirtualIdRecord record = VirtualIdRecord::FromBytes(data);
    loadUnitIdentity();  // on failure the last identity obtained is used
    return instance->AddNetLog(record, unitIdentity.c_str());
  } catch (const std::exception& e) {
    tessel::Receipt refused;
    refused.status = port::Status::Refused(std::string("the record is not accepted: ") + e.what());
    return refused;
  }
}

void AccountInfoWriterI::WhenSafe(const tessel::Receipt& receipt, Done done) {
  instance->WhenSafe(receipt, std::move(done));
}

port::Status AccountInfoWriterI::GetAllOnLineVirtualId(Ice::Int& count, std::string& filePath,
                                                       const Ice::Current&) {
  int exported = 0;
  const port::Status status = instance->ExportOnLine(&exported, &filePath);
  if (status.ok()) count = exported;
  return status;
}

void AccountInfoWriterI::RunAside(std::function<void()> job) { instance->RunAside(std::move(job)); }

tessel::CallerCounts AccountInfoWriterI::Callers() const {
  tessel::CallerCounts callers;
  callers.disallowed = Notes().Disallowed();
  callers.malformed = Notes().Malformed();
  callers.refusedPerMinute = Refusals().RecordsPerMinute();
  return callers;
}
