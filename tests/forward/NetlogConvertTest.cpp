// Conversion of stored records into net-log records: every mapping, the
// items of every type group, and the records that are not forwarded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "record/VirtualIdRecord.h"
#include "forward/NetlogConvert.h"

using namespace tessel;

namespace {

// netlog_st is byte-packed: a test reads its fields by value (`+c.n.num1`),
// since the EXPECT macros take their arguments by reference and a reference
// to a misaligned field is undefined behaviour.
struct Converted {
  netlog_st n;
  NetlogItemTexts texts;
  bool ok;
  std::string Item(int i) const {
    return std::string(n.items[i].data, n.items[i].length);
  }
  bool Present(int i) const { return n.items[i].length != 0; }
};

Converted Convert(const VirtualIdRecord& record, int inputFlag) {
  Converted c;
  std::memset(&c.n, 0xEE, sizeof c.n);  // everything must be written
  c.ok = ConvertRecordToNetlog(record, inputFlag, &c.n, &c.texts);
  return c;
}

void PutBytes(VirtualIdRecord& r, std::size_t at, std::initializer_list<unsigned char> bytes) {
  for (unsigned char b : bytes) r.bytes[at++] = b;
}

// A record of `type` whose numeric sources hold distinct values.
VirtualIdRecord Base(int type) {
  VirtualIdRecord r;
  r.SetText(0, 50, "4401020001_3232235786_1700000000_");
  r.SetInt(54, type);
  r.SetText(58, 256, "account-1");
  r.SetInt(322, 1001);  // beginTime
  r.SetInt(326, 1002);  // endTime
  r.SetInt(1166, 1166);
  return r;
}

std::string Text20(const netlog_st& n) { return std::string(n.text, 20); }

void ExpectCommon(const Converted& c, const char* typeCode, int logonTime) {
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(0, std::memcmp(c.n.tag, "11", 2));
  EXPECT_EQ(0, std::memcmp(c.n.code, "01020001_3", 10));
  EXPECT_EQ(0, c.n.code[10]);
  EXPECT_STREQ(typeCode, c.n.type_code);
  EXPECT_EQ(logonTime, +c.n.logon_time);
  EXPECT_EQ(0u, +c.n.addr2);
  EXPECT_EQ(0, +c.n.port2);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(c.texts.slot[i], +c.n.items[i].data);
}

}  // namespace

