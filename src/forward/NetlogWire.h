// The net-log exchange as bytes, without a socket: the request packet built
// from a net-log record, and the verdict on what the server answered. The
// sender uses these and nothing else to make and judge its frames.
#ifndef TESSEL_FORWARD_NETLOGWIRE_H
#define TESSEL_FORWARD_NETLOGWIRE_H

#include <cstddef>
#include <cstdint>
#include <functional>

#include "forward/NLS.h"
#include "forward/NetlogFormat.h"

namespace tessel::netlog_wire {

// The largest request: the fixed part and every item 255 bytes long.
inline constexpr std::size_t kMaxRequestSize =
    netlog_format::kFixedSize + netlog_format::kItemCount * (netlog_format::kItemHeaderSize + 255);

// Writes the request of `netlog` numbered `sequence` at `packet` (room for
// kMaxRequestSize bytes); its length.
std::size_t BuildRequest(const netlog_st& netlog, std::int32_t sequence, unsigned char* packet);

enum class Verdict {
  kAcknowledged,  // a reply carrying the request's number
  kWrongNumber,   // a reply carrying another number
  kUnusable,      // no reply that can be checked: cut short, too long, too short
};

// The number a reply (at least kMinReplySize bytes) acknowledges.
std::int32_t ResponseNumber(const unsigned char* reply);

// The verdict on a UDP reply of `length` bytes (as received into the
// kReplyBufferSize-byte area, so a longer datagram is cut) to request
// `sequence`: only its response number counts, when the datagram reaches
// it. The length field of its header is not read: servers fill it in
// their own ways.
Verdict CheckDatagramReply(const unsigned char* reply, std::size_t length, std::int32_t sequence);

// Reads one TCP reply from a stream into `reply` (kReplyBufferSize bytes)
// through `receive`, which fills exactly the bytes asked for or fails: the
// header, then as many bytes as it announces. Only a whole reply counts,
// one that holds its header and every byte the header announces (at most
// 488, at least enough for the response number); a header announcing
// anything else is not read on. The verdict on it; *length gets the bytes
// read.
Verdict ReceiveStreamReply(const std::function<bool(unsigned char*, std::size_t)>& receive,
                           unsigned char* reply, std::int32_t sequence, std::size_t* length);

}  // namespace tessel::netlog_wire

#endif
