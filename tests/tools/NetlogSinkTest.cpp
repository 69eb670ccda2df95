// The reference upstream server: request decoding and its answers on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "NetlogPacket.h"
#include "SinkServer.h"
#include "TestSupport.h"
#include "TextOut.h"
#include "forward/NetlogFormat.h"
#include "port/Coding.h"

using namespace netlog;
using namespace tessel::netlog_format;
using tessel::port::DecodeFixed32BE;
using tessel::port::EncodeFixed16BE;
using tessel::port::EncodeFixed32BE;

namespace {

// A request built by hand, field by field, as the protocol lays it out.
std::vector<unsigned char> HandRequest(std::int32_t sequence,
                                       const std::vector<std::pair<int, std::string>>& items) {
  std::size_t length = kFixedSize;
  for (const auto& item : items) length += kItemHeaderSize + item.second.size();
  std::vector<unsigned char> p(length, 0);
  EncodeFixed32BE(&p[kMagicAt], kMagic);
  p[kHeaderOneAt] = 1;
  EncodeFixed32BE(&p[kHeaderOneWordAt], 1);
  EncodeFixed32BE(&p[kFrameLengthAt], static_cast<std::uint32_t>(length - kHeaderSize));
  EncodeFixed32BE(&p[kCommandAt], kRequestCommand);
  p[kBodyOneAt] = 1;
  EncodeFixed32BE(&p[kBodyLengthAt], static_cast<std::uint32_t>(length - kSequenceAt));
  EncodeFixed32BE(&p[kSequenceAt], static_cast<std::uint32_t>(sequence));
  std::memcpy(&p[kTagAt], "11", 2);
  std::memcpy(&p[kCodeAt], "4401020001", 10);
  EncodeFixed32BE(&p[kNum1At], 7);
  std::memcpy(&p[kTextAt], "\xc9\xcf\xbb\xfa", 4);  // GBK for "上机"
  std::memcpy(&p[kAddr1At], "\x0a\x00\x00\x05", kAddrSize);  // 10.0.0.5
  EncodeFixed16BE(&p[kPort1At], 8080);
  std::memcpy(&p[kTypeCodeAt], "1001", 5);
  EncodeFixed32BE(&p[kLogonTimeAt], 1700000000);
  p[kOnlineFlagAt] = 1;
  EncodeFixed32BE(&p[kEventTimeAt], 1700000100);
  std::size_t at = kFixedSize;
  for (const auto& item : items) {
    p[at + kItemTypeAt] = static_cast<unsigned char>(item.first);
    EncodeFixed32BE(&p[at + kItemLengthAt], static_cast<std::uint32_t>(item.second.size()));
    std::memcpy(&p[at + kItemHeaderSize], item.second.data(), item.second.size());
    at += kItemHeaderSize + item.second.size();
  }
  return p;
}

int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads one reply within a second; empty when none comes or the peer closed.
std::vector<unsigned char> ReadReply(int fd) {
  std::vector<unsigned char> reply;
  unsigned char buffer[1024];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return reply;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return reply;
    reply.insert(reply.end(), buffer, buffer + n);
    if (reply.size() >= kHeaderSize && reply.size() >= FrameLength(reply.data())) return reply;
  }
}

struct Recorder {
  std::mutex lock;
  std::vector<Request> requests;
  std::vector<std::string> transports;
  SinkServer::Listener listener() {
    return [this](const Request& r, const std::string& t) {
      std::lock_guard<std::mutex> guard(lock);
      requests.push_back(r);
      transports.push_back(t);
    };
  }
};

}  // namespace

TEST(NetlogPacketTest, DecodesEveryFieldAndItem) {
  Request r;
  std::string error;
  ASSERT_TRUE(DecodeRequest(HandRequest(42, {{1, "12345"}, {3, "abc"}}), &r, &error)) << error;
  EXPECT_EQ(r.sequence, 42);
  EXPECT_EQ(r.tag, "11");
  EXPECT_EQ(r.code, "4401020001");
  EXPECT_EQ(r.num1, 7u);
  EXPECT_EQ(r.addr1, "10.0.0.5");
  EXPECT_EQ(r.port1, 8080);
  EXPECT_EQ(r.typeCode, "1001");
  EXPECT_EQ(r.logonTime, 1700000000);
  EXPECT_EQ(r.onlineFlag, 1);
  EXPECT_EQ(r.eventTime, 1700000100);
  ASSERT_EQ(r.items.size(), 2u);
  EXPECT_EQ(r.items[1].type, 3);
  EXPECT_EQ(r.items[1].data, "abc");
  EXPECT_EQ(textout::GbkToUtf8(r.text), "上机");
  EXPECT_NE(DescribeJson(r, "tcp").find("\"items\":{\"1\":\"12345\",\"3\":\"abc\"}"), std::string::npos);
}

