#include "forward/NetlogWire.h"

#include <cstring>

#include "port/Coding.h"

namespace tessel::netlog_wire {

namespace fmt = netlog_format;
using port::DecodeFixed32BE;
using port::EncodeFixed32BE;

namespace {

// A TCP reply of this many bytes in all holds the response number and fits
// the receive area.
bool CheckableLength(std::uint64_t length) {
  return length >= fmt::kMinReplySize && length <= fmt::kReplyBufferSize;
}

}  // namespace

std::size_t BuildRequest(const netlog_st& n, std::int32_t sequence, unsigned char* b) {
  std::size_t length = fmt::kFixedSize;
  for (int i = 0; i < fmt::kItemCount; ++i)
    if (n.items[i].length != 0) length += fmt::kItemHeaderSize + n.items[i].length;

  std::memset(b, 0, fmt::kFixedSize);
  EncodeFixed32BE(b + fmt::kMagicAt, fmt::kMagic);
  b[fmt::kHeaderOneAt] = 1;
  EncodeFixed32BE(b + fmt::kHeaderOneWordAt, 1);
  EncodeFixed32BE(b + fmt::kFrameLengthAt, static_cast<std::uint32_t>(length - fmt::kHeaderSize));
  EncodeFixed32BE(b + fmt::kCommandAt, fmt::kRequestCommand);
  b[fmt::kBodyOneAt] = 1;
  EncodeFixed32BE(b + fmt::kBodyLengthAt, static_cast<std::uint32_t>(length - fmt::kSequenceAt));
  EncodeFixed32BE(b + fmt::kSequenceAt, static_cast<std::uint32_t>(sequence));
  std::memcpy(b + fmt::kTagAt, n.tag, fmt::kTagSize);
  std::memcpy(b + fmt::kCodeAt, n.code, fmt::kCodeSize);
  EncodeFixed32BE(b + fmt::kNum1At, n.num1);
  EncodeFixed32BE(b + fmt::kNum2At, n.num2);
  std::memcpy(b + fmt::kTextAt, n.text, fmt::kTextSize);
  std::memcpy(b + fmt::kAddr1At, &n.addr1, fmt::kAddrSize);
  std::memcpy(b + fmt::kPort1At, &n.port1, fmt::kPortSize);
  EncodeFixed32BE(b + fmt::kNum3At, n.num3);
  EncodeFixed32BE(b + fmt::kNum4At, n.num4);
  EncodeFixed32BE(b + fmt::kNum5At, n.num5);
  std::memcpy(b + fmt::kAddr2At, &n.addr2, fmt::kAddrSize);
  std::memcpy(b + fmt::kPort2At, &n.port2, fmt::kPortSize);
  std::memcpy(b + fmt::kTypeCodeAt, n.type_code, fmt::kTypeCodeSize);
  EncodeFixed32BE(b + fmt::kLogonTimeAt, static_cast<std::uint32_t>(n.logon_time));
  b[fmt::kOnlineFlagAt] = n.online_flag;
  EncodeFixed32BE(b + fmt::kEventTimeAt, static_cast<std::uint32_t>(n.event_time));

  std::size_t at = fmt::kFixedSize;
  for (int i = 0; i < fmt::kItemCount; ++i) {
    const netlog_item& item = n.items[i];
    if (item.length == 0) continue;
    unsigned char* data = b + at + fmt::kItemHeaderSize;
    b[at + fmt::kItemTypeAt] = static_cast<unsigned char>(i + 1);
    EncodeFixed32BE(b + at + fmt::kItemLengthAt, item.length);
    if (item.data != nullptr)
      std::memcpy(data, item.data, item.length);
    else
      std::memset(data, 0, item.length);
    at += fmt::kItemHeaderSize + item.length;
  }

  // The checksum covers exactly the bytes that go out, the field itself
  // counted as zero (it is, until here), each byte as a signed 8-bit value.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i)
    sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(b[i])));
  EncodeFixed32BE(b + fmt::kChecksumAt, sum);
  return length;
}

std::int32_t ResponseNumber(const unsigned char* reply) {
  return static_cast<std::int32_t>(DecodeFixed32BE(reply + fmt::kResponseNumberAt));
}

namespace {

Verdict Compare(const unsigned char* reply, std::int32_t sequence) {
  return ResponseNumber(reply) == sequence ? Verdict::kAcknowledged : Verdict::kWrongNumber;
}

}  // namespace

Verdict CheckDatagramReply(const unsigned char* reply, std::size_t length, std::int32_t sequence) {
  if (length < fmt::kMinReplySize || length > fmt::kReplyBufferSize) return Verdict::kUnusable;
  return Compare(reply, sequence);
}

Verdict ReceiveStreamReply(const std::function<bool(unsigned char*, std::size_t)>& receive,
                           unsigned char* reply, std::int32_t sequence, std::size_t* length) {
  *length = 0;
  if (!receive(reply, fmt::kHeaderSize)) return Verdict::kUnusable;
  *length = fmt::kHeaderSize;
  // A reply that would not fit the receive area, or that is too short to
  // hold the response number, is not read on.
  const std::uint32_t rest = DecodeFixed32BE(reply + fmt::kFrameLengthAt);
  if (!CheckableLength(std::uint64_t{fmt::kHeaderSize} + rest)) return Verdict::kUnusable;
  if (!receive(reply + fmt::kHeaderSize, rest)) return Verdict::kUnusable;
  *length += rest;
  return Compare(reply, sequence);
}

}  // namespace tessel::netlog_wire
