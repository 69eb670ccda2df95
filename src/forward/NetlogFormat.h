// The net-log wire format: where each field of a request and of its
// acknowledgement lies, and the fixed values that go there. The sender, the
// reference server (netlog-sink) and the tests' server all read it from
// here. Integers are big-endian unless marked "as is" (copied from the
// record unchanged); offsets count from the first byte of the frame.
#ifndef TESSEL_FORWARD_NETLOGFORMAT_H
#define TESSEL_FORWARD_NETLOGFORMAT_H

#include <cstddef>
#include <cstdint>

namespace tessel::netlog_format {

// Frame header: the first 24 bytes of a request and of a reply alike.
inline constexpr std::size_t kHeaderSize = 24;
inline constexpr std::size_t kMagicAt = 0;          // 4 bytes: kMagic
inline constexpr std::uint32_t kMagic = 0xABCDEFABu;
inline constexpr std::size_t kHeaderOneAt = 4;      // 1 byte, always 1
inline constexpr std::size_t kHeaderOneWordAt = 5;  // 4 bytes, always 1
inline constexpr std::size_t kFrameLengthAt = 20;   // 4 bytes: frame length - kHeaderSize

// What the frame is, right after the header.
inline constexpr std::size_t kCommandAt = 24;  // 4 bytes
inline constexpr std::uint32_t kRequestCommand = 2101;
inline constexpr std::uint32_t kReplyCommand = 2102;

// The request's fixed part. A byte of the request named nowhere in this
// header is zero.
inline constexpr std::size_t kBodyOneAt = 92;      // 1 byte, always 1
inline constexpr std::size_t kBodyLengthAt = 102;  // 4 bytes: frame length - kSequenceAt
inline constexpr std::size_t kSequenceAt = 106;    // 4 bytes: the number the reply must carry
inline constexpr std::size_t kChecksumAt = 110;    // 4 bytes: sum of the frame's bytes as signed
                                                   // 8-bit values, this field counted as zero
inline constexpr std::size_t kTagAt = 114;         // as is
inline constexpr std::size_t kTagSize = 2;
inline constexpr std::size_t kCodeAt = 116;  // as is: the site code
inline constexpr std::size_t kCodeSize = 12;
inline constexpr std::size_t kNum1At = 128;  // 4 bytes
inline constexpr std::size_t kNum2At = 132;  // 4 bytes
inline constexpr std::size_t kTextAt = 136;  // as is
inline constexpr std::size_t kTextSize = 20;
inline constexpr std::size_t kAddr1At = 156;  // as is: IPv4 address, network order
inline constexpr std::size_t kPort1At = 160;  // as is: port, network order
inline constexpr std::size_t kNum3At = 162;   // 4 bytes
inline constexpr std::size_t kNum4At = 166;   // 4 bytes
inline constexpr std::size_t kNum5At = 170;   // 4 bytes
inline constexpr std::size_t kAddr2At = 174;  // as is
inline constexpr std::size_t kPort2At = 178;  // as is
inline constexpr std::size_t kAddrSize = 4;
inline constexpr std::size_t kPortSize = 2;
inline constexpr std::size_t kTypeCodeAt = 180;  // as is: four digits and a zero byte
inline constexpr std::size_t kTypeCodeSize = 5;
inline constexpr std::size_t kLogonTimeAt = 185;   // 4 bytes: seconds since 1970
inline constexpr std::size_t kOnlineFlagAt = 189;  // 1 byte: 1 log-on, 0 log-off
inline constexpr std::size_t kEventTimeAt = 190;   // 4 bytes: seconds since 1970
inline constexpr std::size_t kFixedSize = 194;     // the items follow

// Items, one after the other from kFixedSize; offsets count from the item.
// Only items with data are sent.
inline constexpr std::size_t kItemTypeAt = 0;    // 1 byte: 1..kItemCount
inline constexpr std::size_t kItemLengthAt = 1;  // 4 bytes: length of the data
inline constexpr std::size_t kItemHeaderSize = 5;  // the data follows
inline constexpr int kItemCount = 7;

// Reply. A sender receives it into kReplyBufferSize bytes: a TCP header
// announcing more than fits fails the exchange, a longer UDP datagram is
// cut; a reply too short to hold the response number fails it too.
inline constexpr std::size_t kReplyBufferSize = 512;
inline constexpr std::size_t kResponseNumberAt = 163;  // 4 bytes: the request's sequence
inline constexpr std::size_t kMinReplySize = kResponseNumberAt + 4;

}  // namespace tessel::netlog_format

#endif
