#include "iafile/MakeUpIAFileWorker.h"

#include <cerrno>
#include <map>
#include <vector>

#include "RecordExport.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "port/Coding.h"
#include "iafile/HandOffNote.h"
#include "record/RiaBaseFile.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

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

// The latest seat log-on time of an IP file: its last record's (records of
// a seat come in order); 0 when it has none.
std::time_t LatestSeatTime(port::Env* env, const std::string& path) {
  tessel::RiaBaseReader reader(env);
  VirtualIdRecord last;
  if (!reader.Open(path).ok()) return 0;
  reader.Look(false);
  const std::uint64_t whole = reader.size() / rec::kSize * rec::kSize;
  if (whole == 0 || !reader.ReadAt(whole - rec::kSize, &last)) return 0;
  return tessel::GetTimeKey(last.Prefix());
}

}  // namespace

MakeUpIAFileWorker::MakeUpIAFileWorker(const tessel::SiteContext& site, bool durable)
    : env(site.env), virtualdbDir(site.VirtualDbDir()), stopping(site.env), durable(durable) {}

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
  return MakeIAFile(sourcePath, iaFilePath, sourceFiles).ok();
}

port::Status MakeUpIAFileWorker::MakeIAFile(const std::string& sourcePath,
                                            const std::string& iaFilePath,
                                            const std::list<std::string>& sourceFiles) {
  std::map<std::string, std::list<VirtualIdRecord> > groups;
  for (const std::string& path : sourceFiles) {
    std::vector<VirtualIdRecord> records;
    const port::Status read = tessel::ReadRecords(env, path, &records);
    if (!read.ok()) return read;
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

  const std::string tmpPath = tessel::IaTempFileName(sourcePath);
  env->RemoveFile(tmpPath);
  for (std::list<VirtualIdRecord>::const_iterator record = selected.begin();
       record != selected.end(); ++record) {
    if (tagSepExporttoFile(tmpPath.c_str(), unitIdentity.c_str(), head.c_str(), tail.c_str(),
                           record->bytes, static_cast<int>(rec::kSize)) != 0) {
      // An IA file missing records must not replace its source: the source
      // stays and is made again later.
      env->RemoveFile(tmpPath);
      return port::Status::Refused("the record export library could not add a record to " +
                                   tmpPath);
    }
  }
  return PlaceIAFile(tmpPath, iaFilePath);
}

// Renames the temporary file onto the IA file, once (and once more after
// making a missing IA directory). A rename that fails (a directory that
// cannot be written, a full or read-only volume) is told at once: the
// caller tries again at its next pass rather than waiting here.
port::Status MakeUpIAFileWorker::PlaceIAFile(const std::string& tmpPath,
                                             const std::string& iaFilePath) {
  if (!env->FileExists(tmpPath)) return port::Status::OK();  // nothing was exported
  if (durable) {
    // The export library wrote it; its bytes reach the disk before its name.
    std::unique_ptr<port::File> file;
    port::Status status = env->OpenFile(tmpPath, port::File::kUpdate, &file);
    if (status.ok()) status = file->Sync();
    if (!status.ok()) {
      env->RemoveFile(tmpPath);
      return status;
    }
  }
  // A rename that may copy: the IA directory may be on another volume.
  int renamed = RenameReplace(tmpPath.c_str(), iaFilePath.c_str(), env);
  if (renamed != 0) {
    MakeDirs(iaFilePath.c_str(), env);  // the directory may have gone missing
    renamed = RenameReplace(tmpPath.c_str(), iaFilePath.c_str(), env);
  }
  if (renamed != 0) {
    const int error = errno;
    const port::Status failed = port::Status::Error(error, "rename " + tmpPath + " to " + iaFilePath);
    env->RemoveFile(tmpPath);  // its source stays and is made again later
    return failed;
  }
  return durable ? env->SyncDir(tessel::DirOf(iaFilePath)) : port::Status::OK();
}

void MakeUpIAFileWorker::SelectRecords(std::list<VirtualIdRecord>& group) {
  if (group.empty()) return;
  std::list<VirtualIdRecord>::iterator first = group.begin();
  std::list<VirtualIdRecord>::iterator earliest = first;
  std::list<VirtualIdRecord>::iterator latest = first;
  for (std::list<VirtualIdRecord>::iterator r = group.begin(); r != group.end(); ++r) {
    const tessel::IaChoice choice = tessel::InfoTypeOf(r->InfoType()).iaChoice;
    switch (choice) {
      case tessel::IaChoice::kMergedTimes:
        if (r->BeginTime() < first->BeginTime()) first->SetInt(rec::kBeginTime, r->BeginTime());
        if (r->EndTime() > first->EndTime()) first->SetInt(rec::kEndTime, r->EndTime());
        break;
      case tessel::IaChoice::kInterval:
      case tessel::IaChoice::kAltInterval: {
        const bool alt = choice == tessel::IaChoice::kAltInterval;
        const std::size_t begin = alt ? rec::kAltBeginTime : rec::kBeginTime;
        const std::size_t end = alt ? rec::kAltEndTime : rec::kEndTime;
        if (r->Int(begin) < earliest->Int(begin)) earliest = r;
        else if (r->Int(end) > latest->Int(end)) latest = r;
        break;
      }
      case tessel::IaChoice::kLastLogoff:
        if (r->LogoffTime() != r->LogonTime() && r->LogoffTime() != -1) earliest = latest = r;
        break;
      case tessel::IaChoice::kFirst:
        break;
    }
  }
  selected.push_back(*earliest);
  if (latest != earliest) selected.push_back(*latest);
}

void MakeUpIAFileWorker::MakeUpIPFile(std::string filePath, std::string fileName,
                                      std::string dayStamp) {
  HandOver(filePath, fileName, dayStamp);
}

port::Status MakeUpIAFileWorker::HandOver(const std::string& filePath,
                                          const std::string& fileName,
                                          const std::string& dayStamp) {
  // Without an IA output directory there is nowhere to put the file.
  if (iaPath.empty())
    return port::Status::Refused("no IA output directory is set (tesselServiceIA.upPath)");
  const std::string counterPath = tessel::IaCounterFileName(virtualdbDir, dayStamp);
  int n = ReadCounter(env, counterPath);

  // An IA file already there keeps its number, whatever the counter says
  // (a counter that could not be written must not cost a finished file).
  tessel::HandOffNote note;
  for (;; ++n) {
    if (!tessel::IaFileName(iaPath, unitIdentity, fileName, n, &note.iaFile))
      return port::Status::Refused("the IA file of " + fileName + " in " + iaPath +
                                   " would have a name too long to be made");
    if (!env->FileExists(note.iaFile)) break;
  }
  note.seatTime = LatestSeatTime(env, filePath);

  const std::string notePath = tessel::HandOffFileName(filePath);
  port::Status status = tessel::WriteHandOffNote(env, notePath, note, durable);
  if (status.ok()) {
    status = MakeIAFile(filePath, note.iaFile, std::list<std::string>(1, filePath));
    if (!status.ok() && env->FileExists(note.iaFile)) status = port::Status::OK();
  }
  if (!status.ok()) {
    env->RemoveFile(notePath);
    return status;  // the IP file stays for another try
  }
  Finish(filePath, counterPath, n);
  return port::Status::OK();
}

void MakeUpIAFileWorker::Finish(const std::string& filePath, const std::string& counterPath,
                                int n) {
  env->RemoveFile(filePath);
  if (ReadCounter(env, counterPath) <= n) WriteCounter(env, counterPath, n + 1, durable);
  env->RenameFile(tessel::HandOffFileName(filePath), tessel::HandedFileName(filePath));
  if (durable) env->SyncDir(tessel::DirOf(filePath));
}

void MakeUpIAFileWorker::FinishHandOffs() {
  std::vector<std::string> names;
  if (!env->GetChildren(virtualdbDir, &names).ok()) return;
  for (const std::string& name : names) {
    tessel::SiteFile file;
    if (!tessel::ParseFileName(name, &file) || file.type != tessel::SiteFileType::kHandOffNote)
      continue;
    const std::string notePath = tessel::JoinPath(virtualdbDir, name);
    const std::string fileName = tessel::IpFileBaseName(file.dayStamp, file.ipKey);
    const std::string filePath = tessel::JoinPath(virtualdbDir, fileName);
    const std::string& dayStamp = file.dayStamp;
    tessel::HandOffNote note;
    tessel::ReadHandOffNote(env, notePath, &note);
    if (!env->FileExists(filePath)) {
      // Its IP file goes only once its IA file is in place (and the IA file
      // may have been collected since): done.
      env->RenameFile(notePath, tessel::HandedFileName(filePath));
      continue;
    }
    if (!note.iaFile.empty() && env->FileExists(note.iaFile)) {
      // In place before the crash: only the IP file is left to let go. (An
      // IA file collected in the moment between its rename and the IP
      // file's removal cannot be told from one never made, and is made
      // again.)
      Finish(filePath, tessel::IaCounterFileName(virtualdbDir, dayStamp),
             NumberOfIaFile(note.iaFile));
      continue;
    }
    env->RemoveFile(notePath);
    HandOver(filePath, fileName, dayStamp);
  }
}
