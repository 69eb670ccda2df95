// One connection to an upstream net-log server: builds the request packet of
// a net-log record, delivers it over TCP or UDP and checks that the reply
// carries the request's number (the bytes of both: forward/NetlogWire.h).
#ifndef TESSEL_FORWARD_NETLOGSENDER_H
#define TESSEL_FORWARD_NETLOGSENDER_H

#include <ace/INET_Addr.h>
#include <ace/SOCK_Dgram.h>
#include <ace/SOCK_Stream.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "forward/NLS.h"
#include "forward/NetlogFormat.h"

namespace tessel {

// Network waits in milliseconds; the defaults are the protocol's.
struct NetlogTiming {
  int connectMs = 5000;    // TCP connect
  int tcpReplyMs = 90000;  // each receive call of a TCP reply
  int udpMs = 5000;        // UDP send and reply
  int udpPauseMs = 1000;   // pause after a failed UDP exchange
};

}  // namespace tessel

class NetlogSender {
 public:
  enum Strategy { kUdpOnly = 1, kTcpOnly = 2, kUdpThenTcp = 3, kTcpThenUdp = 4 };

  static const std::size_t kBufferSize = 4096;

  typedef tessel::NetlogTiming Timing;

  NetlogSender(const std::string& host, unsigned short port, int strategy,
               const Timing& timing = Timing());
  ~NetlogSender();
  NetlogSender(const NetlogSender&) = delete;
  NetlogSender& operator=(const NetlogSender&) = delete;

  // Opens the transport of the strategy at once (strategy 0 becomes 3
  // first). 0 on success, -1 when it could not be opened.
  int Open();

  // Sends one record: 0 when the server acknowledged it, -1 otherwise.
  int Send(const netlog_st& netlog);

  // Closes the TCP stream and the UDP socket.
  void Close();

  // May be called from any thread: every wait of a send in progress ends
  // (sockets are shut down, pauses cut short) and every later exchange
  // fails at once. Used to stop a sending thread promptly.
  void Interrupt();

  // Whether failures are logged through ACE with the protocol's messages
  // (on by default, as the NLS_* callers expect). The day-file senders turn
  // it off: they report a server going down and coming back themselves.
  void SetAceLogging(bool on) { aceLogging_ = on; }

  // Why the last exchange that failed did, for a person ("cannot connect:
  // Connection refused"); empty before any failure.
  const std::string& lastFailure() const { return lastFailure_; }

  std::int32_t sequence() const { return sequence_; }
  int strategy() const { return strategy_; }
  const ACE_INET_Addr& serverAddr() const { return server_; }
  // The send buffer and the length of the last packet built in it.
  const unsigned char* buffer() const { return buffer_; }
  std::size_t packetLength() const { return packetLength_; }

 private:
  std::size_t BuildPacket(const netlog_st& netlog);
  int TcpConnect(bool reportCannotConnect);
  int TcpExchange(std::size_t length);
  int UdpOpen();
  int UdpExchange(std::size_t length);
  void CloseTcp();
  void CloseUdp();
  void Pause(int milliseconds);
  void Fail(const std::string& why);

  ACE_SOCK_Stream stream_;
  ACE_SOCK_Dgram dgram_;
  ACE_INET_Addr server_;
  bool serverValid_;  // false when the host did not resolve
  unsigned char buffer_[kBufferSize];
  unsigned char reply_[tessel::netlog_format::kReplyBufferSize];
  std::int32_t sequence_;
  int strategy_;
  bool udpOk_;
  bool tcpOk_;
  Timing timing_;
  std::size_t packetLength_;
  bool aceLogging_;
  std::string lastFailure_;

  // Guards the socket handles against Interrupt() from another thread: a
  // handle is opened, closed and shut down only under this lock, so
  // Interrupt never touches a descriptor that was already given back.
  std::mutex lock_;
  std::condition_variable wake_;
  bool interrupted_;
  ACE_HANDLE connecting_;  // a descriptor of the socket being connected
  bool tcpOpen_;
  bool udpOpen_;
};

#endif
