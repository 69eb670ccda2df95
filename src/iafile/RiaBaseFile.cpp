#include "iafile/RiaBaseFile.h"

#include <cstdio>

#include "port/Port.h"
#include "service/PathHelpers.h"

std::string DayStamp(std::time_t t) {
  std::tm local;
  if (!port::LocalTime(t, &local)) return std::string();
  char text[16];
  std::strftime(text, sizeof text, "%y%m%d", &local);
  return text;
}

std::time_t LocalMidnight(std::time_t t) {
  std::tm local;
  if (!port::LocalTime(t, &local)) return t;
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::time_t NextLocalMidnight(std::time_t t) {
  std::tm local;
  if (!port::LocalTime(t, &local)) return t + 86400;
  local.tm_mday += 1;
  local.tm_hour = local.tm_min = local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

std::string VirtualDbDir() {
  return GetModuleDir() + "virtualdb" + port::kPathSeparatorText;
}

std::string DayFilePath(const std::string& dayStamp) {
  return VirtualDbDir() + dayStamp + ".RiaBase";
}

std::string IpFileName(const std::string& dayStamp, const std::string& ipKey) {
  return dayStamp + "_" + ipKey + ".RiaBase";
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == port::kPathSeparator) return dir + name;
  return dir + port::kPathSeparator + name;
}

bool AppendRecord(const std::string& path, const VirtualIdRecord& record) {
  port::File file;
  if (!file.Open(path, port::File::kAppend)) return false;
  const long long before = file.Size();
  if (before < 0) return false;
  const std::size_t written = file.Write(record.bytes, rec::kSize);
  bool ok = written == rec::kSize;
  // Take a partial record back off; this thread is the only writer. Should
  // that fail too, the reader sets the damaged file aside.
  if (written > 0 && written < rec::kSize) file.Truncate(before);
  if (!file.Close()) ok = false;
  return ok;
}

bool ReadRecords(const std::string& path, std::vector<VirtualIdRecord>* records) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  VirtualIdRecord record;
  while (std::fread(record.bytes, 1, rec::kSize, file) == rec::kSize) records->push_back(record);
  std::fclose(file);
  return true;
}
