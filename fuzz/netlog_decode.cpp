// netlog-sink's decoder on any bytes: it reads nothing past them, and a
// request it decodes, built again by the sender's encoder, decodes to the
// same request; when the bytes are as the sender makes them (fixed values,
// zero bytes, NUL-padded texts, items 1..7 in order, the right checksum)
// they are built again byte for byte.
//
// Input: the packet.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "NetlogPacket.h"
#include "forward/NetlogWire.h"

namespace {

std::uint32_t Be32(const std::vector<unsigned char>& p, std::size_t at) {
  return std::uint32_t{p[at]} << 24 | std::uint32_t{p[at + 1]} << 16 | std::uint32_t{p[at + 2]} << 8 |
         p[at + 3];
}

// Items the encoder can send: types rising from 1 to 7, 1 to 255 bytes.
bool Representable(const netlog::Request& r) {
  int last = 0;
  for (const netlog::Item& item : r.items) {
    if (item.type <= last || item.type > 7 || item.data.empty() || item.data.size() > 255)
      return false;
    last = item.type;
  }
  return true;
}

bool Zero(const std::vector<unsigned char>& p, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (p[i] != 0) return false;
  return true;
}

bool NulPadded(const std::vector<unsigned char>& p, std::size_t at, std::size_t width) {
  const void* nul = std::memchr(&p[at], 0, width);
  return nul == nullptr || Zero(p, static_cast<const unsigned char*>(nul) - p.data(), at + width);
}

std::uint32_t Checksum(std::vector<unsigned char> p) {
  std::memset(&p[110], 0, 4);
  std::uint32_t sum = 0;
  for (unsigned char c : p) sum += static_cast<std::uint32_t>(static_cast<signed char>(c));
  return sum;
}

bool AsTheSenderMakesIt(const std::vector<unsigned char>& p, const netlog::Request& r) {
  return p[4] == 1 && Be32(p, 5) == 1 && Zero(p, 9, 20) && Zero(p, 28, 92) && p[92] == 1 &&
         Zero(p, 93, 102) && NulPadded(p, 114, 2) && NulPadded(p, 116, 12) &&
         NulPadded(p, 136, 20) && NulPadded(p, 180, 5) && r.checksum == Checksum(p);
}

void Put(char* field, std::size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), text.size());
}

std::uint32_t Address(const std::string& dotted) {
  unsigned a, b, c, d;
  FUZZ_CHECK(std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4);
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

std::uint16_t Port(std::uint16_t port) {
  const unsigned char bytes[2] = {static_cast<unsigned char>(port >> 8),
                                  static_cast<unsigned char>(port)};
  std::uint16_t value;
  std::memcpy(&value, bytes, 2);
  return value;
}

std::vector<unsigned char> Encode(netlog::Request& r) {
  netlog_st n;
  std::memset(&n, 0, sizeof n);
  Put(n.tag, sizeof n.tag, r.tag);
  Put(n.code, sizeof n.code, r.code);
  Put(n.text, sizeof n.text, r.text);
  Put(n.type_code, sizeof n.type_code, r.typeCode);
  n.num1 = r.num1, n.num2 = r.num2, n.num3 = r.num3, n.num4 = r.num4, n.num5 = r.num5;
  n.addr1 = Address(r.addr1), n.addr2 = Address(r.addr2);
  n.port1 = Port(r.port1), n.port2 = Port(r.port2);
  n.logon_time = r.logonTime, n.event_time = r.eventTime;
  n.online_flag = static_cast<std::uint8_t>(r.onlineFlag);
  for (netlog::Item& item : r.items) {
    n.items[item.type - 1].data = &item.data[0];
    n.items[item.type - 1].length = static_cast<std::uint8_t>(item.data.size());
  }
  std::vector<unsigned char> packet(tessel::netlog_wire::kMaxRequestSize);
  packet.resize(tessel::netlog_wire::BuildRequest(n, r.sequence, packet.data()));
  return packet;
}

bool SameFields(const netlog::Request& a, const netlog::Request& b) {
  bool same = a.sequence == b.sequence && a.tag == b.tag && a.code == b.code &&
              a.text == b.text && a.typeCode == b.typeCode && a.num1 == b.num1 &&
              a.num2 == b.num2 && a.num3 == b.num3 && a.num4 == b.num4 && a.num5 == b.num5 &&
              a.addr1 == b.addr1 && a.addr2 == b.addr2 && a.port1 == b.port1 &&
              a.port2 == b.port2 && a.logonTime == b.logonTime && a.eventTime == b.eventTime &&
              a.onlineFlag == b.onlineFlag && a.items.size() == b.items.size();
  for (std::size_t i = 0; same && i < a.items.size(); ++i)
    same = a.items[i].type == b.items[i].type && a.items[i].data == b.items[i].data;
  return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Exactly the input's bytes on the heap: a read past them is reported.
  const std::vector<unsigned char> packet(data, data + size);
  netlog::Request request;
  std::string error;
  if (!netlog::DecodeRequest(packet, &request, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  if (!Representable(request)) return 0;
  const std::vector<unsigned char> again = Encode(request);
  netlog::Request redecoded;
  FUZZ_CHECK(netlog::DecodeRequest(again, &redecoded, &error));
  FUZZ_CHECK(SameFields(request, redecoded));
  FUZZ_CHECK(redecoded.checksum == Checksum(again));
  if (AsTheSenderMakesIt(packet, request)) FUZZ_CHECK(again == packet);
  return 0;
}
