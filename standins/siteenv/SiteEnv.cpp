#include "SiteEnv.h"

#include <Ice/Ice.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <string>

namespace {

std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}

Ice::PropertiesPtr& Settings() {
  static Ice::PropertiesPtr settings;
  return settings;
}

std::string SiteDir() {
  const char* home = std::getenv("TESSEL_HOME");
  std::string dir;
  if (home != nullptr && *home != '\0') {
    dir = home;
  } else {
    char exe[4096] = {0};
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) dir.assign(exe, static_cast<size_t>(n));
    std::string::size_type cut = dir.rfind('/');
    dir = cut == std::string::npos ? std::string() : dir.substr(0, cut);
  }
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SiteEnv_Init() {
  try {
    Ice::PropertiesPtr settings = Ice::createProperties();
    settings->load(SiteDir() + "siteenv.cfg");  // throws when unreadable
    std::lock_guard<std::mutex> guard(Lock());
    Settings() = settings;
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}

extern "C" __attribute__((visibility("default"))) void SiteEnv_Release() {
  std::lock_guard<std::mutex> guard(Lock());
  Settings() = nullptr;
}

extern "C" __attribute__((visibility("default"))) int SiteEnv_QueryValue(const char* key, char* buffer, int* length) {
  if (key == nullptr || buffer == nullptr || length == nullptr || *length <= 0) return 1;
  std::lock_guard<std::mutex> guard(Lock());
  if (!Settings()) return 2;
  const std::string value = Settings()->getProperty(key);
  if (value.empty()) return 3;
  if (value.size() + 1 > static_cast<size_t>(*length)) return 4;
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  *length = static_cast<int>(value.size());
  return 0;
}
