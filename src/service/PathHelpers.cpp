#include "service/PathHelpers.h"

#include "port/Port.h"

std::string GetModuleDir() {
  std::string home = port::GetEnv("TESSEL_HOME");
  if (!home.empty()) {
    if (home.back() != port::kPathSeparator) home += port::kPathSeparator;
    return home;
  }
  return port::ExecutableDir();
}

bool MakeDirs(const char* path) {
  if (path == nullptr) return false;
  const std::string text(path);
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    // Both separators are accepted in configured paths.
    if (text[i] != '/' && text[i] != '\\') continue;
    const std::string dir = text.substr(0, i);
    if (dir.empty() || port::PathExists(dir)) continue;
    if (!port::MakeDir(dir) && !port::PathExists(dir)) return false;
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
  if (!path.empty() && !port::PathExists(path)) MakeDirs(path.c_str());
}

int RenameReplace(const char* existingPath, const char* newPath) {
  return port::RenameReplace(existingPath, newPath);
}
