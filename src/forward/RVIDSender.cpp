#include "forward/RVIDSender.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "account/VirtualIdRecord.h"
#include "iafile/RiaBaseFile.h"
#include "port/Port.h"
#include "service/PathHelpers.h"

namespace {

const std::uint32_t kRecordSize = rec::kSize;
const char kProgressDir[] = "virtualdb/";

std::uint32_t RoundToRecord(std::uint32_t offset) { return offset - offset % kRecordSize; }

std::int32_t LeInt(const unsigned char* p) {
  return static_cast<std::int32_t>(std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) |
                                   (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24));
}

void PutLe(unsigned char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

RVIDSender::RVIDSender(const char* host, int port, int startOffset, const Pacing& pacing)
    : stale(0),
      host_(host != nullptr ? host : "localhost"),
      port_(static_cast<unsigned short>(port)),
      pacing_(pacing),
      sender_(nullptr),
      progressWarned_(false),
      day_(0),
      offset_(0) {
  std::memset(record_, 0, sizeof record_);
  std::memset(&netlog_, 0, sizeof netlog_);
  std::memset(&texts_, 0, sizeof texts_);
  progressPath_ = std::string(kProgressDir) + host_ + "_" + std::to_string(port_) + ".spg";

  const std::int32_t today = static_cast<std::int32_t>(LocalMidnight(std::time(nullptr)));
  if (OpenProgressFile(false)) {
    unsigned char bytes[8];
    if (progress_.ReadAt(bytes, sizeof bytes, 0) == static_cast<long long>(sizeof bytes)) {
      day_ = LeInt(bytes);
      offset_ = RoundToRecord(static_cast<std::uint32_t>(LeInt(bytes + 4)));
    } else {
      day_ = today;  // an empty progress file: today, from its start
      offset_ = 0;
    }
    return;
  }
  // No progress yet: today, from the configured offset (at a record
  // boundary; -1 and other negative values are the start of the file).
  day_ = today;
  offset_ = startOffset < 0 ? 0 : RoundToRecord(static_cast<std::uint32_t>(startOffset));
  SaveProgress();
}

RVIDSender::~RVIDSender() { delete sender_; }

bool RVIDSender::OpenProgressFile(bool create) {
  const port::File::Mode mode = create ? port::File::kUpdateCreate : port::File::kUpdate;
  if (progress_.Open(progressPath_, mode)) return true;
  if (!create) return false;
  MakeDirs(kProgressDir);
  return progress_.Open(progressPath_, mode);
}

void RVIDSender::SaveProgress() {
  if (!progress_.IsOpen() && !OpenProgressFile(true)) {
    // Sending goes on with the progress kept in memory; a restart would
    // resend from the last saved point, which is better than losing records.
    if (!progressWarned_) {
      progressWarned_ = true;
      std::fprintf(stderr, "cannot open progress file %s (%s); progress is kept in memory\n",
                   progressPath_.c_str(), std::strerror(errno));
    }
    return;
  }
  unsigned char bytes[8];
  PutLe(bytes, static_cast<std::uint32_t>(day_));
  PutLe(bytes + 4, offset_);
  // A failed write is left as it is: the next change writes all 8 bytes again.
  progress_.Write(bytes, sizeof bytes, 0);
}

void RVIDSender::SetProgress(std::int32_t day, std::uint32_t offset) {
  if (day == day_ && offset == offset_) return;
  day_ = day;
  offset_ = offset;
  SaveProgress();
}

void RVIDSender::Advance() {
  SetProgress(static_cast<std::int32_t>(NextLocalMidnight(day_)), 0);
}

void RVIDSender::OnStopRequested() {
  std::lock_guard<std::mutex> guard(senderLock_);
  if (sender_ != nullptr) sender_->Interrupt();
}

void RVIDSender::run() {
  baseDir_ = GetModuleDir();
  while (!StopRequested()) {
    NetlogSender* sender =
        new (std::nothrow) NetlogSender(host_, port_, NetlogSender::kTcpOnly, pacing_.timing);
    if (sender != nullptr) {
      {
        std::lock_guard<std::mutex> guard(senderLock_);
        sender_ = sender;
      }
      if (StopRequested()) sender->Interrupt();
      break;
    }
    Pause(pacing_.retryPauseMs);
  }
  while (!StopRequested()) OnePass();
}

bool RVIDSender::SendUntilAcknowledged() {
  while (!StopRequested()) {
    if (sender_->Send(netlog_) == 0) return true;
    Pause(pacing_.retryPauseMs);
  }
  return false;
}

void RVIDSender::OnePass() {
  if (!Pause(pacing_.recordPauseMs)) return;
  const std::int32_t today = static_cast<std::int32_t>(LocalMidnight(std::time(nullptr)));
  dayFilePath_ = DayFilePath(DayStamp(day_));

  port::File file;
  if (!file.Open(dayFilePath_, port::File::kRead)) {
    // Today's file may not exist yet, and an existing one that cannot be
    // opened just now is tried again; only a past day without a file is
    // done.
    if (day_ >= today || port::PathExists(dayFilePath_)) return;
    Advance();
    return;
  }

  long long size = file.Size();
  if (size < 0) return;
  if (size % kRecordSize != 0 && day_ >= today) {
    // Possibly a record being appended right now: look again shortly.
    if (!Pause(pacing_.recheckPauseMs) || (size = file.Size()) < 0) return;
  }
  if (size % kRecordSize != 0) {
    // Damaged: set it aside under its name and the time, so that it is kept
    // for inspection and the day goes on with a fresh file.
    file.Close();
    std::string aside = dayFilePath_ + "." + std::to_string(static_cast<long long>(std::time(nullptr)));
    RenameReplace(dayFilePath_.c_str(), aside.c_str());
    SetProgress(day_, 0);
    return;
  }
  if (day_ < today && offset_ >= static_cast<unsigned long long>(size)) {
    file.Close();
    Advance();
    Pause(pacing_.recordPauseMs);
    return;
  }
  if (size >= kRecordSize && offset_ + static_cast<long long>(kRecordSize) > size) {
    file.Close();
    Pause(pacing_.idlePauseMs);
    return;
  }

  long long position = offset_;
  while (!StopRequested()) {
    if (file.ReadAt(record_, kRecordSize, position) != static_cast<long long>(kRecordSize))
      break;  // end of the file, or a record still being appended
    if (ConvertRecordToNetlog(record_, LeInt(record_ + rec::kInputFlag), &netlog_, &texts_) &&
        !SendUntilAcknowledged())
      break;  // stopping: the record stays next in line
    position += kRecordSize;
    SetProgress(day_, static_cast<std::uint32_t>(position));
    if (!Pause(pacing_.recordPauseMs)) break;
  }
}
