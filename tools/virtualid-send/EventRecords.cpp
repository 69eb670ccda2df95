#include "EventRecords.h"

#include <arpa/inet.h>

#include <cstdio>

#include "port/Coding.h"

namespace events {

namespace rec = tessel::rec;

bool ParseIPv4(const std::string& text, std::uint32_t* hostOrder) {
  in_addr addr;
  if (::inet_pton(AF_INET, text.c_str(), &addr) != 1) return false;
  *hostOrder = ntohl(addr.s_addr);
  return true;
}

std::int32_t InterfaceIp(std::uint32_t hostOrder) {
  // The octets in network order, read back with the first one lowest.
  unsigned char octets[4];
  tessel::port::EncodeFixed32BE(octets, hostOrder);
  return static_cast<std::int32_t>(tessel::port::DecodeFixed32LE(octets));
}

std::string SeatPrefix(const std::string& unit, std::uint32_t hostOrder, std::int32_t logonTime) {
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%s_%u_%d_", unit.c_str(),
                static_cast<unsigned>(InterfaceIp(hostOrder)), logonTime);
  return prefix;
}

VirtualIdRecord SeatEventRecord(const Event& event) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, SeatPrefix(event.unit, event.ip, event.seatLogon));
  record.SetInt(rec::kInfoType, rec::kSeatInfoType);
  record.SetText(rec::kAccount, rec::kSeatAccountWidth, event.account);
  record.SetInt(rec::kLogonTime, event.seatLogon);
  record.SetInt(rec::kLogoffTime, event.logoffTime);
  record.SetInt(rec::kClientIp, static_cast<std::int32_t>(event.ip));
  return record;
}

VirtualIdRecord IdentityEventRecord(const Event& event, std::int32_t imStatus) {
  VirtualIdRecord record;
  record.SetText(rec::kPrefix, rec::kPrefixWidth, SeatPrefix(event.unit, event.ip, event.seatLogon));
  record.SetInt(rec::kInfoType, event.infoType);
  record.SetText(rec::kAccount, rec::kAccountWidth - 1, event.account);
  record.SetInt(rec::kImStatus, imStatus);
  record.SetInt(rec::kBeginTime, event.beginTime);
  record.SetInt(rec::kEndTime, event.endTime);
  return record;
}

}  // namespace events
