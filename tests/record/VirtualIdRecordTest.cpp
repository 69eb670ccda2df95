#include "record/VirtualIdRecord.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"

using namespace tessel;

using testing_support::ImRecord;
using testing_support::SeatRecord;

TEST(VirtualIdRecordTest, IntegersAreLittleEndianAtTheirOffsets) {
  VirtualIdRecord record;
  record.SetInt(rec::kInfoType, 0x01020304);
  EXPECT_EQ(record.bytes[54], 0x04);
  EXPECT_EQ(record.bytes[57], 0x01);
  record.SetInt(rec::kLogoffTime, -2);
  EXPECT_EQ(record.Int(rec::kLogoffTime), -2);
  EXPECT_EQ(record.bytes[162], 0xFE);
  EXPECT_EQ(record.bytes[165], 0xFF);
}

TEST(VirtualIdRecordTest, PrefixTermsOfTheUsualPrefix) {
  std::string ip;
  ASSERT_TRUE(GetIpKey("K_3232235786_1700000000_", &ip));
  EXPECT_EQ(ip, "3232235786");
  EXPECT_EQ(GetTimeKey("K_3232235786_1700000000_"), 1700000000);
  EXPECT_EQ(GetTimeKey("K_3232235786_1700000000_0"), 0);
  EXPECT_EQ(GetTimeKey("K3232235786"), 0);
  EXPECT_FALSE(GetIpKey("K3232235786", &ip));
  EXPECT_FALSE(GetIpKey("K_3232235786", &ip));
  ASSERT_TRUE(GetIpKey("K__", &ip));
  EXPECT_EQ(ip, "");
}

TEST(VirtualIdRecordTest, IpKeyIsCutToThirtyOneCharacters) {
  std::string ip;
  ASSERT_TRUE(GetIpKey("K_" + std::string(40, '9') + "_1_", &ip));
  EXPECT_EQ(ip, std::string(31, '9'));
}

TEST(VirtualIdRecordTest, FullPrefixIsBoundedToItsFiftyBytes) {
  VirtualIdRecord record = ImRecord(std::string(50, 'P'), 1001, "acc", 1, 2, 0);
  record.SetInt(rec::kOffCode, 0x41414141);  // "AAAA" right after the prefix
  EXPECT_EQ(record.Prefix(), std::string(50, 'P'));
  EXPECT_EQ(GetGroupKey(record), std::string(50, 'P') + "1001_acc");
}

TEST(VirtualIdRecordTest, GroupKeyTakesAtMostThirtyAccountBytes) {
  VirtualIdRecord record = ImRecord("U_1_2_", 2, std::string(40, 'a'), 0, 0, 0);
  EXPECT_EQ(GetGroupKey(record), "U_1_2_2_" + std::string(30, 'a'));
  VirtualIdRecord negative = ImRecord("U_1_2_", -3, "x", 0, 0, 0);
  EXPECT_EQ(GetGroupKey(negative), "U_1_2_-3_x");
}

TEST(VirtualIdRecordTest, SeatRecordKinds) {
  VirtualIdRecord zeroOff = SeatRecord("U_1_2_", "id", 100, 0, 0);
  EXPECT_EQ(GetNetLogKind(zeroOff), REALNAME_LOGON);
  EXPECT_EQ(zeroOff.LogoffTime(), 100);  // rewritten to the log-on time

  VirtualIdRecord sameOff = SeatRecord("U_1_2_", "id", 100, 100, 0);
  EXPECT_EQ(GetNetLogKind(sameOff), REALNAME_LOGON);

  VirtualIdRecord negativeOff = SeatRecord("U_1_2_", "id", 100, -1, 0);
  EXPECT_EQ(GetNetLogKind(negativeOff), REALNAME_LOGON);
  EXPECT_EQ(negativeOff.LogoffTime(), 100);

  VirtualIdRecord off = SeatRecord("U_1_2_", "id", 100, 200, 0);
  EXPECT_EQ(GetNetLogKind(off), REALNAME_LOGOFF);
  EXPECT_EQ(off.LogoffTime(), 200);
}

