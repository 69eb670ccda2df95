// The day-file sender of one upstream server: sends every record of the day
// files, in file order and one day after the other, until each is
// acknowledged, and remembers in its progress file how far it got.
#ifndef TESSEL_FORWARD_RVIDSENDER_H
#define TESSEL_FORWARD_RVIDSENDER_H

#include <IceUtil/Handle.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/FaultSpell.h"
#include "common/SiteContext.h"
#include "forward/NLS.h"
#include "forward/NetlogConvert.h"
#include "forward/NetlogSender.h"
#include "forward/RVIDSenderPacing.h"
#include "common/StoppableThread.h"
#include "forward/UpstreamStatus.h"
#include "port/Env.h"
#include "record/VirtualIdRecord.h"

class RVIDSender : public tessel::StoppableThread {
 public:
  typedef tessel::RVIDSenderPacing Pacing;

  // `host` null or none given: "localhost". The port is used modulo 65536.
  // `startOffset` is where today's file is started when there is no
  // progress file yet; -1 is its start. Opens (or creates) the progress
  // file "virtualdb/<host>_<port>.spg" under the site's working directory,
  // and sends the day files of its virtualdb directory. Files and the clock
  // are reached through the site's Env.
  RVIDSender(const char* host, int port, int startOffset, const tessel::SiteContext& site,
             const Pacing& pacing = Pacing());
  virtual ~RVIDSender();

  virtual void run();

  const std::string& host() const { return host_; }
  unsigned short port() const { return port_; }
  const std::string& progressPath() const { return progressPath_; }

  // How the sender is doing now. Safe from any thread; the sender is held
  // up only while the copy is made.
  tessel::UpstreamStatus Status() const;

 private:
  virtual void OnStopRequested();
  void OnePass();
  bool SendUntilAcknowledged();
  void SetProgress(std::int32_t day, std::uint32_t offset);
  void SaveProgress();
  bool OpenProgressFile(bool create);
  void Advance();
  void TakeFutureDayAsToday(std::int32_t today);
  void Acknowledged();
  void Failed(const std::string& why);
  void CountLaterDays(std::int32_t today);
  void RecountWhileWaiting();
  void SetDayFileSize(std::uint64_t size);
  void Publish();
  std::string Server() const;

  tessel::port::Env* const env_;
  const std::string virtualdbDir_;
  std::string host_;
  unsigned short port_;
  Pacing pacing_;
  std::mutex senderLock_;  // the handle is created on the thread, interrupted from others
  NetlogSender* sender_;
  VirtualIdRecord record_;
  netlog_st netlog_;
  tessel::NetlogItemTexts texts_;
  std::string dayFilePath_;
  std::string progressPath_;
  // Open for the sender's life once it could be opened.
  std::unique_ptr<tessel::port::File> progress_;
  bool progressWarned_;
  std::int32_t day_;
  std::uint32_t offset_;

  // What Status() shows, kept by the sender's thread.
  std::uint64_t dayFileSize_;    // of the day file being sent, when last looked at
  std::uint64_t laterRecords_;   // in the day files after a past day, up to today's
  std::int32_t laterCountedFor_;  // the day they were counted after
  std::int64_t laterCountedAt_;   // when, on the monotonic clock
  tessel::FaultSpell down_;  // the server does not acknowledge
  mutable std::mutex statusLock_;
  tessel::UpstreamStatus status_;
};

typedef IceUtil::Handle<RVIDSender> RVIDSenderPtr;

#endif
