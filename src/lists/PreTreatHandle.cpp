#include "lists/PreTreatHandle.h"

#include <cstring>

#include "common/Console.h"
#include "common/GbkTexts.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "record/DayStamp.h"
#include "record/RiaBaseFile.h"

namespace port = tessel::port;
namespace rec = tessel::rec;
namespace gbk = tessel::gbk;
using tessel::ConsolePrintf;
using tessel::LogLine;

namespace {

// Of the prefix, at most this many characters begin a keyword.
const std::size_t kKeywordPrefixWidth = 63;
// A prefix text handed to GetLogonTime is read up to this many characters.
const std::size_t kMaxLogonTimePrefix = 259;
// Expired keywords are looked for at most this often.
const std::time_t kExpiryCheckSeconds = 60;

int OutputFlag(int kind) { return kind == REALNAME_LOGOFF || kind == IM_LOGOFF ? 0 : 1; }

}  // namespace

preTreatHandle::preTreatHandle(int drainIntervalMs, port::Env* env,
                               const tessel::WriteOptions& options)
    : IPListVirtualIDInfo(drainIntervalMs, env, options),
      iaFileWorker(nullptr),
      store(env, tessel::KeywordStoreFileName(VirtualDbDir())),
      files(env) {
  OpenIntakeJournal(VirtualDbDir());
}

int preTreatHandle::Initialize() { return LoadVirtualDB(); }

std::string& preTreatHandle::MakeKeyword(const VirtualIdRecord& record, std::string& out) {
  out = record.Prefix().substr(0, kKeywordPrefixWidth);
  if (!out.empty()) out.erase(out.size() - 1);  // the prefix's closing underscore
  const std::int32_t infoType = record.InfoType();
  out += "_" + std::to_string(infoType);
  out += "_" + record.Text(rec::kAccount, rec::kSeatAccountWidth);
  out += "_" + std::to_string(tessel::IsInImThousand(infoType) ? record.BeginTime() : 0);
  return out;
}

std::string preTreatHandle::KeywordOf(VirtualIdRecord record) {
  std::string keyword;
  MakeKeyword(record, keyword);
  return keyword + "_" + std::to_string(OutputFlag(GetNetLogKind(record)));
}

void preTreatHandle::PutNetLogToP2P(VirtualIdRecord& record, int flag) {
  record.SetInt(rec::kInputFlag, flag);
  std::string keyword;
  MakeKeyword(record, keyword);
  const int logonBefore = record.LogonTime();
  const int logoffBefore = record.LogoffTime();
  const int kind = GetNetLogKind(record);
  const int outputFlag = OutputFlag(kind);
  keyword += "_" + std::to_string(outputFlag);

  // Written already, or about to be.
  if (sentKeywords.count(keyword) != 0 || queuedKeywords.count(keyword) != 0) return;
  ConsolePrintf(
      "preTreatHandle::PutNetLogToP2P -- keyword : %s; Input Flag:%d,Info Type:%d,Output "
      "Flag:%d, %s:%d,%s:%d;%s:%d,%s:%d.\r\n",
      keyword.c_str(), flag, kind, outputFlag, gbk::kLogonTimeWord, record.LogonTime(),
      gbk::kLogoffTimeWord, record.LogoffTime(), gbk::kLogonTimeWord, logonBefore,
      gbk::kLogoffTimeWord, logoffBefore);

  // Information put off is never written, and stays unknown as a keyword.
  if (kind == OTHER_INFO && flag == 0) return;

  queuedWrites.push_back(QueuedWrite{record, keyword});
  queuedKeywords.insert(keyword);
  // Within a pass the queue is written when the pass ends; a direct call
  // writes at once.
  if (!InPass()) WriteQueued();
}

bool preTreatHandle::FinishPass() {
  const bool stored = WriteQueued();
  ExpireKeywordsIfDue();
  return stored;
}

bool preTreatHandle::WriteQueued() {
  std::size_t sinceSave = 0;
  while (!queuedWrites.empty()) {
    QueuedWrite& next = queuedWrites.front();
    if (WriteRiaBase(next.record) != 1) break;  // tried again by the next pass
    queuedKeywords.erase(next.keyword);
    Written(next.record, next.keyword);
    queuedWrites.pop_front();
    if (++sinceSave == kSaveEvery) {
      SaveVirtualDB();
      sinceSave = 0;
    }
  }
  SaveVirtualDB();
  files.CloseAll();
  return queuedWrites.empty();
}

void preTreatHandle::Written(const VirtualIdRecord& record, const std::string& keyword) {
  const std::pair<std::set<std::string>::iterator, bool> added = sentKeywords.insert(keyword);
  if (!added.second) return;
  expiry.Track(added.first);
  unsavedKeywords.push_back(keyword);
  VirtualIdRecord copy = record;
  if (GetNetLogKind(copy) != REALNAME_LOGOFF || iaFileWorker == nullptr) return;
  std::string path, name, dayStamp;
  if (!IpFileOf(record, VirtualDbDir(), &path, &name, &dayStamp)) return;
  // The keyword is saved before the IP file goes: a crash in between must
  // not make the log-off look unwritten, or it would be written again into
  // an IP file of its own.
  SaveVirtualDB();
  files.Close(path);
  iaFileWorker->MakeUpIPFile(path, name, dayStamp);
}

