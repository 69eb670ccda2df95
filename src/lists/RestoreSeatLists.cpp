#include "lists/RestoreSeatLists.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "common/Console.h"
#include "common/SiteFiles.h"

namespace tessel {

namespace {

// An IP file by its seat, then its day: "YYMMDD_<ip>.RiaBase" sorts as
// (<ip>, YYMMDD).
struct IpFile {
  std::string seat;
  std::string day;
  std::string name;
  bool operator<(const IpFile& other) const {
    return seat != other.seat ? seat < other.seat : day < other.day;
  }
};

std::vector<IpFile> IpFilesIn(const std::vector<std::string>& names) {
  std::vector<IpFile> files;
  SiteFile parsed;
  for (const std::string& name : names)
    if (ParseFileName(name, &parsed) && parsed.type == SiteFileType::kIpFile)
      files.push_back(IpFile{parsed.ipKey, parsed.dayStamp, name});
  std::sort(files.begin(), files.end());
  return files;
}

// The whole records of a file, read with one read; a short tail (a record
// cut by a crash) is ignored.
port::Status ReadWholeRecords(port::Env* env, const std::string& path, std::string* buffer) {
  std::unique_ptr<port::File> file;
  port::Status status = env->OpenFile(path, port::File::kRead, &file);
  std::uint64_t size = 0;
  if (status.ok()) status = file->Size(&size);
  if (!status.ok()) return status;
  buffer->resize(static_cast<std::size_t>(size - size % rec::kSize));
  std::size_t read = 0;
  if (!buffer->empty()) status = file->Read(&(*buffer)[0], buffer->size(), 0, &read);
  buffer->resize(read - read % rec::kSize);
  return status;
}

}  // namespace

port::Status RestoreSeatLists(port::Env* env, const std::string& dir, SeatLists* lists,
                              RestoreCounts* counts,
                              const std::function<void(const VirtualIdRecord&)>& each) {
  if (!env->FileExists(dir)) return port::Status::OK();
  std::vector<std::string> names;
  port::Status status = env->GetChildren(dir, &names);
  if (!status.ok()) {
    LogLine("the seats on line cannot be read back from %s: %s", dir.c_str(),
            status.ToString().c_str());
    return status;
  }
  std::string bytes;
  for (const IpFile& file : IpFilesIn(names)) {
    const std::string path = JoinPath(dir, file.name);
    const port::Status read = ReadWholeRecords(env, path, &bytes);
    if (!read.ok()) {
      // Its records stay in the file; only the lists miss them.
      LogLine("the seat file %s cannot be read (%s): its identities are not on line after the "
              "start",
              path.c_str(), read.ToString().c_str());
      ++counts->unreadable;
      if (status.ok()) status = read;
      continue;
    }
    ++counts->ipFiles;
    for (std::size_t offset = 0; offset < bytes.size(); offset += rec::kSize) {
      VirtualIdRecord record = VirtualIdRecord::FromBytes(bytes.data() + offset);
      lists->Apply(record);
      ++counts->records;
      if (each) each(record);
    }
  }
  return status;
}

}  // namespace tessel
