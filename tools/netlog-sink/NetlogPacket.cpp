#include "NetlogPacket.h"

#include "TextOut.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace netlog {

using textout::GbkToUtf8;

std::uint32_t ReadBE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void WriteBE32(unsigned char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

std::size_t FrameLength(const unsigned char* header) {
  return kHeaderSize + ReadBE32(header + 20);
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

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); }
    else if (c < 0x20) { char esc[8]; std::snprintf(esc, sizeof esc, "\\u%04x", c); out += esc; }
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

}  // namespace

bool DecodeRequest(const std::vector<unsigned char>& p, Request* out, std::string* error) {
  if (p.size() < kFixedSize) { *error = "shorter than 194 bytes"; return false; }
  if (ReadBE32(p.data()) != kMagic) { *error = "bad magic"; return false; }
  if (FrameLength(p.data()) != p.size()) { *error = "length at 20 disagrees"; return false; }
  if (ReadBE32(p.data() + 24) != kRequestCommand) { *error = "not a net-log request"; return false; }
  if (ReadBE32(p.data() + 102) + 106 != p.size()) { *error = "length at 102 disagrees"; return false; }
  Request r;
  r.sequence = static_cast<std::int32_t>(ReadBE32(&p[106]));
  r.checksum = ReadBE32(&p[110]);
  r.tag = Field(p, 114, 2);
  r.code = Field(p, 116, 12);
  r.num1 = ReadBE32(&p[128]);
  r.num2 = ReadBE32(&p[132]);
  r.text = Field(p, 136, 20);
  r.addr1 = Dotted(&p[156]);
  r.port1 = static_cast<std::uint16_t>(p[160] << 8 | p[161]);
  r.num3 = ReadBE32(&p[162]);
  r.num4 = ReadBE32(&p[166]);
  r.num5 = ReadBE32(&p[170]);
  r.addr2 = Dotted(&p[174]);
  r.port2 = static_cast<std::uint16_t>(p[178] << 8 | p[179]);
  r.typeCode = Field(p, 180, 5);
  r.logonTime = static_cast<std::int32_t>(ReadBE32(&p[185]));
  r.onlineFlag = p[189];
  r.eventTime = static_cast<std::int32_t>(ReadBE32(&p[190]));
  for (std::size_t at = kFixedSize; at < p.size();) {
    if (at + 5 > p.size()) { *error = "item header cut short"; return false; }
    Item item;
    item.type = p[at];
    std::uint32_t length = ReadBE32(&p[at + 1]);
    if (length > p.size() - at - 5) { *error = "item data cut short"; return false; }
    item.data.assign(reinterpret_cast<const char*>(&p[at + 5]), length);
    r.items.push_back(item);
    at += 5 + length;
  }
  *out = r;
  return true;
}

std::vector<unsigned char> BuildReply(std::int32_t responseNumber) {
  std::vector<unsigned char> reply(kResponseOffset + 4 + 3, 0);
  WriteBE32(&reply[0], kMagic);
  reply[4] = 1;
  WriteBE32(&reply[5], 1);
  WriteBE32(&reply[20], static_cast<std::uint32_t>(reply.size() - kHeaderSize));
  WriteBE32(&reply[24], kReplyCommand);
  WriteBE32(&reply[kResponseOffset], static_cast<std::uint32_t>(responseNumber));
  return reply;
}

std::string DescribeText(const Request& r, const std::string& transport) {
  std::ostringstream out;
  out << transport << " seq=" << r.sequence << " type=" << r.typeCode
      << " online=" << r.onlineFlag << " event=" << r.eventTime << " logon=" << r.logonTime
      << " tag=" << r.tag << " code=" << GbkToUtf8(r.code) << " num1=" << r.num1
      << " num2=" << r.num2 << " num3=" << r.num3 << " num4=" << r.num4 << " num5=" << r.num5
      << " text=\"" << GbkToUtf8(r.text) << "\" addr1=" << r.addr1 << ":" << r.port1;
  for (const Item& item : r.items) out << " item" << item.type << "=\"" << GbkToUtf8(item.data) << "\"";
  return out.str();
}

std::string DescribeJson(const Request& r, const std::string& transport) {
  std::ostringstream out;
  out << "{\"transport\":" << JsonString(transport) << ",\"sequence\":" << r.sequence
      << ",\"checksum\":" << r.checksum << ",\"tag\":" << JsonString(GbkToUtf8(r.tag))
      << ",\"code\":" << JsonString(GbkToUtf8(r.code)) << ",\"type_code\":" << JsonString(r.typeCode)
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
