// The note beside an IP file that is being made an IA file (and, once it
// is made, the marker it becomes): the IA file's path, then the latest seat
// log-on time among the IP file's records, one per line. The time tells a
// record of the seat that comes back after a restart (from the intake
// journal or the end of a day file) whether its IP file was made an IA file
// already: one of a session that began no later was.
#ifndef TESSEL_IAFILE_HANDOFFNOTE_H
#define TESSEL_IAFILE_HANDOFFNOTE_H

#include <ctime>
#include <string>

#include "port/Env.h"

namespace tessel {

struct HandOffNote {
  std::string iaFile;
  std::time_t seatTime = 0;  // 0: not known (a note of an older version)
};

// Writes the note (synced, with its directory, when `durable`).
port::Status WriteHandOffNote(port::Env* env, const std::string& path, const HandOffNote& note,
                              bool durable);
port::Status ReadHandOffNote(port::Env* env, const std::string& path, HandOffNote* note);

}  // namespace tessel

#endif