void preTreatHandle::SetIAFileWorker(MakeUpIAFileWorker* worker) { iaFileWorker = worker; }

int preTreatHandle::LoadVirtualDB() {
  std::set<std::string> loaded;
  const int result = store.Open(env->NowSeconds(), &loaded);
  for (const std::string& keyword : loaded) {
    const std::pair<std::set<std::string>::iterator, bool> added = sentKeywords.insert(keyword);
    if (added.second) expiry.Track(added.first);
  }
  lastExpiry = env->NowSeconds();
  TakeBackUnkeptRecords();
  return result;
}

int preTreatHandle::SaveVirtualDB() {
  const port::Status status = store.Append(unsavedKeywords);
  if (status.ok()) unsavedKeywords.clear();
  if (status.ok() == storeFailing) {
    storeFailing = !status.ok();
    if (storeFailing)
      LogLine("cannot save keywords (%s); they are kept in memory and saved later",
              status.ToString().c_str());
    else
      LogLine("keywords saved again");
  }
  return status.ok() ? 0 : -1;
}

void preTreatHandle::TakeBackUnkeptRecords() {
  const std::string directory = VirtualDbDir();
  const std::time_t now = env->NowSeconds();
  std::size_t takenBack = 0;
  for (std::time_t day : {tessel::LocalMidnight(now) - 1, now}) {
    tessel::RiaBaseReader reader(env);
    if (!reader.Open(tessel::DayFileName(directory, tessel::DayStamp(day))).ok()) continue;
    reader.Look(false);
    const std::uint64_t records = reader.size() / rec::kSize;
    VirtualIdRecord record;
    for (std::uint64_t i = records > kRecoveryWindow ? records - kRecoveryWindow : 0;
         reader.ReadAt(i * rec::kSize, &record); ++i) {
      const std::string keyword = KeywordOf(record);
      if (sentKeywords.count(keyword) != 0 || !tessel::keywordstore::IsCurrent(keyword, now))
        continue;
      // Its IP file may lack it; a second copy there does no harm.
      WriteIPRiaBase(record, directory);
      Written(record, keyword);
      ++takenBack;
    }
  }
  SaveVirtualDB();
  files.CloseAll();
  if (takenBack > 0)
    LogLine("%zu records stored before a stop had no keyword yet; their keywords are saved now",
            takenBack);
}

void preTreatHandle::ExpireKeywordsIfDue() {
  const std::time_t now = env->NowSeconds();
  if (now - lastExpiry < kExpiryCheckSeconds) return;
  lastExpiry = now;
  expiry.Expire(&sentKeywords, now);
  // Keywords waiting to be saved would be written twice by a rewrite.
  if (unsavedKeywords.empty()) store.CompactIfDue(sentKeywords);
}

void preTreatHandle::NoteWriteResult(const port::Status& status, const std::string& path) {
  if (status.ok() == failingFile.empty()) return;
  if (!status.ok()) {
    failingFile = path;
    LogLine("records cannot be stored (%s); they wait and are tried again every pass (%zu now)",
            status.ToString().c_str(), queuedWrites.size());
  } else {
    LogLine("records are stored again in %s", failingFile.c_str());
    failingFile.clear();
  }
}

int preTreatHandle::WriteRiaBase(VirtualIdRecord& record) {
  const std::string directory = VirtualDbDir();
  const std::string dayFile =
      tessel::DayFileName(directory, tessel::DayStamp(env->NowSeconds()));
  const port::Status status = files.Append(dayFile, record);
  NoteWriteResult(status, dayFile);
  if (!status.ok()) return 0;
  WriteIPRiaBase(record, directory);
  return 1;
}

bool preTreatHandle::IpFileOf(const VirtualIdRecord& record, const std::string& directory,
                              std::string* path, std::string* name, std::string* dayStamp) {
  const std::string prefix = record.Prefix();
  std::string ipKey;
  if (!tessel::GetIpKey(prefix, &ipKey) || !tessel::IsSafeNamePart(ipKey)) return false;
  std::time_t seatTime = GetLogonTime(prefix.c_str());
  if (seatTime == 0) seatTime = env->NowSeconds();
  *dayStamp = tessel::DayStamp(seatTime);
  *name = tessel::IpFileBaseName(*dayStamp, ipKey);
  *path = tessel::JoinPath(directory, *name);
  return true;
}

int preTreatHandle::WriteIPRiaBase(VirtualIdRecord& record, const std::string& directory) {
  std::string ipKey;
  if (tessel::GetIpKey(record.Prefix(), &ipKey) && !tessel::IsSafeNamePart(ipKey)) {
    // What a client sent must never name a file: the record stays in the
    // day file only, and its seat gets no IP file and no IA file from it.
    LogLine("a record of IP key \"%s\" is in the day file only: the key cannot be part of a "
            "file name",
            tessel::Printable(ipKey).c_str());
    return 0;
  }
  std::string path, name, dayStamp;
  if (!IpFileOf(record, directory, &path, &name, &dayStamp)) return 0;
  return files.Append(path, record).ok() ? 1 : 0;
}

int preTreatHandle::GetLogonTime(const char* prefix) {
  if (prefix == nullptr) return 0;
  return tessel::GetTimeKey(std::string(prefix, ::strnlen(prefix, kMaxLogonTimePrefix)));
}
