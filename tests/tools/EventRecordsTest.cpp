#include "EventRecords.h"

#include <gtest/gtest.h>

using namespace tessel;

using namespace events;

TEST(EventRecordsTest, SeatLogOnAndLogOffShareTheServicesIpKey) {
  std::uint32_t ip = 0;
  ASSERT_TRUE(ParseIPv4("192.168.1.10", &ip));
  EXPECT_EQ(ip, 3232235786u);
  EXPECT_EQ(static_cast<std::uint32_t>(InterfaceIp(ip)), 0x0A01A8C0u);
  EXPECT_FALSE(ParseIPv4("192.168.1", &ip));
  EXPECT_FALSE(ParseIPv4("", &ip));

  Event e;
  e.unit = "4401020001";
  ASSERT_TRUE(ParseIPv4("192.168.1.10", &e.ip));
  e.seatLogon = 1700000000;
  e.account = "440102199001011234";
  VirtualIdRecord seat = SeatEventRecord(e);
  // What the service's own RealNameClientOff builds for the same seat.
  EXPECT_EQ(seat.Prefix(), "4401020001_167880896_1700000000_");
  EXPECT_EQ(seat.InfoType(), 900);
  EXPECT_EQ(static_cast<std::uint32_t>(seat.Int(rec::kClientIp)), 3232235786u);
  EXPECT_EQ(GetNetLogKind(seat), REALNAME_LOGON);

  e.infoType = 1001;
  e.account = "12345";
  VirtualIdRecord im = IdentityEventRecord(e, 1);
  EXPECT_EQ(im.ImStatus(), 1);
  EXPECT_EQ(GetNetLogKind(im), IM_LOGOFF);
  EXPECT_EQ(im.Text(rec::kAccount, rec::kAccountWidth), "12345");
}
