// Keep-alive messages to systemd's watchdog while the service is started.
// A unit with WatchdogSec= restarts icebox when they stop coming: the service
// was stopped inside a running icebox (iceboxadmin stop) or hangs.
#ifndef TESSEL_SERVICE_SYSTEMDWATCHDOG_H
#define TESSEL_SERVICE_SYSTEMDWATCHDOG_H

#include <IceUtil/Handle.h>

#include <string>

#include "common/StoppableThread.h"
#include "port/Env.h"

namespace tessel {

// Sends one datagram to systemd's notification socket `socketPath` (a path,
// or "@name" for the abstract namespace); false when it cannot be sent.
bool NotifySystemd(const std::string& socketPath, const std::string& message);

class SystemdWatchdog : public StoppableThread {
 public:
  // Sends "WATCHDOG=1" to `socketPath` at once and every `intervalMs`.
  SystemdWatchdog(port::Env* env, const std::string& socketPath, int intervalMs);

  // The watchdog systemd asked this process for (NOTIFY_SOCKET and
  // WATCHDOG_USEC, for this process when WATCHDOG_PID is set), pinged at a
  // quarter of its time-out; empty when there is none.
  static IceUtil::Handle<SystemdWatchdog> FromEnvironment(port::Env* env);

  virtual void run();

 private:
  const std::string socketPath_;
  const int intervalMs_;
};

typedef IceUtil::Handle<SystemdWatchdog> SystemdWatchdogPtr;

}  // namespace tessel

#endif
