// When the keywords in memory expire: three days after the seat log-on time
// inside each, the same rule the store applies when it is loaded. The list
// thread lets expired keywords go while it runs, so memory holds three days
// of keywords however long the service runs.
#ifndef TESSEL_LISTS_KEYWORDEXPIRY_H
#define TESSEL_LISTS_KEYWORDEXPIRY_H

#include <ctime>
#include <queue>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tessel {

class KeywordExpiry {
 public:
  typedef std::set<std::string> Keywords;

  // Notes a keyword just inserted into the set.
  void Track(Keywords::iterator keyword);
  // Erases from `keywords` every tracked keyword expired at `now`; the
  // number erased.
  std::size_t Expire(Keywords* keywords, std::time_t now);

 private:
  typedef std::pair<long long, Keywords::iterator> Entry;
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const { return a.first > b.first; }
  };
  std::priority_queue<Entry, std::vector<Entry>, Later> queue_;
};

}  // namespace tessel

#endif
