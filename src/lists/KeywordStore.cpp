#include "lists/KeywordStore.h"

#include <cstring>

#include "common/PathHelpers.h"
#include "record/VirtualIdRecord.h"

namespace tessel::keywordstore {

namespace {

// Of the log-on time field, at most this many characters are read.
const std::size_t kMaxLogonTimeText = 31;

}  // namespace

std::string KeywordOfRecord(const char* record) {
  const void* nul = std::memchr(record, '\0', kRecordSize);
  return std::string(record, nul ? static_cast<const char*>(nul) - record : kRecordSize);
}

bool LogonTimeOf(const std::string& keyword, long long* logonTime) {
  const std::string::size_type first = keyword.find('_');
  if (first == std::string::npos) return false;
  const std::string::size_type second = keyword.find('_', first + 1);
  if (second == std::string::npos) return false;
  const std::string::size_type third = keyword.find('_', second + 1);
  if (third == std::string::npos) return false;
  std::string field = keyword.substr(second + 1, third - second - 1);
  if (field.size() > kMaxLogonTimeText) field.resize(kMaxLogonTimeText);
  *logonTime = AtoiText(field);
  return true;
}

bool IsCurrent(const std::string& keyword, std::time_t now) {
  long long logonTime = 0;
  return LogonTimeOf(keyword, &logonTime) &&
         logonTime + kLifetimeSeconds > static_cast<long long>(now);
}

int Load(port::Env* env, const std::string& path, std::time_t now,
         std::set<std::string>* keywords) {
  MakeDirs(path.c_str(), env);
  std::string content;
  if (!port::ReadFileToString(env, path, &content).ok()) return -1;
  for (std::size_t at = 0; at + kRecordSize <= content.size(); at += kRecordSize) {
    const std::string keyword = KeywordOfRecord(content.data() + at);
    if (IsCurrent(keyword, now)) keywords->insert(keyword);
  }
  return 0;
}

int Save(port::Env* env, const std::string& path, const std::set<std::string>& keywords) {
  // The whole store is laid out in memory and written with as few calls as
  // the system allows: a new keyword rewrites every record, and one write
  // call per record made that cost grow with the store.
  std::string content(keywords.size() * kRecordSize, '\0');
  std::size_t at = 0;
  for (std::set<std::string>::const_iterator it = keywords.begin(); it != keywords.end(); ++it) {
    content.replace(at, it->size() < kTextWidth ? it->size() : kTextWidth, *it, 0, kTextWidth);
    at += kRecordSize;
  }
  std::unique_ptr<port::File> file;
  if (!env->OpenFile(path, port::File::kUpdateCreate, &file).ok()) return -1;
  std::size_t written = 0;
  int result = file->Write(content.data(), content.size(), 0, &written).ok() ? 0 : -1;
  if (!file->Close().ok()) result = -1;
  return result;
}

}  // namespace tessel::keywordstore
