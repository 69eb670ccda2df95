#include "port/Coding.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace tessel::port;

// The bytes each encoder lays down, whatever the machine's own order, and
// that each decoder reads them back.
TEST(CodingTest, EachFunctionWritesAndReadsItsByteOrder) {
  unsigned char b[4];

  EncodeFixed32LE(b, 0x01020304u);
  EXPECT_EQ(b[0], 0x04);
  EXPECT_EQ(b[1], 0x03);
  EXPECT_EQ(b[2], 0x02);
  EXPECT_EQ(b[3], 0x01);
  EXPECT_EQ(DecodeFixed32LE(b), 0x01020304u);

  EncodeFixed32BE(b, 0x01020304u);
  EXPECT_EQ(b[0], 0x01);
  EXPECT_EQ(b[1], 0x02);
  EXPECT_EQ(b[2], 0x03);
  EXPECT_EQ(b[3], 0x04);
  EXPECT_EQ(DecodeFixed32BE(b), 0x01020304u);
  EXPECT_EQ(DecodeFixed32LE(b), 0x04030201u);

  EncodeFixed16BE(b, 0x1F90);
  EXPECT_EQ(b[0], 0x1F);
  EXPECT_EQ(b[1], 0x90);
  EXPECT_EQ(DecodeFixed16BE(b), 0x1F90);
}

// High bits survive (no sign extension of a byte), and every value comes
// back as it went in.
TEST(CodingTest, RoundTripsKeepEveryBit) {
  unsigned char b[4];
  for (std::uint32_t v : {0u, 1u, 0x7Fu, 0x80u, 0xFFu, 0x8000u, 0x80000000u, 0xFFFFFFFEu,
                          0xFFFFFFFFu}) {
    EncodeFixed32LE(b, v);
    EXPECT_EQ(DecodeFixed32LE(b), v);
    EncodeFixed32BE(b, v);
    EXPECT_EQ(DecodeFixed32BE(b), v);
  }
  for (std::uint16_t v : {0, 0x7F, 0x80, 0xFF, 0x8000, 0xFFFF}) {
    EncodeFixed16BE(b, v);
    EXPECT_EQ(DecodeFixed16BE(b), v);
  }
}
