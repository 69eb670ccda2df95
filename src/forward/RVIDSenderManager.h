// Keeps one day-file sender running for every upstream server listed in the
// site's netbarcfg.ini (section "P2PVIRTUALID"), following the list as it
// changes: servers added, removed, or marked overdue.
#ifndef TESSEL_FORWARD_RVIDSENDERMANAGER_H
#define TESSEL_FORWARD_RVIDSENDERMANAGER_H

#include <IceUtil/Handle.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "forward/RVIDSender.h"
#include "forward/StoppableThread.h"
#include "port/Env.h"

class RVIDSenderManager : public tessel::StoppableThread {
 public:
  // `passPauseMs`: the pause between two readings of the list.
  // `senderPacing`: handed to every sender created. Files and the clock are
  // reached through `env`, which every sender is given too.
  static constexpr int kPassPauseMs = 5000;
  explicit RVIDSenderManager(int passPauseMs = kPassPauseMs,
                             const RVIDSender::Pacing& senderPacing = RVIDSender::Pacing(),
                             tessel::port::Env* env = tessel::port::Env::Default());
  virtual ~RVIDSenderManager();

  virtual void run();

  // Ends the list-following loop and stops and joins every sender. Returns
  // when all of them have ended; the progress files stay for a later start.
  void Stop();

 private:
  void OnePass();
  void StopSenders(const std::vector<std::string>& keys);
  void StopAll();

  tessel::port::Env* const env_;
  int passPauseMs_;
  RVIDSender::Pacing senderPacing_;
  // "<address>:<port>" as configured -> the sender serving it.
  std::map<std::string, RVIDSenderPtr> senders;
  // The stale marks: within a pass, the servers of the table not (yet) seen
  // in this reading of the list.
  std::set<std::string> stale;
};

typedef IceUtil::Handle<RVIDSenderManager> RVIDSenderManagerPtr;

#endif
