// The lists as the files leave them after a stop or a crash. An IP file
// holds every record written for its seat that day, in the order the lists
// put them, until the seat's real-name log-off makes it an IA file; so the
// IP files still in virtualdb/, applied in order (the files of one seat in
// day order), give back the seats still on line, yesterday's included.
//
// What the files cannot tell: a record whose keyword was written already
// (the same identity and begin time put on again) is not in them, so an
// identity keeps the record it was first written with as its latest; and a
// record the IP file missed (the file could not be written) is missing too.
// The records accepted and not yet stored come back from the intake journal
// and are applied by the first pass, as if they had just arrived.
#ifndef TESSEL_LISTS_RESTORESEATLISTS_H
#define TESSEL_LISTS_RESTORESEATLISTS_H

#include <cstddef>
#include <functional>
#include <string>

#include "lists/SeatLists.h"
#include "port/Env.h"
#include "port/Status.h"

namespace tessel {

struct RestoreCounts {
  std::size_t ipFiles = 0;     // IP files read
  std::size_t records = 0;     // records applied
  std::size_t unreadable = 0;  // IP files that could not be read (each with a line)
};

// Applies the records of every IP file in `dir` (the virtualdb directory) to
// `lists`, ignoring what they put; `each`, when set, gets every record after
// it is applied. A file that cannot be read is skipped with an operator line
// naming it, and its failure is the result (the others are read all the
// same). A directory that does not exist yet holds no seat.
port::Status RestoreSeatLists(port::Env* env, const std::string& dir, SeatLists* lists,
                              RestoreCounts* counts,
                              const std::function<void(const VirtualIdRecord&)>& each = nullptr);

}  // namespace tessel

#endif
