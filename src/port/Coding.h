// Fixed-width integers in bytes: little-endian as the record, the IA-file
// counter and the progress files store them, big-endian as the net-log
// protocol sends them. Every place that turns an integer into bytes or back
// does it here, whatever the byte order of the machine.
#ifndef TESSEL_PORT_CODING_H
#define TESSEL_PORT_CODING_H

#include <cstdint>

namespace tessel::port {

inline void EncodeFixed32LE(unsigned char* out, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value >> 16);
  out[3] = static_cast<unsigned char>(value >> 24);
}

inline std::uint32_t DecodeFixed32LE(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

inline void EncodeFixed64LE(unsigned char* out, std::uint64_t value) {
  EncodeFixed32LE(out, static_cast<std::uint32_t>(value));
  EncodeFixed32LE(out + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint64_t DecodeFixed64LE(const unsigned char* in) {
  return static_cast<std::uint64_t>(DecodeFixed32LE(in)) |
         static_cast<std::uint64_t>(DecodeFixed32LE(in + 4)) << 32;
}

inline void EncodeFixed32BE(unsigned char* out, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(value >> 24);
  out[1] = static_cast<unsigned char>(value >> 16);
  out[2] = static_cast<unsigned char>(value >> 8);
  out[3] = static_cast<unsigned char>(value);
}

inline std::uint32_t DecodeFixed32BE(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) << 24 | static_cast<std::uint32_t>(in[1]) << 16 |
         static_cast<std::uint32_t>(in[2]) << 8 | static_cast<std::uint32_t>(in[3]);
}

inline void EncodeFixed16BE(unsigned char* out, std::uint16_t value) {
  out[0] = static_cast<unsigned char>(value >> 8);
  out[1] = static_cast<unsigned char>(value);
}

inline std::uint16_t DecodeFixed16BE(const unsigned char* in) {
  return static_cast<std::uint16_t>(in[0] << 8 | in[1]);
}

}  // namespace tessel::port

#endif
