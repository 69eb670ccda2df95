// What the service is told at start and hands down to every worker, instead
// of each reading the environment or the properties for itself.
#ifndef TESSEL_COMMON_SITEOPTIONS_H
#define TESSEL_COMMON_SITEOPTIONS_H

#include <cstddef>
#include <string>

namespace tessel {

// How safe an accepted record is when its call returns.
enum class Durability {
  kPower,    // its journal entry is on the disk: it survives a power cut
  kProcess,  // its journal entry is written: it survives a crash of the process
};

// "power" or "process"; false for any other text.
bool ParseDurability(const std::string& text, Durability* durability);
const char* DurabilityName(Durability durability);

// The write path: the intake, its bound and the pace of the passes.
struct WriteOptions {
  Durability durability = Durability::kPower;
  // Records that may wait to be stored before new ones are refused.
  std::size_t maxWaitingRecords = 50000;
  // How long a record waits for room before it is refused.
  int roomWaitMs = 1000;
  // A pass starts as soon as this many records are queued.
  std::size_t passTriggerRecords = 4096;
  // With kPower, the record files the passes of this long wrote are synced
  // together, and only then are their keywords saved and their journal
  // entries let go (a sync per file per checkpoint, not per pass); 0 syncs
  // after every pass.
  int checkpointMs = 1000;
};

}  // namespace tessel

#endif
