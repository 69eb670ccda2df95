#include "common/PathHelpers.h"

#include <cerrno>

#include "common/ServiceSettings.h"
#include "common/SiteFiles.h"
#include "port/Port.h"

namespace port = tessel::port;

std::string GetModuleDir(port::Env* env) {
  std::string home = env->GetVariable("TESSEL_HOME");
  if (!home.empty()) {
    if (home.back() != port::kPathSeparator) home += port::kPathSeparator;
    return home;
  }
  return port::ExecutableDir();
}

bool MakeDirs(const char* path, port::Env* env) {
  return path != nullptr && tessel::CreateDirs(path, env).ok();
}

namespace tessel {

port::Status CreateDirs(const std::string& path, port::Env* env) {
  for (std::string::size_type i = 0; i < path.size(); ++i) {
    // Both separators are accepted in configured paths.
    if (path[i] != '/' && path[i] != '\\') continue;
    const std::string dir = path.substr(0, i);
    if (dir.empty() || env->FileExists(dir)) continue;
    const port::Status status = env->CreateDir(dir);
    if (!status.ok() && !env->FileExists(dir)) return status;
  }
  return port::Status::OK();
}

}  // namespace tessel

void ExpandPath(std::string& path, const tessel::SiteContext& site) {
  path = tessel::ExpandedPathText(path, site);
  if (!path.empty() && !site.env->FileExists(path)) MakeDirs(path.c_str(), site.env);
}

int RenameReplace(const char* existingPath, const char* newPath, port::Env* env) {
  const port::Status status = env->RenameFile(existingPath, newPath);
  if (status.ok()) return 0;
  errno = status.error();
  return -1;
}
