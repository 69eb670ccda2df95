#include "common/DiskUse.h"

#include <sys/statvfs.h>

#include <vector>

#include "common/SiteFiles.h"

namespace tessel {

std::int64_t BytesInDir(port::Env* env, const std::string& dir) {
  std::vector<std::string> names;
  if (!env->GetChildren(dir, &names).ok()) return -1;
  std::int64_t total = 0;
  for (const std::string& name : names) {
    std::uint64_t size = 0;
    if (env->FileSize(JoinPath(dir, name), &size).ok()) total += static_cast<std::int64_t>(size);
  }
  return total;
}

std::int64_t FreeBytesAt(const std::string& path) {
  struct statvfs fs;
  if (::statvfs(path.c_str(), &fs) != 0) return -1;
  return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

}  // namespace tessel
