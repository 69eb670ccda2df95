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

std::uint64_t Load64(const unsigned char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

bool HasZeroByte(std::uint64_t word) {
  return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

// The first byte at or after `at` that is not zero (the record's size: none).
std::size_t SkipZeros(const unsigned char* bytes, std::size_t at) {
  while (at + 8 <= rec::kSize && Load64(bytes + at) == 0) at += 8;
  while (at < rec::kSize && bytes[at] == 0) ++at;
  return at;
}

// Where the run that begins at `at` ends: where kSplitAtZeros zeros in a
// row begin, or the zeros that end the record. Words without a zero byte
// are passed over whole (records are packed as fast as they arrive).
std::size_t RunEnd(const unsigned char* bytes, std::size_t at) {
  for (;;) {
    while (at + 8 <= rec::kSize && !HasZeroByte(Load64(bytes + at))) at += 8;
    while (at < rec::kSize && bytes[at] != 0) ++at;
    if (at == rec::kSize) return at;
    const std::size_t zerosEnd = SkipZeros(bytes, at);
    if (zerosEnd == rec::kSize || zerosEnd - at >= kSplitAtZeros) return at;
    at = zerosEnd;
  }
}

}  // namespace

CompactRecord::CompactRecord(const VirtualIdRecord& record) {
  // Packed on the stack, then copied once into a string of its exact size.
  char buffer[kMaxPacked];
  char* out = buffer;
  const unsigned char* bytes = record.bytes;
  for (std::size_t at = SkipZeros(bytes, 0); at < rec::kSize; ) {
    const std::size_t end = RunEnd(bytes, at);
    out = Encode16(out, at);
    out = Encode16(out, end - at);
    std::memcpy(out, bytes + at, end - at);
    out += end - at;
    at = SkipZeros(bytes, end);
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
