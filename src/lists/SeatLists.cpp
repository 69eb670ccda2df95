#include "lists/SeatLists.h"

#include <algorithm>

namespace tessel {

namespace {

bool IsHeldKind(NetLogKind kind) {
  return kind == REALNAME_LOGON || kind == IM_LOGON || kind == OTHER_INFO;
}

void AddLine(SeatLists::Outcome* out, SeatLists::Line line) {
  out->lines.push_back(std::make_pair(out->puts.size(), line));
}

void AddPut(SeatLists::Outcome* out, const VirtualIdRecord& record, int flag, NetLogKind kind,
            bool input) {
  out->puts.emplace_back();
  SeatLists::Put& put = out->puts.back();
  put.record = record;
  put.record.SetInt(rec::kInputFlag, flag);
  put.flag = flag;
  put.kind = kind;
  put.input = input;
}

}  // namespace

SeatLists::Outcome SeatLists::Apply(VirtualIdRecord& record) {
  Outcome out;
  Apply(record, &out);
  return out;
}

void SeatLists::Apply(VirtualIdRecord& record, Outcome* out) {
  out->applied = false;
  out->kind = OTHER_INFO;
  out->puts.clear();
  out->lines.clear();
  if (!GetIpKey(record.Prefix(), &out->ipKey)) return;
  out->applied = true;
  SettleLogonLogoffTime(record);
  out->kind = NetLogKindOf(record);
  const std::string groupKey = GetGroupKey(record);

  Seats::iterator seat = seats_.find(out->ipKey);
  if (seat == seats_.end()) {
    if (IsHeldKind(out->kind)) {
      seats_[out->ipKey][groupKey].push_back(record);
      AddLine(out, kOnNewSeat);
      AddPut(out, record, 1, out->kind, true);
    } else {
      AddLine(out, kOffUnlistedSeat);
      AddPut(out, record, 0, out->kind, true);
    }
    return;
  }
  if (out->kind == REALNAME_LOGOFF) {
    AddLine(out, kOffWholeSeat);
    PutAll(seat->second, 0, out);
    AddPut(out, record, 0, out->kind, true);
    seats_.erase(seat);
    return;
  }
  ApplyToSeat(record, seat->second, out->kind, groupKey, out);
}

void SeatLists::ApplyToSeat(const VirtualIdRecord& record, IdentityMap& seat, NetLogKind kind,
                            const std::string& groupKey, Outcome* out) {
  switch (kind) {
    case REALNAME_LOGON:
      // A new real-name user starts the seat afresh.
      AddLine(out, kOffBeforeLogon);
      PutAll(seat, 0, out);
      seat.clear();
      [[fallthrough]];
    case IM_LOGON:
    case OTHER_INFO: {
      std::vector<CompactRecord>& records = seat[groupKey];
      if (records.size() > 1) records.resize(1);  // keep the first, replace the latest
      records.push_back(record);
      AddLine(out, kOnListedSeat);
      AddPut(out, record, 1, kind, true);
      break;
    }
    case REALNAME_LOGOFF:
      AddLine(out, kOffSeatCleared);
      PutAll(seat, 0, out);
      seat.clear();
      break;
    case IM_LOGOFF:
      AddLine(out, kOffImLogoff);
      AddPut(out, record, 0, kind, true);
      seat.erase(groupKey);
      break;
    case IM_OTHER:
      break;  // changes nothing
  }
}

SeatLists::Identities SeatLists::InKeyOrder(IdentityMap& seat) {
  Identities identities;
  identities.reserve(seat.size());
  for (IdentityMap::value_type& identity : seat) identities.push_back(&identity);
  std::sort(identities.begin(), identities.end(),
            [](const IdentityMap::value_type* a, const IdentityMap::value_type* b) {
              return a->first < b->first;
            });
  return identities;
}

void SeatLists::PutAll(IdentityMap& seat, int flag, Outcome* out) {
  for (IdentityMap::value_type* identity : InKeyOrder(seat)) {
    for (CompactRecord& stored : identity->second) {
      AddPut(out, stored.Expand(), flag, OTHER_INFO, false);
      Put& put = out->puts.back();
      put.kind = NetLogKindOf(put.record);
      stored = put.record;  // the stored copy carries the flag it was put with
    }
  }
}

std::size_t SeatLists::RecordCount() const {
  std::size_t count = 0;
  for (const auto& seat : seats_)
    for (const auto& identity : seat.second) count += identity.second.size();
  return count;
}

}  // namespace tessel
