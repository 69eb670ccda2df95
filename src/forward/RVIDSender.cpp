#include "forward/RVIDSender.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "common/Console.h"
#include "common/PathHelpers.h"
#include "common/SiteFiles.h"
#include "record/DayStamp.h"
#include "record/ProgressFile.h"
#include "record/RiaBaseFile.h"

namespace port = tessel::port;
namespace rec = tessel::rec;

namespace {

const std::uint32_t kRecordSize = rec::kSize;

std::string SecondsText(int milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", milliseconds / 1000.0);
  return text;
}

}  // namespace

RVIDSender::RVIDSender(const char* host, int port, int startOffset,
                       const tessel::SiteContext& site, const Pacing& pacing)
    : tessel::StoppableThread(site.env),
      env_(site.env),
      virtualdbDir_(site.VirtualDbDir()),
      host_(host != nullptr ? host : "localhost"),
      port_(static_cast<unsigned short>(port)),
      pacing_(pacing),
      sender_(nullptr),
      progressWarned_(false),
      day_(0),
      offset_(0),
      dayFileSize_(0),
      laterRecords_(0),
      laterCountedFor_(0),
      laterCountedAt_(0) {
  std::memset(&netlog_, 0, sizeof netlog_);
  std::memset(&texts_, 0, sizeof texts_);
  progressPath_ = tessel::ProgressFileName(tessel::JoinPath(site.workDir, tessel::kVirtualDbDirName),
                                           host_, port_);
  status_.host = host_;
  status_.port = port_;

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
    Publish();
    return;
  }
  // No progress yet: today, from the configured offset (at a record
  // boundary; -1 and other negative values are the start of the file).
  day_ = today;
  offset_ = startOffset < 0 ? 0 : tessel::RoundToRecord(static_cast<std::uint32_t>(startOffset));
  SaveProgress();
  Publish();
}

RVIDSender::~RVIDSender() { delete sender_; }

bool RVIDSender::OpenProgressFile(bool create) {
  if (env_->OpenFile(progressPath_, port::File::kUpdate, &progress_).ok()) return true;
  if (!create) return false;
  MakeDirs(progressPath_.c_str(), env_);
  if (!env_->OpenFile(progressPath_, port::File::kUpdateCreate, &progress_).ok()) return false;
  // Its name survives a power cut once its directory is synced.
  env_->SyncDir(tessel::DirOf(progressPath_));
  return true;
}

