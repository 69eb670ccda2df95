#include "KeywordStoreFile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

namespace ingest {

namespace {

const std::size_t kRecordSize = 132;
const std::size_t kTextWidth = 128;

}  // namespace

bool WriteKeywordStore(const std::string& path, long count, std::time_t seatLogon) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> record(kRecordSize);
  for (long i = 0; i < count && out; ++i) {
    // <unit>_<seat ip>_<seat log-on>_<info type>_<account>_<begin>_<output flag>
    std::fill(record.begin(), record.end(), '\0');
    std::snprintf(record.data(), kTextWidth, "4401020001_16777343_%lld_1001_stored%09ld_%lld_1",
                  static_cast<long long>(seatLogon), i, static_cast<long long>(seatLogon));
    out.write(record.data(), kRecordSize);
  }
  out.close();
  return static_cast<bool>(out);
}

}  // namespace ingest
