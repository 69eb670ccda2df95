// Export lines (.ria, .OLV). Any line the reader takes holds what it says:
// seven TAB-separated fields whose fourth is the info type and whose last is
// the record in hexadecimal. And the line the record export library writes
// for any record and unit identity is one line that reads back to the same
// record bytes, with the texts shown as written (control bytes as blanks).
//
// Input: the unit identity's length (1 byte) and text, then the record's
// bytes; the whole input is also tried as a line.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "RecordExport.h"
#include "RecordExportReader.h"

namespace {

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == '\t') fields.emplace_back();
    else fields.back() += c;
  }
  return fields;
}

std::string Hex(const VirtualIdRecord& record) {
  std::string hex;
  char two[3];
  for (unsigned char c : record.bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    hex += two;
  }
  return hex;
}

// A text as the export shows it: up to its first NUL (at most `width`
// bytes), control bytes as blanks.
std::string Shown(const char* text, std::size_t width) {
  std::string out(text, strnlen(text, width));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return out;
}

void AnyLine(const std::string& line) {
  RecordExportEntry entry;
  if (!ParseRecordExportLine(line, &entry)) return;
  std::string text = line;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const std::vector<std::string> fields = Split(text);
  FUZZ_CHECK(fields.size() == 7);
  FUZZ_CHECK(entry.unit == fields[0] && entry.unitHead == fields[1] && entry.unitTail == fields[2]);
  FUZZ_CHECK(std::strtoll(fields[3].c_str(), nullptr, 10) == entry.infoType);
  FUZZ_CHECK(entry.prefix == fields[4] && entry.account == fields[5]);
  std::string lower = fields[6];
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  FUZZ_CHECK(Hex(entry.record) == lower);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  AnyLine(std::string(reinterpret_cast<const char*>(data), size));

  fuzz::Reader in(data, size);
  std::string unit = in.Bytes(in.Byte());
  unit = unit.substr(0, unit.find('\0'));  // a C string
  const std::string head = unit.substr(0, 2), tail = unit.substr(head.size());
  const VirtualIdRecord record = VirtualIdRecord::FromBytes(in.Fixed(1247).data());

  const std::string path = fuzz::ScratchDir() + "export.ria";
  std::remove(path.c_str());
  FUZZ_CHECK(tagSepExporttoFile(path.c_str(), unit.c_str(), head.c_str(), tail.c_str(),
                                record.bytes, 1247) == 0);
  const std::string content = fuzz::ReadFile(path);
  FUZZ_CHECK(content.size() > 2 && content.find('\n') == content.size() - 1 &&
             content.find('\r') == content.size() - 2);
  std::vector<RecordExportEntry> entries;
  FUZZ_CHECK(ReadRecordExportFile(path, &entries) && entries.size() == 1);
  const RecordExportEntry& entry = entries[0];
  FUZZ_CHECK(std::memcmp(entry.record.bytes, record.bytes, 1247) == 0);
  FUZZ_CHECK(entry.infoType == record.InfoType());
  FUZZ_CHECK(entry.unit == Shown(unit.c_str(), unit.size()));
  FUZZ_CHECK(entry.unitHead == Shown(head.c_str(), head.size()));
  FUZZ_CHECK(entry.unitTail == Shown(tail.c_str(), tail.size()));
  const char* bytes = reinterpret_cast<const char*>(record.bytes);
  FUZZ_CHECK(entry.prefix == Shown(bytes, 50));
  FUZZ_CHECK(entry.account == Shown(bytes + 58, record.InfoType() == 900 ? 30 : 256));
  AnyLine(content);
  return 0;
}
