#include "iafile/MakeUpIAFileWorker.h"

#include <map>
#include <vector>

#include "RecordExport.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "port/Coding.h"
#include "record/RiaBaseFile.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

bool IsIntervalType(std::int32_t t) {
  if (t == 2 || t == 19 || t == 20) return true;
  const std::int32_t thousands = t / 1000;
  return thousands == 2 || thousands == 3 || thousands == 4 || thousands == 5 ||
         thousands == 10;
}

// The day's counter: the next IA-file number, 32-bit little-endian.
int ReadCounter(port::Env* env, const std::string& path) {
  int n = 1;
  std::string content;
  if (port::ReadFileToString(env, path, &content).ok() && content.size() >= 4)
    n = static_cast<int>(
        port::DecodeFixed32LE(reinterpret_cast<const unsigned char*>(content.data())));
  return n < 1 ? 1 : n;  // a damaged counter restarts the day's numbers
}

void WriteCounter(port::Env* env, const std::string& path, int n, bool durable) {
  std::unique_ptr<port::File> file;
  // Not kept when it cannot be written; free numbers are searched anyway.
  if (!env->OpenFile(path, port::File::kTruncate, &file).ok()) return;
  unsigned char bytes[4];
  port::EncodeFixed32LE(bytes, static_cast<std::uint32_t>(n));
  std::size_t written = 0;
  if (file->Write(bytes, sizeof bytes, 0, &written).ok() && durable) file->Sync();
  file->Close();
}

// The number n of an IA file's name "..._<n>.ria"; 0 when it has none.
int NumberOfIaFile(const std::string& path) {
  const std::string::size_type end = path.rfind(tessel::kIaFileExtension);
  const std::string::size_type start = path.rfind('_', end);
  if (end == std::string::npos || start == std::string::npos) return 0;
  return tessel::AtoiText(path.substr(start + 1, end - start - 1));
}

// Writes the hand-off note: the IA file's path.
bool WriteHandOff(port::Env* env, const std::string& path, const std::string& iaFile,
                  bool durable) {
  std::unique_ptr<port::File> file;
  if (!env->OpenFile(path, port::File::kTruncate, &file).ok()) return false;
  std::size_t written = 0;
  port::Status status = file->Write(iaFile.data(), iaFile.size(), 0, &written);
  if (status.ok() && durable) status = file->Sync();
  const port::Status closed = file->Close();
  if (status.ok() && durable) status = env->SyncDir(tessel::DirOf(path));
  return status.ok() && closed.ok();
}

}  // namespace

MakeUpIAFileWorker::MakeUpIAFileWorker(const tessel::SiteContext& site, int renameLimitMs,
                                       int renameStepMs, bool durable)
    : env(site.env),
      virtualdbDir(site.VirtualDbDir()),
      stopping(site.env),
      renameLimitMs(renameLimitMs),
      renameStepMs(renameStepMs),
      durable(durable) {}

void MakeUpIAFileWorker::Stop() { stopping.Raise(); }

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
    if (!tessel::ReadRecords(env, *path, &records).ok()) return false;
    for (std::size_t i = 0; i < records.size(); ++i)
      groups[tessel::GetGroupKey(records[i])].push_back(records[i]);
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
  env->RemoveFile(tmpPath);
  for (std::list<VirtualIdRecord>::const_iterator record = selected.begin();
       record != selected.end(); ++record) {
    if (tagSepExporttoFile(tmpPath.c_str(), unitIdentity.c_str(), head.c_str(), tail.c_str(),
                           record->bytes, static_cast<int>(rec::kSize)) != 0) {
      // An IA file missing records must not replace its source: the source
      // stays and is made again later.
      env->RemoveFile(tmpPath);
      return false;
    }
  }
  return PlaceIAFile(tmpPath, iaFilePath);
}

