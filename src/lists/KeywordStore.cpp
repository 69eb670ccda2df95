#include "lists/KeywordStore.h"

#include <algorithm>
#include <cstring>

#include "common/PathHelpers.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

namespace keywordstore {

namespace {

// Of the log-on time field, at most this many characters are read.
const std::size_t kMaxLogonTimeText = 31;

}  // namespace

std::string KeywordOfRecord(const char* record) {
  // The text lives in its 128 bytes; the four bytes after it are no part of
  // it, whatever a damaged file holds there.
  const void* nul = std::memchr(record, '\0', kTextWidth);
  return std::string(record, nul ? static_cast<const char*>(nul) - record : kTextWidth);
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

namespace {

// The records of `keywords`, laid out for one write.
template <typename Keywords>
std::string Records(const Keywords& keywords) {
  std::string content(keywords.size() * kRecordSize, '\0');
  std::size_t at = 0;
  for (const std::string& keyword : keywords) {
    content.replace(at, keyword.size() < kTextWidth ? keyword.size() : kTextWidth, keyword, 0,
                    kTextWidth);
    at += kRecordSize;
  }
  return content;
}

}  // namespace

}  // namespace keywordstore

using keywordstore::kRecordSize;

int KeywordStore::Open(std::time_t now, std::set<std::string>* keywords) {
  const std::size_t before = keywords->size();
  if (keywordstore::Load(env_, path_, now, keywords) != 0) return -1;
  std::uint64_t size = 0;
  env_->FileSize(path_, &size);
  records_ = static_cast<std::size_t>(size / kRecordSize);
  // Expired or repeated records, or the torn tail of an append cut short:
  // the store starts over with what is current.
  if (records_ != keywords->size() - before || size % kRecordSize != 0) Rewrite(*keywords);
  return 0;
}

port::Status KeywordStore::OpenForAppend() {
  if (file_) return port::Status::OK();
  port::Status status = env_->OpenFile(path_, port::File::kAppend, &file_);
  if (!status.ok()) return status;
  // A torn tail left by a crash is cut back before anything follows it.
  std::uint64_t size = 0;
  status = file_->Size(&size);
  if (status.ok() && size % kRecordSize != 0) status = file_->Truncate(size - size % kRecordSize);
  if (!status.ok()) {
    file_.reset();
    return status;
  }
  records_ = static_cast<std::size_t>(size / kRecordSize);
  return status;
}

port::Status KeywordStore::Append(const std::vector<std::string>& keywords) {
  if (keywords.empty()) return port::Status::OK();
  port::Status status = OpenForAppend();
  if (!status.ok()) return status;
  const std::string content = keywordstore::Records(keywords);
  std::size_t written = 0;
  status = file_->Write(content.data(), content.size(), 0, &written);
  if (status.ok()) {
    records_ += keywords.size();
    return status;
  }
  // Take a part of a record back off; should that fail too, the next
  // append starts by cutting it.
  if (written > 0) file_->Truncate(static_cast<std::uint64_t>(records_) * kRecordSize);
  file_.reset();
  return status;
}

port::Status KeywordStore::CompactIfDue(const std::set<std::string>& live) {
  if (records_ - std::min(records_, live.size()) <= live.size()) return port::Status::OK();
  return Rewrite(live);
}

port::Status KeywordStore::Rewrite(const std::set<std::string>& live) {
  const std::string tmp = path_ + ".tmp";
  std::unique_ptr<port::File> file;
  port::Status status = env_->OpenFile(tmp, port::File::kTruncate, &file);
  if (status.ok()) {
    const std::string content = keywordstore::Records(live);
    std::size_t written = 0;
    status = file->Write(content.data(), content.size(), 0, &written);
    if (status.ok()) status = file->Sync();
    const port::Status closed = file->Close();
    if (status.ok()) status = closed;
  }
  if (status.ok()) status = env_->RenameFile(tmp, path_);
  if (!status.ok()) {
    env_->RemoveFile(tmp);
    return status;  // the old store stays as it was
  }
  file_.reset();
  records_ = live.size();
  return port::Status::OK();
}

}  // namespace tessel
