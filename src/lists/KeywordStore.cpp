#include "lists/KeywordStore.h"

#include <cstdio>
#include <cstring>

#include "account/VirtualIdRecord.h"
#include "port/Port.h"
#include "service/PathHelpers.h"

namespace keywordstore {

bool IsCurrent(const std::string& keyword, std::time_t now) {
  const std::string::size_type first = keyword.find('_');
  if (first == std::string::npos) return false;
  const std::string::size_type second = keyword.find('_', first + 1);
  if (second == std::string::npos) return false;
  const std::string::size_type third = keyword.find('_', second + 1);
  if (third == std::string::npos) return false;
  std::string field = keyword.substr(second + 1, third - second - 1);
  if (field.size() > 31) field.resize(31);
  const long long logonTime = AtoiText(field);
  return logonTime + kLifetimeSeconds > static_cast<long long>(now);
}

int Load(const std::string& path, std::time_t now, std::set<std::string>* keywords) {
  MakeDirs(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return -1;
  char record[kRecordSize];
  while (std::fread(record, 1, kRecordSize, file) == kRecordSize) {
    const void* nul = std::memchr(record, '\0', kRecordSize);
    const std::size_t length = nul ? static_cast<const char*>(nul) - record : kRecordSize;
    const std::string keyword(record, length);
    if (IsCurrent(keyword, now)) keywords->insert(keyword);
  }
  std::fclose(file);
  return 0;
}

int Save(const std::string& path, const std::set<std::string>& keywords) {
  // The whole store is laid out in memory and written with as few calls as
  // the system allows: a new keyword rewrites every record, and one write
  // call per record made that cost grow with the store.
  std::string content(keywords.size() * kRecordSize, '\0');
  std::size_t at = 0;
  for (std::set<std::string>::const_iterator it = keywords.begin(); it != keywords.end(); ++it) {
    content.replace(at, it->size() < kTextWidth ? it->size() : kTextWidth, *it, 0, kTextWidth);
    at += kRecordSize;
  }
  port::File file;
  if (!file.Open(path, port::File::kUpdateCreate)) return -1;
  int result = file.Write(content.data(), content.size()) == content.size() ? 0 : -1;
  if (!file.Close()) result = -1;
  return result;
}

}  // namespace keywordstore