TEST(VirtualIdRecordTest, InfoTypeBoundaries) {
  struct Case { int infoType; int imStatus; NetLogKind kind; } cases[] = {
      {1000, 0, OTHER_INFO}, {1001, 0, IM_LOGON}, {1999, 1, IM_LOGOFF},
      {1500, 7, IM_OTHER},   {2000, 0, OTHER_INFO}, {899, 0, OTHER_INFO},
      {901, 0, OTHER_INFO},  {-1001, 0, OTHER_INFO}, {0, 1, OTHER_INFO},
  };
  for (const Case& c : cases) {
    VirtualIdRecord record = ImRecord("U_1_2_", c.infoType, "a", 0, 0, c.imStatus);
    EXPECT_EQ(GetNetLogKind(record), c.kind) << "infoType " << c.infoType;
  }
  EXPECT_FALSE(IsImInfoType(1000));
  EXPECT_TRUE(IsImInfoType(1001));
  EXPECT_TRUE(IsImInfoType(1999));
  EXPECT_FALSE(IsImInfoType(2000));
}

TEST(VirtualIdRecordTest, AtoiRules) {
  EXPECT_EQ(AtoiText("  -12x"), -12);
  EXPECT_EQ(AtoiText("+7"), 7);
  EXPECT_EQ(AtoiText("abc"), 0);
  EXPECT_EQ(AtoiText(""), 0);
  EXPECT_EQ(AtoiText("99999999999"), 2147483647);
}

// The edges of the information-type table: each range ends where its
// neighbour begins, and a type no row lists is neither chosen specially for
// an IA file nor forwarded.
TEST(VirtualIdRecordTest, InfoTypeTableEdges) {
  struct Case { int infoType; IaChoice ia; ForwardLayout forward; } cases[] = {
      {-3, IaChoice::kFirst, ForwardLayout::kNone},
      {1, IaChoice::kFirst, ForwardLayout::kNone},
      {2, IaChoice::kInterval, ForwardLayout::kShortInfo},
      {4, IaChoice::kAltInterval, ForwardLayout::kShortInterval},
      {5, IaChoice::kFirst, ForwardLayout::kNone},
      {7, IaChoice::kFirst, ForwardLayout::kShortInfo},  // forwarded, chosen by its first
      {20, IaChoice::kInterval, ForwardLayout::kShortInfo},
      {21, IaChoice::kFirst, ForwardLayout::kNone},
      {900, IaChoice::kLastLogoff, ForwardLayout::kSeat},
      {999, IaChoice::kFirst, ForwardLayout::kNone},
      {1000, IaChoice::kMergedTimes, ForwardLayout::kImAccount},
      {1999, IaChoice::kMergedTimes, ForwardLayout::kImAccount},
      {2000, IaChoice::kInterval, ForwardLayout::kInfo2000},
      {3999, IaChoice::kInterval, ForwardLayout::kInfo3000},
      {4000, IaChoice::kInterval, ForwardLayout::kInfo2000},
      {5999, IaChoice::kInterval, ForwardLayout::kInfo2000},
      {6000, IaChoice::kFirst, ForwardLayout::kNone},
      {9999, IaChoice::kFirst, ForwardLayout::kNone},
      {10000, IaChoice::kInterval, ForwardLayout::kInfo10000},
      {10999, IaChoice::kInterval, ForwardLayout::kInfo10000},
      {11000, IaChoice::kFirst, ForwardLayout::kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InfoTypeOf(c.infoType).iaChoice, c.ia) << c.infoType;
    EXPECT_EQ(InfoTypeOf(c.infoType).forward, c.forward) << c.infoType;
  }
  EXPECT_TRUE(IsInImThousand(1000));
  EXPECT_FALSE(IsInImThousand(999));
  EXPECT_FALSE(IsInImThousand(2000));
}