void RVIDSender::SaveProgress() {
  if (!progress_ && !OpenProgressFile(true)) {
    // Sending goes on with the progress kept in memory; a restart would
    // resend from the last saved point, which is better than losing records.
    if (!progressWarned_) {
      progressWarned_ = true;
      tessel::LogLine("cannot open progress file %s (%s); progress is kept in memory",
                      tessel::Printable(progressPath_).c_str(), std::strerror(errno));
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
  Publish();
}

void RVIDSender::Advance() {
  dayFileSize_ = 0;  // not looked at yet; the later days' count holds it
  SetProgress(static_cast<std::int32_t>(tessel::NextLocalMidnight(day_)), 0);
}

void RVIDSender::TakeFutureDayAsToday(std::int32_t today) {
  // The clock ran ahead and the sender followed it into a day that has not
  // come; waiting for that day would send nothing until then. Today's
  // records that went out before the clock ran ahead are in today's file
  // too: sending some twice is better than sending none.
  tessel::LogLine(
      "upstream %s: progress file %s names day %s, after today (%s; was the clock ahead?): "
      "today's day file is sent from its start, so today's records acknowledged before the clock "
      "was put right may be sent again (earlier days are not)",
      Server().c_str(), tessel::Printable(progressPath_).c_str(), tessel::DayStamp(day_).c_str(),
      tessel::DayStamp(today).c_str());
  dayFileSize_ = 0;
  SetProgress(today, 0);
}

std::string RVIDSender::Server() const {
  return tessel::Printable(host_) + ":" + std::to_string(port_);
}

tessel::UpstreamStatus RVIDSender::Status() const {
  std::lock_guard<std::mutex> guard(statusLock_);
  return status_;
}

void RVIDSender::Publish() {
  std::uint64_t behind = offset_ < dayFileSize_ ? (dayFileSize_ - offset_) / kRecordSize : 0;
  behind += laterRecords_;
  const std::string stamp = tessel::DayStamp(day_);
  const std::time_t now = env_->NowSeconds();
  std::lock_guard<std::mutex> guard(statusLock_);
  status_.dayStamp = stamp;
  status_.offset = offset_;
  status_.recordsBehind = behind;
  if (behind == 0) {
    status_.waitingSince = 0;
  } else if (status_.waitingSince == 0) {
    const std::time_t dayEnd = static_cast<std::time_t>(day_) + 24 * 3600;
    status_.waitingSince = dayEnd < now ? dayEnd : now;
  }
}

void RVIDSender::SetDayFileSize(std::uint64_t size) {
  dayFileSize_ = size;
  Publish();
}

void RVIDSender::RecountWhileWaiting() {
  // A server down for hours holds the sender on one record; what piles up
  // behind it meanwhile is what an operator needs to see.
  std::uint64_t size = 0;
  if (env_->FileSize(dayFilePath_, &size).ok() && size > dayFileSize_) SetDayFileSize(size);
  const std::int32_t today = static_cast<std::int32_t>(tessel::LocalMidnight(env_->NowSeconds()));
  CountLaterDays(today);
  Publish();
}

void RVIDSender::CountLaterDays(std::int32_t today) {
  if (day_ >= today) {
    laterRecords_ = 0;
    return;
  }
  // Counted again for each day, and every idle pause while on one day: the
  // directory holds many IP files, and today's file grows meanwhile.
  const std::int64_t now = env_->NowMillis();
  if (laterCountedFor_ == day_ && laterCountedAt_ != 0 &&
      now - laterCountedAt_ < pacing_.idlePauseMs)
    return;
  laterCountedFor_ = day_;
  laterCountedAt_ = now;
  laterRecords_ = 0;
  std::vector<std::string> names;
  if (!env_->GetChildren(virtualdbDir_, &names).ok()) return;
  for (const std::string& name : names) {
    tessel::SiteFile file;
    std::time_t day = 0;
    std::uint64_t size = 0;
    if (tessel::ParseFileName(name, &file) && file.type == tessel::SiteFileType::kDayFile &&
        tessel::MidnightOfDayStamp(file.dayStamp, &day) &&
        day > day_ && day <= today &&
        env_->FileSize(tessel::JoinPath(virtualdbDir_, name), &size).ok())
      laterRecords_ += size / kRecordSize;
  }
}

void RVIDSender::Acknowledged() {
  const std::time_t now = env_->NowSeconds();
  std::uint64_t retries = 0;
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    status_.connected = true;
    status_.lastAcknowledged = now;
    retries = status_.retries;
    status_.retries = 0;
  }
  if (!down_.Succeeded()) return;
  tessel::LogLine("upstream %s is back: acknowledged after %llu retries", Server().c_str(),
                  static_cast<unsigned long long>(retries));
}

void RVIDSender::Failed(const std::string& why) {
  const bool wentDown = down_.Failed(why, env_->NowSeconds());
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    status_.connected = false;
    status_.lastError = why;
    if (wentDown) {
      status_.downSince = down_.since();
      status_.retries = 0;
    }
  }
  if (!wentDown) return;
  tessel::LogLine("upstream %s is down: %s; the record waiting is sent again every %s s",
                  Server().c_str(), tessel::Printable(why).c_str(),
                  SecondsText(pacing_.retryPauseMs).c_str());
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
      // Its failures are reported here, once per spell, not per exchange.
      sender->SetAceLogging(false);
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
    if (down_.failing()) {
      std::lock_guard<std::mutex> guard(statusLock_);
      ++status_.retries;
    }
    if (sender_->Send(netlog_) == 0) {
      Acknowledged();
      return true;
    }
    if (StopRequested()) break;  // cut short: no news of the server
    Failed(sender_->lastFailure());
    Pause(pacing_.retryPauseMs);
    RecountWhileWaiting();
  }
  return false;
}

void RVIDSender::OnePass() {
  if (!Pause(pacing_.recordPauseMs)) return;
  const std::int32_t today = static_cast<std::int32_t>(tessel::LocalMidnight(env_->NowSeconds()));
  if (static_cast<std::int32_t>(tessel::LocalMidnight(day_)) > today) TakeFutureDayAsToday(today);
  CountLaterDays(today);
  dayFilePath_ = tessel::DayFileName(virtualdbDir_, tessel::DayStamp(day_));

  tessel::RiaBaseReader reader(env_);
  if (!reader.Open(dayFilePath_).ok()) {
    SetDayFileSize(0);
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
  // Only the writer decides that today's file is damaged (it cuts a torn
  // tail at start, before any sender looks): a part of a record at its end
  // is one still being appended, and the whole records before it are sent.
  if (shape == tessel::RiaBaseReader::kDamaged && day_ < today) {
    // A past day's file no longer grows: set it aside under its name and
    // the time, so that it is kept for inspection and the day goes on with
    // a fresh file.
    reader.Close();
    if (RenameReplace(dayFilePath_.c_str(),
                      tessel::SetAsideFileName(dayFilePath_, env_->NowSeconds()).c_str(), env_) == 0)
      env_->SyncDir(tessel::DirOf(dayFilePath_));
    dayFileSize_ = 0;
    SetProgress(day_, 0);
    Publish();
    return;
  }
  const std::uint64_t size = reader.size();
  SetDayFileSize(size);
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
