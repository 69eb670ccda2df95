// A reference upstream net-log server: accepts requests over TCP and UDP on
// one port, decodes them, reports each, and answers as configured.
#ifndef TESSEL_TOOLS_SINKSERVER_H
#define TESSEL_TOOLS_SINKSERVER_H

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "NetlogPacket.h"

namespace netlog {

enum class ReplyMode {
  kAcknowledge,  // answer with the request's own number
  kWrongNumber,  // answer with another number
  kSilent,       // read the request and answer nothing
  kClose,        // close the connection (TCP) without answering
};

class SinkServer {
 public:
  // Called once per decoded request, from the server's threads, serialised.
  using Listener = std::function<void(const Request&, const std::string& transport)>;

  SinkServer(const std::string& host, int port, ReplyMode mode, bool udp, Listener listener);
  ~SinkServer();

  // Binds and starts serving; false with a message on stderr when it cannot.
  bool Start();
  void Stop();
  int port() const { return port_; }

 private:
  void AcceptLoop();
  void ServeConnection(int fd);
  void UdpLoop();
  void Report(const Request& request, const std::string& transport);

  std::string host_;
  int port_;
  ReplyMode mode_;
  bool udp_;
  Listener listener_;
  int tcpFd_ = -1, udpFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex lock_;
  std::thread acceptThread_, udpThread_;
  std::vector<std::thread> threads_;  // one per TCP connection
  std::vector<int> connections_;
};

}  // namespace netlog

#endif
