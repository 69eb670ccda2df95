// Records as seat agents build them, for sending events by hand.
#ifndef TESSEL_TOOLS_EVENTRECORDS_H
#define TESSEL_TOOLS_EVENTRECORDS_H

#include <cstdint>
#include <string>

#include "record/VirtualIdRecord.h"

namespace events {

// Parses a dotted IPv4 address; false when it is not one.
bool ParseIPv4(const std::string& text, std::uint32_t* hostOrder);

// The address as the interface carries it: first octet in the low byte.
std::int32_t InterfaceIp(std::uint32_t hostOrder);

// "<unit>_<ip>_<seat log-on time>_", with the IP written as the service's
// own real-name log-off record writes it (the interface value, unsigned), so
// that a seat's log-on and log-off records share one IP key.
std::string SeatPrefix(const std::string& unit, std::uint32_t hostOrder, std::int32_t logonTime);

struct Event {
  std::string unit;
  std::uint32_t ip = 0;          // host order
  std::int32_t seatLogon = 0;    // seat log-on time
  std::int32_t infoType = 0;
  std::string account;
  std::int32_t beginTime = 0;
  std::int32_t endTime = 0;
  std::int32_t logoffTime = 0;   // seat records only
};

// A seat (real-name, info type 900) record; logoffTime 0 means still on.
VirtualIdRecord SeatEventRecord(const Event& event);

// An IM account or other information record.
VirtualIdRecord IdentityEventRecord(const Event& event, std::int32_t imStatus);

}  // namespace events

#endif
