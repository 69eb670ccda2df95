#include "iafile/RiaBaseFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat before;
  bool ok = ::fstat(fd, &before) == 0;
  if (ok) {
    ssize_t written;
    do {
      written = ::write(fd, record.bytes, rec::kSize);
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(rec::kSize)) {
      ok = false;
      if (written > 0) {
        // Take the partial record back off; this thread is the only writer.
        if (::ftruncate(fd, before.st_size) != 0) {
          // Nothing more can be done here; the reader sets a broken file aside.
        }
      }
    }
  }
  if (::close(fd) != 0) ok = false;
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
