// The information types (infoType) of records and what the service does
// with each: the one table that the classification of records, the IA-file
// selection and the upstream conversion read.
#ifndef TESSEL_RECORD_INFOTYPE_H
#define TESSEL_RECORD_INFOTYPE_H

#include <cstdint>

namespace tessel {

// What a record of the type is.
enum class InfoKind {
  kSeat,        // a real-name log-on or log-off at a seat (900)
  kImThousand,  // instant-messaging accounts, 1001-1999, and 1000 with them
  kOther,       // other information
};

// How an IA file chooses among the records of one identity (a group).
enum class IaChoice {
  kFirst,        // the first record
  kMergedTimes,  // the first, with the group's earliest beginTime and latest endTime
  kInterval,     // the earliest beginTime, and a later endTime after it
  kAltInterval,  // the same by altBeginTime and altEndTime
  kLastLogoff,   // the last with a real log-off time, else the first
};

// The layout a record is forwarded upstream from (VirtualIdRecord.h holds
// the offsets of each); a type without one is not forwarded.
enum class ForwardLayout {
  kNone,
  kImAccount,      // 1000-1999
  kInfo2000,       // 2000-2999 and 4000-5999
  kInfo3000,       // 3000-3999
  kInfo10000,      // 10000-10999
  kShortInfo,      // 2, 7, 19, 20
  kShortInterval,  // 3, 4
  kSeat,           // 900
};

struct InfoTypeRow {
  std::int32_t first, last;  // the types of the row, both included
  InfoKind kind;
  IaChoice iaChoice;
  ForwardLayout forward;
};

// The row of a type. Types no row lists are other information, chosen by
// their first record and not forwarded.
const InfoTypeRow& InfoTypeOf(std::int32_t infoType);

// True for the instant-messaging account types, 1001 to 1999: greater than
// 1000 with thousands digit 1.
bool IsImInfoType(std::int32_t infoType);

// True for 1000 to 1999, the IM types and 1000 itself: the records whose
// begin time is part of their keyword, whose IA-file selection merges begin
// and end times, and whose conversion follows the put-on/put-off flag.
bool IsInImThousand(std::int32_t infoType);

}  // namespace tessel

#endif
