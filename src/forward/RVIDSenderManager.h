// Keeps one day-file sender running for every upstream server listed in the
// site's netbarcfg.ini (section "P2PVIRTUALID"), following the list as it
// changes: servers added, removed, or marked overdue.
#ifndef TESSEL_FORWARD_RVIDSENDERMANAGER_H
#define TESSEL_FORWARD_RVIDSENDERMANAGER_H

#include <IceUtil/Handle.h>

#include <map>
#include <string>

#include "forward/RVIDSender.h"
#include "forward/StoppableThread.h"

class RVIDSenderManager : public StoppableThread {
 public:
  // `passPauseMs`: the pause between two readings of the list.
  // `senderPacing`: handed to every sender created.
  explicit RVIDSenderManager(int passPauseMs = 5000,
                             const RVIDSender::Pacing& senderPacing = RVIDSender::Pacing());
  virtual ~RVIDSenderManager();

  virtual void run();

  // Ends the list-following loop and stops and joins every sender. Returns
  // when all of them have ended; the progress files stay for a later start.
  void Stop();

 private:
  void OnePass();
  void StopSenders(const std::vector<std::string>& keys);

  int passPauseMs_;
  RVIDSender::Pacing senderPacing_;
  // "<address>:<port>" as configured -> the sender serving it.
  std::map<std::string, RVIDSenderPtr> senders;
};

typedef IceUtil::Handle<RVIDSenderManager> RVIDSenderManagerPtr;

#endif
