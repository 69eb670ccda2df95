// The net-log sender's verdict on a server's reply, over a stream (TCP) or
// in a datagram (UDP), against one worked out here from the protocol's rules.
// TCP: an acknowledgement only for a whole reply with the right number; a
// reply is whole when its 24-byte header announces at most 488 bytes after
// it, enough to hold the response number at offset 163, and all of them
// came. UDP: the datagram as received (cut to the 512-byte receive area)
// acknowledges when it reaches offset 163 + 4 and carries the right number
// there, whatever its header announces. The sender may read only bytes it
// received (the rest stays poisoned).
//
// Input: a byte whose low bit picks the datagram, the request's number (4
// bytes), then the bytes the server sends.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "forward/NetlogWire.h"

namespace wire = tessel::netlog_wire;
using wire::Verdict;

namespace {

std::uint32_t Be32(const std::string& bytes, std::size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

Verdict Compare(const std::string& reply, std::int32_t sequence) {
  return Be32(reply, 163) == static_cast<std::uint32_t>(sequence) ? Verdict::kAcknowledged
                                                                  : Verdict::kWrongNumber;
}

Verdict ExpectedOfStream(const std::string& sent, std::int32_t sequence) {
  if (sent.size() < 24) return Verdict::kUnusable;
  const std::uint64_t whole = 24 + std::uint64_t{Be32(sent, 20)};
  if (whole > 24 + 488 || whole < 163 + 4 || sent.size() < whole) return Verdict::kUnusable;
  return Compare(sent, sequence);
}

Verdict ExpectedOfDatagram(const std::string& received, std::int32_t sequence) {
  return received.size() < 163 + 4 ? Verdict::kUnusable : Compare(received, sequence);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader in(data, size);
  const bool datagram = (in.Byte() & 1) != 0;
  const std::int32_t sequence = static_cast<std::int32_t>(in.U32());
  const std::string sent = in.Rest();

  std::vector<unsigned char> reply(tessel::netlog_format::kReplyBufferSize);
  ASAN_POISON_MEMORY_REGION(reply.data(), reply.size());
  Verdict verdict;
  std::string received;
  if (datagram) {
    // A datagram longer than the receive area is cut to it.
    received = sent.substr(0, reply.size());
    ASAN_UNPOISON_MEMORY_REGION(reply.data(), received.size());
    std::memcpy(reply.data(), received.data(), received.size());
    verdict = wire::CheckDatagramReply(reply.data(), received.size(), sequence);
  } else {
    std::size_t length = 0;
    verdict = wire::ReceiveStreamReply(
        [&](unsigned char* to, std::size_t count) {
          FUZZ_CHECK(to >= reply.data() && count <= reply.size() - (to - reply.data()));
          if (sent.size() - received.size() < count) return false;  // the server closed first
          ASAN_UNPOISON_MEMORY_REGION(to, count);
          std::memcpy(to, sent.data() + received.size(), count);
          received.append(sent, received.size(), count);
          return true;
        },
        reply.data(), sequence, &length);
    FUZZ_CHECK(length == received.size());
    // A stream reply is read to its announced end and no further.
    if (verdict != Verdict::kUnusable) FUZZ_CHECK(received.size() == 24 + Be32(received, 20));
  }
  ASAN_UNPOISON_MEMORY_REGION(reply.data(), reply.size());
  FUZZ_CHECK(verdict == (datagram ? ExpectedOfDatagram(received, sequence)
                                   : ExpectedOfStream(sent, sequence)));
  return 0;
}
