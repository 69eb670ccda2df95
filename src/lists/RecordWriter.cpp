#include "lists/RecordWriter.h"

#include <algorithm>

#include "common/Console.h"
#include "common/GiveWay.h"
#include "common/SiteFiles.h"
#include "iafile/MakeUpIAFileWorker.h"
#include "record/DayStamp.h"
#include "record/Keyword.h"
#include "record/RiaBaseFile.h"

namespace tessel {

namespace {

// Keywords past their time are looked for this often; one still listed is
// looked at again an hour later.
const std::time_t kExpiryCheckSeconds = 600;
const std::time_t kListedRecheckSeconds = 3600;
// Seat prefixes whose IP files are remembered before they are forgotten
// all at once (a site has some hundreds of seats).
const std::size_t kMaxSeatTargets = 4096;
const std::size_t kPrefetchAhead = 8;

std::string Bytes(const VirtualIdRecord& record) {
  return std::string(reinterpret_cast<const char*>(record.bytes), rec::kSize);
}

struct DigestHash {
  std::size_t operator()(const KeywordDigest& digest) const {
    return static_cast<std::size_t>(digest.low);
  }
};

}  // namespace

RecordWriter::RecordWriter(port::Env* env, const std::string& dir, const WriteOptions& options)
    : env_(env),
      dir_(dir),
      durable_(options.durability == Durability::kPower),
      store_(env, KeywordStoreFileName(dir), durable_),
      files_(env, durable_),
      faults_(env) {}

bool RecordWriter::IpTargetOf(const VirtualIdRecord& record, IpTarget* target) {
  const std::string prefix = record.Prefix();
  std::string ipKey;
  if (!GetIpKey(prefix, &ipKey) || !IsSafeNamePart(ipKey)) return false;
  std::time_t seatTime = GetTimeKey(prefix);
  if (seatTime == 0) seatTime = env_->NowSeconds();
  target->dayStamp = DayStamp(seatTime);
  target->name = IpFileBaseName(target->dayStamp, ipKey);
  target->path = JoinPath(dir_, target->name);
  return true;
}

const RecordWriter::IpTarget* RecordWriter::SeatTargetOf(const VirtualIdRecord& record) {
  std::string key = record.Prefix();
  // A prefix without a seat time files its record under today.
  if (GetTimeKey(key) == 0) key += "@" + DayStamp(env_->NowSeconds());
  auto found = targets_.find(key);
  if (found == targets_.end()) {
    if (targets_.size() >= kMaxSeatTargets && dayQueue_.empty()) targets_.clear();
    IpTarget target;
    if (!IpTargetOf(record, &target)) target = IpTarget();
    found = targets_.emplace(std::move(key), std::move(target)).first;
  }
  return found->second.path.empty() ? nullptr : &found->second;
}

bool RecordWriter::HandsOff(int kind) const {
  // Without an IA output directory the IP file stays and takes the seat's
  // later records, as it always has; the status shows why.
  return kind == REALNAME_LOGOFF && worker_ != nullptr && worker_->CanMakeIAFiles();
}

void RecordWriter::Queue(const VirtualIdRecord& record, std::string keyword,
                         const KeywordDigest& digest, int kind) {
  dayQueue_.push_back(Pending{record, std::move(keyword), digest, SeatTargetOf(record), false});
  Pending& pending = dayQueue_.back();
  std::string ipKey;
  if (pending.ip != nullptr) {
    pending.handOff = HandsOff(kind);
  } else if (GetIpKey(record.Prefix(), &ipKey) && !IsSafeNamePart(ipKey)) {
    // What a client sent must never name a file: the record stays in the
    // day file only, and its seat gets no IP file and no IA file from it.
    LogLine("a record of IP key \"%s\" is in the day file only: the key cannot be part of a "
            "file name",
            Printable(ipKey).c_str());
  }
  queued_.Insert(digest, 0);
}

void RecordWriter::QueueForIpFile(const IpTarget& ip, const VirtualIdRecord& record,
                                  bool handOff, bool written, std::uint64_t word) {
  IpQueue& queue = ipQueues_[ip.name];
  if (queue.path.empty()) {
    queue.path = ip.path;
    queue.name = ip.name;
    queue.dayStamp = ip.dayStamp;
  }
  queue.items.push_back(IpItem{record, handOff, written, word});
  if (!written) ++ipWaiting_;
}

std::uint64_t RecordWriter::AddWord(std::string keyword) {
  words_.push_back(Word{std::move(keyword), false});
  return firstWord_ + words_.size() - 1;
}

void RecordWriter::WordsSynced() {
  for (std::uint64_t word : written_)
    if (word != kNoWord && word >= firstWord_) words_[word - firstWord_].ready = true;
  written_.clear();
  while (!words_.empty() && words_.front().ready) {
    unsaved_.push_back(std::move(words_.front().keyword));
    words_.pop_front();
    ++firstWord_;
  }
}

bool RecordWriter::WriteQueued() {
  // Records already in the day file go on to their IP files even while
  // the day file cannot take new ones. A hand-off lets the seat's later
  // records go into a new IP file, so a few rounds may be needed.
  WriteDayFile();
  // With checkpoints, the files of several passes are synced at once (their
  // records stay in the intake journal until then).
  const bool checkpoint = CheckpointDue();
  // Round after round while hand-offs let more records go (each round
  // hands at least one IP file over, so the rounds end).
  for (;;) {
    WriteIpFiles();
    // On the disk before their keywords are, and before a hand-off. In
    // between, the kernel holds what was written: starting its write-back
    // pass by pass put hundreds of small writes between the journal's
    // writes and its syncs, and tripled the slowest calls' wait.
    if (!checkpoint) break;
    if (!faults_.Note(kRecordSyncOutput, dir_, files_.SyncAll(),
                      "their keywords and hand-offs wait"))
      break;
    lastCheckpointMs_ = env_->NowMillis();
    WordsSynced();
    SaveKeywords();
    if (!HandOverWaiting() || ipWaiting_ == 0) break;
  }
  // Files stay open from one checkpoint to the next (their sync waits for
  // it, and reopening some hundreds of IP files every pass costs more than
  // writing to them).
  if (checkpoint && !files_.Unsynced()) files_.CloseAll();
  return dayQueue_.empty() && ipWaiting_ == 0 && !files_.Unsynced();
}

bool RecordWriter::CheckpointDue() const {
  return checkpointMs_ == 0 || env_->NowMillis() - lastCheckpointMs_ >= checkpointMs_;
}

bool RecordWriter::WriteDayFile() {
  if (dayQueue_.empty()) return true;
  const std::time_t now = env_->NowSeconds();
  const std::string dayFile = DayFileName(dir_, DayStamp(now));
  dayRecords_.clear();
  for (const Pending& pending : dayQueue_)
    dayRecords_.append(reinterpret_cast<const char*>(pending.record.bytes), rec::kSize);
  if (!faults_.Note(kDayFileOutput, dayFile, files_.Append(dayFile, dayRecords_),
                    "every record waits for it"))
    return false;
  for (std::size_t i = 0; i < dayQueue_.size(); ++i) {
    // The slots of keywords some records ahead are fetched meanwhile: a
    // large set's slots are seldom in the cache.
    if (i + kPrefetchAhead < dayQueue_.size())
      known_.Prefetch(dayQueue_[i + kPrefetchAhead].digest);
    if (i % kRecordsPerGiveWayLook == 0) GiveWayIfDue();
    Pending& pending = dayQueue_[i];
    const KeywordDigest& digest = pending.digest;
    queued_.Erase(digest);
    const std::uint64_t word =
        known_.Insert(digest, keywordstore::LeaveMemoryAt(pending.keyword, now))
            ? AddWord(std::move(pending.keyword))
            : kNoWord;
    ++stored_;
    if (pending.ip == nullptr)
      written_.push_back(word);
    else
      QueueForIpFile(*pending.ip, pending.record, pending.handOff, false, word);
  }
  dayQueue_.clear();  // its memory stays for the next pass
  return true;
}

void RecordWriter::WriteIpFiles() {
  for (auto& entry : ipQueues_) {
    GiveWayIfDue();
    IpQueue& queue = entry.second;
    // Up to the next hand-off: a later record goes into the next IP file.
    ipRecords_.clear();
    std::size_t count = 0;
    for (const IpItem& item : queue.items) {
      if (!item.written) {
        ipRecords_.append(reinterpret_cast<const char*>(item.record.bytes), rec::kSize);
        ++count;
      }
      if (item.handOff) break;
    }
    if (count == 0) continue;
    if (!faults_.Note(kIpFileOutput, queue.path, files_.Append(queue.path, ipRecords_),
                      "its seat's records wait for it"))
      continue;
    ipWaiting_ -= count;
    for (IpItem& item : queue.items) {
      if (!item.written) written_.push_back(item.word);
      if (item.handOff) break;
    }
    while (!queue.items.empty() && !queue.items.front().handOff) queue.items.pop_front();
    if (!queue.items.empty()) queue.items.front().written = true;
  }
}

bool RecordWriter::HandOverWaiting() {
  bool handed = false;
  for (auto entry = ipQueues_.begin(); entry != ipQueues_.end();) {
    IpQueue& queue = entry->second;
    if (!queue.items.empty() && queue.items.front().handOff && queue.items.front().written &&
        worker_ != nullptr) {
      files_.Close(queue.path);
      if (faults_.Note(kIaDirectoryOutput, worker_->IaPath(),
                       worker_->HandOver(queue.path, queue.name, queue.dayStamp),
                       "the IP files of seats logged off stay, and their seats' next records "
                       "wait")) {
        // Records of this session met from now on must not make it again.
        if (reconciling_) {
          std::time_t& handedTime = handed_[queue.path];
          handedTime = std::max(handedTime, static_cast<std::time_t>(
                                                GetTimeKey(queue.items.front().record.Prefix())));
        }
        queue.items.pop_front();
        notesMade_.push_back(HandedFileName(queue.path));
        handed = true;
      }
    }
    if (queue.items.empty()) entry = ipQueues_.erase(entry);
    else ++entry;
  }
  return handed;
}

int RecordWriter::SaveKeywords() {
  if (unsaved_.empty()) return 0;
  const port::Status status = store_.Append(unsaved_);
  if (status.ok()) unsaved_.clear();
  faults_.Note(kKeywordStoreOutput, KeywordStoreFileName(dir_), status,
               "keywords are kept in memory and saved later; records go on being written");
  return status.ok() ? 0 : -1;
}

void RecordWriter::PassReleased(bool released) {
  if (unsaved_.empty() && words_.empty()) {
    for (const std::string& note : notesReleased_) env_->RemoveFile(note);
    notesReleased_.clear();
  }
  if (!released) return;
  notesReleased_.insert(notesReleased_.end(), notesMade_.begin(), notesMade_.end());
  notesMade_.clear();
}

void RecordWriter::ExpireIfDue() {
  const std::time_t now = env_->NowSeconds();
  if (now - lastExpiry_ < kExpiryCheckSeconds) return;
  lastExpiry_ = now;
  // The listed keywords are gathered only when some keyword's time has come.
  std::unique_ptr<std::unordered_set<KeywordDigest, DigestHash> > listed;
  known_.Expire(now, now + kListedRecheckSeconds, [&](const KeywordDigest& digest) {
    if (!listed) {
      listed.reset(new std::unordered_set<KeywordDigest, DigestHash>());
      std::vector<std::string> keywords;
      if (listed_) listed_(&keywords);
      for (const std::string& keyword : keywords) listed->insert(KeywordDigest::Of(keyword));
    }
    return listed->count(digest) != 0;
  });
  if (unsaved_.empty()) store_.CompactIfDue(known_, now);
}

port::Status RecordWriter::AppendToDayFile(const VirtualIdRecord& record) {
  const std::string dayFile = DayFileName(dir_, DayStamp(env_->NowSeconds()));
  port::Status status = files_.Append(dayFile, Bytes(record));
  if (status.ok() && durable_) status = files_.SyncAll();
  files_.Close(dayFile);
  faults_.Note(kDayFileOutput, dayFile, status, "every record waits for it");
  return status;
}

bool RecordWriter::AppendToIpFile(const VirtualIdRecord& record, port::Status* status) {
  IpTarget ip;
  if (!IpTargetOf(record, &ip)) return false;
  *status = files_.Append(ip.path, Bytes(record));
  if (status->ok() && durable_) *status = files_.SyncAll();
  files_.Close(ip.path);
  return true;
}

WriteCounters RecordWriter::Counters() const {
  WriteCounters counters;
  counters.stored = stored_;
  counters.waiting = waiting();
  counters.keywords = known_.size();
  counters.unsavedKeywords = unsaved_.size() + words_.size();
  counters.storeRecords = store_.records();
  for (const auto& entry : ipQueues_)
    if (!entry.second.items.empty() && entry.second.items.front().handOff &&
        entry.second.items.front().written)
      ++counters.handOffsWaiting;
  counters.faults = faults_.Current();
  // The one fault shown alone names a file when one does: a missing
  // setting has none and must not hide a file that cannot be written.
  const Fault* shown = nullptr;
  for (const Fault& fault : counters.faults)
    if (shown == nullptr || (shown->target.empty() && !fault.target.empty())) shown = &fault;
  if (shown != nullptr) {
    counters.failingFile = shown->target;
    counters.failure = shown->reason;
    counters.failingSince = shown->since;
  }
  return counters;
}

}  // namespace tessel
