#include "lists/KeywordExpiry.h"

#include "lists/KeywordStore.h"

namespace tessel {

void KeywordExpiry::Track(Keywords::iterator keyword) {
  long long logonTime = 0;
  // A keyword without a log-on time is not current: it goes at the next look.
  if (!keywordstore::LogonTimeOf(*keyword, &logonTime)) logonTime = -keywordstore::kLifetimeSeconds;
  queue_.push(Entry(logonTime + keywordstore::kLifetimeSeconds, keyword));
}

std::size_t KeywordExpiry::Expire(Keywords* keywords, std::time_t now) {
  std::size_t erased = 0;
  while (!queue_.empty() && queue_.top().first <= static_cast<long long>(now)) {
    keywords->erase(queue_.top().second);
    queue_.pop();
    ++erased;
  }
  return erased;
}

}  // namespace tessel