TEST(NetlogPacketTest, RejectsDamagedRequests) {
  Request r;
  std::string error;
  std::vector<unsigned char> p = HandRequest(1, {{1, "abcdef"}});
  std::vector<unsigned char> shortItem(p.begin(), p.end() - 2);
  EncodeFixed32BE(&shortItem[kFrameLengthAt],
                  static_cast<std::uint32_t>(shortItem.size() - kHeaderSize));
  EncodeFixed32BE(&shortItem[kBodyLengthAt],
                  static_cast<std::uint32_t>(shortItem.size() - kSequenceAt));
  EXPECT_FALSE(DecodeRequest(shortItem, &r, &error));
  p[kMagicAt] = 0;
  EXPECT_FALSE(DecodeRequest(p, &r, &error));
  EXPECT_FALSE(DecodeRequest(std::vector<unsigned char>(100, 0), &r, &error));
  EXPECT_EQ(textout::GbkToUtf8(std::string("a\xff", 2)), "a\\xff");
}

TEST(NetlogSinkTest, AcknowledgesOverTcpAndUdpWithTheRequestsNumber) {
  Recorder recorder;
  SinkServer server("127.0.0.1", 0, ReplyMode::kAcknowledge, true, recorder.listener());
  ASSERT_TRUE(server.Start());
  int fd = Connect(server.port());
  ASSERT_GE(fd, 0);
  for (int seq : {0, 1}) {
    std::vector<unsigned char> request = HandRequest(seq, {});
    ASSERT_EQ(::send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    std::vector<unsigned char> reply = ReadReply(fd);
    ASSERT_GE(reply.size(), kResponseNumberAt + 4);
    EXPECT_EQ(DecodeFixed32BE(&reply[kResponseNumberAt]), static_cast<std::uint32_t>(seq));
    EXPECT_EQ(FrameLength(reply.data()), reply.size());
  }
  ::close(fd);

  int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(server.port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<unsigned char> request = HandRequest(9, {{2, "x"}});
  ::sendto(udp, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  std::vector<unsigned char> reply = ReadReply(udp);
  ASSERT_GE(reply.size(), kResponseNumberAt + 4);
  EXPECT_EQ(DecodeFixed32BE(&reply[kResponseNumberAt]), 9u);
  ::close(udp);
  server.Stop();
  ASSERT_EQ(recorder.transports, (std::vector<std::string>{"tcp", "tcp", "udp"}));
}

TEST(NetlogSinkTest, MisbehavingModes) {
  Recorder recorder;
  {
    SinkServer wrong("127.0.0.1", 0, ReplyMode::kWrongNumber, false, recorder.listener());
    ASSERT_TRUE(wrong.Start());
    int fd = Connect(wrong.port());
    std::vector<unsigned char> request = HandRequest(5, {});
    ::send(fd, request.data(), request.size(), 0);
    std::vector<unsigned char> reply = ReadReply(fd);
    ASSERT_GE(reply.size(), kResponseNumberAt + 4);
    EXPECT_NE(DecodeFixed32BE(&reply[kResponseNumberAt]), 5u);
    ::close(fd);
  }
  for (ReplyMode mode : {ReplyMode::kSilent, ReplyMode::kClose}) {
    SinkServer server("127.0.0.1", 0, mode, false, recorder.listener());
    ASSERT_TRUE(server.Start());
    int fd = Connect(server.port());
    std::vector<unsigned char> request = HandRequest(5, {});
    ::send(fd, request.data(), request.size(), 0);
    EXPECT_TRUE(ReadReply(fd).empty());
    ::close(fd);
  }
  EXPECT_EQ(recorder.requests.size(), 3u);
}