// Renames the temporary file onto the IA file. A rename that keeps failing
// (an IA directory that was removed, a full or read-only volume) is given up
// after the limit instead of holding the list thread for ever.
bool MakeUpIAFileWorker::PlaceIAFile(const std::string& tmpPath, const std::string& iaFilePath) {
  if (!env->FileExists(tmpPath)) return true;  // nothing was exported
  if (durable) {
    // The export library wrote it; its bytes reach the disk before its name.
    std::unique_ptr<port::File> file;
    port::Status status = env->OpenFile(tmpPath, port::File::kUpdate, &file);
    if (status.ok()) status = file->Sync();
    if (!status.ok()) {
      env->RemoveFile(tmpPath);
      return false;
    }
  }
  const std::int64_t deadline = env->NowMillis() + renameLimitMs;
  for (;;) {
    if (RenameReplace(tmpPath.c_str(), iaFilePath.c_str(), env) == 0)
      return !durable || env->SyncDir(tessel::DirOf(iaFilePath)).ok();
    MakeDirs(iaFilePath.c_str(), env);  // the directory may have gone missing
    if (env->NowMillis() >= deadline) {
      env->RemoveFile(tmpPath);  // its source stays and is made again later
      return false;
    }
    env->SleepMs(renameStepMs);
  }
}

void MakeUpIAFileWorker::SelectRecords(std::list<VirtualIdRecord>& group) {
  if (group.empty()) return;
  std::list<VirtualIdRecord>::iterator first = group.begin();
  std::list<VirtualIdRecord>::iterator earliest = first;
  std::list<VirtualIdRecord>::iterator latest = first;
  for (std::list<VirtualIdRecord>::iterator r = group.begin(); r != group.end(); ++r) {
    const std::int32_t t = r->InfoType();
    if (tessel::IsInImThousand(t)) {
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
  const std::string counterPath = tessel::IaCounterFileName(virtualdbDir, dayStamp);
  int n = ReadCounter(env, counterPath);

  // An IA file already there keeps its number, whatever the counter says
  // (a counter that could not be written must not cost a finished file).
  std::string name;
  for (;; ++n) {
    if (!tessel::IaFileName(iaPath, unitIdentity, fileName, n, &name)) return;
    if (!env->FileExists(name)) break;
  }

  const std::string note = tessel::HandOffFileName(filePath);
  if (!WriteHandOff(env, note, name, durable)) {
    env->RemoveFile(note);
    return;  // the IP file stays for the seat's next log-off
  }
  std::list<std::string> sources(1, filePath);
  if (!MakeUpIAFile(filePath.c_str(), name.c_str(), sources) && !env->FileExists(name)) {
    env->RemoveFile(note);
    return;
  }
  Finish(filePath, counterPath, n);
}

void MakeUpIAFileWorker::Finish(const std::string& filePath, const std::string& counterPath,
                                int n) {
  env->RemoveFile(filePath);
  if (ReadCounter(env, counterPath) <= n) WriteCounter(env, counterPath, n + 1, durable);
  env->RemoveFile(tessel::HandOffFileName(filePath));
  if (durable) env->SyncDir(tessel::DirOf(filePath));
}

void MakeUpIAFileWorker::FinishHandOffs() {
  std::vector<std::string> names;
  if (!env->GetChildren(virtualdbDir, &names).ok()) return;
  for (const std::string& name : names) {
    if (!tessel::IsHandOffFileName(name)) continue;
    const std::string note = tessel::JoinPath(virtualdbDir, name);
    const std::size_t noteExtension = sizeof tessel::kHandOffExtension - 1;
    const std::string filePath = note.substr(0, note.size() - noteExtension);
    const std::string fileName = name.substr(0, name.size() - noteExtension);
    std::string dayStamp, iaFile;
    if (!tessel::ParseIpFileName(fileName, &dayStamp)) continue;
    port::ReadFileToString(env, note, &iaFile);
    if (!iaFile.empty() && env->FileExists(iaFile)) {
      // In place before the crash: only the IP file is left to let go. (An
      // IA file collected in the moment between its rename and this note's
      // removal cannot be told from one never made, and is made again.)
      Finish(filePath, tessel::IaCounterFileName(virtualdbDir, dayStamp), NumberOfIaFile(iaFile));
      continue;
    }
    env->RemoveFile(note);
    if (env->FileExists(filePath)) MakeUpIPFile(filePath, fileName, dayStamp);
  }
}
