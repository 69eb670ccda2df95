// The keyword store virtualdb.db: the keywords of records already written to
// the record files, so that a restart does not write them again. A run of
// 132-byte records (128 bytes of NUL-padded keyword text, 4 zero bytes).
//
// New keywords are appended, a pass's worth in one write, so that adding a
// keyword costs the same however large the store is. Records of keywords
// that have left memory (three days after their seat log-on) stay in the
// file as dead records until the file is rewritten with the live ones: at
// start when it holds any, and while running once they outnumber the live
// ones. A rewrite goes through a temporary file that replaces the store only
// when it is complete. In memory the list thread holds the keywords' digests
// (lists/KeywordSet.h); the texts are only here.
#ifndef TESSEL_LISTS_KEYWORDSTORE_H
#define TESSEL_LISTS_KEYWORDSTORE_H

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "port/Env.h"
#include "record/DayStamp.h"

namespace tessel::keywordstore {

inline constexpr std::size_t kRecordSize = 132;
inline constexpr std::size_t kTextWidth = 128;
// A keyword is kept for three days after the seat log-on time inside it.
inline constexpr std::time_t kLifetimeSeconds = 3 * kSecondsPerDay;

// The keyword text of one 132-byte record: its 128-byte field up to the
// first NUL.
std::string KeywordOfRecord(const char* record);

// The seat log-on time inside a keyword (the text between its second and
// third underscore); false when the keyword has no third underscore.
bool LogonTimeOf(const std::string& keyword, long long* logonTime);

// True while the seat log-on time of the keyword plus three days lies after
// `now`. A keyword without three underscores is never current.
bool IsCurrent(const std::string& keyword, std::time_t now);

// When a keyword taken into memory at `now` may leave it: once the next
// start's load would drop it (three days after its seat log-on) and it has
// been in memory for three days, whichever comes later. So a seat log-on
// time of 0, a keyword without one, or a session longer than three days
// does not make a keyword leave memory early, and a record sent again
// meanwhile is not written twice.
std::time_t LeaveMemoryAt(const std::string& keyword, std::time_t now);

}  // namespace tessel::keywordstore

namespace tessel {

class KeywordSet;

class KeywordStore {
 public:
  // `durable`: every append is synced, and the file's name once it is made,
  // so that a keyword on disk survives a power cut as its record does.
  KeywordStore(port::Env* env, const std::string& path, bool durable = false)
      : env_(env), path_(path), durable_(durable) {}

  // Creates the directories of the path, adds every current keyword of the
  // file to `keywords` (a short tail is ignored) and puts the file in order
  // for appending: a rewrite with the current keywords alone, each once,
  // when it holds expired or repeated records or a torn tail. The failure
  // when the file cannot be read (IsNotFound: there is no store yet).
  port::Status Open(std::time_t now, KeywordSet* keywords);

  // Makes an empty store when there is none, so that the next start can
  // tell records stored since from records stored before it.
  port::Status Create() { return OpenForAppend(); }

  // Appends the keywords with one write. A write that falls short is cut
  // back, so the file never holds part of a record because of us.
  port::Status Append(const std::vector<std::string>& keywords);

  // Rewrites the file with the keywords still in `live` and current at
  // `now`, each once, when the other records outnumber them.
  port::Status CompactIfDue(const KeywordSet& live, std::time_t now);

  // Records in the file, live and dead.
  std::size_t records() const { return records_; }

 private:
  port::Status OpenForAppend();
  // Rewrites the file with its records of keywords in `live` and current
  // at `now`, each once.
  port::Status RewriteKeeping(const KeywordSet& live, std::time_t now);
  // Moves a complete temporary file over the store.
  port::Status Replace(const std::string& tmp, std::size_t records);

  port::Env* const env_;
  const std::string path_;
  const bool durable_;
  std::unique_ptr<port::File> file_;  // open for appending once it could be
  std::size_t records_ = 0;
};

}  // namespace tessel

#endif
