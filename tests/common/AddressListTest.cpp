// Allowed-client lists as an operator writes them.
#include "common/AddressList.h"

#include <gtest/gtest.h>

using tessel::AddressList;

TEST(AddressListTest, AddressesAndNetworksOfBothFamilies) {
  AddressList list;
  ASSERT_TRUE(AddressList::Parse(" 127.0.0.1, ::1\t192.168.0.0/16 10.1.2.3/31 fd00::/8 "
                                 "::ffff:172.16.0.0/108",
                                 &list)
                  .ok());
  for (const char* in : {"127.0.0.1", "::1", "192.168.255.7", "10.1.2.2", "fd12::5",
                         "::ffff:192.168.1.1", "172.16.3.4", "fd00::1%eth0"})
    EXPECT_TRUE(list.Contains(in)) << in;
  for (const char* out : {"127.0.0.2", "::2", "192.169.0.1", "10.1.2.4", "fe80::1", "172.32.0.1",
                          "", "host.example", "::ffff:0:0"})
    EXPECT_FALSE(list.Contains(out)) << out;

  AddressList everyone;
  ASSERT_TRUE(AddressList::Parse("0.0.0.0/0 ::/0", &everyone).ok());
  EXPECT_TRUE(everyone.Contains("203.0.113.9"));
  EXPECT_TRUE(everyone.Contains("2001:db8::9"));
  AddressList none;
  ASSERT_TRUE(AddressList::Parse(" , ", &none).ok());
  EXPECT_TRUE(none.empty());
}

// A bad entry is named in the refusal and the list is left as it was.
TEST(AddressListTest, BadEntriesAreNamed) {
  AddressList list;
  ASSERT_TRUE(AddressList::Parse("127.0.0.1", &list).ok());
  const std::pair<const char*, const char*> bad[] = {
      {"10.0.0.300", "10.0.0.300: not an IPv4 or IPv6 address"},
      {"192.168.0.0/33", "192.168.0.0/33: the prefix length after \"/\" must be 0 to 32"},
      {"fd00::/129", "fd00::/129: the prefix length after \"/\" must be 0 to 128"},
      {"10.0.0.0/", "10.0.0.0/: the prefix length after \"/\" must be 0 to 32"},
      {"10.0.0.0/-1", "10.0.0.0/-1: the prefix length after \"/\" must be 0 to 32"},
      {"cafe.lan", "cafe.lan: not an IPv4 or IPv6 address"},
      {"10.0.0.0/8/8", "10.0.0.0/8/8: the prefix length after \"/\" must be 0 to 32"},
  };
  for (const auto& entry : bad) {
    const tessel::port::Status status = AddressList::Parse(std::string("::1 ") + entry.first, &list);
    EXPECT_TRUE(status.IsRefused()) << entry.first;
    EXPECT_EQ(status.ToString(), entry.second);
  }
  EXPECT_TRUE(list.Contains("127.0.0.1"));
  EXPECT_FALSE(list.Contains("::1"));
}
