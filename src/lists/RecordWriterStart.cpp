// The write side at start: the files put in order after a stop or a crash
// (see RecordWriter.h), and the reconciling of the records that come back.
#include "lists/RecordWriter.h"

#include "common/Console.h"
#include "common/SiteFiles.h"
#include "iafile/HandOffNote.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "record/DayStamp.h"
#include "record/Keyword.h"
#include "record/RiaBaseFile.h"

namespace tessel {

void RecordWriter::CutTornTails() {
  const std::time_t now = env_->NowSeconds();
  std::vector<std::string> paths = {DayFileName(dir_, DayStamp(LocalMidnight(now) - 1)),
                                    DayFileName(dir_, DayStamp(now))};
  std::vector<std::string> names;
  env_->GetChildren(dir_, &names);
  SiteFile file;
  for (const std::string& name : names)
    if (ParseFileName(name, &file) && file.type == SiteFileType::kIpFile)
      paths.push_back(JoinPath(dir_, name));
  for (const std::string& path : paths) {
    std::uint64_t cut = 0;
    const port::Status status = CutToWholeRecords(env_, path, &cut);
    if (!status.ok())
      LogLine("cannot cut %s back to whole records (%s)", path.c_str(), status.ToString().c_str());
    else if (cut > 0)
      LogLine("%s ended in %llu bytes of a record cut short by a crash; they are cut off",
              path.c_str(), static_cast<unsigned long long>(cut));
  }
}

port::Status RecordWriter::Open() {
  const std::time_t now = env_->NowSeconds();
  if (worker_ != nullptr) {
    worker_->FinishHandOffs();
    if (!worker_->CanMakeIAFiles())
      faults_.Standing(kIaDirectoryOutput, "",
                       "tesselServiceIA.upPath is not set: no IA file can be made, and the IP "
                       "files of seats logged off stay in virtualdb");
  }
  ReadHandedNotes();
  reconciling_ = true;
  const port::Status loaded = store_.Open(now, &known_);
  lastExpiry_ = now;
  if (loaded.ok()) {
    TakeBack();
  } else {
    // Without the store nothing tells which records of the day files were
    // kept: none is taken back. A store made now lets the next start tell.
    const bool storedBefore =
        env_->FileExists(DayFileName(dir_, DayStamp(now))) ||
        env_->FileExists(DayFileName(dir_, DayStamp(LocalMidnight(now) - 1)));
    if (storedBefore || !loaded.IsNotFound())
      LogLine("the keyword store cannot be read (%s); the records stored before this start are "
              "not looked at again, and one sent again is written again",
              loaded.ToString().c_str());
    if (loaded.IsNotFound()) store_.Create();
  }
  AddListedKeywords();
  HandOverClosedSeats();
  WriteQueued();
  return loaded;
}

void RecordWriter::EndReconciling() {
  reconciling_ = false;
  handed_.clear();
  ipKeywords_.clear();
}

void RecordWriter::TakeBack() {
  const std::time_t now = env_->NowSeconds();
  // Records are stored in order and their keywords saved in the same order:
  // those after the last keyword the store holds were stored without
  // theirs. The day files are read from their end back to it.
  const std::time_t days[] = {LocalMidnight(now) - 1, now};
  int fromDay = 0;
  std::uint64_t fromRecord = 0;
  bool found = false;
  for (int day = 1; day >= 0 && !found; --day) {
    RiaBaseReader reader(env_);
    if (!reader.Open(DayFileName(dir_, DayStamp(days[day]))).ok()) continue;
    reader.Look(false);
    VirtualIdRecord record;
    for (std::uint64_t i = reader.size() / rec::kSize; i-- > 0;) {
      if (!reader.ReadAt(i * rec::kSize, &record)) continue;
      const std::string keyword = KeywordOf(record);
      if (!keywordstore::IsCurrent(keyword, now) || !known_.Contains(KeywordDigest::Of(keyword)))
        continue;
      fromDay = day;
      fromRecord = i + 1;
      found = true;
      break;
    }
  }
  std::size_t takenBack = 0;
  for (int day = fromDay; day <= 1; ++day) {
    RiaBaseReader reader(env_);
    if (!reader.Open(DayFileName(dir_, DayStamp(days[day]))).ok()) continue;
    reader.Look(false);
    VirtualIdRecord record;
    for (std::uint64_t i = day == fromDay ? fromRecord : 0; reader.ReadAt(i * rec::kSize, &record);
         ++i) {
      const std::string keyword = KeywordOf(record);
      if (!keywordstore::IsCurrent(keyword, now)) continue;
      if (!known_.Insert(KeywordDigest::Of(keyword), keywordstore::LeaveMemoryAt(keyword, now)))
        continue;
      // Saved once its IP file has it too.
      const std::uint64_t word = AddWord(keyword);
      VirtualIdRecord copy = record;
      if (!ReconcileWord(record, keyword, GetNetLogKind(copy), word)) written_.push_back(word);
      ++takenBack;
    }
  }
  if (takenBack > 0)
    LogLine("%zu records stored before a stop had no keyword yet; their keywords are saved now",
            takenBack);
}

bool RecordWriter::ReconcileWord(const VirtualIdRecord& record, const std::string& keyword,
                                 int kind, std::uint64_t word) {
  // Only a record written already: one waiting for the day file goes to
  // its IP file after it anyway.
  if (!reconciling_ || !known_.Contains(KeywordDigest::Of(keyword))) return false;
  IpTarget ip;
  if (!IpTargetOf(record, &ip)) return false;
  // Its seat's IP file was made an IA file with this session in it.
  const std::map<std::string, std::time_t>::const_iterator handed = handed_.find(ip.path);
  if (handed != handed_.end() && GetTimeKey(record.Prefix()) <= handed->second) return false;
  // In the file already, or waiting for it.
  if (!KeywordsIn(ip).insert(keyword).second) return false;
  QueueForIpFile(ip, record, HandsOff(kind), false, word);
  return true;
}

std::unordered_set<std::string>& RecordWriter::KeywordsIn(const IpTarget& ip) {
  auto found = ipKeywords_.find(ip.path);
  if (found != ipKeywords_.end()) return found->second;
  std::unordered_set<std::string>& keywords = ipKeywords_[ip.path];
  std::vector<VirtualIdRecord> records;
  ReadRecords(env_, ip.path, &records);
  for (const VirtualIdRecord& record : records) keywords.insert(KeywordOf(record));
  const auto queue = ipQueues_.find(ip.name);
  if (queue != ipQueues_.end())
    for (const IpItem& item : queue->second.items) keywords.insert(KeywordOf(item.record));
  return keywords;
}

void RecordWriter::AddListedKeywords() {
  if (!listed_) return;
  std::vector<std::string> keywords;
  listed_(&keywords);
  const std::time_t now = env_->NowSeconds();
  for (const std::string& keyword : keywords)
    known_.Insert(KeywordDigest::Of(keyword), keywordstore::LeaveMemoryAt(keyword, now));
}

void RecordWriter::ReadHandedNotes() {
  std::vector<std::string> names;
  env_->GetChildren(dir_, &names);
  SiteFile file;
  for (const std::string& name : names) {
    if (!ParseFileName(name, &file) || file.type != SiteFileType::kHandedNote) continue;
    const std::string note = JoinPath(dir_, name);
    HandOffNote read;
    if (!ReadHandOffNote(env_, note, &read).ok()) continue;
    handed_[IpFileName(dir_, file.dayStamp, file.ipKey)] = read.seatTime;
    notesMade_.push_back(note);
  }
}

void RecordWriter::HandOverClosedSeats() {
  if (worker_ == nullptr || !worker_->CanMakeIAFiles()) return;
  std::vector<std::string> names;
  env_->GetChildren(dir_, &names);
  SiteFile file;
  for (const std::string& name : names) {
    if (!ParseFileName(name, &file) || file.type != SiteFileType::kIpFile) continue;
    const std::string path = JoinPath(dir_, name);
    RiaBaseReader reader(env_);
    VirtualIdRecord last;
    if (!reader.Open(path).ok()) continue;
    reader.Look(false);
    if (reader.size() < rec::kSize || !reader.ReadAt(reader.size() - rec::kSize, &last)) continue;
    VirtualIdRecord copy = last;
    // A seat whose log-off was stored, but its IP file was not handed over
    // (a crash came first, or the IA file could not be made).
    if (GetNetLogKind(copy) == REALNAME_LOGOFF &&
        known_.Contains(KeywordDigest::Of(KeywordOf(last))))
      QueueForIpFile(IpTarget{path, name, file.dayStamp}, last, true, true);
  }
}

}  // namespace tessel
