// The keyword store virtualdb.db read and written directly, as a check or a
// setup step would: the service itself only ever opens, appends to and
// compacts it (lists/KeywordStore.h). Header only, so that the benchmarks
// and the fuzz targets can use it without the tests' library.
#ifndef TESSEL_TESTS_KEYWORDSTORECONTENT_H
#define TESSEL_TESTS_KEYWORDSTORECONTENT_H

#include <ctime>
#include <memory>
#include <set>
#include <string>

#include "common/PathHelpers.h"
#include "lists/KeywordStore.h"
#include "port/Env.h"

namespace testing_support {

// Creates the directories of `path`, then adds every current keyword of the
// store's whole records to `keywords` (a short tail is ignored). The failure
// when the file cannot be read (IsNotFound: there is none).
inline tessel::port::Status LoadKeywordStore(tessel::port::Env* env, const std::string& path,
                                             std::time_t now, std::set<std::string>* keywords) {
  namespace ks = tessel::keywordstore;
  MakeDirs(path.c_str(), env);
  std::string content;
  const tessel::port::Status status = tessel::port::ReadFileToString(env, path, &content);
  if (!status.ok()) return status;
  for (std::size_t at = 0; at + ks::kRecordSize <= content.size(); at += ks::kRecordSize) {
    const std::string keyword = ks::KeywordOfRecord(content.data() + at);
    if (ks::IsCurrent(keyword, now)) keywords->insert(keyword);
  }
  return status;
}

// The current keywords of the store at `path`; none when it cannot be read.
inline std::set<std::string> StoredKeywords(const std::string& path, std::time_t now) {
  std::set<std::string> keywords;
  LoadKeywordStore(tessel::port::Env::Default(), path, now, &keywords);
  return keywords;
}

// Replaces the store with one holding exactly `keywords`, in ascending
// order, each in its 132-byte record (at most 128 bytes of text).
inline tessel::port::Status WriteKeywordStore(tessel::port::Env* env, const std::string& path,
                                              const std::set<std::string>& keywords) {
  namespace ks = tessel::keywordstore;
  std::string content(keywords.size() * ks::kRecordSize, '\0');
  std::size_t at = 0;
  for (const std::string& keyword : keywords) {
    content.replace(at, keyword.size() < ks::kTextWidth ? keyword.size() : ks::kTextWidth,
                    keyword, 0, ks::kTextWidth);
    at += ks::kRecordSize;
  }
  std::unique_ptr<tessel::port::File> file;
  tessel::port::Status status = env->OpenFile(path, tessel::port::File::kTruncate, &file);
  if (!status.ok()) return status;
  std::size_t written = 0;
  status = file->Write(content.data(), content.size(), 0, &written);
  const tessel::port::Status closed = file->Close();
  return status.ok() ? closed : status;
}

}  // namespace testing_support

#endif
