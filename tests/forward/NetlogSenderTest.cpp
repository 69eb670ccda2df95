// The net-log sender against a test server on loopback: packet bytes,
// sequence numbers, transports and strategies, replies it must refuse,
// option parsing of NLS_init and its log messages.
#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Record.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "NetlogTestServer.h"
#include "TestSupport.h"
#include "forward/NLS.h"
#include "forward/NetlogSender.h"
#include "common/GbkTexts.h"
#include "port/Coding.h"

using namespace tessel;

using forward_test::NetlogTestServer;
using forward_test::Reply;
using forward_test::Request;
using tessel::port::DecodeFixed32BE;

namespace {

// Short network waits so that failing exchanges do not hold the tests.
NetlogTiming Quick() {
  NetlogTiming timing;
  timing.connectMs = 1000;
  timing.tcpReplyMs = 300;
  timing.udpMs = 300;
  timing.udpPauseMs = 50;
  return timing;
}

struct SampleRecord {
  netlog_st n;
  char item0[8] = "ABCDE";
  char item2[8] = "xyz";
  SampleRecord() {
    std::memset(&n, 0, sizeof n);
    std::memcpy(n.tag, "11", 2);
    std::memcpy(n.code, "4401020001\0Z", 12);
    n.num1 = 0x01020304;
    n.num2 = 7;
    std::memcpy(n.text, "0123456789abcdefghij", 20);
    n.addr1 = 0xA0B0C0D0;
    n.port1 = 0x1234;
    n.num3 = 3;
    n.num4 = 4;
    n.num5 = 4465;
    std::memcpy(n.type_code, "1001", 5);
    n.logon_time = 1700000000;
    n.online_flag = 1;
    n.event_time = -2;
  }
  void WithItems() {
    n.items[0].data = item0;
    n.items[0].length = 5;
    n.items[2].data = item2;
    n.items[2].length = 3;
  }
};

std::string Transports(const std::vector<Request>& requests) {
  std::string order;
  for (const Request& r : requests) order += r.udp ? 'U' : 'T';
  return order;
}

// Collects what the sender logs on this thread.
class LogCapture : public ACE_Log_Msg_Callback {
 public:
  LogCapture() {
    ACE_Log_Msg* log = ACE_Log_Msg::instance();
    previous_ = log->msg_callback(this);
    log->set_flags(ACE_Log_Msg::MSG_CALLBACK);
  }
  ~LogCapture() override {
    ACE_Log_Msg* log = ACE_Log_Msg::instance();
    log->clr_flags(ACE_Log_Msg::MSG_CALLBACK);
    log->msg_callback(previous_);
  }
  void log(ACE_Log_Record& record) override {
    entries.emplace_back(static_cast<ACE_Log_Priority>(record.type()), record.msg_data());
  }
  bool Has(ACE_Log_Priority priority, const std::string& text) const {
    for (const auto& entry : entries)
      if (entry.first == priority && entry.second.find(text) != std::string::npos) return true;
    return false;
  }
  std::vector<std::pair<ACE_Log_Priority, std::string>> entries;

