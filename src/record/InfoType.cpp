#include "record/InfoType.h"

#include <cstddef>
#include <cstdint>

namespace tessel {

namespace {

const InfoTypeRow kRows[] = {
    {2, 2, InfoKind::kOther, IaChoice::kInterval, ForwardLayout::kShortInfo},
    {3, 4, InfoKind::kOther, IaChoice::kAltInterval, ForwardLayout::kShortInterval},
    {7, 7, InfoKind::kOther, IaChoice::kFirst, ForwardLayout::kShortInfo},
    {19, 20, InfoKind::kOther, IaChoice::kInterval, ForwardLayout::kShortInfo},
    {900, 900, InfoKind::kSeat, IaChoice::kLastLogoff, ForwardLayout::kSeat},
    {1000, 1999, InfoKind::kImThousand, IaChoice::kMergedTimes, ForwardLayout::kImAccount},
    {2000, 2999, InfoKind::kOther, IaChoice::kInterval, ForwardLayout::kInfo2000},
    {3000, 3999, InfoKind::kOther, IaChoice::kInterval, ForwardLayout::kInfo3000},
    {4000, 5999, InfoKind::kOther, IaChoice::kInterval, ForwardLayout::kInfo2000},
    {10000, 10999, InfoKind::kOther, IaChoice::kInterval, ForwardLayout::kInfo10000},
};

const InfoTypeRow kUnlisted = {INT32_MIN, INT32_MAX, InfoKind::kOther, IaChoice::kFirst,
                               ForwardLayout::kNone};

}  // namespace

const InfoTypeRow& InfoTypeOf(std::int32_t infoType) {
  for (const InfoTypeRow& row : kRows)
    if (infoType >= row.first && infoType <= row.last) return row;
  return kUnlisted;
}

bool IsImInfoType(std::int32_t infoType) { return infoType > 1000 && IsInImThousand(infoType); }

bool IsInImThousand(std::int32_t infoType) {
  return InfoTypeOf(infoType).kind == InfoKind::kImThousand;
}

}  // namespace tessel
