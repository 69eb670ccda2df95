#include "lists/IntakeJournal.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "port/Coding.h"

namespace tessel {

namespace {

const unsigned char kMagic[4] = {'T', 'I', 'J', '1'};
const std::size_t kSequenceAt = 4;
const std::size_t kRecordAt = 12;
const std::size_t kCrcAt = kRecordAt + rec::kSize;

std::uint32_t Crc(const unsigned char* entry) {
  return static_cast<std::uint32_t>(
      ::crc32(0L, entry + kSequenceAt, static_cast<uInt>(kCrcAt - kSequenceAt)));
}

}  // namespace

IntakeJournal::IntakeJournal(port::Env* env, const std::string& dir, bool syncNames)
    : env_(env), dir_(dir), syncNames_(syncNames) {}

std::string IntakeJournal::FileName(const std::string& dir, std::uint64_t number) {
  return IntakeJournalFileName(dir, number);
}

bool IntakeJournal::ParseFileName(const std::string& name, std::uint64_t* number) {
  SiteFile file;
  if (!tessel::ParseFileName(name, &file) || file.type != SiteFileType::kIntakeJournal)
    return false;
  *number = file.number;
  return true;
}

void IntakeJournal::Encode(std::uint64_t sequence, const VirtualIdRecord& record,
                           std::string* out) {
  unsigned char entry[kEntrySize];
  std::memcpy(entry, kMagic, sizeof kMagic);
  port::EncodeFixed64LE(entry + kSequenceAt, sequence);
  std::memcpy(entry + kRecordAt, record.bytes, rec::kSize);
  port::EncodeFixed32LE(entry + kCrcAt, Crc(entry));
  out->append(reinterpret_cast<const char*>(entry), kEntrySize);
}

port::Status IntakeJournal::ReadEntries(
    port::File* file, std::vector<std::pair<std::uint64_t, VirtualIdRecord> >* out,
    std::uint64_t* end) {
  unsigned char entry[kEntrySize];
  std::uint64_t offset = 0, previous = 0;
  for (;; offset += kEntrySize) {
    std::size_t read = 0;
    const port::Status status = file->Read(entry, kEntrySize, offset, &read);
    if (!status.ok()) return status;
    if (read < kEntrySize || std::memcmp(entry, kMagic, sizeof kMagic) != 0 ||
        port::DecodeFixed32LE(entry + kCrcAt) != Crc(entry))
      break;
    const std::uint64_t sequence = port::DecodeFixed64LE(entry + kSequenceAt);
    // No number follows the last one, so a record appended after it would
    // come back first: such an entry is none of ours (the count begins at 1)
    // and ends the file's entries like a damaged one.
    if (sequence == UINT64_MAX) break;
    // An emptied file is written again from its start: behind the entries
    // of its latest round lie those of earlier rounds, numbered lower.
    if (offset > 0 && sequence != previous + 1) break;
    previous = sequence;
    if (out != nullptr) out->emplace_back(sequence, VirtualIdRecord::FromBytes(entry + kRecordAt));
  }
  *end = offset;
  return port::Status::OK();
}

port::Status IntakeJournal::CountEntries(port::Env* env, const std::string& path,
                                         std::size_t* count) {
  std::unique_ptr<port::File> file;
  port::Status status = env->OpenFile(path, port::File::kRead, &file);
  std::uint64_t end = 0;
  if (status.ok()) status = ReadEntries(file.get(), nullptr, &end);
  *count = status.ok() ? end / kEntrySize : 0;
  return status;
}

port::Status IntakeJournal::OpenSegment(
    std::uint64_t number, std::vector<std::pair<std::uint64_t, VirtualIdRecord> >* out) {
  std::unique_ptr<Segment> segment(new Segment);
  segment->number = number;
  segment->path = FileName(dir_, number);
  port::Status status = env_->OpenFile(segment->path, port::File::kUpdateCreate, &segment->file);
  if (!status.ok()) return status;
  const std::size_t before = out->size();
  std::uint64_t offset = 0;
  status = ReadEntries(segment->file.get(), out, &offset);
  if (!status.ok()) return status;
  segment->entries = out->size() - before;
  if (segment->entries > 0) segment->lastSequence = out->back().first;
  std::uint64_t size = 0;
  status = segment->file->Size(&size);
  // What follows the last whole entry is the torn tail of a crash, or what
  // earlier rounds left.
  if (status.ok() && size > offset) status = segment->file->Truncate(offset);
  if (status.ok()) segments_.push_back(std::move(segment));
  return status;
}

void IntakeJournal::Trim() {
  // A failure leaves the file as it is: emptied, only larger.
  for (const std::unique_ptr<Segment>& segment : segments_)
    if (segment->entries == 0 && !segment->givenUp && segment->file) segment->file->Truncate(0);
}

port::Status IntakeJournal::Empty(Segment* segment) {
  // Emptied in place: with its first entry's magic cleared the file reads
  // as holding nothing, and the next round writes over the blocks it has,
  // so that a sync then puts data on the disk and no new size or blocks
  // (a sync of a file that grows commits the file system's own journal
  // too, and takes twice as long).
  static const char kCleared[sizeof kMagic] = {0, 0, 0, 0};
  std::size_t written = 0;
  port::Status status = segment->file->Write(kCleared, sizeof kCleared, 0, &written);
  // The same for the emptying (syncNames_: durability "power").
  if (status.ok() && syncNames_) status = segment->file->Sync();
  if (status.ok()) segment->entries = 0;
  return status;
}

port::Status IntakeJournal::Open(std::vector<VirtualIdRecord>* records) {
  // A directory that cannot be made is the reason the files cannot be.
  const port::Status made = CreateDirs(JoinPath(dir_, ""), env_);
  if (!made.ok()) return made;
  std::vector<std::string> names;
  port::Status status = env_->GetChildren(dir_, &names);
  if (!status.ok()) return status;
  std::vector<std::uint64_t> numbers;
  for (const std::string& name : names) {
    std::uint64_t number = 0;
    if (ParseFileName(name, &number)) numbers.push_back(number);
  }
  std::sort(numbers.begin(), numbers.end());
  // Two files take turns: those there are, and the next numbers.
  while (numbers.size() < 2) numbers.push_back(numbers.empty() ? 0 : numbers.back() + 1);
  std::vector<std::pair<std::uint64_t, VirtualIdRecord> > entries;
  for (std::uint64_t number : numbers) {
    status = OpenSegment(number, &entries);
    if (!status.ok()) {
      segments_.clear();
      return status;
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::pair<std::uint64_t, VirtualIdRecord>& a,
                      const std::pair<std::uint64_t, VirtualIdRecord>& b) {
                     return a.first < b.first;
                   });
  for (const auto& entry : entries) records->push_back(entry.second);
  // Files beyond the two highest-numbered were given up before the start;
  // appends go on in whichever of the two holds the newest entry.
  std::uint64_t newest = 0;
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    Segment* segment = segments_[i].get();
    newest = std::max(newest, segment->lastSequence);
    if (i + 2 < segments_.size()) {
      segment->givenUp = true;
    } else if (active_ == nullptr || segment->lastSequence > active_->lastSequence) {
      active_ = segment;
    }
  }
  nextSequence_ = newest + 1;
  lastWritten_ = newest;
  open_ = true;
  return port::Status::OK();
}