 private:
  ACE_Log_Msg_Callback* previous_;
};

std::string Format(const char* format, int a, int b) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

TEST(NetlogSenderTest, PacketLayoutSequenceAndChecksum) {
  NetlogTestServer server;
  NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), 2, Quick());
  SampleRecord record;
  ASSERT_EQ(0, sender.Send(record.n));
  record.WithItems();
  ASSERT_EQ(0, sender.Send(record.n));
  EXPECT_EQ(2, sender.sequence());

  // Offsets are spelled out here on purpose, not taken from
  // forward/NetlogFormat.h: this is what pins those constants to the wire.
  std::vector<Request> requests = server.Requests();
  ASSERT_EQ(2u, requests.size());
  const std::vector<unsigned char>& p = requests[0].bytes;
  ASSERT_EQ(194u, p.size());
  const unsigned char start[20] = {0xAB, 0xCD, 0xEF, 0xAB, 1, 0, 0, 0, 1};
  EXPECT_EQ(0, std::memcmp(p.data(), start, 20));
  EXPECT_EQ(170u, DecodeFixed32BE(&p[20]));
  EXPECT_EQ(2101u, DecodeFixed32BE(&p[24]));
  for (int i = 28; i < 92; ++i) EXPECT_EQ(0, p[i]) << i;
  EXPECT_EQ(1, p[92]);
  for (int i = 93; i < 102; ++i) EXPECT_EQ(0, p[i]) << i;
  EXPECT_EQ(88u, DecodeFixed32BE(&p[102]));
  EXPECT_EQ(0u, DecodeFixed32BE(&p[106]));
  EXPECT_EQ(0, std::memcmp(&p[114], "11", 2));
  EXPECT_EQ(0, std::memcmp(&p[116], "4401020001\0Z", 12));
  EXPECT_EQ(0x01020304u, DecodeFixed32BE(&p[128]));
  EXPECT_EQ(7u, DecodeFixed32BE(&p[132]));
  EXPECT_EQ(0, std::memcmp(&p[136], "0123456789abcdefghij", 20));
  EXPECT_EQ(0, std::memcmp(&p[156], &record.n.addr1, 4));  // as is
  EXPECT_EQ(0, std::memcmp(&p[160], &record.n.port1, 2));
  EXPECT_EQ(3u, DecodeFixed32BE(&p[162]));
  EXPECT_EQ(4u, DecodeFixed32BE(&p[166]));
  EXPECT_EQ(4465u, DecodeFixed32BE(&p[170]));
  for (int i = 174; i < 180; ++i) EXPECT_EQ(0, p[i]);
  EXPECT_EQ(0, std::memcmp(&p[180], "1001", 5));
  EXPECT_EQ(1700000000u, DecodeFixed32BE(&p[185]));
  EXPECT_EQ(1, p[189]);
  EXPECT_EQ(0xFFFFFFFEu, DecodeFixed32BE(&p[190]));

  // Checksum: the packet's bytes as signed values, the field counted as 0.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (i < 110 || i >= 114) sum += static_cast<std::uint32_t>(static_cast<signed char>(p[i]));
  EXPECT_EQ(sum, DecodeFixed32BE(&p[110]));

  const std::vector<unsigned char>& q = requests[1].bytes;
  ASSERT_EQ(212u, q.size());
  EXPECT_EQ(188u, DecodeFixed32BE(&q[20]));
  EXPECT_EQ(106u, DecodeFixed32BE(&q[102]));
  EXPECT_EQ(1u, DecodeFixed32BE(&q[106]));
  EXPECT_EQ(1, q[194]);
  EXPECT_EQ(5u, DecodeFixed32BE(&q[195]));
  EXPECT_EQ(0, std::memcmp(&q[199], "ABCDE", 5));
  EXPECT_EQ(3, q[204]);
  EXPECT_EQ(3u, DecodeFixed32BE(&q[205]));
  EXPECT_EQ(0, std::memcmp(&q[209], "xyz", 3));
}

TEST(NetlogSenderTest, WrongNumberFailsAndTheSameNumberIsSentAgain) {
  NetlogTestServer server;
  NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), 2, Quick());
  SampleRecord record;
  ASSERT_EQ(0, sender.Send(record.n));
  server.SetReply(Reply::kWrongNumber);
  {
    LogCapture log;
    EXPECT_EQ(-1, sender.Send(record.n));
    EXPECT_TRUE(log.Has(LM_ERROR, Format(gbk::kTcpResponseMismatch, 2, 1)));
    EXPECT_EQ("the server acknowledged number 2, not 1", sender.lastFailure());
  }
  EXPECT_EQ(1, sender.sequence());
  server.SetReply(Reply::kAck);
  EXPECT_EQ(0, sender.Send(record.n));
  // The failed send tried TCP twice (it had just worked, and it is the
  // strategy's transport), both times under number 1.
  std::vector<Request> requests = server.Requests();
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ(0, requests[0].Sequence());
  EXPECT_EQ(1, requests[1].Sequence());
  EXPECT_EQ(1, requests[2].Sequence());
  EXPECT_EQ(1, requests[3].Sequence());
  EXPECT_EQ(2, sender.sequence());
}

