// RiaBase files (day and IP files) of any content: ReadRecords gives exactly
// the whole records, in file order; the reader tells the shape of the end
// right (whole records, or a part that is still growing or damaged) and
// reads a record only where a whole one lies; a record appended lands whole
// at the end.
//
// Input: the file's content.
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "record/RiaBaseFile.h"

using tessel::RiaBaseReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::string path = fuzz::ScratchDir() + "261208.RiaBase";
  fuzz::WriteFile(path, content);
  tessel::port::Env* env = tessel::port::Env::Default();

  std::vector<VirtualIdRecord> records;
  FUZZ_CHECK(tessel::ReadRecords(env, path, &records).ok());
  FUZZ_CHECK(records.size() == size / 1247);
  for (std::size_t i = 0; i < records.size(); ++i)
    FUZZ_CHECK(std::memcmp(records[i].bytes, data + i * 1247, 1247) == 0);

  RiaBaseReader reader(env);
  FUZZ_CHECK(reader.Open(path).ok());
  const bool whole = size % 1247 == 0;
  FUZZ_CHECK(reader.Look(true) == (whole ? RiaBaseReader::kWhole : RiaBaseReader::kStillGrowing));
  FUZZ_CHECK(reader.Look(false) == (whole ? RiaBaseReader::kWhole : RiaBaseReader::kDamaged));
  FUZZ_CHECK(reader.size() == size);
  const std::uint64_t offsets[] = {0, 1, 1246, 1247, size / 2, size - size % 1247,
                                   size >= 1247 ? size - 1247 : 0, size, size + 1,
                                   ~std::uint64_t{0} - 100};
  for (std::uint64_t offset : offsets) {
    VirtualIdRecord record;
    const bool there = offset <= size && size - offset >= 1247;
    FUZZ_CHECK(reader.ReadAt(offset, &record) == there);
    if (there) FUZZ_CHECK(std::memcmp(record.bytes, data + offset, 1247) == 0);
  }
  reader.Close();

  VirtualIdRecord appended = records.empty() ? VirtualIdRecord() : records.back();
  appended.SetInt(tessel::rec::kInputFlag, 1);
  FUZZ_CHECK(tessel::AppendRecord(env, path, appended).ok());
  const std::string after = fuzz::ReadFile(path);
  FUZZ_CHECK(after.size() == size + 1247 && after.compare(0, size, content) == 0);
  FUZZ_CHECK(std::memcmp(after.data() + size, appended.bytes, 1247) == 0);
  return 0;
}
