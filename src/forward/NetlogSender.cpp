#include "forward/NetlogSender.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_socket.h>
#include <ace/OS_NS_unistd.h>
#include <ace/SOCK_Connector.h>
#include <ace/Time_Value.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/GbkTexts.h"
#include "forward/NetlogWire.h"
#include "port/Coding.h"

namespace gbk = tessel::gbk;
namespace fmt = tessel::netlog_format;
namespace port = tessel::port;
namespace wire = tessel::netlog_wire;
using wire::Verdict;

namespace {

// The source name every message of the sender is recorded under.
const char kLogSource[] = "../src/NetlogSender.cpp";

// Logs through ACE with the sender's source name and the given error number
// (which "%p" prints), unless the sender's owner reports failures itself.
#define NLS_LOG(errnum, priority, ...)                                          \
  do {                                                                          \
    if (!aceLogging_) break;                                                    \
    ACE_Log_Msg* log_ = ACE_Log_Msg::instance();                                \
    log_->conditional_set(kLogSource, __LINE__, -1, (errnum));                  \
    log_->log((priority), __VA_ARGS__);                                         \
  } while (0)

// The record's fields are copied as they are, so their sizes must be the
// wire's; the largest packet (every item 255 bytes long) must fit the buffer.
static_assert(sizeof(netlog_st::tag) == fmt::kTagSize);
static_assert(sizeof(netlog_st::code) == fmt::kCodeSize);
static_assert(sizeof(netlog_st::text) == fmt::kTextSize);
static_assert(sizeof(netlog_st::addr1) == fmt::kAddrSize);
static_assert(sizeof(netlog_st::port1) == fmt::kPortSize);
static_assert(sizeof(netlog_st::addr2) == fmt::kAddrSize);
static_assert(sizeof(netlog_st::port2) == fmt::kPortSize);
static_assert(sizeof(netlog_st::type_code) == fmt::kTypeCodeSize);
static_assert(sizeof(netlog_st::items) / sizeof(netlog_item) == fmt::kItemCount);
static_assert(wire::kMaxRequestSize <= NetlogSender::kBufferSize);

ACE_Time_Value Millis(int milliseconds) {
  return ACE_Time_Value(milliseconds / 1000, (milliseconds % 1000) * 1000);
}

std::string Seconds(int milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", milliseconds / 1000.0);
  return text;
}

std::string Because(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

// Why a receive of `count` bytes that got fewer failed; ACE reports a
// time-out as ETIME and a closed connection as 0.
std::string WhyReceiveFailed(ssize_t result, int error, int waitedMs) {
  if (result == 0) return "the server closed the connection before its whole reply";
  if (error == ETIME || error == EWOULDBLOCK) return "no reply within " + Seconds(waitedMs);
  return Because("receiving the reply failed", error);
}

}  // namespace

NetlogSender::NetlogSender(const std::string& host, unsigned short port, int strategy,
                           const Timing& timing)
    : serverValid_(false),
      sequence_(0),
      strategy_(strategy),
      udpOk_(false),
      tcpOk_(false),
      timing_(timing),
      packetLength_(0),
      aceLogging_(true),
      interrupted_(false),
      connecting_(ACE_INVALID_HANDLE),
      tcpOpen_(false),
      udpOpen_(false) {
  // IPv4 only: the UDP socket is an IPv4 socket, and "localhost" must not
  // turn into ::1. A host that does not resolve makes every exchange fail;
  // the address must not silently become 0.0.0.0 (this machine).
  serverValid_ = server_.set(port, host.c_str(), 1, AF_INET) == 0;
  std::memset(buffer_, 0, sizeof buffer_);
  std::memset(reply_, 0, sizeof reply_);
}

NetlogSender::~NetlogSender() { Close(); }

std::size_t NetlogSender::BuildPacket(const netlog_st& netlog) {
  packetLength_ = wire::BuildRequest(netlog, sequence_, buffer_);
  return packetLength_;
}

int NetlogSender::Open() {
  if (strategy_ == 0) strategy_ = kUdpThenTcp;
  switch (strategy_) {
    case kUdpOnly:
    case kUdpThenTcp:
      return UdpOpen();
    case kTcpOnly:
    case kTcpThenUdp:
      return TcpConnect(false);
    default:
      return 0;
  }
}

int NetlogSender::Send(const netlog_st& netlog) {
  std::size_t length = BuildPacket(netlog);

  // A transport that has just worked is tried first, whatever the strategy.
  if (tcpOk_) {
    if (TcpExchange(length) == 0) return 0;
  } else if (udpOk_) {
    if (UdpExchange(length) == 0) return 0;
  }

  int result = -1;
  switch (strategy_) {
    case kUdpOnly:
    case kUdpThenTcp:
      result = UdpExchange(length);
      break;
    case kTcpOnly:
    case kTcpThenUdp:
      result = TcpExchange(length);
      break;
    default:
      break;
  }
  if (result == 0) return 0;

  switch (strategy_) {
    case kUdpOnly:
    case kTcpOnly:
      return -1;
    case kUdpThenTcp:
      return TcpExchange(length);
    case kTcpThenUdp:
      CloseUdp();
      return UdpExchange(length);
    default:
      Fail("unknown sending strategy " + std::to_string(strategy_));
      NLS_LOG(errno, LM_ERROR, "Unknown net log sending strategy.\r\n");
      return -1;
  }
}

int NetlogSender::TcpConnect(bool reportCannotConnect) {
  ACE_SOCK_Stream fresh;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (tcpOpen_) return 0;
    if (interrupted_) {
      tcpOk_ = false;
      return -1;
    }
    // The socket is made here, not by the connector (which uses a socket it
    // is given), and a second descriptor of it is left where Interrupt can
    // shut it down: that ends a connect in progress. The second descriptor
    // keeps its number from being reused while Interrupt may still use it,
    // even after the connector has closed the first.
    if (serverValid_ && fresh.open(SOCK_STREAM, PF_INET, 0, 0) == 0)
      connecting_ = ACE_OS::dup(fresh.get_handle());
  }
  int result = -1;
  if (!serverValid_) {
    errno = EADDRNOTAVAIL;
  } else if (fresh.get_handle() != ACE_INVALID_HANDLE) {
    ACE_SOCK_Connector connector;
    ACE_Time_Value timeout = Millis(timing_.connectMs);
    result = connector.connect(fresh, server_, &timeout);
  }
  int error = errno;
  bool stopping;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (connecting_ != ACE_INVALID_HANDLE) ACE_OS::close(connecting_);
    connecting_ = ACE_INVALID_HANDLE;
    stopping = interrupted_;
  }
  if (result == -1 && stopping) {  // cut short on purpose: nothing to report
    fresh.close();
    tcpOk_ = false;
    return -1;
  }
  if (result == -1) {
    fresh.close();
    if (!serverValid_)
      Fail("the server's address does not resolve to an IPv4 address");
    else
      Fail(error == ETIME || error == EWOULDBLOCK ? "cannot connect within " + Seconds(timing_.connectMs)
                                                  : Because("cannot connect", error));
    char text[64] = "";
    server_.get_host_addr(text, sizeof text);
    NLS_LOG(error, LM_DEBUG, "Connect to - %s:%d.\r\n", text,
            static_cast<int>(server_.get_port_number()));
    NLS_LOG(error, LM_ERROR, "%p\n", "ACE_SOCK_Connector::connect");
    if (reportCannotConnect) NLS_LOG(error, LM_ERROR, gbk::kCannotConnectTcp);
    tcpOk_ = false;
    return -1;
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (interrupted_) {
    fresh.close();
    tcpOk_ = false;
    return -1;
  }
  stream_.set_handle(fresh.get_handle());
  fresh.set_handle(ACE_INVALID_HANDLE);
  tcpOpen_ = true;
  return 0;
}

