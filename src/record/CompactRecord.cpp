#include "record/CompactRecord.h"

#include <cstring>

#include "port/Coding.h"

namespace tessel {

namespace {

// Zeros shorter than this stay inside a run: a run's head costs 4 bytes.
const std::size_t kSplitAtZeros = 8;
const std::size_t kHead = 4;

std::size_t Decode16(const char* in) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(in);
  return static_cast<std::size_t>(bytes[0] | bytes[1] << 8);
}

char* Encode16(char* out, std::size_t value) {
  out[0] = static_cast<char>(value & 0xFF);
  out[1] = static_cast<char>(value >> 8);
  return out + 2;
}

// Every run but the last is followed by kSplitAtZeros zeros, so a record
// packs into at most this much.
const std::size_t kMaxPacked = rec::kSize + kHead * (rec::kSize / (kSplitAtZeros + 1) + 1);

}  // namespace

CompactRecord::CompactRecord(const VirtualIdRecord& record) {
  // Packed on the stack, then copied once into a string of its exact size:
  // records are packed at the rate they arrive.
  char buffer[kMaxPacked];
  char* out = buffer;
  const unsigned char* bytes = record.bytes;
  std::size_t at = 0;
  while (at < rec::kSize) {
    while (at < rec::kSize && bytes[at] == 0) ++at;
    if (at == rec::kSize) break;
    // A run ends where kSplitAtZeros zeros in a row (or the record) begin.
    std::size_t end = at, zeros = 0;
    for (std::size_t i = at; i < rec::kSize && zeros < kSplitAtZeros; ++i) {
      zeros = bytes[i] == 0 ? zeros + 1 : 0;
      if (zeros == 0) end = i + 1;
    }
    out = Encode16(out, at);
    out = Encode16(out, end - at);
    std::memcpy(out, bytes + at, end - at);
    out += end - at;
    at = end;
  }
  packed_.assign(buffer, static_cast<std::size_t>(out - buffer));
}

void CompactRecord::Read(std::size_t offset, std::size_t length, unsigned char* out) const {
  std::memset(out, 0, length);
  for (std::size_t at = 0; at + kHead <= packed_.size();) {
    const std::size_t start = Decode16(packed_.data() + at);
    const std::size_t size = Decode16(packed_.data() + at + 2);
    const char* data = packed_.data() + at + kHead;
    at += kHead + size;
    if (start >= offset + length) break;
    if (start + size <= offset) continue;
    const std::size_t from = start > offset ? start : offset;
    const std::size_t to = start + size < offset + length ? start + size : offset + length;
    std::memcpy(out + (from - offset), data + (from - start), to - from);
  }
}

VirtualIdRecord CompactRecord::Expand() const {
  VirtualIdRecord record;
  Read(0, rec::kSize, record.bytes);
  return record;
}

std::int32_t CompactRecord::Int(std::size_t offset) const {
  unsigned char bytes[4];
  Read(offset, sizeof bytes, bytes);
  return static_cast<std::int32_t>(port::DecodeFixed32LE(bytes));
}

std::string CompactRecord::Text(std::size_t offset, std::size_t width) const {
  std::string field(width, '\0');
  Read(offset, width, reinterpret_cast<unsigned char*>(&field[0]));
  const std::string::size_type nul = field.find('\0');
  if (nul != std::string::npos) field.resize(nul);
  return field;
}

}  // namespace tessel
