#include "lists/KeywordStore.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "lists/KeywordSet.h"
#include "record/Keyword.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

namespace keywordstore {

std::string KeywordOfRecord(const char* record) {
  // The text lives in its 128 bytes; the four bytes after it are no part of
  // it, whatever a damaged file holds there.
  const void* nul = std::memchr(record, '\0', kTextWidth);
  return std::string(record, nul ? static_cast<const char*>(nul) - record : kTextWidth);
}

bool LogonTimeOf(const std::string& keyword, long long* logonTime) {
  return KeywordLogonTime(keyword, logonTime);
}

bool IsCurrent(const std::string& keyword, std::time_t now) {
  long long logonTime = 0;
  return LogonTimeOf(keyword, &logonTime) &&
         logonTime + kLifetimeSeconds > static_cast<long long>(now);
}

std::time_t LeaveMemoryAt(const std::string& keyword, std::time_t now) {
  long long logonTime = 0;
  const long long from =
      LogonTimeOf(keyword, &logonTime) && logonTime > static_cast<long long>(now)
          ? logonTime
          : static_cast<long long>(now);
  return static_cast<std::time_t>(from + kLifetimeSeconds);
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

// Calls `each` with the keyword of every whole record of the file, read a
// block at a time (a store of a million keywords is 132 MB); *size gets the
// file's size.
port::Status ForEachRecord(port::Env* env, const std::string& path, std::uint64_t* size,
                           const std::function<void(const std::string&)>& each) {
  std::unique_ptr<port::File> file;
  port::Status status = env->OpenFile(path, port::File::kRead, &file);
  if (!status.ok()) return status;
  std::uint64_t fileSize = 0;
  if (!file->Size(&fileSize).ok()) fileSize = 0;
  std::vector<char> block(static_cast<std::size_t>(
      std::min<std::uint64_t>(kRecordSize * 8192, (fileSize / kRecordSize + 1) * kRecordSize)));
  std::uint64_t offset = 0;
  for (;;) {
    std::size_t read = 0;
    status = file->Read(block.data(), block.size(), offset, &read);
    if (!status.ok()) return status;
    for (std::size_t at = 0; at + kRecordSize <= read; at += kRecordSize)
      each(KeywordOfRecord(block.data() + at));
    offset += read;
    if (read < block.size()) break;
  }
  *size = offset;
  return status;
}

}  // namespace

}  // namespace keywordstore

using keywordstore::kRecordSize;

port::Status KeywordStore::Open(std::time_t now, KeywordSet* keywords) {
  MakeDirs(path_.c_str(), env_);
  std::uint64_t size = 0;
  if (env_->FileSize(path_, &size).ok()) keywords->Reserve(static_cast<std::size_t>(size / kRecordSize));
  std::size_t kept = 0;
  port::Status status = keywordstore::ForEachRecord(env_, path_, &size, [&](const std::string& k) {
    if (keywordstore::IsCurrent(k, now) &&
        keywords->Insert(KeywordDigest::Of(k), keywordstore::LeaveMemoryAt(k, now)))
      ++kept;
  });
  if (!status.ok()) return status;
  records_ = static_cast<std::size_t>(size / kRecordSize);
  // Expired or repeated records, or the torn tail of an append cut short:
  // the store starts over with what is current.
  if (records_ != kept || size % kRecordSize != 0) RewriteKeeping(*keywords, now);
  return port::Status::OK();
}

port::Status KeywordStore::OpenForAppend() {
  if (file_) return port::Status::OK();
  const bool created = !env_->FileExists(path_);
  port::Status status = env_->OpenFile(path_, port::File::kAppend, &file_);
  // A store made now is found after a power cut only once its name is synced.
  if (status.ok() && created && durable_) status = env_->SyncDir(DirOf(path_));
  // A torn tail left by a crash is cut back before anything follows it.
  std::uint64_t size = 0;
  if (status.ok()) status = file_->Size(&size);
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
  if (status.ok() && durable_) status = file_->Sync();
  if (status.ok()) {
    records_ += keywords.size();
    return status;
  }
  // Take what was written back off, as the keywords are saved again;
  // should that fail, the next append starts by cutting a torn record.
  if (written > 0) file_->Truncate(static_cast<std::uint64_t>(records_) * kRecordSize);
  file_.reset();
  return status;
}

port::Status KeywordStore::CompactIfDue(const KeywordSet& live, std::time_t now) {
  if (records_ - std::min(records_, live.size()) <= live.size()) return port::Status::OK();
  return RewriteKeeping(live, now);
}

port::Status KeywordStore::RewriteKeeping(const KeywordSet& live, std::time_t now) {
  const std::string tmp = path_ + ".tmp";
  std::unique_ptr<port::File> out;
  port::Status status = env_->OpenFile(tmp, port::File::kTruncate, &out);
  std::vector<bool> written(live.slots(), false);
  std::string block;
  std::size_t kept = 0;
  std::uint64_t at = 0, size = 0;
  auto flush = [&]() {
    std::size_t done = 0;
    if (status.ok() && !block.empty()) status = out->Write(block.data(), block.size(), at, &done);
    at += block.size();
    block.clear();
  };
  if (status.ok()) {
    const port::Status read =
        keywordstore::ForEachRecord(env_, path_, &size, [&](const std::string& keyword) {
          if (!keywordstore::IsCurrent(keyword, now)) return;
          const std::size_t slot = live.Find(KeywordDigest::Of(keyword));
          if (slot == KeywordSet::kNone || written[slot]) return;
          written[slot] = true;
          block += keywordstore::Records(std::vector<std::string>{keyword});
          ++kept;
          if (block.size() >= (1u << 20)) flush();
        });
    flush();
    if (status.ok()) status = read;
  }
  if (status.ok()) status = out->Sync();
  if (out) {
    const port::Status closed = out->Close();
    if (status.ok()) status = closed;
  }
  if (!status.ok()) {
    env_->RemoveFile(tmp);
    return status;  // the old store stays as it was
  }
  return Replace(tmp, kept);
}

port::Status KeywordStore::Replace(const std::string& tmp, std::size_t records) {
  port::Status status = env_->RenameFile(tmp, path_);
  if (!status.ok()) {
    env_->RemoveFile(tmp);
    return status;  // the old store stays as it was
  }
  if (durable_) status = env_->SyncDir(DirOf(path_));
  file_.reset();
  records_ = records;
  return status;
}

}  // namespace tessel
