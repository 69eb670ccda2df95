// The net-log request packet as an upstream server sees it, and the
// acknowledgement it answers with.
#ifndef TESSEL_TOOLS_NETLOGPACKET_H
#define TESSEL_TOOLS_NETLOGPACKET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace netlog {

struct Item {
  int type = 0;  // 1..7
  std::string data;
};

struct Request {
  std::int32_t sequence = 0;
  std::uint32_t checksum = 0;
  std::string tag, code, text, typeCode;
  std::uint32_t num1 = 0, num2 = 0, num3 = 0, num4 = 0, num5 = 0;
  std::string addr1, addr2;  // dotted
  std::uint16_t port1 = 0, port2 = 0;
  std::int32_t logonTime = 0, eventTime = 0;
  int onlineFlag = 0;
  std::vector<Item> items;
};

// Length of the whole frame announced by its 24-byte header.
std::size_t FrameLength(const unsigned char* header);

// Decodes a whole request; false with a reason when it is not one.
bool DecodeRequest(const std::vector<unsigned char>& packet, Request* out, std::string* error);

// An acknowledgement carrying `responseNumber` where the sender reads it.
std::vector<unsigned char> BuildReply(std::int32_t responseNumber);

// One line for a person (texts shown as UTF-8) or one JSON object.
std::string DescribeText(const Request& request, const std::string& transport);
std::string DescribeJson(const Request& request, const std::string& transport);

}  // namespace netlog

#endif