IntakeJournal::Segment* IntakeJournal::Find(std::uint64_t number) {
  for (const std::unique_ptr<Segment>& segment : segments_)
    if (segment->number == number) return segment.get();
  return nullptr;
}

port::Status IntakeJournal::Fresh() {
  // A file given up before it held anything goes first: a disk that keeps
  // failing must not leave a file behind for every try.
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    if (segments_[i].get() != active_ || !active_->givenUp || active_->entries != 0) continue;
    active_ = nullptr;
    Remove(i);
    break;
  }
  const std::uint64_t number = segments_.empty() ? 0 : segments_.back()->number + 1;
  std::unique_ptr<Segment> segment(new Segment);
  segment->number = number;
  segment->path = FileName(dir_, number);
  port::Status status = env_->OpenFile(segment->path, port::File::kTruncate, &segment->file);
  // Its name must be on the disk before an entry in it is answered.
  if (status.ok() && syncNames_) status = env_->SyncDir(dir_);
  if (!status.ok()) {
    if (segment->file) {
      segment->file.reset();
      env_->RemoveFile(segment->path);
    }
    return status;
  }
  segments_.push_back(std::move(segment));
  active_ = segments_.back().get();
  needFresh_ = false;
  return status;
}

port::Status IntakeJournal::Prepare(std::uint64_t first, std::uint64_t last, Batch* batch) {
  if (!open_) return port::Status::Error(EBADF, "append " + FileName(dir_, 0));
  if (needFresh_ || active_ == nullptr || active_->givenUp) {
    const port::Status status = Fresh();
    if (!status.ok()) return status;
  }
  batch->file = active_->number;
  batch->handle = active_->file.get();
  batch->offset = active_->entries * kEntrySize;
  batch->first = first;
  batch->last = last;
  batch->lastBefore = active_->lastSequence;
  batch->written = false;
  active_->entries += last - first + 1;
  active_->lastSequence = last;
  ++inFlight_;
  return port::Status::OK();
}