TEST(NetlogSenderTest, RepliesThatCannotAcknowledgeFailTheExchange) {
  NetlogTestServer server;
  SampleRecord record;
  for (Reply reply : {Reply::kOversized, Reply::kShort, Reply::kClose, Reply::kSilent}) {
    for (int strategy : {1, 2}) {
      if (strategy == 1 && (reply == Reply::kClose || reply == Reply::kOversized)) continue;
      NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), strategy,
                          Quick());
      server.SetReply(reply);
      EXPECT_EQ(-1, sender.Send(record.n)) << static_cast<int>(reply) << " " << strategy;
      EXPECT_EQ(0, sender.sequence());
      // The failed TCP stream was closed: the next exchange connects again.
      server.SetReply(Reply::kAck);
      EXPECT_EQ(0, sender.Send(record.n)) << static_cast<int>(reply) << " " << strategy;
    }
  }
}

// A UDP reply counts on its response number alone: what its header says of
// its length (here 600 bytes, in a datagram of 200) is not read.
TEST(NetlogSenderTest, UdpReplyIsJudgedByItsResponseNumber) {
  NetlogTestServer server;
  SampleRecord record;
  for (int strategy : {1, 3, 4}) {
    NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), strategy,
                        Quick());
    server.SetReply(Reply::kClose);  // TCP fails, so strategy 4 goes on to UDP
    server.SetUdpReply(Reply::kOversized);
    EXPECT_EQ(0, sender.Send(record.n)) << strategy;
    EXPECT_EQ(1, sender.sequence()) << strategy;
  }
}

TEST(NetlogSenderTest, StrategiesChooseTheTransports) {
  NetlogTestServer server;
  const unsigned short port = static_cast<unsigned short>(server.port());
  SampleRecord record;

  {  // 1: UDP only; once UDP worked, a failing send makes two UDP exchanges.
    NetlogSender sender("127.0.0.1", port, 1, Quick());
    server.SetReply(Reply::kSilent);
    EXPECT_EQ(-1, sender.Send(record.n));
    EXPECT_EQ("U", Transports(server.Requests()));
    server.Clear();
    server.SetReply(Reply::kAck);
    EXPECT_EQ(0, sender.Send(record.n));
    server.SetReply(Reply::kSilent);
    EXPECT_EQ(-1, sender.Send(record.n));
    EXPECT_EQ("UUU", Transports(server.Requests()));
    server.Clear();
  }
  {  // 3: UDP then TCP; TCP that worked is tried first next time.
    NetlogSender sender("127.0.0.1", port, 3, Quick());
    server.SetReply(Reply::kAck);
    server.SetUdpReply(Reply::kSilent);
    EXPECT_EQ(0, sender.Send(record.n));
    EXPECT_EQ(0, sender.Send(record.n));
    EXPECT_EQ("UTT", Transports(server.Requests()));
    server.Clear();
  }
  {  // 3 after UDP worked: two UDP exchanges, then TCP.
    NetlogSender sender("127.0.0.1", port, 3, Quick());
    server.SetReply(Reply::kAck);
    EXPECT_EQ(0, sender.Send(record.n));
    server.SetReply(Reply::kSilent);
    EXPECT_EQ(-1, sender.Send(record.n));
    EXPECT_EQ("UUUT", Transports(server.Requests()));
    server.Clear();
  }
  {  // 4: TCP, then UDP on a fresh socket.
    NetlogSender sender("127.0.0.1", port, 4, Quick());
    server.SetReply(Reply::kClose);
    server.SetUdpReply(Reply::kAck);
    EXPECT_EQ(0, sender.Send(record.n));
    EXPECT_EQ("TU", Transports(server.Requests()));
    server.Clear();
  }
  {  // 2: TCP only.
    NetlogSender sender("127.0.0.1", port, 2, Quick());
    server.SetReply(Reply::kSilent);
    EXPECT_EQ(-1, sender.Send(record.n));
    EXPECT_EQ("T", Transports(server.Requests()));
    server.Clear();
  }
  {  // Unknown: nothing is sent.
    LogCapture log;
    NetlogSender sender("127.0.0.1", port, 7, Quick());
    EXPECT_EQ(-1, sender.Send(record.n));
    EXPECT_TRUE(log.Has(LM_ERROR, "Unknown net log sending strategy.\r\n"));
    EXPECT_EQ(0u, server.Count());
  }
}

