#include "SinkServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "TextOut.h"
#include "forward/NetlogFormat.h"

namespace netlog {

namespace {

using tessel::netlog_format::kHeaderSize;

bool ReadExactly(int fd, unsigned char* buffer, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    ssize_t n = ::recv(fd, buffer + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::vector<unsigned char>& data) {
  for (std::size_t done = 0; done < data.size();) {
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Frames larger than this are not net-log requests.
const std::size_t kMaxFrame = 65536;

}  // namespace

SinkServer::SinkServer(const std::string& host, int port, ReplyMode mode, bool udp,
                       Listener listener)
    : host_(host), port_(port), mode_(mode), udp_(udp), listener_(std::move(listener)) {}

SinkServer::~SinkServer() { Stop(); }

bool SinkServer::Start() {
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port_));
  if (::inet_pton(AF_INET, host_.c_str(), &addr.sin_addr) != 1) {
    std::fprintf(stderr, "netlog-sink: %s is not an IPv4 address\n", textout::Printable(host_).c_str());
    return false;
  }
  tcpFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  ::setsockopt(tcpFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(tcpFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(tcpFd_, 16) != 0) {
    std::fprintf(stderr, "netlog-sink: cannot listen on %s:%d: %s\n", textout::Printable(host_).c_str(), port_,
                 std::strerror(errno));
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(tcpFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (udp_) {
    udpFd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (::bind(udpFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      std::fprintf(stderr, "netlog-sink: cannot bind UDP %s:%d: %s\n", textout::Printable(host_).c_str(), port_,
                   std::strerror(errno));
      return false;
    }
    udpThread_ = std::thread(&SinkServer::UdpLoop, this);
  }
  acceptThread_ = std::thread(&SinkServer::AcceptLoop, this);
  return true;
}

void SinkServer::Stop() {
  if (stopping_.exchange(true)) return;
  // The accept thread ends first, so no connection thread is added later.
  if (acceptThread_.joinable()) acceptThread_.join();
  if (udpThread_.joinable()) udpThread_.join();
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (int fd : connections_) if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : threads_) t.join();
  if (tcpFd_ >= 0) ::close(tcpFd_);
  if (udpFd_ >= 0) ::close(udpFd_);
}

void SinkServer::Report(const Request& request, const std::string& transport) {
  std::lock_guard<std::mutex> guard(lock_);
  listener_(request, transport);
}

void SinkServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{tcpFd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    int fd = ::accept(tcpFd_, nullptr, nullptr);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) { ::close(fd); break; }
    connections_.push_back(fd);
    threads_.emplace_back(&SinkServer::ServeConnection, this, fd);
  }
}

void SinkServer::ServeConnection(int fd) {
  std::vector<unsigned char> frame(kHeaderSize);
  while (!stopping_ && ReadExactly(fd, frame.data(), kHeaderSize)) {
    const std::size_t length = FrameLength(frame.data());
    if (length < kHeaderSize || length > kMaxFrame) break;
    frame.resize(length);
    if (!ReadExactly(fd, frame.data() + kHeaderSize, length - kHeaderSize)) break;
    Request request;
    std::string error;
    if (!DecodeRequest(frame, &request, &error)) {
      std::fprintf(stderr, "netlog-sink: tcp: dropped a frame: %s\n", error.c_str());
      break;
    }
    Report(request, "tcp");
    if (mode_ == ReplyMode::kClose) break;
    if (mode_ == ReplyMode::kSilent) { frame.resize(kHeaderSize); continue; }
    const std::int32_t number = mode_ == ReplyMode::kWrongNumber ? request.sequence + 1000
                                                                 : request.sequence;
    if (!WriteAll(fd, BuildReply(number))) break;
    frame.resize(kHeaderSize);
  }
  std::lock_guard<std::mutex> guard(lock_);
  ::shutdown(fd, SHUT_RDWR);
  // The descriptor stays listed until Stop, which only shuts it down; it is
  // closed here once, by the thread that owned it.
  for (int& listed : connections_) if (listed == fd) listed = -1;
  ::close(fd);
}

void SinkServer::UdpLoop() {
  std::vector<unsigned char> datagram(kMaxFrame);
  while (!stopping_) {
    pollfd p{udpFd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    sockaddr_in from;
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(udpFd_, datagram.data(), datagram.size(), 0,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) continue;
    std::vector<unsigned char> packet(datagram.begin(), datagram.begin() + n);
    Request request;
    std::string error;
    if (!DecodeRequest(packet, &request, &error)) {
      std::fprintf(stderr, "netlog-sink: udp: dropped a datagram: %s\n", error.c_str());
      continue;
    }
    Report(request, "udp");
    if (mode_ == ReplyMode::kSilent || mode_ == ReplyMode::kClose) continue;
    const std::int32_t number = mode_ == ReplyMode::kWrongNumber ? request.sequence + 1000
                                                                 : request.sequence;
    std::vector<unsigned char> reply = BuildReply(number);
    ::sendto(udpFd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace netlog
