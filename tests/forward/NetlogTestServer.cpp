#include "NetlogTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "forward/NetlogFormat.h"
#include "port/Coding.h"

namespace forward_test {

namespace fmt = tessel::netlog_format;
using tessel::port::DecodeFixed32BE;
using tessel::port::EncodeFixed32BE;

namespace {

// The sequence number of a request of `size` bytes, -1 when it has none.
std::int32_t SequenceOf(const unsigned char* request, std::size_t size) {
  return size >= fmt::kSequenceAt + 4
             ? static_cast<std::int32_t>(DecodeFixed32BE(request + fmt::kSequenceAt))
             : -1;
}

sockaddr_in Loopback(int port) {
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return addr;
}

int BoundSocket(int type, int port) {
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr = Loopback(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int LocalPort(int fd) {
  sockaddr_in addr;
  socklen_t length = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  return ntohs(addr.sin_port);
}

}  // namespace

std::int32_t Request::Sequence() const { return SequenceOf(bytes.data(), bytes.size()); }

NetlogTestServer::NetlogTestServer()
    : port_(0), listenFd_(-1), udpFd_(-1), otherUdpFd_(-1), reply_(Reply::kAck), udpReply_(Reply::kAck),
      refusing_(false), stopping_(false) {
  // One port number for TCP and UDP; a few tries in case UDP's is taken.
  for (int attempt = 0; attempt < 20 && port_ == 0; ++attempt) {
    int tcp = BoundSocket(SOCK_STREAM, 0);
    if (tcp < 0) continue;
    int port = LocalPort(tcp);
    int udp = BoundSocket(SOCK_DGRAM, port);
    if (udp < 0) {
      ::close(tcp);
      continue;
    }
    ::close(tcp);
    ::close(udp);
    port_ = port;
  }
  if (port_ == 0) throw std::runtime_error("no free port");
  otherUdpFd_ = BoundSocket(SOCK_DGRAM, 0);
  if (::pipe2(wakeFds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  OpenSockets();
  thread_ = std::thread(&NetlogTestServer::Run, this);
}

NetlogTestServer::~NetlogTestServer() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  char byte = 0;
  if (::write(wakeFds_[1], &byte, 1) != 1) {
  }
  thread_.join();
  CloseSockets();
  if (otherUdpFd_ >= 0) ::close(otherUdpFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

void NetlogTestServer::OpenSockets() {
  listenFd_ = BoundSocket(SOCK_STREAM, port_);
  if (listenFd_ >= 0) ::listen(listenFd_, 16);
  udpFd_ = BoundSocket(SOCK_DGRAM, port_);
  if (listenFd_ < 0 || udpFd_ < 0) throw std::runtime_error("cannot bind the test port again");
}

void NetlogTestServer::CloseSockets() {
  for (Client& client : clients_) ::close(client.fd);
  clients_.clear();
  if (listenFd_ >= 0) ::close(listenFd_);
  if (udpFd_ >= 0) ::close(udpFd_);
  listenFd_ = udpFd_ = -1;
}

void NetlogTestServer::SetReply(Reply reply) {
  std::lock_guard<std::mutex> guard(lock_);
  reply_ = reply;
  udpReply_ = reply;
}

void NetlogTestServer::SetUdpReply(Reply reply) {
  std::lock_guard<std::mutex> guard(lock_);
  udpReply_ = reply;
}

void NetlogTestServer::SetRefusing(bool refusing) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    refusing_ = refusing;
  }
  char byte = 0;
  if (::write(wakeFds_[1], &byte, 1) != 1) {
  }
  // Wait until the server thread has acted on it.
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait_for(guard, std::chrono::seconds(5), [&] {
    return refusing == (listenFd_ < 0);
  });
}

std::vector<Request> NetlogTestServer::Requests() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::size_t NetlogTestServer::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_.size();
}

bool NetlogTestServer::WaitForCount(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

void NetlogTestServer::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.clear();
}

void NetlogTestServer::Record(bool udp, const unsigned char* data, std::size_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.push_back(Request{udp, std::vector<unsigned char>(data, data + size)});
  changed_.notify_all();
}

std::vector<unsigned char> NetlogTestServer::MakeReply(std::int32_t number, bool shortReply) const {
  std::vector<unsigned char> reply(shortReply ? 124 : 200, 0);
  EncodeFixed32BE(&reply[fmt::kFrameLengthAt],
                  static_cast<std::uint32_t>(reply.size() - fmt::kHeaderSize));
  if (!shortReply)
    EncodeFixed32BE(&reply[fmt::kResponseNumberAt], static_cast<std::uint32_t>(number));
  return reply;
}

void NetlogTestServer::HandleTcp(Client& client, bool* keep) {
  unsigned char chunk[4096];
  ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
  if (n <= 0) {
    *keep = false;
    return;
  }
  client.pending.insert(client.pending.end(), chunk, chunk + n);
  while (client.pending.size() >= fmt::kHeaderSize) {
    std::size_t total = fmt::kHeaderSize + DecodeFixed32BE(&client.pending[fmt::kFrameLengthAt]);
    if (client.pending.size() < total) return;
    Request request{false, std::vector<unsigned char>(client.pending.begin(),
                                                      client.pending.begin() + total)};
    client.pending.erase(client.pending.begin(), client.pending.begin() + total);
    Reply reply;
    {
      std::lock_guard<std::mutex> guard(lock_);
      reply = reply_;
    }
    Record(false, request.bytes.data(), request.bytes.size());
    std::vector<unsigned char> answer;
    switch (reply) {
      case Reply::kAck:
      case Reply::kOtherPort:
        answer = MakeReply(request.Sequence(), false);
        break;
      case Reply::kWrongNumber:
        answer = MakeReply(request.Sequence() + 1, false);
        break;
      case Reply::kShort:
        answer = MakeReply(0, true);
        break;
      case Reply::kOversized:
        answer.assign(fmt::kHeaderSize, 0);
        EncodeFixed32BE(&answer[fmt::kFrameLengthAt], 600);
        break;
      case Reply::kClose:
        *keep = false;
        return;
      case Reply::kSilent:
        break;
    }
    if (!answer.empty() && ::send(client.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) {
      *keep = false;
      return;
    }
  }
}

void NetlogTestServer::HandleUdp() {
  unsigned char datagram[65536];
  sockaddr_in from;
  socklen_t length = sizeof from;
  ssize_t n = ::recvfrom(udpFd_, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from),
                         &length);
  if (n <= 0) return;
  Record(true, datagram, static_cast<std::size_t>(n));
  Reply reply;
  {
    std::lock_guard<std::mutex> guard(lock_);
    reply = udpReply_;
  }
  std::int32_t number = SequenceOf(datagram, static_cast<std::size_t>(n));
  std::vector<unsigned char> answer;
  int fd = udpFd_;
  switch (reply) {
    case Reply::kAck:
      answer = MakeReply(number, false);
      break;
    case Reply::kOtherPort:
      answer = MakeReply(number, false);
      fd = otherUdpFd_;
      break;
    case Reply::kWrongNumber:
      answer = MakeReply(number + 1, false);
      break;
    case Reply::kShort:
      answer = MakeReply(number, true);
      break;
    case Reply::kOversized:
      answer = MakeReply(number, false);
      EncodeFixed32BE(&answer[fmt::kFrameLengthAt], 600);
      break;
    default:
      return;
  }
  ::sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
}

void NetlogTestServer::Run() {
  for (;;) {
    bool refusing;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) return;
      refusing = refusing_;
    }
    if (refusing && listenFd_ >= 0) {
      std::lock_guard<std::mutex> guard(lock_);
      CloseSockets();
      changed_.notify_all();
    } else if (!refusing && listenFd_ < 0) {
      std::lock_guard<std::mutex> guard(lock_);
      OpenSockets();
      changed_.notify_all();
    }

    std::vector<pollfd> fds;
    fds.push_back(pollfd{wakeFds_[0], POLLIN, 0});
    if (listenFd_ >= 0) fds.push_back(pollfd{listenFd_, POLLIN, 0});
    if (udpFd_ >= 0) fds.push_back(pollfd{udpFd_, POLLIN, 0});
    const std::size_t firstClient = fds.size();
    for (const Client& client : clients_) fds.push_back(pollfd{client.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 1000) <= 0) continue;

    if (fds[0].revents != 0) {
      char drain[64];
      if (::read(wakeFds_[0], drain, sizeof drain) < 0) {
      }
    }
    std::vector<Client> kept;
    for (std::size_t i = firstClient; i < fds.size(); ++i) {
      Client& client = clients_[i - firstClient];
      bool keep = true;
      if (fds[i].revents != 0) HandleTcp(client, &keep);
      if (keep)
        kept.push_back(client);
      else
        ::close(client.fd);
    }
    clients_.swap(kept);
    for (std::size_t i = 1; i < firstClient; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == listenFd_) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) clients_.push_back(Client{fd, {}});
      } else if (fds[i].fd == udpFd_) {
        HandleUdp();
      }
    }
  }
}

}  // namespace forward_test
