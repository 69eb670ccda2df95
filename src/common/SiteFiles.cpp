#include "common/SiteFiles.h"

#include "port/Port.h"

namespace tessel {

namespace {

// Longest "<ia>/<unit>_<IP file name>" before the extension is cut off.
const std::string::size_type kMaxIaBaseName = 258;

}  // namespace

std::string DirOf(const std::string& path) {
  const std::string::size_type cut = path.rfind(port::kPathSeparator);
  if (cut == std::string::npos) return ".";
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == port::kPathSeparator) return dir + name;
  return dir + port::kPathSeparator + name;
}

bool IsSafeNamePart(const std::string& part) {
  for (unsigned char c : part)
    if (c == '/' || c < 0x20 || c == 0x7f) return false;
  return true;
}

bool HasExtension(const std::string& name, const std::string& extension) {
  return name.size() > extension.size() &&
         name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
}

std::string VirtualDbDirOf(const std::string& siteDir) {
  return JoinPath(siteDir, kVirtualDbDirName) + port::kPathSeparator;
}

std::string DayFileName(const std::string& dir, const std::string& dayStamp) {
  return JoinPath(dir, dayStamp + kRecordFileExtension);
}

namespace {

const std::size_t kStampLength = 6;

bool StartsWithDayStamp(const std::string& name) {
  if (name.size() < kStampLength) return false;
  for (std::size_t i = 0; i < kStampLength; ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return true;
}

}  // namespace

bool ParseDayFileName(const std::string& name, std::string* dayStamp) {
  if (name.size() != kStampLength + sizeof kRecordFileExtension - 1 ||
      !HasExtension(name, kRecordFileExtension) || !StartsWithDayStamp(name))
    return false;
  *dayStamp = name.substr(0, kStampLength);
  return true;
}

bool ParseIpFileName(const std::string& name, std::string* dayStamp) {
  if (name.size() <= kStampLength + 1 + sizeof kRecordFileExtension - 1 ||
      !HasExtension(name, kRecordFileExtension) || !StartsWithDayStamp(name) ||
      name[kStampLength] != '_')
    return false;
  *dayStamp = name.substr(0, kStampLength);
  return true;
}

std::string HandOffFileName(const std::string& ipFilePath) {
  return ipFilePath + kHandOffExtension;
}

bool IsHandOffFileName(const std::string& name) { return HasExtension(name, kHandOffExtension); }

std::string HandedFileName(const std::string& ipFilePath) { return ipFilePath + kHandedExtension; }

bool IsHandedFileName(const std::string& name) { return HasExtension(name, kHandedExtension); }

std::string IpFileBaseName(const std::string& dayStamp, const std::string& ipKey) {
  return dayStamp + "_" + ipKey + kRecordFileExtension;
}

std::string IpFileName(const std::string& dir, const std::string& dayStamp,
                       const std::string& ipKey) {
  return JoinPath(dir, IpFileBaseName(dayStamp, ipKey));
}

std::string KeywordStoreFileName(const std::string& dir) { return JoinPath(dir, kKeywordStoreName); }

std::string IaCounterFileName(const std::string& dir, const std::string& dayStamp) {
  return JoinPath(dir, dayStamp + "_iaFileNum.dat");
}

std::string SetAsideFileName(const std::string& path, std::time_t when) {
  return path + "." + std::to_string(static_cast<long long>(when));
}

std::string ProgressFileName(const std::string& dir, const std::string& host,
                             unsigned short port) {
  return JoinPath(dir, host + "_" + std::to_string(port) + kProgressFileExtension);
}

bool ParseProgressFileName(const std::string& name, std::string* server) {
  if (!HasExtension(name, kProgressFileExtension)) return false;
  *server = name.substr(0, name.size() - (sizeof kProgressFileExtension - 1));
  return true;
}

bool IaFileName(const std::string& iaDir, const std::string& unit, const std::string& ipFileName,
                int n, std::string* path) {
  std::string base = JoinPath(iaDir, unit + "_" + ipFileName);
  if (base.size() > kMaxIaBaseName) base.resize(kMaxIaBaseName);
  const std::string::size_type dot = base.rfind('.');
  if (dot == std::string::npos) return false;
  base.erase(dot);
  *path = base + "_" + std::to_string(n) + kIaFileExtension;
  return true;
}

std::string OnlineExportFileName(const std::string& dir, std::time_t second, int n) {
  std::string name = std::to_string(static_cast<unsigned>(second));
  if (n > 0) name += "_" + std::to_string(n);
  return JoinPath(dir, name + kOnlineExportExtension);
}

bool ParseOnlineExportFileName(const std::string& name, std::time_t* second) {
  if (!HasExtension(name, kOnlineExportExtension)) return false;
  const std::string base = name.substr(0, name.size() - (sizeof kOnlineExportExtension - 1));
  const std::string::size_type underscore = base.find('_');
  const std::string seconds = base.substr(0, underscore);
  const std::string n = underscore == std::string::npos ? "" : base.substr(underscore + 1);
  if (seconds.empty() || seconds.size() > 10 || n.size() > 9 ||
      seconds.find_first_not_of("0123456789") != std::string::npos ||
      n.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long long value = std::stoull(seconds);
  if (value > 0xFFFFFFFFull) return false;
  // Only the names made here: no leading zeros, no "_0", no empty "_".
  const int count = n.empty() ? 0 : std::stoi(n);
  if (OnlineExportFileName("", static_cast<std::time_t>(value), count) != name) return false;
  *second = static_cast<std::time_t>(value);
  return true;
}

}  // namespace tessel
