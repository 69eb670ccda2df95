// A running service's status facet (riadump live): what is wrong with it,
// and the status shown to a person, as JSON and in the Prometheus text
// format.
#ifndef TESSEL_TOOLS_LIVEVIEWS_H
#define TESSEL_TOOLS_LIVEVIEWS_H

#include <ostream>
#include <string>
#include <vector>

#include "SiteStatus.h"

namespace views {

// How much is borne before it counts as a problem.
struct LiveLimits {
  long long maxBehind = -1;   // records an upstream may be behind; -1: any number
  long long maxDownSeconds = 0;  // an upstream down for less is no problem
  long long maxRefused = 0;   // records refused within the window
  long long windowMinutes = 5;  // the window of refusals: the last minutes
};

// One site read, for the Prometheus text format of several sites at once.
struct LiveSite {
  std::string label;  // its site="..." label
  bool up = false;    // its status was read
  std::string error;  // why not
  Tessel::SiteState state = Tessel::SiteState();
  std::vector<std::string> problems;
};

// One line per trouble: record files or the journal that cannot be
// written, records refused within the window (the counters stay
// cumulative), an upstream down or behind beyond the limits.
std::vector<std::string> LiveProblems(const Tessel::SiteState& state, const LiveLimits& limits);

// Texts from the service (errors, file names, hosts) are shown through
// textout::Printable in every format.
void ShowLive(const Tessel::SiteState& state, const std::vector<std::string>& problems,
              std::ostream& out);
void ShowLiveJson(const Tessel::SiteState& state, const std::vector<std::string>& problems,
                  std::ostream& out);
void ShowLivePrometheus(const Tessel::SiteState& state, const std::vector<std::string>& problems,
                        std::ostream& out);
// Every family once, with one series per site labelled site="...": the
// textfile of several sites on one host. A site not read has tessel_up 0
// and a comment saying why.
void ShowLivePrometheus(const std::vector<LiveSite>& sites, std::ostream& out);
// For a status that could not be read: tessel_up 0.
void ShowUnreachablePrometheus(std::ostream& out);

}  // namespace views

#endif
