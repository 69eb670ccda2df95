// The checks of a site's configuration: each finds the problems of one file
// (or of the site's directories) and adds them, one per key, to a list.
#ifndef TESSEL_TOOLS_SITECHECK_H
#define TESSEL_TOOLS_SITECHECK_H

#include <string>
#include <vector>

namespace sitecheck {

struct Problem {
  std::string file;   // the file (or directory) at fault
  std::string key;    // the key at fault; empty for the file itself
  bool hasValue;      // false when the key is missing
  std::string value;
  std::string what;   // what is wrong, for a person
};

// "<file>: <key>=<value>: <what>", "<file>: <key>: <what>" for a missing key,
// "<file>: <what>" for the file itself.
std::string FormatProblem(const Problem& problem);

class Problems {
 public:
  void file(const std::string& file, const std::string& what) {
    list_.push_back(Problem{file, "", false, "", what});
  }
  void missing(const std::string& file, const std::string& key, const std::string& what) {
    list_.push_back(Problem{file, key, false, "", what});
  }
  void value(const std::string& file, const std::string& key, const std::string& value,
             const std::string& what) {
    list_.push_back(Problem{file, key, true, value, what});
  }
  const std::vector<Problem>& list() const { return list_; }

 private:
  std::vector<Problem> list_;
};

// Every check of the site directory `site` (without a trailing separator).
// The process's working directory must be the site's, as icebox's is: the
// relative paths of icebox.cfg are taken from there.
void CheckSite(const std::string& site, Problems* problems);

void CheckSiteEnv(const std::string& site, Problems* problems);
void CheckNetbarConfig(const std::string& site, Problems* problems);
void CheckIceBoxConfig(const std::string& site, Problems* problems);

// Listening endpoints (`key` of `file`, Ice's endpoint list `endpoints`)
// whose TCP port another program holds already.
void CheckPortsFree(const std::string& file, const std::string& key, const std::string& endpoints,
                    Problems* problems);
// The file system of `dir` (or of the nearest directory above it) with
// fewer than `minFreeBytes` free for the running user.
void CheckFreeSpace(const std::string& dir, long long minFreeBytes, Problems* problems);

// Shared by the checks.
// The endpoints of a list, split where Ice splits them: at each ":" outside
// quotes.
std::vector<std::string> EndpointsOf(const std::string& list);
std::string UserName();  // of the effective user: "tessel" or "uid 1234"
// True when `path` can be read; false with the reason in `why` otherwise.
bool Readable(const std::string& path, std::string* why);
// `path` itself or the nearest directory above it that exists; empty, with
// the reason in `why`, when none can be examined.
std::string NearestExisting(const std::string& path, std::string* why);
// The reason a directory (or the directory a missing one would be created
// in) cannot take new files of the running user, or empty when it can.
std::string WhyNotWritableDir(const std::string& dir);
// Decimal whole number, sign allowed, nothing else (surrounding blanks are
// gone already).
bool ParseWholeNumber(const std::string& text, long long* value);

}  // namespace sitecheck

#endif
