// Turns a stored identity record into the net-log record sent upstream, and
// decides which records are forwarded at all.
#ifndef TESSEL_FORWARD_NETLOGCONVERT_H
#define TESSEL_FORWARD_NETLOGCONVERT_H

#include <cstdint>

#include "forward/NLS.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

// The seven item texts a net-log record points into; owned by the caller
// and reused for every record.
struct NetlogItemTexts {
  char slot[7][256];
};

// Fills `out` from the record and its inputFlag (1 put on, 0 put off); item
// i of `out` points at texts->slot[i]. False when the record is not
// forwarded: a prefix starting with "_", or an information type without a
// mapping.
bool ConvertRecordToNetlog(const VirtualIdRecord& record, std::int32_t inputFlag, netlog_st* out,
                           NetlogItemTexts* texts);

}  // namespace tessel

#endif
