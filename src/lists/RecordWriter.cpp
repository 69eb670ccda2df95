#include "lists/RecordWriter.h"

#include <set>

#include "common/Console.h"
#include "common/SiteFiles.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "record/DayStamp.h"
#include "record/Keyword.h"
#include "record/RiaBaseFile.h"

namespace tessel {

namespace {

// Records of today's and yesterday's day file looked at, from their end,
// for keywords a stop left unsaved.
const std::size_t kTakeBackWindow = 1024;
// Expired keywords are looked for at most this often.
const std::time_t kExpiryCheckSeconds = 60;

std::string Bytes(const VirtualIdRecord& record) {
  return std::string(reinterpret_cast<const char*>(record.bytes), rec::kSize);
}

}  // namespace

RecordWriter::RecordWriter(port::Env* env, const std::string& dir, const WriteOptions& options)
    : env_(env),
      dir_(dir),
      durable_(options.durability == Durability::kPower),
      store_(env, KeywordStoreFileName(dir), durable_),
      files_(env, durable_) {}

bool RecordWriter::Knows(const std::string& keyword) const {
  const KeywordDigest digest = KeywordDigest::Of(keyword);
  return known_.Contains(digest) || queued_.Contains(digest);
}

bool RecordWriter::IpFileOf(const VirtualIdRecord& record, std::string* path, std::string* name,
                            std::string* dayStamp) {
  const std::string prefix = record.Prefix();
  std::string ipKey;
  if (!GetIpKey(prefix, &ipKey) || !IsSafeNamePart(ipKey)) return false;
  std::time_t seatTime = GetTimeKey(prefix);
  if (seatTime == 0) seatTime = env_->NowSeconds();
  *dayStamp = DayStamp(seatTime);
  *name = IpFileBaseName(*dayStamp, ipKey);
  *path = JoinPath(dir_, *name);
  return true;
}

RecordWriter::Pending RecordWriter::MakePending(const VirtualIdRecord& record,
                                                const std::string& keyword) {
  Pending pending;
  pending.record = record;
  pending.keyword = keyword;
  std::string ipKey;
  if (GetIpKey(record.Prefix(), &ipKey) && !IsSafeNamePart(ipKey)) {
    // What a client sent must never name a file: the record stays in the
    // day file only, and its seat gets no IP file and no IA file from it.
    LogLine("a record of IP key \"%s\" is in the day file only: the key cannot be part of a "
            "file name",
            Printable(ipKey).c_str());
    return pending;
  }
  if (!IpFileOf(record, &pending.ipFile, &pending.ipName, &pending.dayStamp)) return pending;
  VirtualIdRecord copy = record;
  pending.handOff = worker_ != nullptr && GetNetLogKind(copy) == REALNAME_LOGOFF;
  return pending;
}

void RecordWriter::Queue(const VirtualIdRecord& record, const std::string& keyword) {
  queue_.push_back(MakePending(record, keyword));
  queued_.Insert(KeywordDigest::Of(keyword), 0);
}

bool RecordWriter::WriteQueued() {
  bool going = HandOverIfSaved() || (SaveKeywords() == 0 && HandOverIfSaved());
  const std::string dayFile = DayFileName(dir_, DayStamp(env_->NowSeconds()));
  while (going && head_ < queue_.size()) {
    // A segment ends after the next record whose IP file is handed over.
    std::size_t end = head_;
    while (end < queue_.size() && !queue_[end++].handOff) {
    }
    going = WriteSegment(end, dayFile) && SaveKeywords() == 0 && HandOverIfSaved();
  }
  SaveKeywords();
  files_.CloseAll();
  ipRecords_.clear();
  if (head_ == queue_.size()) {
    queue_.clear();  // its memory stays for the next pass
    head_ = 0;
  } else if (head_ > 0) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  return queue_.empty() && unsaved_.empty() && handOffs_.empty();
}

bool RecordWriter::WriteSegment(std::size_t end, const std::string& dayFile) {
  // The day file takes the whole segment at once, unless an earlier pass
  // gave it the segment already (and an IP file failed then).
  if (!queue_[head_].inDayFile) {
    dayRecords_.clear();
    for (std::size_t i = head_; i < end; ++i)
      dayRecords_.append(reinterpret_cast<const char*>(queue_[i].record.bytes), rec::kSize);
    const port::Status status = files_.Append(dayFile, dayRecords_);
    NoteWrite(status, dayFile);
    if (!status.ok()) return false;
    for (std::size_t i = head_; i < end; ++i) queue_[i].inDayFile = true;
  }
  // Each IP file takes its records of the segment at once.
  for (std::size_t i = head_; i < end; ++i) {
    const Pending& pending = queue_[i];
    if (pending.inIpFile || pending.ipFile.empty()) continue;
    ipRecords_[pending.ipFile].append(reinterpret_cast<const char*>(pending.record.bytes),
                                      rec::kSize);
  }
  std::set<std::string> failed;
  for (std::map<std::string, std::string>::iterator file = ipRecords_.begin();
       file != ipRecords_.end(); ++file) {
    if (file->second.empty()) continue;
    const port::Status status = files_.Append(file->first, file->second);
    NoteWrite(status, file->first);
    if (!status.ok()) failed.insert(file->first);
    file->second.clear();
  }
  for (std::size_t i = head_; i < end; ++i)
    if (!queue_[i].ipFile.empty() && failed.count(queue_[i].ipFile) == 0) queue_[i].inIpFile = true;
  // On the disk before their keywords are.
  if (durable_) {
    const port::Status status = files_.SyncAll();
    NoteWrite(status, dir_);
    if (!status.ok()) return false;
  }
  // The records written whole, in order, are stored from now on.
  while (head_ < end) {
    const Pending& pending = queue_[head_];
    if (!pending.inDayFile || (!pending.ipFile.empty() && !pending.inIpFile)) break;
    Written(pending);
    ++head_;
  }
  return head_ == end;
}

void RecordWriter::Written(const Pending& pending) {
  const KeywordDigest digest = KeywordDigest::Of(pending.keyword);
  queued_.Erase(digest);
  if (known_.Insert(digest, keywordstore::LeaveMemoryAt(pending.keyword, env_->NowSeconds())))
    unsaved_.push_back(pending.keyword);
  ++stored_;
  if (pending.handOff)
    handOffs_.push_back(HandOff{pending.ipFile, pending.ipName, pending.dayStamp});
}

bool RecordWriter::HandOverIfSaved() {
  if (handOffs_.empty()) return true;
  // The log-off's keyword is on the disk before its IP file goes: a crash
  // in between must not make the log-off look unwritten, or it would be
  // written again into an IP file of its own.
  if (!unsaved_.empty()) return false;
  for (const HandOff& handOff : handOffs_) {
    files_.Close(handOff.path);
    worker_->MakeUpIPFile(handOff.path, handOff.name, handOff.dayStamp);
  }
  handOffs_.clear();
  return true;
}

int RecordWriter::SaveKeywords() {
  if (unsaved_.empty()) return 0;
  const port::Status status = store_.Append(unsaved_);
  if (status.ok()) unsaved_.clear();
  if (status.ok() == storeFailing_) {
    storeFailing_ = !status.ok();
    if (storeFailing_)
      LogLine("cannot save keywords (%s); they are kept in memory and saved later",
              status.ToString().c_str());
    else
      LogLine("keywords saved again");
  }
  return status.ok() ? 0 : -1;
}

void RecordWriter::NoteWrite(const port::Status& status, const std::string& path) {
  std::map<std::string, Failing>::iterator failing = failing_.find(path);
  if (status.ok()) {
    if (failing == failing_.end()) return;
    LogLine("records are stored again in %s", path.c_str());
    failing_.erase(failing);
    return;
  }
  if (failing != failing_.end()) return;
  failing_[path] = Failing{status.ToString(), env_->NowSeconds()};
  LogLine("records cannot be stored (%s); they wait and are tried again every pass (%zu now)",
          status.ToString().c_str(), waiting());
}

void RecordWriter::ExpireIfDue() {
  const std::time_t now = env_->NowSeconds();
  if (now - lastExpiry_ < kExpiryCheckSeconds) return;
  lastExpiry_ = now;
  known_.Expire(now);
  if (unsaved_.empty()) store_.CompactIfDue(known_, now);
}

port::Status RecordWriter::AppendToDayFile(const VirtualIdRecord& record) {
  const std::string dayFile = DayFileName(dir_, DayStamp(env_->NowSeconds()));
  port::Status status = files_.Append(dayFile, Bytes(record));
  if (status.ok() && durable_) status = files_.SyncAll();
  files_.Close(dayFile);
  NoteWrite(status, dayFile);
  return status;
}

bool RecordWriter::AppendToIpFile(const VirtualIdRecord& record, port::Status* status) {
  const Pending pending = MakePending(record, std::string());
  if (pending.ipFile.empty()) return false;
  *status = files_.Append(pending.ipFile, Bytes(record));
  if (status->ok() && durable_) *status = files_.SyncAll();
  files_.Close(pending.ipFile);
  return true;
}

port::Status RecordWriter::Open() {
  const std::time_t now = env_->NowSeconds();
  CutTornTails();
  if (worker_ != nullptr) worker_->FinishHandOffs();
  const port::Status loaded = store_.Open(now, &known_);
  lastExpiry_ = now;
  if (loaded.ok()) {
    TakeBack();
    WriteQueued();
    if (waiting() == 0) HandOverClosedSeats();
    return loaded;
  }
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
  return loaded;
}

void RecordWriter::CutTornTails() {
  const std::time_t now = env_->NowSeconds();
  std::vector<std::string> paths = {DayFileName(dir_, DayStamp(LocalMidnight(now) - 1)),
                                    DayFileName(dir_, DayStamp(now))};
  std::vector<std::string> names;
  env_->GetChildren(dir_, &names);
  std::string dayStamp;
  for (const std::string& name : names)
    if (ParseIpFileName(name, &dayStamp)) paths.push_back(JoinPath(dir_, name));
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

void RecordWriter::TakeBack() {
  const std::time_t now = env_->NowSeconds();
  std::vector<VirtualIdRecord> window;
  for (std::time_t day : {LocalMidnight(now) - 1, now}) {
    RiaBaseReader reader(env_);
    if (!reader.Open(DayFileName(dir_, DayStamp(day))).ok()) continue;
    reader.Look(false);
    const std::uint64_t records = reader.size() / rec::kSize;
    VirtualIdRecord record;
    for (std::uint64_t i = records > kTakeBackWindow ? records - kTakeBackWindow : 0;
         reader.ReadAt(i * rec::kSize, &record); ++i)
      window.push_back(record);
  }
  // Records are stored in order and their keywords saved in the same order:
  // those after the last keyword the store holds were stored without theirs.
  std::vector<std::string> keywords;
  std::size_t first = 0;
  for (std::size_t i = 0; i < window.size(); ++i) {
    keywords.push_back(KeywordOf(window[i]));
    if (keywordstore::IsCurrent(keywords[i], now) && Knows(keywords[i])) first = i + 1;
  }
  std::size_t takenBack = 0;
  for (std::size_t i = first; i < window.size(); ++i) {
    if (!keywordstore::IsCurrent(keywords[i], now) || Knows(keywords[i])) continue;
    // Its IP file may lack it; a second copy there does no harm.
    Queue(window[i], keywords[i]);
    queue_.back().inDayFile = true;
    ++takenBack;
  }
  if (takenBack > 0)
    LogLine("%zu records stored before a stop had no keyword yet; their keywords are saved now",
            takenBack);
}

void RecordWriter::HandOverClosedSeats() {
  if (worker_ == nullptr) return;
  std::vector<std::string> names;
  env_->GetChildren(dir_, &names);
  std::string dayStamp;
  for (const std::string& name : names) {
    if (!ParseIpFileName(name, &dayStamp)) continue;
    const std::string path = JoinPath(dir_, name);
    RiaBaseReader reader(env_);
    VirtualIdRecord last;
    if (!reader.Open(path).ok()) continue;
    reader.Look(false);
    if (reader.size() < rec::kSize || !reader.ReadAt(reader.size() - rec::kSize, &last)) continue;
    VirtualIdRecord copy = last;
    // A seat whose log-off was stored, but a crash came before its IP file
    // was handed over.
    if (GetNetLogKind(copy) == REALNAME_LOGOFF && known_.Contains(KeywordDigest::Of(KeywordOf(last))))
      handOffs_.push_back(HandOff{path, name, dayStamp});
  }
  HandOverIfSaved();
}

WriteCounters RecordWriter::Counters() const {
  WriteCounters counters;
  counters.stored = stored_;
  counters.waiting = waiting();
  counters.keywords = known_.size();
  counters.storeRecords = store_.records();
  if (!failing_.empty()) {
    counters.failingFile = failing_.begin()->first;
    counters.failure = failing_.begin()->second.failure;
    counters.failingSince = failing_.begin()->second.since;
  }
  return counters;
}

}  // namespace tessel
