#include "forward/RVIDSender.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/ProgressFile.h"
#include "record/RiaBaseFile.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

const std::uint32_t kRecordSize = rec::kSize;

}  // namespace

RVIDSender::RVIDSender(const char* host, int port, int startOffset, const Pacing& pacing,
                       port::Env* env)
    : tessel::StoppableThread(env),
      env_(env),
      host_(host != nullptr ? host : "localhost"),
      port_(static_cast<unsigned short>(port)),
      pacing_(pacing),
      sender_(nullptr),
      progressWarned_(false),
      day_(0),
      offset_(0) {
  std::memset(&netlog_, 0, sizeof netlog_);
  std::memset(&texts_, 0, sizeof texts_);
  progressPath_ = tessel::ProgressFileName(tessel::kVirtualDbDirName, host_, port_);

  const std::int32_t today = static_cast<std::int32_t>(tessel::LocalMidnight(env_->NowSeconds()));
  if (OpenProgressFile(false)) {
    unsigned char bytes[tessel::kProgressSize];
    std::size_t read = 0;
    tessel::Progress saved;
    if (progress_->Read(bytes, sizeof bytes, 0, &read).ok() &&
        tessel::DecodeProgress(bytes, read, &saved)) {
      day_ = saved.day;
      offset_ = saved.offset;
    } else {
      day_ = today;  // an empty progress file: today, from its start
      offset_ = 0;
    }
    return;
  }
  // No progress yet: today, from the configured offset (at a record
  // boundary; -1 and other negative values are the start of the file).
  day_ = today;
  offset_ = startOffset < 0 ? 0 : tessel::RoundToRecord(static_cast<std::uint32_t>(startOffset));
  SaveProgress();
}

RVIDSender::~RVIDSender() { delete sender_; }

bool RVIDSender::OpenProgressFile(bool create) {
  const port::File::Mode mode = create ? port::File::kUpdateCreate : port::File::kUpdate;
  if (env_->OpenFile(progressPath_, mode, &progress_).ok()) return true;
  if (!create) return false;
  MakeDirs(progressPath_.c_str(), env_);
  return env_->OpenFile(progressPath_, mode, &progress_).ok();
}

void RVIDSender::SaveProgress() {
  if (!progress_ && !OpenProgressFile(true)) {
    // Sending goes on with the progress kept in memory; a restart would
    // resend from the last saved point, which is better than losing records.
    if (!progressWarned_) {
      progressWarned_ = true;
      std::fprintf(stderr, "cannot open progress file %s (%s); progress is kept in memory\n",
                   progressPath_.c_str(), std::strerror(errno));
    }
    return;
  }
  unsigned char bytes[tessel::kProgressSize];
  tessel::Progress progress;
  progress.day = day_;
  progress.offset = offset_;
  tessel::EncodeProgress(progress, bytes);
  // A failed write is left as it is: the next change writes all 8 bytes again.
  std::size_t written = 0;
  progress_->Write(bytes, sizeof bytes, 0, &written);
}

void RVIDSender::SetProgress(std::int32_t day, std::uint32_t offset) {
  if (day == day_ && offset == offset_) return;
  day_ = day;
  offset_ = offset;
  SaveProgress();
}

void RVIDSender::Advance() {
  SetProgress(static_cast<std::int32_t>(tessel::NextLocalMidnight(day_)), 0);
}

void RVIDSender::OnStopRequested() {
  std::lock_guard<std::mutex> guard(senderLock_);
  if (sender_ != nullptr) sender_->Interrupt();
}

void RVIDSender::run() {
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
  const std::int32_t today = static_cast<std::int32_t>(tessel::LocalMidnight(env_->NowSeconds()));
  dayFilePath_ = tessel::DayFileName(VirtualDbDir(), tessel::DayStamp(day_));

  tessel::RiaBaseReader reader(env_);
  if (!reader.Open(dayFilePath_).ok()) {
    // Today's file may not exist yet, and an existing one that cannot be
    // opened just now is tried again; only a past day without a file is
    // done.
    if (day_ >= today || env_->FileExists(dayFilePath_)) return;
    Advance();
    return;
  }

  tessel::RiaBaseReader::Shape shape = reader.Look(day_ >= today);
  if (shape == tessel::RiaBaseReader::kStillGrowing) {
    // Possibly a record being appended right now: look again shortly.
    if (!Pause(pacing_.recheckPauseMs)) return;
    shape = reader.Look(false);
    if (shape == tessel::RiaBaseReader::kStillGrowing) return;  // its size cannot be read now
  }
  if (shape == tessel::RiaBaseReader::kDamaged) {
    // Set it aside under its name and the time, so that it is kept for
    // inspection and the day goes on with a fresh file.
    reader.Close();
    RenameReplace(dayFilePath_.c_str(),
                  tessel::SetAsideFileName(dayFilePath_, env_->NowSeconds()).c_str(), env_);
    SetProgress(day_, 0);
    return;
  }
  const std::uint64_t size = reader.size();
  if (day_ < today && offset_ >= size) {
    reader.Close();
    Advance();
    Pause(pacing_.recordPauseMs);
    return;
  }
  if (size >= kRecordSize && offset_ + kRecordSize > size) {
    reader.Close();
    Pause(pacing_.idlePauseMs);
    return;
  }

  std::uint64_t position = offset_;
  while (!StopRequested()) {
    if (!reader.ReadAt(position, &record_)) break;  // the end, or a record still being appended
    if (tessel::ConvertRecordToNetlog(record_, record_.InputFlag(), &netlog_, &texts_) &&
        !SendUntilAcknowledged())
      break;  // stopping: the record stays next in line
    position += kRecordSize;
    SetProgress(day_, static_cast<std::uint32_t>(position));
    if (!Pause(pacing_.recordPauseMs)) break;
  }
}
