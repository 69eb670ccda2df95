// The prefix of a record, "<unit identity>_<IP>_<seat log-on time>_" in its
// first 50 bytes: made here for the real-name log-offs the servant builds,
// and read here for the terms the lists and the files are keyed by.
#ifndef TESSEL_RECORD_PREFIX_H
#define TESSEL_RECORD_PREFIX_H

#include <cstdint>
#include <string>

namespace tessel {

// "%s_%u_%d_" over the unit identity, the client IP (the interface's int,
// taken unsigned) and the seat log-on time; the caller cuts it to the field.
std::string MakePrefix(const std::string& unitIdentity, std::int32_t clientIp,
                       std::int32_t seatLogonTime);

// The IP key: the prefix text between its first and second underscore, cut
// to 31 characters. False when the prefix lacks either underscore.
bool GetIpKey(const std::string& prefix, std::string* ipKey);

// The time key (seat log-on time): with one trailing underscore dropped, the
// decimal number after the last underscore (atoi rules); 0 when none.
int GetTimeKey(const std::string& prefix);

}  // namespace tessel

#endif
