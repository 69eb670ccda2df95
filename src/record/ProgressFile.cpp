#include "record/ProgressFile.h"

#include "port/Coding.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

std::uint32_t RoundToRecord(std::uint32_t offset) { return offset - offset % rec::kSize; }

bool DecodeProgress(const unsigned char* bytes, std::size_t size, Progress* progress) {
  if (size < kProgressSize) return false;
  progress->day = static_cast<std::int32_t>(port::DecodeFixed32LE(bytes));
  progress->offset = RoundToRecord(port::DecodeFixed32LE(bytes + 4));
  return true;
}

void EncodeProgress(const Progress& progress, unsigned char* bytes) {
  port::EncodeFixed32LE(bytes, static_cast<std::uint32_t>(progress.day));
  port::EncodeFixed32LE(bytes + 4, progress.offset);
}

}  // namespace tessel
