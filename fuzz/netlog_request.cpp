// A stored record on its way upstream: the conversion forwards exactly the
// records it has a mapping for, and the request the sender builds from the
// net-log record decodes (netlog-sink's decoder) to the same fields: number,
// checksum, every fixed field and the items that have data, in order.
//
// Input: the record's put-on flag (4 bytes), the request's number (4 bytes),
// then the record's 1247 bytes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "NetlogPacket.h"
#include "forward/NetlogConvert.h"
#include "forward/NetlogWire.h"

namespace {

bool Forwarded(const VirtualIdRecord& record) {
  if (record.bytes[0] == '_') return false;
  const std::int32_t type = record.InfoType();
  switch (type / 1000) {
    case 1: case 2: case 3: case 4: case 5: case 10: return true;
    case 0: return type == 2 || type == 7 || type == 19 || type == 20 || type == 3 || type == 4 ||
                   type == 900;
    default: return false;
  }
}

// A fixed text field as the server reads it: up to its first NUL.
std::string TextOf(const char* field, std::size_t width) {
  return std::string(field, strnlen(field, width));
}

std::string Dotted(std::uint32_t networkOrder) {
  unsigned char b[4];
  std::memcpy(b, &networkOrder, 4);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

std::uint16_t PortOf(std::uint16_t networkOrder) {
  unsigned char b[2];
  std::memcpy(b, &networkOrder, 2);
  return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

std::uint32_t Checksum(std::vector<unsigned char> packet) {
  std::memset(&packet[110], 0, 4);
  std::uint32_t sum = 0;
  for (unsigned char c : packet) sum += static_cast<std::uint32_t>(static_cast<signed char>(c));
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  const std::int32_t inputFlag = static_cast<std::int32_t>(in.U32());
  const std::int32_t sequence = static_cast<std::int32_t>(in.U32());
  const VirtualIdRecord record = VirtualIdRecord::FromBytes(in.Fixed(1247).data());

  netlog_st n;
  tessel::NetlogItemTexts texts;
  const bool converted = tessel::ConvertRecordToNetlog(record, inputFlag, &n, &texts);
  FUZZ_CHECK(converted == Forwarded(record));
  if (!converted) return 0;

  std::vector<unsigned char> buffer(tessel::netlog_wire::kMaxRequestSize);
  const std::size_t length = tessel::netlog_wire::BuildRequest(n, sequence, buffer.data());
  FUZZ_CHECK(length <= buffer.size());
  const std::vector<unsigned char> packet(buffer.begin(), buffer.begin() + length);
  netlog::Request r;
  std::string error;
  FUZZ_CHECK(netlog::DecodeRequest(packet, &r, &error));

  FUZZ_CHECK(r.sequence == sequence);
  FUZZ_CHECK(r.checksum == Checksum(packet));
  FUZZ_CHECK(r.tag == TextOf(n.tag, 2) && r.code == TextOf(n.code, 12));
  FUZZ_CHECK(r.text == TextOf(n.text, 20) && r.typeCode == TextOf(n.type_code, 5));
  FUZZ_CHECK(r.num1 == n.num1 && r.num2 == n.num2 && r.num3 == n.num3);
  FUZZ_CHECK(r.num4 == n.num4 && r.num5 == n.num5);
  FUZZ_CHECK(r.addr1 == Dotted(n.addr1) && r.port1 == PortOf(n.port1));
  FUZZ_CHECK(r.addr2 == Dotted(n.addr2) && r.port2 == PortOf(n.port2));
  FUZZ_CHECK(r.logonTime == n.logon_time && r.eventTime == n.event_time);
  FUZZ_CHECK(r.onlineFlag == n.online_flag);
  std::size_t next = 0;
  for (int i = 0; i < 7; ++i) {
    const netlog_item& item = n.items[i];
    FUZZ_CHECK(item.data == texts.slot[i] && item.data[item.length] == '\0');
    if (item.length == 0) continue;
    FUZZ_CHECK(next < r.items.size());
    FUZZ_CHECK(r.items[next].type == i + 1);
    FUZZ_CHECK(r.items[next].data == std::string(item.data, item.length));
    ++next;
  }
  FUZZ_CHECK(next == r.items.size());
  return 0;
}