int NetlogSender::TcpExchange(std::size_t length) {
  if (TcpConnect(true) != 0) return -1;

  Verdict verdict = Verdict::kUnusable;
  std::string why;
  const ssize_t sent = stream_.send_n(buffer_, length, MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(length)) {
    std::size_t received = 0;
    verdict = wire::ReceiveStreamReply(
        [this, &why](unsigned char* to, std::size_t count) {
          ACE_Time_Value timeout = Millis(timing_.tcpReplyMs);
          const ssize_t got = stream_.recv_n(to, count, &timeout);
          if (got == static_cast<ssize_t>(count)) return true;
          why = WhyReceiveFailed(got, errno, timing_.tcpReplyMs);
          return false;
        },
        reply_, sequence_, &received);
    if (verdict == Verdict::kUnusable && why.empty())
      why = "a reply announcing " +
            std::to_string(port::DecodeFixed32BE(reply_ + fmt::kFrameLengthAt)) +
            " bytes after its header, which cannot hold an acknowledgement";
  } else {
    why = sent == 0 ? std::string("the server closed the connection")
                    : Because("sending failed", errno);
  }
  if (verdict == Verdict::kAcknowledged) {
    sequence_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(sequence_) + 1);
    tcpOk_ = true;
    return 0;
  }
  if (verdict == Verdict::kWrongNumber) {
    why = "the server acknowledged number " + std::to_string(wire::ResponseNumber(reply_)) +
          ", not " + std::to_string(sequence_);
    NLS_LOG(0, LM_ERROR, gbk::kTcpResponseMismatch, static_cast<int>(wire::ResponseNumber(reply_)),
            static_cast<int>(sequence_));
  }
  Fail(why);
  CloseTcp();
  tcpOk_ = false;
  return -1;
}

