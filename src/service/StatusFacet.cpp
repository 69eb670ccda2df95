#include "service/StatusFacet.h"

#include <cstdint>

#include "common/SiteOptions.h"

namespace tessel {

std::string StatusFacetName(const std::string& service) {
  return "IceBox.Service." + service + ".Status";
}

namespace {

Ice::Long Count(std::uint64_t value) {
  return value > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<Ice::Long>(value);
}

Tessel::UpstreamState ToUpstreamState(const UpstreamStatus& in, std::time_t now) {
  Tessel::UpstreamState out = Tessel::UpstreamState();
  out.host = in.host;
  out.port = in.port;
  out.dayStamp = in.dayStamp;
  out.offset = in.offset;
  out.recordsBehind = Count(in.recordsBehind);
  out.connected = in.connected;
  out.lastAcknowledged = in.lastAcknowledged;
  out.lastError = in.lastError;
  out.downSince = in.downSince;
  out.retries = Count(in.retries);
  out.oldestWaitingSeconds = in.waitingSince == 0 || in.waitingSince > now
                                 ? 0
                                 : static_cast<Ice::Long>(now - in.waitingSince);
  return out;
}

}  // namespace

Tessel::SiteState ToSiteState(const ServiceStatus& status, std::time_t now) {
  Tessel::SiteState out = Tessel::SiteState();
  out.serverTime = now;
  out.accepted = Count(status.intake.accepted);
  out.refused = Count(status.intake.refused);
  out.waiting = Count(status.intake.waiting);
  out.disallowed = Count(status.callers.disallowed);
  out.malformed = Count(status.callers.malformed);
  out.journalFailing = status.intake.journalFailing;
  out.journalError = status.intake.journalError;
  out.journalFailingSince = status.intake.journalFailingSince;
  out.stored = Count(status.writes.stored);
  out.waitingToBeWritten = Count(status.writes.waiting);
  out.keywordsHeld = Count(status.writes.keywords);
  out.storeRecords = Count(status.writes.storeRecords);
  out.failingFile = status.writes.failingFile;
  out.failure = status.writes.failure;
  out.failingSince = status.writes.failingSince;
  out.lastPassAt = status.lastPassAt;
  out.lastPassMs = status.lastPassMs;
  out.durability = DurabilityName(status.options.durability);
  out.maxWaitingRecords = Count(status.options.maxWaitingRecords);
  for (const UpstreamStatus& upstream : status.upstreams)
    out.upstreams.push_back(ToUpstreamState(upstream, now));
  std::vector<Fault> faults = status.writes.faults;
  faults.insert(faults.end(), status.exportFaults.begin(), status.exportFaults.end());
  for (const Fault& fault : faults) {
    Tessel::OutputFault item = Tessel::OutputFault();
    item.output = fault.output;
    item.target = fault.target;
    item.reason = fault.reason;
    item.since = fault.since;
    out.faults.push_back(item);
  }
  out.handOffsWaiting = Count(status.writes.handOffsWaiting);
  out.unsavedKeywords = Count(status.writes.unsavedKeywords);
  out.unapplied = Count(status.unapplied);
  for (std::uint64_t count : status.callers.refusedPerMinute)
    out.refusedPerMinute.push_back(Count(count));
  out.siteName = status.siteName;
  out.version = status.version;
  out.virtualDbBytes = status.virtualDbBytes;
  out.virtualDbFreeBytes = status.virtualDbFreeBytes;
  return out;
}

StatusFacet::StatusFacet(const SiteInstancePtr& instance, const AccountInfoWriterIPtr& servant,
                         port::Env* env)
    : instance_(instance), servant_(servant), env_(env) {}

Tessel::SiteState StatusFacet::read(const Ice::Current& current) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!instance_) throw Ice::FacetNotExistException(__FILE__, __LINE__, current.id, current.facet,
                                                    current.operation);
  ServiceStatus status = instance_->Status();
  status.callers = servant_->Callers();
  return ToSiteState(status, env_->NowSeconds());
}

void StatusFacet::Detach() {
  std::lock_guard<std::mutex> guard(lock_);
  instance_ = 0;
  servant_ = 0;
}

}  // namespace tessel