port::Status IntakeJournal::Run(const std::string& entries, bool sync, Batch* batch) {
  std::size_t written = 0;
  port::Status status = batch->handle->Write(entries.data(), entries.size(), batch->offset, &written);
  batch->written = status.ok();
  if (status.ok() && sync) status = batch->handle->Sync();
  return status;
}

void IntakeJournal::Settle(const Batch& batch, const port::Status& status) {
  --inFlight_;
  if (batch.written) lastWritten_ = batch.last;
  if (status.ok()) return;
  Segment* segment = Find(batch.file);
  if (segment == nullptr) return;
  // The file may have lost pages (a failed sync drops what it could not
  // write): nothing more is appended to it, whatever comes after would be
  // read back only up to the first lost entry.
  segment->givenUp = true;
  needFresh_ = true;
  if (!batch.written) {
    // A part of the batch is taken back; should that fail, the part is
    // found damaged at the next start and ends this file's entries, which
    // is where they end anyway.
    segment->entries = batch.offset / kEntrySize;
    segment->lastSequence = batch.lastBefore;
    segment->file->Truncate(batch.offset);
  }
  // A file given up that holds nothing is of no more use.
  if (segment->entries == 0 && segment != active_) {
    for (std::size_t i = 0; i < segments_.size(); ++i)
      if (segments_[i].get() == segment) Remove(i);
  }
}

port::Status IntakeJournal::Append(const VirtualIdRecord& record) {
  if (!open_) return port::Status::Error(EBADF, "append " + FileName(dir_, 0));
  const std::uint64_t sequence = NextSequence();
  Batch batch;
  port::Status status = Prepare(sequence, sequence, &batch);
  if (!status.ok()) return status;
  std::string entry;
  Encode(sequence, record, &entry);
  status = Run(entry, false, &batch);
  Settle(batch, status);
  return status;
}

std::uint64_t IntakeJournal::Take() {
  // Appends move to the other file of the two when it holds nothing.
  for (const std::unique_ptr<Segment>& segment : segments_) {
    if (segment.get() == active_ || segment->givenUp || segment->entries != 0) continue;
    active_ = segment.get();
    break;
  }
  return lastWritten_;
}

void IntakeJournal::Remove(std::size_t index) {
  Segment* segment = segments_[index].get();
  segment->file.reset();
  // Should the removal fail, the file's records come back at the next
  // start; they are stored already, and a record stored is never written
  // twice.
  env_->RemoveFile(segment->path);
  segments_.erase(segments_.begin() + static_cast<std::ptrdiff_t>(index));
}

port::Status IntakeJournal::Release(std::uint64_t mark) {
  port::Status result;
  for (std::size_t i = 0; i < segments_.size();) {
    Segment* segment = segments_[i].get();
    if (segment == active_ || segment->lastSequence > mark ||
        (segment->entries == 0 && !segment->givenUp)) {
      ++i;
      continue;
    }
    if (segment->givenUp) {
      Remove(i);
      // Records that came back after a power cut could bring back seats
      // made IA files since: the removal is on the disk before it counts.
      if (syncNames_) env_->SyncDir(dir_);
      continue;
    }
    const port::Status status = Empty(segment);
    if (!status.ok() && result.ok()) result = status;
    ++i;
  }
  // The file appends go to holds only stored entries, and no batch is on
  // its way into it (a pass that could not store everything kept the other
  // file from being emptied, so appends did not move): it is emptied too,
  // so that a stop leaves no stored record behind to be read back.
  if (inFlight_ == 0 && active_ != nullptr && !active_->givenUp && active_->entries != 0 &&
      active_->lastSequence <= mark) {
    const port::Status status = Empty(active_);
    if (!status.ok() && result.ok()) result = status;
  }
  return result;
}

}  // namespace tessel
