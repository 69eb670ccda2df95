// The service's keep-alive messages to systemd's watchdog, received on a real
// datagram socket standing in for systemd's.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "port/Port.h"
#include "service/SystemdWatchdog.h"

using namespace testing_support;

namespace {

// Bound to a path, or to an abstract name given as "@name".
class NotifyListener {
 public:
  explicit NotifyListener(const std::string& address) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un un = {};
    un.sun_family = AF_UNIX;
    std::memcpy(un.sun_path, address.data(), address.size());
    if (address[0] == '@') un.sun_path[0] = '\0';
    const socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + address.size());
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<struct sockaddr*>(&un), length) == 0;
  }
  ~NotifyListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }
  // The messages received since the last call.
  std::vector<std::string> take() {
    std::vector<std::string> messages;
    char buffer[256];
    ssize_t n;
    while ((n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
      messages.emplace_back(buffer, static_cast<std::size_t>(n));
    return messages;
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST(SystemdWatchdogTest, PingsWhileRunningAndNotOnceStopped) {
  TempDir dir;
  NotifyListener systemd(dir / "notify");
  ASSERT_TRUE(systemd.bound());
  tessel::SystemdWatchdogPtr watchdog =
      new tessel::SystemdWatchdog(tessel::port::Env::Default(), dir / "notify", 10);
  watchdog->start();
  std::size_t pings = 0;
  EXPECT_TRUE(WaitUntil([&] {
    for (const std::string& message : systemd.take()) {
      EXPECT_EQ(message, "WATCHDOG=1");
      ++pings;
    }
    return pings >= 3;
  }, std::chrono::seconds(10)));
  watchdog->StopAndJoin();
  systemd.take();
  // Joined: nothing can come any more.
  EXPECT_TRUE(systemd.take().empty());
}

TEST(SystemdWatchdogTest, FollowsWhatSystemdAskedOfThisProcess) {
  const std::string name = "@tessel-watchdog-test-" + std::to_string(::getpid());
  NotifyListener systemd(name);
  ASSERT_TRUE(systemd.bound());
  tessel::port::Env* env = tessel::port::Env::Default();
  ScopedEnv socket("NOTIFY_SOCKET", name);
  {
    ScopedEnv none = ScopedEnv::unset("WATCHDOG_USEC");
    EXPECT_FALSE(tessel::SystemdWatchdog::FromEnvironment(env)) << "no watchdog asked for";
  }
  ScopedEnv usec("WATCHDOG_USEC", "40000");
  {
    ScopedEnv other("WATCHDOG_PID", std::to_string(::getpid() + 1));
    EXPECT_FALSE(tessel::SystemdWatchdog::FromEnvironment(env)) << "asked of another process";
  }
  {
    ScopedEnv bad("WATCHDOG_USEC", "20s");
    EXPECT_FALSE(tessel::SystemdWatchdog::FromEnvironment(env));
  }
  ScopedEnv ours("WATCHDOG_PID", std::to_string(::getpid()));
  tessel::SystemdWatchdogPtr watchdog = tessel::SystemdWatchdog::FromEnvironment(env);
  ASSERT_TRUE(watchdog);
  watchdog->start();
  std::size_t pings = 0;
  EXPECT_TRUE(WaitUntil([&] { return (pings += systemd.take().size()) >= 2; },
                        std::chrono::seconds(10)));
  watchdog->StopAndJoin();
}

TEST(SystemdWatchdogTest, NotifyingNoSocketFails) {
  TempDir dir;
  EXPECT_FALSE(tessel::NotifySystemd(dir / "nobody-listens", "WATCHDOG=1"));
  EXPECT_FALSE(tessel::NotifySystemd("relative/path", "WATCHDOG=1"));
}

}  // namespace
