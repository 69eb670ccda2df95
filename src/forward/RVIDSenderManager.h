// Keeps one day-file sender running for every upstream server listed in the
// site's netbarcfg.ini (section "P2PVIRTUALID"), following the list as it
// changes: servers added, removed, or marked overdue.
#ifndef TESSEL_FORWARD_RVIDSENDERMANAGER_H
#define TESSEL_FORWARD_RVIDSENDERMANAGER_H

#include <IceUtil/Handle.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/FaultSpell.h"
#include "common/SiteContext.h"
#include "forward/DayFileRetention.h"
#include "forward/RVIDSender.h"
#include "forward/ServerList.h"
#include "common/StoppableThread.h"
#include "forward/UpstreamStatus.h"
#include "port/Env.h"

class RVIDSenderManager : public tessel::StoppableThread {
 public:
  // Follows the site's netbarcfg.ini. `passPauseMs`: the pause between two
  // readings of the list. `senderPacing`: handed to every sender created.
  // Files and the clock are reached through the site's Env, which every
  // sender is given too.
  static constexpr int kPassPauseMs = 5000;
  explicit RVIDSenderManager(const tessel::SiteContext& site, int passPauseMs = kPassPauseMs,
                             const RVIDSender::Pacing& senderPacing = RVIDSender::Pacing());
  virtual ~RVIDSenderManager();

  virtual void run();

  // Removes day files older than `days` once every upstream has them (0,
  // the default, keeps them all). Called before start.
  void SetDayFileKeepDays(int days);

  // Ends the list-following loop and stops and joins every sender. Returns
  // when all of them have ended; the progress files stay for a later start.
  void Stop();

  // How each server's sender is doing, in the order of their keys. Safe from
  // any thread; neither the manager nor a sender is held up for long.
  std::vector<tessel::UpstreamStatus> Statuses() const;

 private:
  void OnePass();
  void Follow(const tessel::ServerList& list);
  void Report(const std::string& path, const tessel::ServerList& list);
  void StopSenders(const std::vector<std::string>& keys);
  // One line when a server has no progress file but another spelling of it
  // has.
  void WarnOfOtherSpelling(const tessel::ServerEntry& entry);
  void StopAll();

  tessel::port::Env* const env;
  const tessel::SiteContext site;
  int passPauseMs;
  RVIDSender::Pacing senderPacing;
  // "<address>:<port>" as configured -> the sender serving it. Changed by
  // the manager's thread alone, under tableLock, so that Statuses() may
  // read it from others.
  std::map<std::string, RVIDSenderPtr> senders;
  mutable std::mutex tableLock;
  // The stale marks: within a pass, the servers of the table not (yet) seen
  // in this reading of the list.
  std::set<std::string> stale;
  // What has been told about the file: each remark on a value once, and
  // whether it is unusable now (one line when it goes, one when it is back).
  std::set<std::string> noted;
  tessel::FaultSpell listLost;
  // Runs in this thread, between passes; none when day files are kept.
  std::unique_ptr<tessel::DayFileRetention> retention;
};

typedef IceUtil::Handle<RVIDSenderManager> RVIDSenderManagerPtr;

#endif
