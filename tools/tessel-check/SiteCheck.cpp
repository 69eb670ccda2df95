#include "SiteCheck.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/SiteFiles.h"

namespace sitecheck {

std::string FormatProblem(const Problem& problem) {
  std::string line = problem.file + ": ";
  if (!problem.key.empty()) line += problem.key + (problem.hasValue ? "=" + problem.value : "") + ": ";
  return line + problem.what;
}

std::string UserName() {
  const uid_t uid = ::geteuid();
  const struct passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? std::string(entry->pw_name) : "uid " + std::to_string(uid);
}

bool Readable(const std::string& path, std::string* why) {
  if (::access(path.c_str(), R_OK) == 0) return true;
  *why = std::string("cannot be read: ") + std::strerror(errno);
  return false;
}

namespace {

std::string Parent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string::size_type cut = path.rfind('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

}  // namespace

std::string NearestExisting(const std::string& path, std::string* why) {
  std::string existing = path;
  struct stat st;
  while (::stat(existing.c_str(), &st) != 0) {
    const int error = errno;
    const std::string parent = Parent(existing);
    if (error != ENOENT || parent == existing) {
      *why = std::string("cannot be examined: ") + std::strerror(error);
      return std::string();
    }
    existing = parent;
  }
  return existing;
}

std::string WhyNotWritableDir(const std::string& dir) {
  // A missing directory is created by the service in the nearest one above
  // it that exists.
  std::string why;
  const std::string existing = NearestExisting(dir, &why);
  if (existing.empty()) return why;
  const std::string where = existing == dir ? std::string() : "cannot be created: " + existing + " is ";
  struct stat st;
  if (::stat(existing.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return where.empty() ? "not a directory" : where + "not a directory";
  if (::access(existing.c_str(), W_OK | X_OK) == 0) return std::string();
  return (where.empty() ? "not " : where + "not ") + "writable by " + UserName();
}

bool ParseWholeNumber(const std::string& text, long long* value) {
  const std::size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  if (text.size() == start || text.find_first_not_of("0123456789", start) != std::string::npos)
    return false;
  errno = 0;
  *value = std::strtoll(text.c_str(), nullptr, 10);
  return errno == 0;
}

namespace {

// The site directory and the directories the service writes in it, with the
// files it rewrites there (a copy made as root leaves them root's).
void CheckDirectories(const std::string& site, Problems* problems) {
  const std::string why = WhyNotWritableDir(site);
  if (!why.empty()) problems->file(site, why);
  for (const char* name : {tessel::kVirtualDbDirName, tessel::kOnlineExportDirName}) {
    const std::string dir = tessel::JoinPath(site, name);
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0) continue;  // created at start
    const std::string dirWhy = WhyNotWritableDir(dir);
    if (!dirWhy.empty()) {
      problems->file(dir, dirWhy);
      continue;
    }
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) continue;
    while (const struct dirent* entry = ::readdir(listing)) {
      const std::string path = tessel::JoinPath(dir, entry->d_name);
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          ::access(path.c_str(), W_OK) != 0)
        problems->file(path, "not writable by " + UserName());
    }
    ::closedir(listing);
  }
}

}  // namespace

void CheckSite(const std::string& site, Problems* problems) {
  struct stat st;
  if (::stat(site.c_str(), &st) != 0) {
    problems->file(site, std::string("site directory: ") + std::strerror(errno));
    return;
  }
  if (!S_ISDIR(st.st_mode)) {
    problems->file(site, "site directory: not a directory");
    return;
  }
  CheckDirectories(site, problems);
  CheckSiteEnv(site, problems);
  CheckNetbarConfig(site, problems);
  CheckIceBoxConfig(site, problems);
}

}  // namespace sitecheck