int NetlogSender::UdpOpen() {
  std::lock_guard<std::mutex> guard(lock_);
  if (udpOpen_) return 0;
  if (interrupted_) return -1;
  if (dgram_.open(ACE_Addr::sap_any, PF_INET) == -1) return -1;
  udpOpen_ = true;
  return 0;
}

int NetlogSender::UdpExchange(std::size_t length) {
  if (UdpOpen() != 0) {
    Fail(Because("cannot open a UDP socket", errno));
    udpOk_ = false;
    return -1;
  }
  ACE_Time_Value timeout = Millis(timing_.udpMs);
  ssize_t sent = serverValid_ ? dgram_.send(buffer_, length, server_, 0, &timeout) : -1;
  if (sent != static_cast<ssize_t>(length)) {
    Fail(serverValid_ ? Because("sending the UDP request failed", errno)
                      : "the server's address does not resolve to an IPv4 address");
    Pause(timing_.udpPauseMs);
    udpOk_ = false;
    return -1;
  }

  ACE_INET_Addr from;
  timeout = Millis(timing_.udpMs);
  ssize_t received = dgram_.recv(reply_, sizeof reply_, from, 0, &timeout);
  bool ok = received > 0;
  std::string why;
  if (!ok) why = received == 0 ? std::string("an empty UDP reply")
                               : errno == ETIME ? "no UDP reply within " + Seconds(timing_.udpMs)
                                                : Because("receiving the UDP reply failed", errno);
  if (ok && from != server_) {
    char fromText[64] = "", serverText[64] = "";
    from.get_host_addr(fromText, sizeof fromText);
    server_.get_host_addr(serverText, sizeof serverText);
    why = std::string("a UDP reply came from ") + fromText + ":" +
          std::to_string(from.get_port_number()) + ", not from the server";
    NLS_LOG(0, LM_WARNING, gbk::kUdpReplyFromOther, fromText,
            static_cast<int>(from.get_port_number()), serverText,
            static_cast<int>(server_.get_port_number()));
    ok = false;
  }
  // A datagram too short to hold the response number cannot acknowledge.
  const Verdict verdict =
      ok ? wire::CheckDatagramReply(reply_, static_cast<std::size_t>(received), sequence_)
         : Verdict::kUnusable;
  if (verdict == Verdict::kAcknowledged) {
    sequence_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(sequence_) + 1);
    udpOk_ = true;
    return 0;
  }
  if (verdict == Verdict::kWrongNumber) {
    why = "the server acknowledged number " + std::to_string(wire::ResponseNumber(reply_)) +
          ", not " + std::to_string(sequence_);
    NLS_LOG(0, LM_DEBUG, gbk::kUdpResponseMismatch,
            static_cast<int>(wire::ResponseNumber(reply_)), static_cast<int>(sequence_));
  } else if (ok) {
    why = "a UDP reply of " + std::to_string(received) +
          " bytes, too short to hold the response number";
  }
  Fail(why);
  CloseUdp();
  Pause(timing_.udpPauseMs);
  udpOk_ = false;
  return -1;
}

void NetlogSender::CloseTcp() {
  std::lock_guard<std::mutex> guard(lock_);
  if (tcpOpen_) {
    stream_.close();
    tcpOpen_ = false;
  }
}

void NetlogSender::CloseUdp() {
  std::lock_guard<std::mutex> guard(lock_);
  if (udpOpen_) {
    dgram_.close();
    udpOpen_ = false;
  }
}

void NetlogSender::Close() {
  CloseTcp();
  CloseUdp();
}

void NetlogSender::Interrupt() {
  std::lock_guard<std::mutex> guard(lock_);
  interrupted_ = true;
  // Shutting a socket down wakes a thread blocked on it in send, receive or
  // poll; the descriptor itself is closed later by the sending thread.
  if (connecting_ != ACE_INVALID_HANDLE) ACE_OS::shutdown(connecting_, SHUT_RDWR);
  if (tcpOpen_) ACE_OS::shutdown(stream_.get_handle(), SHUT_RDWR);
  if (udpOpen_) ACE_OS::shutdown(dgram_.get_handle(), SHUT_RDWR);
  wake_.notify_all();
}

void NetlogSender::Fail(const std::string& why) {
  bool stopping;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping = interrupted_;
  }
  lastFailure_ = stopping ? "stopped" : why;
}

void NetlogSender::Pause(int milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  wake_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return interrupted_; });
}