TEST(NetlogConvertTest, ThousandsGroupsNumericFields) {
  for (int type : {1001, 1999, 2001, 3500, 4001, 5999, 10000, 10999}) {
    SCOPED_TRACE(type);
    VirtualIdRecord r = Base(type);
    r.SetInt(330, 11);
    r.SetInt(334, 12);
    r.SetInt(338, 14);
    r.SetInt(342, 13);
    r.SetInt(350, 70000);
    r.SetText(354, 30, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    PutBytes(r, 384, {1, 2, 3, 4, 5, 6, 9, 9, 9, 9, 9, 9});
    Converted c = Convert(r, 1);
    char typeCode[16];
    std::snprintf(typeCode, sizeof typeCode, "%04d", type % 10000 == type ? type : type / 10);
    ExpectCommon(c, typeCode, 1166);
    EXPECT_EQ(11u, +c.n.num1);
    EXPECT_EQ(12u, +c.n.num2);
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRST", Text20(c.n));
    EXPECT_EQ(0, std::memcmp(&c.n.addr1, "\x01\x02\x03\x04", 4));
    EXPECT_EQ(0, std::memcmp(&c.n.port1, "\x05\x06", 2));
    EXPECT_EQ(13u, +c.n.num3);
    EXPECT_EQ(14u, +c.n.num4);
    EXPECT_EQ(4465u, +c.n.num5);
    EXPECT_EQ(1, +c.n.online_flag);
    EXPECT_EQ(1001, +c.n.event_time);
  }
}

TEST(NetlogConvertTest, ThousandsGroupsItemsAndFlags) {
  auto record = [](int type) {
    VirtualIdRecord r = Base(type);
    r.SetText(396, 30, "t396");
    r.SetText(426, 30, "t426");
    r.SetText(458, 30, "t458");
    return r;
  };
  // 1000-1999: the account alone; put off gives endTime and flag 0.
  Converted c = Convert(record(1001), 0);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ("account-1", c.Item(0));
  for (int i = 1; i < 7; ++i) EXPECT_FALSE(c.Present(i)) << i;
  EXPECT_EQ(0, +c.n.online_flag);
  EXPECT_EQ(1002, +c.n.event_time);
  c = Convert(record(1001), 5);
  EXPECT_EQ(0, +c.n.online_flag);
  EXPECT_EQ(1002, +c.n.event_time);

  for (int type : {2001, 4100, 5000}) {
    c = Convert(record(type), 0x105);  // the low byte of the flag goes out
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(5, +c.n.online_flag);
    EXPECT_EQ(1001, +c.n.event_time);
    EXPECT_EQ("account-1", c.Item(0));
    EXPECT_EQ("t396", c.Item(1));
    EXPECT_EQ("t426", c.Item(2));
    for (int i = 3; i < 7; ++i) EXPECT_FALSE(c.Present(i)) << type << " " << i;
  }
  c = Convert(record(3001), 1);
  EXPECT_EQ("account-1", c.Item(0));
  EXPECT_FALSE(c.Present(1));
  EXPECT_EQ("t426", c.Item(2));
  for (int i = 3; i < 7; ++i) EXPECT_FALSE(c.Present(i));

  c = Convert(record(10005), 1);
  EXPECT_STREQ("1000", c.n.type_code);
  EXPECT_EQ("account-1", c.Item(0));
  EXPECT_EQ("t426", c.Item(1));
  EXPECT_EQ("t396", c.Item(2));
  EXPECT_EQ("t458", c.Item(3));
  for (int i = 4; i < 7; ++i) EXPECT_FALSE(c.Present(i));

  // Empty texts are absent items.
  VirtualIdRecord empty = Base(2001);
  c = Convert(empty, 1);
  EXPECT_EQ("account-1", c.Item(0));
  EXPECT_FALSE(c.Present(1));
  EXPECT_FALSE(c.Present(2));
}

TEST(NetlogConvertTest, InformationTypes2_7_19_20) {
  for (int type : {2, 7, 19, 20}) {
    SCOPED_TRACE(type);
    VirtualIdRecord r = Base(type);
    r.SetInt(330, 21);
    r.SetInt(334, 22);
    r.SetInt(338, 24);
    r.SetInt(342, 23);
    r.SetInt(350, 65536);
    r.SetText(354, 40, "ABCDEFG");  // item 4, and from its third character item 6
    r.SetText(612, 20, "text612");
    PutBytes(r, 642, {7, 8, 9, 10, 11, 12});
    r.SetText(654, 30, "t654");
    Converted c = Convert(r, 0);
    char typeCode[16];
    std::snprintf(typeCode, sizeof typeCode, "%04d", type);
    ExpectCommon(c, typeCode, 1166);
    EXPECT_EQ(21u, +c.n.num1);
    EXPECT_EQ(22u, +c.n.num2);
    EXPECT_EQ(std::string("text612") + std::string(13, '\0'), Text20(c.n));
    EXPECT_EQ(0, std::memcmp(&c.n.addr1, "\x07\x08\x09\x0a", 4));
    EXPECT_EQ(0, std::memcmp(&c.n.port1, "\x0b\x0c", 2));
    EXPECT_EQ(23u, +c.n.num3);
    EXPECT_EQ(24u, +c.n.num4);
    EXPECT_EQ(1u, +c.n.num5);
    EXPECT_EQ(0, +c.n.online_flag);
    EXPECT_EQ(1001, +c.n.event_time);
    EXPECT_EQ("account-1", c.Item(0));
    EXPECT_FALSE(c.Present(1));
    EXPECT_EQ("t654", c.Item(2));
    EXPECT_EQ("ABCDEFG", c.Item(3));
    EXPECT_FALSE(c.Present(4));
    EXPECT_EQ("CDEFG", c.Item(5));
    EXPECT_FALSE(c.Present(6));
  }
}

TEST(NetlogConvertTest, InformationTypes3_4) {
  for (int type : {3, 4}) {
    SCOPED_TRACE(type);
    VirtualIdRecord r = Base(type);
    r.SetInt(326, 31);
    r.SetInt(330, 32);
    r.SetInt(334, 34);
    r.SetInt(338, 33);
    r.SetInt(346, -1);
    r.SetText(388, 30, "t388");
    r.SetText(448, 30, "t448");
    r.SetText(576, 30, "t576");
    r.SetText(704, 20, "text704");
    PutBytes(r, 734, {1, 1, 2, 2, 3, 3});
    r.SetText(746, 30, "t746");
    Converted c = Convert(r, 1);
    char typeCode[16];
    std::snprintf(typeCode, sizeof typeCode, "%04d", type);
    ExpectCommon(c, typeCode, 1166);
    EXPECT_EQ(31u, +c.n.num1);
    EXPECT_EQ(32u, +c.n.num2);
    EXPECT_EQ(0, std::memcmp(c.n.text, "text704", 8));
    EXPECT_EQ(0, std::memcmp(&c.n.addr1, "\x01\x01\x02\x02", 4));
    EXPECT_EQ(0, std::memcmp(&c.n.port1, "\x03\x03", 2));
    EXPECT_EQ(33u, +c.n.num3);
    EXPECT_EQ(34u, +c.n.num4);
    EXPECT_EQ(0xFFFFFFFFu % 65535u, +c.n.num5);
    EXPECT_EQ(1, +c.n.online_flag);
    EXPECT_EQ(1001, +c.n.event_time);
    EXPECT_EQ("account-1", c.Item(0));
    EXPECT_FALSE(c.Present(1));
    EXPECT_EQ("t746", c.Item(2));
    EXPECT_EQ("t448", c.Item(3));
    EXPECT_EQ("t576", c.Item(4));
    EXPECT_EQ("t388", c.Item(5));
    EXPECT_FALSE(c.Present(6));
  }
}

TEST(NetlogConvertTest, SeatRecords) {
  VirtualIdRecord r;
  r.SetText(0, 50, "4401020001_3232235786_1700000000_");
  r.SetInt(54, 900);
  r.SetText(58, 30, "real-name");
  r.SetText(88, 30, "detail-one");
  r.SetText(118, 30, "detail-two");
  r.SetInt(150, -150);
  r.SetInt(154, 154);
  r.SetInt(158, 1700000000);  // logonTime
  r.SetInt(162, 1700003600);  // logoffTime
  r.SetInt(166, static_cast<std::int32_t>(3232235786u));
  r.SetInt(170, 170);
  r.SetInt(174, 174);
  r.SetInt(178, 178);
  r.SetInt(182, 182);
  r.SetInt(190, 65535 + 190);
  r.SetText(194, 20, "seat-text");
  PutBytes(r, 224, {192, 168, 1, 10, 0x1F, 0x90});
  r.SetText(236, 30, "t236");
  r.SetInt(1166, 42);

  Converted on = Convert(r, 1);
  ExpectCommon(on, "0900", 1700000000);
  EXPECT_EQ(3232235786u, +on.n.num1);
  EXPECT_EQ(174u, +on.n.num2);
  EXPECT_EQ(0, std::memcmp(on.n.text, "seat-text", 10));
  EXPECT_EQ(0, std::memcmp(&on.n.addr1, "\xc0\xa8\x01\x0a", 4));
  EXPECT_EQ(0, std::memcmp(&on.n.port1, "\x1f\x90", 2));
  EXPECT_EQ(182u, +on.n.num3);
  EXPECT_EQ(178u, +on.n.num4);
  EXPECT_EQ(190u, +on.n.num5);
  EXPECT_EQ(1, +on.n.online_flag);
  EXPECT_EQ(1700000000, +on.n.event_time);
  EXPECT_EQ("detail-two", on.Item(0));
  EXPECT_EQ("154", on.Item(1));
  EXPECT_EQ("real-name", on.Item(2));
  EXPECT_EQ("detail-one", on.Item(3));
  EXPECT_EQ("170", on.Item(4));
  EXPECT_EQ("-150", on.Item(5));
  EXPECT_EQ("t236", on.Item(6));

  Converted off = Convert(r, 0);
  EXPECT_EQ(0, +off.n.online_flag);
  EXPECT_EQ(1700003600, +off.n.event_time);
  EXPECT_EQ(1700000000, +off.n.logon_time);
  EXPECT_EQ(0, +Convert(r, 2).n.online_flag);
}

TEST(NetlogConvertTest, RecordsThatAreNotForwarded) {
  for (int type : {6001, 1, 5, -3, 0, 999, 901, 9999, 11000, -1500, 100000}) {
    EXPECT_FALSE(Convert(Base(type), 1).ok) << type;
  }
  VirtualIdRecord r = Base(2001);
  EXPECT_TRUE(Convert(r, 1).ok);
  r.SetText(0, 50, "_4401020001_3232235786_1700000000_");
  EXPECT_FALSE(Convert(r, 1).ok);
  r.SetInt(54, 900);
  EXPECT_FALSE(Convert(r, 1).ok);
}

TEST(NetlogConvertTest, LongTextsAreCutTo255) {
  VirtualIdRecord r = Base(1001);
  std::memset(r.bytes + 58, 'x', 256);  // no zero among the account's bytes
  Converted c = Convert(r, 1);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(255, +c.n.items[0].length);
  EXPECT_EQ(std::string(255, 'x'), c.Item(0));
  EXPECT_EQ('\0', c.texts.slot[0][255]);

  // A code of 12 characters keeps 10.
  r.SetText(0, 50, "AB0123456789XYZ_1_2_");
  c = Convert(r, 1);
  EXPECT_EQ(0, std::memcmp(c.n.code, "0123456789", 10));
  EXPECT_EQ(0, c.n.code[10]);
}
