// The keyword of a record: the text under which the service remembers that
// the record was written, so that it is written once.
//
//   <prefix less its last character>_<infoType>_<account, 30 bytes>_<begin or 0>_<output flag>
//
// With the usual prefix it joins the unit identity, the client IP, the seat
// log-on time, the info type, the account, the begin time (IM types and
// 1000 only) and the output flag: 0 for a log-off (real-name or IM), 1 for
// every other kind, whatever the flag the record is put with.
#ifndef TESSEL_RECORD_KEYWORD_H
#define TESSEL_RECORD_KEYWORD_H

#include <string>

#include "record/VirtualIdRecord.h"

namespace tessel {

// The keyword without its output flag.
std::string MakeKeywordBase(const VirtualIdRecord& record);

// 0 for REALNAME_LOGOFF and IM_LOGOFF, 1 for every other kind.
int OutputFlagOf(int kind);

// The whole keyword of a record as the pre-treatment forms it.
std::string KeywordOf(const VirtualIdRecord& record);
// The same, for a record whose kind is known already.
std::string KeywordOf(const VirtualIdRecord& record, int kind);

// The seat log-on time inside a keyword (the text between its second and
// third underscore, read as atoi does); false when it has no third
// underscore.
bool KeywordLogonTime(const std::string& keyword, long long* logonTime);

}  // namespace tessel

#endif
