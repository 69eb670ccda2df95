#include "service/SystemdWatchdog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tessel {

bool NotifySystemd(const std::string& socketPath, const std::string& message) {
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (socketPath.size() < 2 || socketPath.size() >= sizeof address.sun_path ||
      (socketPath[0] != '/' && socketPath[0] != '@'))
    return false;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  if (socketPath[0] == '@') address.sun_path[0] = '\0';
  const socklen_t length =
      static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + socketPath.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const struct sockaddr*>(&address), length);
  ::close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

SystemdWatchdog::SystemdWatchdog(port::Env* env, const std::string& socketPath, int intervalMs)
    : StoppableThread(env), socketPath_(socketPath), intervalMs_(intervalMs) {}

SystemdWatchdogPtr SystemdWatchdog::FromEnvironment(port::Env* env) {
  const std::string socketPath = env->GetVariable("NOTIFY_SOCKET");
  const std::string usec = env->GetVariable("WATCHDOG_USEC");
  const std::string pid = env->GetVariable("WATCHDOG_PID");
  if (socketPath.empty() || usec.empty()) return 0;
  if (!pid.empty() && std::strtol(pid.c_str(), nullptr, 10) != static_cast<long>(::getpid()))
    return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long timeout = std::strtoull(usec.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || timeout == 0 || usec[0] == '-') return 0;
  // A quarter of the time-out, so that a late ping or two are no restart.
  const unsigned long long intervalMs = timeout / 4000;
  return new SystemdWatchdog(env, socketPath,
                             intervalMs < 1 ? 1 : intervalMs > 3600000 ? 3600000
                                                                      : static_cast<int>(intervalMs));
}

void SystemdWatchdog::run() {
  do {
    NotifySystemd(socketPath_, "WATCHDOG=1");
  } while (Pause(intervalMs_));
}

}  // namespace tessel
