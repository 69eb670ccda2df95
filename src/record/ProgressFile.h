// An upstream sender's progress file (<host>_<port>.spg): eight bytes, the
// local midnight (seconds since 1970) of the day whose day file is being
// sent and the byte offset in it of the first record not yet acknowledged,
// each 32-bit little-endian. The sender and riadump read it through here.
#ifndef TESSEL_RECORD_PROGRESSFILE_H
#define TESSEL_RECORD_PROGRESSFILE_H

#include <cstddef>
#include <cstdint>

namespace tessel {

inline constexpr std::size_t kProgressSize = 8;

struct Progress {
  std::int32_t day = 0;
  std::uint32_t offset = 0;
};

// The offset taken down to the start of the record it falls in.
std::uint32_t RoundToRecord(std::uint32_t offset);

// The progress the first kProgressSize bytes hold, its offset taken down to
// a record boundary: a sender never starts inside a record. False when there
// are fewer bytes.
bool DecodeProgress(const unsigned char* bytes, std::size_t size, Progress* progress);

// Writes kProgressSize bytes.
void EncodeProgress(const Progress& progress, unsigned char* bytes);

}  // namespace tessel

#endif
