#include "KeywordStoreFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "EventRecords.h"

namespace ingest {

namespace {

const std::size_t kRecordSize = 132;
const std::size_t kTextWidth = 128;
const std::size_t kChunkRecords = 8192;
const std::uint32_t kFirstSeatIp = 0x0A000001;  // as ImLogonRecord's seats
const int kLogonsPerSeat = 48;                  // hourly, over two days

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool WriteKeywordStore(const std::string& path, long count, int seats, std::time_t latestLogon) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  seats = std::max(seats, 1);
  // The interface value of each seat's address, as its records carry it.
  std::vector<unsigned> ipKeys;
  for (int seat = 0; seat < seats; ++seat)
    ipKeys.push_back(static_cast<unsigned>(events::InterfaceIp(kFirstSeatIp + seat)));
  std::vector<char> chunk(kChunkRecords * kRecordSize);
  bool ok = true;
  for (long first = 0; first < count && ok; first += kChunkRecords) {
    const long n = std::min<long>(kChunkRecords, count - first);
    std::fill(chunk.begin(), chunk.end(), '\0');
    for (long j = 0; j < n; ++j) {
      const long i = first + j;
      const long long logon =
          static_cast<long long>(latestLogon) - (i / seats % kLogonsPerSeat) * 3600LL;
      std::snprintf(chunk.data() + j * kRecordSize, kTextWidth,
                    "4401020001_%u_%lld_1001_stored%09ld_%lld_1", ipKeys[i % seats], logon, i,
                    logon);
    }
    ok = WriteAll(fd, chunk.data(), static_cast<std::size_t>(n) * kRecordSize);
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace ingest
