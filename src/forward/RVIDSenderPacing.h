// How fast a day-file sender goes: the pauses between its records, its
// looks at a file with nothing new, and its retries of a server that does
// not acknowledge.
#ifndef TESSEL_FORWARD_RVIDSENDERPACING_H
#define TESSEL_FORWARD_RVIDSENDERPACING_H

#include "forward/NetlogSender.h"

namespace tessel {

// Pauses in milliseconds. The defaults pace the upstream servers: at most
// about 100 records a second, a look every 5 s when nothing is new, a
// retry every 5 s while the server does not acknowledge.
struct RVIDSenderPacing {
  int recordPauseMs = 10;
  int idlePauseMs = 5000;
  int retryPauseMs = 5000;
  // Today's file with a part of a record at its end may be in the middle
  // of an append: it is looked at again after this pause before it is
  // set aside.
  int recheckPauseMs = 200;
  NetlogTiming timing;
};

}  // namespace tessel

#endif
