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

IntakeJournal::IntakeJournal(port::Env* env, const std::string& dir) : env_(env), dir_(dir) {
  for (int i = 0; i < 2; ++i) halves_[i].path = FileName(dir, i);
}

std::string IntakeJournal::FileName(const std::string& dir, int which) {
  return JoinPath(dir, std::string(kIntakeJournalName) + "." + std::to_string(which));
}

port::Status IntakeJournal::ReadHalf(Half* half,
                                     std::vector<std::pair<std::uint64_t, VirtualIdRecord> >* out) {
  port::Status status = env_->OpenFile(half->path, port::File::kUpdateCreate, &half->file);
  if (!status.ok()) return status;
  unsigned char entry[kEntrySize];
  std::uint64_t offset = 0;
  for (;; offset += kEntrySize) {
    std::size_t read = 0;
    status = half->file->Read(entry, kEntrySize, offset, &read);
    if (!status.ok()) return status;
    if (read < kEntrySize || std::memcmp(entry, kMagic, sizeof kMagic) != 0 ||
        port::DecodeFixed32LE(entry + kCrcAt) != Crc(entry))
      break;
    const std::uint64_t sequence = port::DecodeFixed64LE(entry + kSequenceAt);
    // No number follows the last one, so a record appended after it would
    // come back first: such an entry is none of ours (the count begins at 1)
    // and ends the file's entries like a damaged one.
    if (sequence == UINT64_MAX) break;
    out->emplace_back(sequence, VirtualIdRecord::FromBytes(entry + kRecordAt));
    half->lastSequence = std::max(half->lastSequence, sequence);
    ++half->entries;
  }
  std::uint64_t size = 0;
  status = half->file->Size(&size);
  // What follows the last whole entry is the torn tail of a crash.
  if (status.ok() && size > offset) status = half->file->Truncate(offset);
  return status;
}

port::Status IntakeJournal::Open(std::vector<VirtualIdRecord>* records) {
  // A directory that cannot be made is the reason the files cannot be.
  const port::Status made = CreateDirs(JoinPath(dir_, ""), env_);
  if (!made.ok()) return made;
  std::vector<std::pair<std::uint64_t, VirtualIdRecord> > entries;
  for (Half& half : halves_) {
    port::Status status = ReadHalf(&half, &entries);
    if (!status.ok()) {
      for (Half& h : halves_) h.file.reset();
      return status;
    }
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::pair<std::uint64_t, VirtualIdRecord>& a,
                      const std::pair<std::uint64_t, VirtualIdRecord>& b) {
                     return a.first < b.first;
                   });
  for (const auto& entry : entries) records->push_back(entry.second);
  // Appends go on in the file that holds the newest entry.
  active_ = halves_[1].lastSequence > halves_[0].lastSequence ? 1 : 0;
  nextSequence_ = std::max(halves_[0].lastSequence, halves_[1].lastSequence) + 1;
  open_ = true;
  return port::Status::OK();
}

port::Status IntakeJournal::Append(const VirtualIdRecord& record) {
  Half& half = halves_[active_];
  if (!open_ || !half.file) return port::Status::Error(EBADF, "append " + half.path);
  unsigned char entry[kEntrySize];
  std::memcpy(entry, kMagic, sizeof kMagic);
  port::EncodeFixed64LE(entry + kSequenceAt, nextSequence_);
  std::memcpy(entry + kRecordAt, record.bytes, rec::kSize);
  port::EncodeFixed32LE(entry + kCrcAt, Crc(entry));
  std::size_t written = 0;
  port::Status status =
      half.file->Write(entry, kEntrySize, half.entries * kEntrySize, &written);
  if (!status.ok()) {
    // A part of an entry is taken back; should that fail, the entry is
    // found damaged at the next start and ends the file's entries there.
    if (written > 0) half.file->Truncate(half.entries * kEntrySize);
    return status;
  }
  ++half.entries;
  ++half.appends;
  half.lastSequence = nextSequence_++;
  return status;
}

IntakeJournal::SyncJob IntakeJournal::PrepareSync() {
  SyncJob job;
  job.upTo = lastSequence();
  for (int i = 0; i < 2; ++i) {
    if (halves_[i].appends == halves_[i].synced || !halves_[i].file) continue;
    job.files[i] = halves_[i].file.get();
    job.appends[i] = halves_[i].appends;
  }
  return job;
}

void IntakeJournal::Synced(const SyncJob& job) {
  for (int i = 0; i < 2; ++i)
    if (job.files[i] != nullptr && job.appends[i] > halves_[i].synced)
      halves_[i].synced = job.appends[i];
}

port::Status IntakeJournal::SyncJob::Run() const {
  for (port::File* file : files) {
    if (file == nullptr) continue;
    const port::Status status = file->Sync();
    if (!status.ok()) return status;
  }
  return port::Status::OK();
}

std::uint64_t IntakeJournal::Take() {
  const std::uint64_t mark = nextSequence_ - 1;
  Half& other = halves_[1 - active_];
  if (open_ && other.file && other.entries == 0) active_ = 1 - active_;
  return mark;
}

port::Status IntakeJournal::Release(std::uint64_t mark, bool durable) {
  Half& idle = halves_[1 - active_];
  if (!open_ || !idle.file || idle.entries == 0 || idle.lastSequence > mark)
    return port::Status::OK();
  port::Status status = idle.file->Truncate(0);
  // Entries that came back after a power cut would bring back records whose
  // seats may have been made IA files since.
  if (status.ok() && durable) status = idle.file->Sync();
  if (status.ok()) idle.entries = 0;
  return status;
}

}  // namespace tessel
