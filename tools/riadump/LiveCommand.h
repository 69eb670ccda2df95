// riadump live: the command line of the live status.
#ifndef TESSEL_TOOLS_LIVECOMMAND_H
#define TESSEL_TOOLS_LIVECOMMAND_H

#include <string>
#include <vector>

namespace views {

// Exit statuses of riadump live.
enum LiveExit { kLiveHealthy = 0, kLiveProblem = 1, kLiveUsage = 2, kLiveUnreachable = 3 };

// `args`: what follows "live" on the command line.
int RunLive(std::vector<std::string> args);

}  // namespace views

#endif
