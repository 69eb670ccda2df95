// The identities on line at each client seat, and what each new record puts
// on and off: a plain part with no thread, no lock and no hooks. Apply takes
// one record, changes the lists and returns the records to put, in order,
// each with its flag (1 on, 0 off) and its kind, and which of the list
// thread's lines go with them. The caller writes what is put; nothing flows
// back.
//
// A seat (IP key) holds its identities by group key; an identity keeps its
// first record and, once another arrived, its latest. Only log-ons (real
// name, IM) and other information are held. A seat comes with the first of
// those and goes with its real-name log-off.
#ifndef TESSEL_LISTS_SEATLISTS_H
#define TESSEL_LISTS_SEATLISTS_H

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "record/CompactRecord.h"
#include "record/VirtualIdRecord.h"

namespace tessel {

class SeatLists {
 public:
  // Group key -> the identity's first record and, once another arrived, its
  // latest; held without their runs of zeros, since they may stay on line
  // for days. Hashed: a record finds its identity without comparing its key
  // (whose first fifty bytes every identity of the seat shares) with a dozen
  // others. Whatever goes out in order walks InKeyOrder.
  typedef std::unordered_map<std::string, std::vector<CompactRecord> > IdentityMap;
  typedef std::vector<IdentityMap::value_type*> Identities;
  // IP key -> the seat's identities.
  typedef std::map<std::string, IdentityMap> Seats;

  // The lines that tell what a record did, in the order they belong.
  enum Line {
    kOnNewSeat,            // a log-on kind at a seat not listed: stored and put on
    kOffUnlistedSeat,      // any other kind at a seat not listed: put off, not stored
    kOffWholeSeat,         // a real-name log-off: the seat's records and it put off
    kOffBeforeLogon,       // a real-name log-on at a listed seat: the seat put off first
    kOnListedSeat,         // a log-on kind at a listed seat: stored and put on
    kOffSeatCleared,       // a real-name log-off given for one seat: its records put off
    kOffImLogoff,          // an IM log-off at a listed seat: put off, the identity gone
  };

  // One record to put.
  struct Put {
    VirtualIdRecord record;  // input flag stamped with `flag`
    int flag = 0;            // 1 on, 0 off
    NetLogKind kind = OTHER_INFO;
    bool input = false;      // the record given to Apply (else a stored one)
  };

  // What one record did.
  struct Outcome {
    // False when the record's prefix has no IP key: it is dropped, nothing
    // changed and nothing is put.
    bool applied = false;
    std::string ipKey;
    NetLogKind kind = OTHER_INFO;
    std::vector<Put> puts;
    // Each line with the index of the put it comes before (puts.size():
    // after the last).
    std::vector<std::pair<std::size_t, Line> > lines;
  };

  // Applies one record. A real-name log-on whose logoffTime is unset gets
  // its logonTime there first (SettleLogonLogoffTime), in `record` and in
  // the copy stored. The record's input flag stays as it arrived in the
  // stored copy. Stored records put off get the flag stamped in the lists
  // as well, as the records written with it carry it.
  Outcome Apply(VirtualIdRecord& record);
  // The same into `out`, cleared first: a caller that keeps one outcome from
  // record to record keeps its memory too (the list thread applies tens of
  // thousands of records a second).
  void Apply(VirtualIdRecord& record, Outcome* out);

  // The part of Apply for a seat that is listed (and for direct callers):
  // `kind` and `groupKey` are the record's. A real-name log-off here puts
  // the seat's records off and clears them, without putting the record.
  static void ApplyToSeat(const VirtualIdRecord& record, IdentityMap& seat, NetLogKind kind,
                          const std::string& groupKey, Outcome* out);
  // Puts every record of the seat with `flag`, in group-key order, each
  // identity's records in order, stamping the flag on the stored copies.
  static void PutAll(IdentityMap& seat, int flag, Outcome* out);
  // The seat's identities in group-key order.
  static Identities InKeyOrder(IdentityMap& seat);

  Seats& seats() { return seats_; }
  const Seats& seats() const { return seats_; }
  // Records held, over every seat.
  std::size_t RecordCount() const;

 private:
  Seats seats_;
};

}  // namespace tessel

#endif