TEST(NetlogSenderTest, UdpReplyFromAnotherPortIsRejected) {
  NetlogTestServer server;
  NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), 1, Quick());
  SampleRecord record;
  server.SetReply(Reply::kOtherPort);
  LogCapture log;
  EXPECT_EQ(-1, sender.Send(record.n));
  EXPECT_EQ(0, sender.sequence());
  ASSERT_FALSE(log.entries.empty());
  EXPECT_EQ(LM_WARNING, log.entries.back().first);
  EXPECT_NE(std::string::npos,
            log.entries.back().second.find(":" + std::to_string(server.port()) + ".\r\n"));
  server.SetReply(Reply::kWrongNumber);
  EXPECT_EQ(-1, sender.Send(record.n));
  EXPECT_TRUE(log.Has(LM_DEBUG, Format(gbk::kUdpResponseMismatch, 1, 0)));
}

TEST(NetlogSenderTest, ConnectFailureIsLogged) {
  NetlogTestServer server;
  server.SetRefusing(true);
  NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), 2, Quick());
  SampleRecord record;
  LogCapture log;
  EXPECT_EQ(-1, sender.Send(record.n));
  EXPECT_TRUE(log.Has(LM_DEBUG, "Connect to - 127.0.0.1:" + std::to_string(server.port())));
  EXPECT_TRUE(log.Has(LM_ERROR, "ACE_SOCK_Connector::connect"));
  EXPECT_TRUE(log.Has(LM_ERROR, gbk::kCannotConnectTcp));

  // A sender whose owner reports failures itself logs nothing, and says why.
  log.entries.clear();
  NetlogSender quiet("127.0.0.1", static_cast<unsigned short>(server.port()), 2, Quick());
  quiet.SetAceLogging(false);
  EXPECT_EQ(-1, quiet.Send(record.n));
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ("cannot connect: Connection refused", quiet.lastFailure());
}

TEST(NetlogSenderTest, InterruptEndsAWaitingSend) {
  NetlogTestServer server;
  server.SetReply(Reply::kSilent);
  // Default waits: the reply would be awaited for 90 seconds.
  NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), 2);
  SampleRecord record;
  auto start = std::chrono::steady_clock::now();
  std::future<int> result = std::async(std::launch::async, [&] { return sender.Send(record.n); });
  ASSERT_TRUE(server.WaitForCount(1, std::chrono::seconds(5)));
  sender.Interrupt();
  ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(3)));
  EXPECT_EQ(-1, result.get());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(-1, sender.Send(record.n));  // and stays interrupted
}

// A listener whose queue is full: the system answers no further connection
// attempt, so a connect waits for its whole time-out.
class FullListener {
 public:
  FullListener() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), size);
    ::listen(listen_, 0);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &size);
    port_ = ntohs(addr.sin_port);
    filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(filler_, reinterpret_cast<sockaddr*>(&addr), size);
  }
  ~FullListener() {
    ::close(filler_);
    ::close(listen_);
  }
  unsigned short port() const { return port_; }

 private:
  int listen_;
  int filler_;
  unsigned short port_;
};

