#include "RecordExportReader.h"

#include <cstdint>
#include <fstream>

namespace rec = tessel::rec;

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseInt(const std::string& text, int* value) {
  if (text.empty() || text.size() > 11) return false;
  std::string::size_type i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

bool ParseRecordExportLine(const std::string& line, RecordExportEntry* entry) {
  std::string text = line;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();

  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type tab = text.find('\t', start);
    fields.push_back(text.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (fields.size() != 7) return false;

  RecordExportEntry parsed;
  if (!ParseInt(fields[3], &parsed.infoType)) return false;
  const std::string& hex = fields[6];
  if (hex.size() != 2 * rec::kSize) return false;
  for (std::size_t i = 0; i < rec::kSize; ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    parsed.record.bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  parsed.unit = fields[0];
  parsed.unitHead = fields[1];
  parsed.unitTail = fields[2];
  parsed.prefix = fields[4];
  parsed.account = fields[5];
  *entry = parsed;
  return true;
}

bool ReadRecordExportFile(const std::string& path, std::vector<RecordExportEntry>* entries) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    RecordExportEntry entry;
    if (!ParseRecordExportLine(line, &entry)) return false;
    entries->push_back(entry);
  }
  return true;
}
