// The keyword store virtualdb.db: the keywords of records already written to
// the record files, so that a restart does not write them again. A run of
// 132-byte records (128 bytes of NUL-padded keyword text, 4 zero bytes).
#ifndef TESSEL_LISTS_KEYWORDSTORE_H
#define TESSEL_LISTS_KEYWORDSTORE_H

#include <cstddef>
#include <ctime>
#include <set>
#include <string>

#include "port/Env.h"
#include "record/DayStamp.h"

namespace tessel::keywordstore {

inline constexpr std::size_t kRecordSize = 132;
inline constexpr std::size_t kTextWidth = 128;
// A keyword is kept for three days after the seat log-on time inside it.
inline constexpr std::time_t kLifetimeSeconds = 3 * kSecondsPerDay;

// The keyword text of one 132-byte record: up to its first NUL.
std::string KeywordOfRecord(const char* record);

// The seat log-on time inside a keyword (the text between its second and
// third underscore); false when the keyword has no third underscore.
bool LogonTimeOf(const std::string& keyword, long long* logonTime);

// True while the seat log-on time of the keyword plus three days lies after
// `now`. A keyword without three underscores is never current.
bool IsCurrent(const std::string& keyword, std::time_t now);

// Creates the directories of `path`, then adds every current keyword of the
// file to `keywords` (a short tail is ignored). 0 when the file was read, -1
// when it cannot be opened.
int Load(port::Env* env, const std::string& path, std::time_t now,
         std::set<std::string>* keywords);

// Writes the keywords in ascending order from the start of the file, which
// is created when absent and never shortened: records beyond the keywords
// keep their old content. 0 on success, -1 when the file cannot be opened or
// a write falls short.
int Save(port::Env* env, const std::string& path, const std::set<std::string>& keywords);

}  // namespace tessel::keywordstore

#endif
