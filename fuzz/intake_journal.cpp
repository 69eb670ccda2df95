// The intake journal's replay on any two files: Open gives back exactly the
// whole entries with the magic, a matching CRC and a number that another can
// follow, that begin each file (up to its first bad one), ordered by sequence number (file 0 first among
// equals), and cuts each file after them; a record appended after that comes
// back last when the journal is opened again.
//
// Input: file 0's length (2 bytes) and content, then file 1's content.
#include <zlib.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "lists/IntakeJournal.h"

namespace {

const std::size_t kEntry = tessel::IntakeJournal::kEntrySize;

// A little-endian number of `width` bytes.
std::uint64_t Le(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// The good entries at the start of a file: (sequence, record bytes).
std::vector<std::pair<std::uint64_t, std::string> > GoodEntries(const std::string& file) {
  std::vector<std::pair<std::uint64_t, std::string> > entries;
  for (std::size_t at = 0; at + kEntry <= file.size(); at += kEntry) {
    const std::string entry = file.substr(at, kEntry);
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(entry.data()) + 4, 8 + 1247);
    if (entry.compare(0, 4, "TIJ1") != 0 || Le(entry, 12 + 1247, 4) != crc) break;
    if (Le(entry, 4, 8) == ~std::uint64_t{0}) break;  // no number could follow it
    entries.emplace_back(Le(entry, 4, 8), entry.substr(12, 1247));
  }
  return entries;
}

std::vector<std::string> Replayed(const std::string& dir) {
  tessel::IntakeJournal journal(tessel::port::Env::Default(), dir);
  std::vector<VirtualIdRecord> records;
  FUZZ_CHECK(journal.Open(&records).ok());
  std::vector<std::string> bytes;
  for (const VirtualIdRecord& record : records)
    bytes.emplace_back(reinterpret_cast<const char*>(record.bytes), sizeof record.bytes);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  const std::string files[2] = {in.Bytes(in.U16()), in.Rest()};
  const std::string dir = fuzz::ScratchDir() + "virtualdb";
  fuzz::EmptyDir(fuzz::ScratchDir());
  fuzz::MakeDir(dir);

  std::vector<std::pair<std::uint64_t, std::string> > expected;
  for (int i = 0; i < 2; ++i) {
    fuzz::WriteFile(tessel::IntakeJournal::FileName(dir, i), files[i]);
    const std::vector<std::pair<std::uint64_t, std::string> > good = GoodEntries(files[i]);
    expected.insert(expected.end(), good.begin(), good.end());
  }
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::pair<std::uint64_t, std::string>& a,
                      const std::pair<std::uint64_t, std::string>& b) { return a.first < b.first; });
  std::vector<std::string> records;
  for (const auto& entry : expected) records.push_back(entry.second);

  tessel::IntakeJournal journal(tessel::port::Env::Default(), dir);
  std::vector<VirtualIdRecord> opened;
  FUZZ_CHECK(journal.Open(&opened).ok());
  FUZZ_CHECK(opened.size() == records.size());
  for (std::size_t i = 0; i < opened.size(); ++i)
    FUZZ_CHECK(std::string(reinterpret_cast<const char*>(opened[i].bytes), 1247) == records[i]);
  for (int i = 0; i < 2; ++i)
    FUZZ_CHECK(fuzz::ReadFile(tessel::IntakeJournal::FileName(dir, i)).size() ==
               GoodEntries(files[i]).size() * kEntry);

  VirtualIdRecord appended;
  appended.SetText(tessel::rec::kPrefix, tessel::rec::kPrefixWidth,
                   "appended_" + std::to_string(records.size()) + "_");
  FUZZ_CHECK(journal.Append(appended).ok());
  records.emplace_back(reinterpret_cast<const char*>(appended.bytes), 1247);
  FUZZ_CHECK(Replayed(dir) == records);
  return 0;
}
