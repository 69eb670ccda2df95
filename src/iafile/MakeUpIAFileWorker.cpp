#include "iafile/MakeUpIAFileWorker.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

#include "iafile/RiaBaseFile.h"
#include "port/Port.h"
#include "service/PathHelpers.h"
#include "service/RecordExport.h"

namespace {

// Longest "<ia>/<unit>_<IP file name>" before the extension is cut off.
const std::string::size_type kMaxIaBaseName = 258;

bool IsIntervalType(std::int32_t t) {
  if (t == 2 || t == 19 || t == 20) return true;
  const std::int32_t thousands = t / 1000;
  return thousands == 2 || thousands == 3 || thousands == 4 || thousands == 5 ||
         thousands == 10;
}

int ReadCounter(const std::string& path) {
  int n = 1;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    unsigned char b[4];
    if (std::fread(b, 1, 4, file) == 4) {
      n = static_cast<int>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                           static_cast<std::uint32_t>(b[2]) << 16 |
                           static_cast<std::uint32_t>(b[3]) << 24);
    }
    std::fclose(file);
  }
  return n < 1 ? 1 : n;  // a damaged counter restarts the day's numbers
}

void WriteCounter(const std::string& path, int n) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;  // not kept; free numbers are searched anyway
  const std::uint32_t v = static_cast<std::uint32_t>(n);
  const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                              static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 24)};
  std::fwrite(b, 1, 4, file);
  std::fclose(file);
}

}  // namespace

MakeUpIAFileWorker::MakeUpIAFileWorker(int renameLimitMs, int renameStepMs)
    : virtualdbDir(VirtualDbDir()),
      stopping(false),
      renameLimitMs(renameLimitMs),
      renameStepMs(renameStepMs) {}

void MakeUpIAFileWorker::run() {}

void MakeUpIAFileWorker::Stop() { stopping = true; }

void MakeUpIAFileWorker::SetPaths(std::string, std::string upPath) {
  if (!upPath.empty()) iaPath = upPath;
}

void MakeUpIAFileWorker::SetUnitIdentity(std::string identity) {
  if (!identity.empty()) unitIdentity = identity;
}

bool MakeUpIAFileWorker::MakeUpIAFile(const char* sourcePath, const char* iaFilePath,
                                      const std::list<std::string>& sourceFiles) {
  if (sourcePath == nullptr || iaFilePath == nullptr) return false;

  std::map<std::string, std::list<VirtualIdRecord> > groups;
  for (std::list<std::string>::const_iterator path = sourceFiles.begin();
       path != sourceFiles.end(); ++path) {
    std::vector<VirtualIdRecord> records;
    if (!ReadRecords(*path, &records)) return false;
    for (std::size_t i = 0; i < records.size(); ++i)
      groups[GetGroupKey(records[i])].push_back(records[i]);
  }

  selected.clear();
  for (std::map<std::string, std::list<VirtualIdRecord> >::iterator group = groups.begin();
       group != groups.end(); ++group)
    SelectRecords(group->second);

  // A unit identity too short to split still makes the file: its records
  // must not be lost; the head is what there is and the tail is empty.
  const std::string::size_type headLength = unitIdentity.size() < 2 ? unitIdentity.size() : 2;
  const std::string head = unitIdentity.substr(0, headLength);
  const std::string tail = unitIdentity.substr(headLength);

  const std::string tmpPath = std::string(sourcePath) + "_tmp";
  std::remove(tmpPath.c_str());
  for (std::list<VirtualIdRecord>::const_iterator record = selected.begin();
       record != selected.end(); ++record) {
    if (tagSepExporttoFile(tmpPath.c_str(), unitIdentity.c_str(), head.c_str(), tail.c_str(),
                           record->bytes, static_cast<int>(rec::kSize)) != 0) {
      // An IA file missing records must not replace its source: the source
      // stays and is made again later.
      std::remove(tmpPath.c_str());
      return false;
    }
  }
  return PlaceIAFile(tmpPath, iaFilePath);
}

// Renames the temporary file onto the IA file. A rename that keeps failing
// (an IA directory that was removed, a full or read-only volume) is given up
// after the limit instead of holding the list thread for ever.
bool MakeUpIAFileWorker::PlaceIAFile(const std::string& tmpPath, const std::string& iaFilePath) {
  const std::chrono::steady_clock::time_point deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(renameLimitMs);
  for (;;) {
    if (!port::PathExists(tmpPath)) return true;  // nothing was exported
    if (RenameReplace(tmpPath.c_str(), iaFilePath.c_str()) == 0) return true;
    MakeDirs(iaFilePath.c_str());  // the directory may have gone missing
    if (std::chrono::steady_clock::now() >= deadline) {
      std::remove(tmpPath.c_str());  // its source stays and is made again later
      return false;
    }
    port::SleepMs(renameStepMs);
  }
}

void MakeUpIAFileWorker::SelectRecords(std::list<VirtualIdRecord>& group) {
  if (group.empty()) return;
  std::list<VirtualIdRecord>::iterator first = group.begin();
  std::list<VirtualIdRecord>::iterator earliest = first;
  std::list<VirtualIdRecord>::iterator latest = first;
  for (std::list<VirtualIdRecord>::iterator r = group.begin(); r != group.end(); ++r) {
    const std::int32_t t = r->InfoType();
    if (t / 1000 == 1) {
      if (r->BeginTime() < first->BeginTime()) first->SetInt(rec::kBeginTime, r->BeginTime());
      if (r->EndTime() > first->EndTime()) first->SetInt(rec::kEndTime, r->EndTime());
    } else if (IsIntervalType(t) || t == 3 || t == 4) {
      const std::size_t begin = IsIntervalType(t) ? rec::kBeginTime : rec::kAltBeginTime;
      const std::size_t end = IsIntervalType(t) ? rec::kEndTime : rec::kAltEndTime;
      if (r->Int(begin) < earliest->Int(begin)) earliest = r;
      else if (r->Int(end) > latest->Int(end)) latest = r;
    } else if (t == rec::kSeatInfoType) {
      if (r->LogoffTime() != r->LogonTime() && r->LogoffTime() != -1) earliest = latest = r;
    }
  }
  selected.push_back(*earliest);
  if (latest != earliest) selected.push_back(*latest);
}

void MakeUpIAFileWorker::MakeUpIPFile(std::string filePath, std::string fileName,
                                      std::string dayStamp) {
  // Without an IA output directory there is nowhere to put the file: the IP
  // file stays until one is configured.
  if (iaPath.empty()) return;
  const std::string counterPath = virtualdbDir + dayStamp + "_iaFileNum.dat";
  int n = ReadCounter(counterPath);

  std::string base = JoinPath(iaPath, unitIdentity + "_" + fileName);
  if (base.size() > kMaxIaBaseName) base.resize(kMaxIaBaseName);
  const std::string::size_type dot = base.rfind('.');
  if (dot == std::string::npos) return;
  base.erase(dot);

  // An IA file already there keeps its number, whatever the counter says
  // (a counter that could not be written must not cost a finished file).
  std::string name;
  for (;; ++n) {
    name = base + "_" + std::to_string(n) + ".ria";
    if (!port::PathExists(name)) break;
  }

  std::list<std::string> sources(1, filePath);
  if (!MakeUpIAFile(filePath.c_str(), name.c_str(), sources)) return;
  std::remove(filePath.c_str());
  WriteCounter(counterPath, n + 1);
}
