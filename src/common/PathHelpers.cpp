#include "common/PathHelpers.h"

#include <cerrno>

#include "common/SiteFiles.h"
#include "port/Port.h"

namespace port = tessel::port;

std::string GetModuleDir() {
  std::string home = port::GetEnv("TESSEL_HOME");
  if (!home.empty()) {
    if (home.back() != port::kPathSeparator) home += port::kPathSeparator;
    return home;
  }
  return port::ExecutableDir();
}

std::string VirtualDbDir() { return tessel::VirtualDbDirOf(GetModuleDir()); }

bool MakeDirs(const char* path, port::Env* env) {
  if (path == nullptr) return false;
  const std::string text(path);
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    // Both separators are accepted in configured paths.
    if (text[i] != '/' && text[i] != '\\') continue;
    const std::string dir = text.substr(0, i);
    if (dir.empty() || env->FileExists(dir)) continue;
    if (!env->CreateDir(dir).ok() && !env->FileExists(dir)) return false;
  }
  return true;
}

void ExpandPath(std::string& path) {
  if (path.empty()) return;
  const std::string::size_type open = path.find('<');
  const std::string::size_type close = path.find('>');
  // A ">" before the first "<" is no reference: the text is left as it is.
  if (open != std::string::npos && close != std::string::npos && open < close) {
    const std::string name = path.substr(open + 1, close - open - 1);
    path.replace(open, close - open + 1, port::GetEnv(name));
  }
  const std::string::size_type star = path.find('*');
  if (star != std::string::npos) path.replace(star, 1, GetModuleDir());
  if (!path.empty() && !port::Env::Default()->FileExists(path)) MakeDirs(path.c_str());
}

int RenameReplace(const char* existingPath, const char* newPath, port::Env* env) {
  const port::Status status = env->RenameFile(existingPath, newPath);
  if (status.ok()) return 0;
  errno = status.error();
  return -1;
}
