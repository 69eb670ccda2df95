#include "lists/KeywordStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "account/VirtualIdRecord.h"
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
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  int result = 0;
  char record[kRecordSize];
  for (std::set<std::string>::const_iterator it = keywords.begin(); it != keywords.end(); ++it) {
    std::memset(record, 0, sizeof record);
    std::memcpy(record, it->data(), it->size() < kTextWidth ? it->size() : kTextWidth);
    ssize_t written;
    do {
      written = ::write(fd, record, sizeof record);
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(sizeof record)) {
      result = -1;
      break;
    }
  }
  if (::close(fd) != 0) result = -1;
  return result;
}

}  // namespace keywordstore
