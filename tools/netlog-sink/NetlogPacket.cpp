#include "NetlogPacket.h"

#include "TextOut.h"
#include "forward/NetlogFormat.h"
#include "port/Coding.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace netlog {

namespace fmt = tessel::netlog_format;
using tessel::port::DecodeFixed16BE;
using tessel::port::DecodeFixed32BE;
using tessel::port::EncodeFixed32BE;
using textout::ClientText;
using textout::GbkToUtf8;
using textout::JsonString;

std::size_t FrameLength(const unsigned char* header) {
  return fmt::kHeaderSize + DecodeFixed32BE(header + fmt::kFrameLengthAt);
}

namespace {

std::string Field(const std::vector<unsigned char>& p, std::size_t offset, std::size_t width) {
  const char* start = reinterpret_cast<const char*>(p.data() + offset);
  const void* nul = std::memchr(start, 0, width);
  return std::string(start, nul ? static_cast<const char*>(nul) - start : width);
}

std::string Dotted(const unsigned char* p) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
  return text;
}

}  // namespace

bool DecodeRequest(const std::vector<unsigned char>& p, Request* out, std::string* error) {
  if (p.size() < fmt::kFixedSize) { *error = "shorter than 194 bytes"; return false; }
  if (DecodeFixed32BE(&p[fmt::kMagicAt]) != fmt::kMagic) { *error = "bad magic"; return false; }
  if (FrameLength(p.data()) != p.size()) { *error = "length at 20 disagrees"; return false; }
  if (DecodeFixed32BE(&p[fmt::kCommandAt]) != fmt::kRequestCommand) {
    *error = "not a net-log request";
    return false;
  }
  if (DecodeFixed32BE(&p[fmt::kBodyLengthAt]) + fmt::kSequenceAt != p.size()) {
    *error = "length at 102 disagrees";
    return false;
  }
  Request r;
  r.sequence = static_cast<std::int32_t>(DecodeFixed32BE(&p[fmt::kSequenceAt]));
  r.checksum = DecodeFixed32BE(&p[fmt::kChecksumAt]);
  r.tag = Field(p, fmt::kTagAt, fmt::kTagSize);
  r.code = Field(p, fmt::kCodeAt, fmt::kCodeSize);
  r.num1 = DecodeFixed32BE(&p[fmt::kNum1At]);
  r.num2 = DecodeFixed32BE(&p[fmt::kNum2At]);
  r.text = Field(p, fmt::kTextAt, fmt::kTextSize);
  r.addr1 = Dotted(&p[fmt::kAddr1At]);
  r.port1 = DecodeFixed16BE(&p[fmt::kPort1At]);
  r.num3 = DecodeFixed32BE(&p[fmt::kNum3At]);
  r.num4 = DecodeFixed32BE(&p[fmt::kNum4At]);
  r.num5 = DecodeFixed32BE(&p[fmt::kNum5At]);
  r.addr2 = Dotted(&p[fmt::kAddr2At]);
  r.port2 = DecodeFixed16BE(&p[fmt::kPort2At]);
  r.typeCode = Field(p, fmt::kTypeCodeAt, fmt::kTypeCodeSize);
  r.logonTime = static_cast<std::int32_t>(DecodeFixed32BE(&p[fmt::kLogonTimeAt]));
  r.onlineFlag = p[fmt::kOnlineFlagAt];
  r.eventTime = static_cast<std::int32_t>(DecodeFixed32BE(&p[fmt::kEventTimeAt]));
  for (std::size_t at = fmt::kFixedSize; at < p.size();) {
    if (at + fmt::kItemHeaderSize > p.size()) { *error = "item header cut short"; return false; }
    Item item;
    item.type = p[at + fmt::kItemTypeAt];
    std::uint32_t length = DecodeFixed32BE(&p[at + fmt::kItemLengthAt]);
    if (length > p.size() - at - fmt::kItemHeaderSize) {
      *error = "item data cut short";
      return false;
    }
    item.data.assign(reinterpret_cast<const char*>(&p[at + fmt::kItemHeaderSize]), length);
    r.items.push_back(item);
    at += fmt::kItemHeaderSize + length;
  }
  *out = r;
  return true;
}

std::vector<unsigned char> BuildReply(std::int32_t responseNumber) {
  // Three zero bytes follow the response number: 170 bytes in all.
  std::vector<unsigned char> reply(fmt::kMinReplySize + 3, 0);
  EncodeFixed32BE(&reply[fmt::kMagicAt], fmt::kMagic);
  reply[fmt::kHeaderOneAt] = 1;
  EncodeFixed32BE(&reply[fmt::kHeaderOneWordAt], 1);
  EncodeFixed32BE(&reply[fmt::kFrameLengthAt],
                  static_cast<std::uint32_t>(reply.size() - fmt::kHeaderSize));
  EncodeFixed32BE(&reply[fmt::kCommandAt], fmt::kReplyCommand);
  EncodeFixed32BE(&reply[fmt::kResponseNumberAt], static_cast<std::uint32_t>(responseNumber));
  return reply;
}

std::string DescribeText(const Request& r, const std::string& transport) {
  std::ostringstream out;
  out << transport << " seq=" << r.sequence << " type=" << ClientText(r.typeCode)
      << " online=" << r.onlineFlag << " event=" << r.eventTime << " logon=" << r.logonTime
      << " tag=" << ClientText(r.tag) << " code=" << ClientText(r.code) << " num1=" << r.num1
      << " num2=" << r.num2 << " num3=" << r.num3 << " num4=" << r.num4 << " num5=" << r.num5
      << " text=\"" << ClientText(r.text) << "\" addr1=" << r.addr1 << ":" << r.port1;
  for (const Item& item : r.items)
    out << " item" << item.type << "=\"" << ClientText(item.data) << "\"";
  return out.str();
}

std::string DescribeJson(const Request& r, const std::string& transport) {
  std::ostringstream out;
  out << "{\"transport\":" << JsonString(transport) << ",\"sequence\":" << r.sequence
      << ",\"checksum\":" << r.checksum << ",\"tag\":" << JsonString(GbkToUtf8(r.tag))
      << ",\"code\":" << JsonString(GbkToUtf8(r.code)) << ",\"type_code\":" << JsonString(GbkToUtf8(r.typeCode))
      << ",\"num1\":" << r.num1 << ",\"num2\":" << r.num2 << ",\"num3\":" << r.num3
      << ",\"num4\":" << r.num4 << ",\"num5\":" << r.num5
      << ",\"text\":" << JsonString(GbkToUtf8(r.text)) << ",\"addr1\":" << JsonString(r.addr1)
      << ",\"port1\":" << r.port1 << ",\"addr2\":" << JsonString(r.addr2) << ",\"port2\":" << r.port2
      << ",\"logon_time\":" << r.logonTime << ",\"online_flag\":" << r.onlineFlag
      << ",\"event_time\":" << r.eventTime << ",\"items\":{";
  for (std::size_t i = 0; i < r.items.size(); ++i) {
    if (i) out << ",";
    out << "\"" << r.items[i].type << "\":" << JsonString(GbkToUtf8(r.items[i].data));
  }
  out << "}}";
  return out.str();
}

}  // namespace netlog