TEST(NetlogSenderTest, InterruptEndsAConnectInProgress) {
  FullListener listener;
  NetlogSender sender("127.0.0.1", listener.port(), 2);  // 5 s connect time-out
  SampleRecord record;
  auto start = std::chrono::steady_clock::now();
  std::future<int> result = std::async(std::launch::async, [&] { return sender.Send(record.n); });
  EXPECT_EQ(std::future_status::timeout, result.wait_for(std::chrono::milliseconds(300)));
  sender.Interrupt();
  ASSERT_EQ(std::future_status::ready, result.wait_for(std::chrono::seconds(6)));
  EXPECT_EQ(-1, result.get());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(NetlogSenderTest, UdpSilentServerWithTheProtocolWaits) {
  NetlogTestServer server;
  server.SetReply(Reply::kSilent);
  NetlogSender sender("127.0.0.1", static_cast<unsigned short>(server.port()), 1);
  SampleRecord record;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, sender.Send(record.n));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(5900));  // 5 s reply wait, 1 s pause
  EXPECT_LT(elapsed, std::chrono::milliseconds(8000));
  EXPECT_EQ(1u, server.Count());
}

TEST(NlsTest, InitParsesItsOptions) {
  void* handle = NLS_init("", false);
  ASSERT_NE(nullptr, handle);
  NetlogSender* sender = static_cast<NetlogSender*>(handle);
  EXPECT_EQ(10065, sender->serverAddr().get_port_number());
  char host[64];
  sender->serverAddr().get_host_addr(host, sizeof host);
  EXPECT_STREQ("127.0.0.1", host);  // localhost
  EXPECT_EQ(2, sender->strategy());
  NLS_fini(handle);

  handle = NLS_init("stray -p 1 -x -s 4 -p 70000 word -h 127.0.0.9", false);
  ASSERT_NE(nullptr, handle);
  sender = static_cast<NetlogSender*>(handle);
  EXPECT_EQ(70000 % 65536, sender->serverAddr().get_port_number());
  EXPECT_EQ(4, sender->strategy());
  sender->serverAddr().get_host_addr(host, sizeof host);
  EXPECT_STREQ("127.0.0.9", host);
  NLS_fini(handle);

  testing_support::ScopedEnv env("NLS_TEST_PORT", "4321");
  handle = NLS_init("-p $NLS_TEST_PORT -s abc", false);
  ASSERT_NE(nullptr, handle);
  sender = static_cast<NetlogSender*>(handle);
  EXPECT_EQ(4321, sender->serverAddr().get_port_number());
  EXPECT_EQ(0, sender->strategy());  // not a number, and no connect to make it 3
  NLS_fini(handle);

  handle = NLS_init("-s 0", true);  // 0 becomes 3 when connecting: a UDP socket
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(3, static_cast<NetlogSender*>(handle)->strategy());
  NLS_fini(handle);
  NLS_fini(nullptr);
}

TEST(NlsTest, ConnectAtInitAndSendThroughTheHandle) {
  NetlogTestServer server;
  const std::string port = std::to_string(server.port());
  void* handle = NLS_init(("-h 127.0.0.1 -p " + port + " -s 2").c_str(), true);
  ASSERT_NE(nullptr, handle);
  SampleRecord record;
  EXPECT_EQ(0, NLS_Send(handle, &record.n));
  EXPECT_EQ(0, NLS_Send(handle, &record.n));
  NLS_fini(handle);
  ASSERT_EQ(2u, server.Count());

  handle = NLS_init(("-h 127.0.0.1 -p " + port + " -s 1").c_str(), true);
  ASSERT_NE(nullptr, handle);
  EXPECT_EQ(0, NLS_Send(handle, &record.n));
  EXPECT_TRUE(server.Requests().back().udp);
  NLS_fini(handle);

  server.SetRefusing(true);
  EXPECT_EQ(nullptr, NLS_init(("-h 127.0.0.1 -p " + port).c_str(), true));
  EXPECT_EQ(nullptr, NLS_init2("127.0.0.1", static_cast<unsigned short>(server.port()), true));
  handle = NLS_init2("127.0.0.1", static_cast<unsigned short>(server.port()), false);
  EXPECT_NE(nullptr, handle);
  NLS_fini(handle);

  errno = 0;
  EXPECT_EQ(-1, NLS_Send(nullptr, &record.n));
  EXPECT_EQ(EINVAL, errno);
}
