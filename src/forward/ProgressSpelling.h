// A server spelt another way in netbarcfg.ini ("localhost" where it was
// "127.0.0.1") is a new progress file to its sender, which then starts at
// today's day file and sends again what the old spelling had sent. Found
// here, so that the sender manager and tessel-check can say so.
#ifndef TESSEL_FORWARD_PROGRESSSPELLING_H
#define TESSEL_FORWARD_PROGRESSSPELLING_H

#include <string>

#include "port/Env.h"

namespace tessel {

// The progress file in `dir` of another spelling of `host` with the same
// port (a host that resolves to one of the same addresses), when `host`
// itself has none; empty otherwise.
std::string OtherSpellingProgress(port::Env* env, const std::string& dir, const std::string& host,
                                  unsigned short port);

}  // namespace tessel

#endif
