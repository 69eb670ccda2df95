// The keyword store virtualdb.db: the keywords of records already written to
// the record files, so that a restart does not write them again. A run of
// 132-byte records (128 bytes of NUL-padded keyword text, 4 zero bytes).
#ifndef TESSEL_LISTS_KEYWORDSTORE_H
#define TESSEL_LISTS_KEYWORDSTORE_H

#include <ctime>
#include <set>
#include <string>

namespace keywordstore {

const std::size_t kRecordSize = 132;
const std::size_t kTextWidth = 128;
// A keyword is kept for three days after the seat log-on time inside it.
const long long kLifetimeSeconds = 259200;

// True while the seat log-on time of the keyword (the text between its
// second and third underscore) plus three days lies after `now`. A keyword
// without three underscores is never current.
bool IsCurrent(const std::string& keyword, std::time_t now);

// Creates the directories of `path`, then adds every current keyword of the
// file to `keywords` (a short tail is ignored). 0 when the file was read, -1
// when it cannot be opened.
int Load(const std::string& path, std::time_t now, std::set<std::string>* keywords);

// Writes the keywords in ascending order from the start of the file, which
// is created when absent and never shortened: records beyond the keywords
// keep their old content. 0 on success, -1 when the file cannot be opened or
// a write falls short.
int Save(const std::string& path, const std::set<std::string>& keywords);

}  // namespace keywordstore

#endif
